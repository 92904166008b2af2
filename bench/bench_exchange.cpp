// Device exchanges against the virtual reader over a pseudo-terminal, through the real
// worker: its exchange (purge, frame, write, wait on the port, the receive path), the command
// layer, the port and the debug log. Most timed calls run inside actions queued on the
// worker, so the figures are those of the exchanges themselves; BM_QueuedActionToResult times
// what a click sees, from queueing to the completion callback; BM_IdleCpu the cost of a
// connected worker that only polls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/message_sink.h"
#include "logging/dbg_logger.h"
#include "protocol/answer_reader.h"
#include "protocol/frame.h"
#include "serial/com_port.h"
#include "sim/card.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "worker/actions.h"
#include "worker/event_loop.h"
#include "worker/th.h"
#include "worker/verify_actions.h"

using namespace kiren;
using namespace std::chrono_literals;
using TSteady = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kBlock = 4;
const TKey kFFKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

double MsSince(TSteady::time_point AStart) {
  return std::chrono::duration<double, std::milli>(TSteady::now() - AStart).count();
}

class TQuietView : public IDeviceView {
 public:
  bool Connected = false;
  int CardCalls = 0;  // runs on the main thread
  void ShowDevInfo(const TDevInfo&, int AError) override { Connected = AError == 0; }
  void ShowConfigInfo(const TConfig&) override {}
  void ShowCardInfo(const TCardInfo&) override { ++CardCalls; }
};

// 8-N-1 line time of ABytes bytes at ABaud, in milliseconds.
double LineMs(int ABytes, int ABaud) {
  return 1000.0 * 10 * ABytes / ABaud;
}

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class TQuietSink : public IMessageSink {
 public:
  void Info(const std::string&) override {}
  void Warning(const std::string&) override {}
  bool Question(const std::string&, const std::string&) override { return false; }
};

sim::TCard FreshCard() {
  return sim::TCard::Make(sim::TCardKind::Classic1K, {0x04, 0x11, 0x22, 0x33});
}

// The virtual reader (ALineRate: its line model, 0 none), a main loop on the benchmark
// thread and a connected worker.
class TRig {
 public:
  explicit TRig(std::uint32_t ALineRate = 0) {
    SetMessageSink(std::make_shared<TQuietSink>());
    std::string dir = (std::filesystem::temp_directory_path() / "kiren-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data()))
      throw std::runtime_error("mkdtemp failed");
    FLogDir = dir;
    DbgLogger()->Close();
    DbgLogger()->SetDir(FLogDir);
    Firmware.PutCard(FreshCard());
    FHost = std::make_unique<sim::TPtyHost>(Firmware, ALineRate);
    FTh = TTh::Create(
        FHost->PortName(), false, [this](TTh*) { FTh = nullptr; }, FView, Loop);
    if (!Loop.RunUntil([this] { return FView.Connected || !FTh; }, 20s) || !FView.Connected)
      throw std::runtime_error("the worker did not connect to the virtual reader");
  }

  ~TRig() {
    if (FTh)
      FTh->Terminate();
    Loop.RunUntil([this] { return FTh == nullptr; }, 20s);
    FHost.reset();
    DbgLogger()->Close();
    std::error_code ec;
    std::filesystem::remove_all(FLogDir, ec);
  }

  // Queues the actions (at most 10 wait at a time) and runs the loop until all reported.
  void Run(std::vector<std::unique_ptr<TThAction>> AActions) {
    std::size_t done = 0;
    const std::size_t total = AActions.size();
    for (auto& a : AActions) {
      TOnActionDone inner = a->OnDone();
      a->SetOnDone([&done, inner](TThAction& AAction) {
        if (inner)
          inner(AAction);
        ++done;
      });
    }
    std::size_t next = 0;
    while (done < total) {
      while (next < total && next - done < TTh::kQueueDepth) {
        if (!FTh->TryExec(AActions[next]))
          break;
        ++next;
      }
      if (!Loop.RunUntil([&] { return done == next && next > 0; }, 60s) || !FTh)
        throw std::runtime_error("actions did not finish");
    }
  }

  // Runs the main loop until the worker has shown the card state once more, i.e. it has
  // just entered its cycle pause.
  void WaitForPause() {
    const int seen = FView.CardCalls;
    Loop.RunUntil([&] { return FView.CardCalls > seen; }, 5s);
  }
  TTh& Worker() { return *FTh; }

  sim::TFirmware Firmware;
  TEventLoop Loop;

 private:
  std::string FLogDir;
  TQuietView FView;
  std::unique_ptr<sim::TPtyHost> FHost;
  TTh* FTh = nullptr;
};

TRig& Rig() {
  static TRig rig;
  return rig;
}

constexpr int kLineRate = 115200;

// A second reader whose bytes take their time on a 115200-baud line.
TRig& LineRig() {
  static TRig rig(kLineRate);
  return rig;
}

// Feeds measured durations to the benchmark as manual iteration times and reports the
// median, the 99th percentile and the maximum.
void Report(benchmark::State& AState, std::vector<double> ASamplesMs, int AFailures) {
  std::size_t i = 0;
  for (auto _ : AState) {
    AState.SetIterationTime(ASamplesMs[i % ASamplesMs.size()] / 1000.0);
    ++i;
  }
  std::sort(ASamplesMs.begin(), ASamplesMs.end());
  const auto at = [&](double AQ) {
    const auto k = static_cast<std::size_t>(std::ceil(AQ * ASamplesMs.size()));
    return ASamplesMs[std::min(ASamplesMs.size(), std::max<std::size_t>(k, 1)) - 1];
  };
  AState.counters["p50_ms"] = at(0.50);
  AState.counters["p99_ms"] = at(0.99);
  AState.counters["max_ms"] = ASamplesMs.back();
  AState.counters["min_ms"] = ASamplesMs.front();
  AState.counters["failed"] = AFailures;
}

// Runs N single exchanges inside one action and times each.
class TExchangeSampler : public TThAction {
 public:
  enum TKind { Status, ReadBlock };
  TExchangeSampler(TKind AKind, int ACount) : TThAction(nullptr), FKind(AKind), FCount(ACount) {}
  std::vector<double> Samples;
  int Failures = 0;

  int Execute(TProtocol& AProto) override {
    TStatus status;
    if (FKind == ReadBlock && AProto.LoadKey(kKeyTypeA, kFFKey, status) != kResOk)
      ++Failures;
    for (int i = 0; i < FCount; ++i) {
      TBlock block{};
      const auto t0 = TSteady::now();
      const int err = FKind == Status ? AProto.GetStatus(status)
                                      : AProto.ReadBlock(kBlock, kKeyTypeA, status, block);
      Samples.push_back(MsSince(t0));
      Failures += err != kResOk;
    }
    FErrCode = kResOk;
    return FErrCode;
  }

 private:
  TKind FKind;
  int FCount;
};

std::vector<double> Exchanges(benchmark::State& AState, TExchangeSampler::TKind AKind,
                              TRig& ARig = Rig()) {
  const int count = static_cast<int>(AState.max_iterations);
  auto sampler = std::make_unique<TExchangeSampler>(AKind, count);
  std::vector<double> samples;
  int failures = 0;
  sampler->SetOnDone([&](TThAction& A) {
    auto& s = static_cast<TExchangeSampler&>(A);
    samples = s.Samples;
    failures = s.Failures;
  });
  std::vector<std::unique_ptr<TThAction>> actions;
  actions.push_back(std::move(sampler));
  ARig.Run(std::move(actions));
  Report(AState, samples, failures);
  return samples;
}

// 7-byte request, 7-byte answer.
void BM_Exchange_GetStatus(benchmark::State& AState) {
  Exchanges(AState, TExchangeSampler::Status);
}
BENCHMARK(BM_Exchange_GetStatus)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

// 7-byte request (FE 05 A2 04 AA C7 04), 23-byte answer.
void BM_Exchange_ReadBlock(benchmark::State& AState) {
  Exchanges(AState, TExchangeSampler::ReadBlock);
}
BENCHMARK(BM_Exchange_ReadBlock)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

// The same block read over the line model at 115200 baud: 7 request bytes and 23 answer
// bytes on the line take 2.6 ms; over_line_ms is the median beyond that.
void BM_Exchange_ReadBlock_Line115200(benchmark::State& AState) {
  std::vector<double> samples = Exchanges(AState, TExchangeSampler::ReadBlock, LineRig());
  const double line = LineMs(7 + 23, kLineRate);
  std::sort(samples.begin(), samples.end());
  AState.counters["line_ms"] = line;
  AState.counters["over_line_ms"] = samples[samples.size() / 2] - line;
}
BENCHMARK(BM_Exchange_ReadBlock_Line115200)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// Reference: the pseudo-terminal and the virtual reader alone: write the status request and
// collect the answer with blocking reads (no purge, no log, no worker).
void BM_PtyRoundTrip(benchmark::State& AState) {
  sim::TFirmware firmware;
  sim::TPtyHost host(firmware);
  TMyComPort port;
  port.SetParams("115200-8-N-1", false);
  port.SetTimeoutsSpec_ReadImmediatelyWaitForFirst(1, 1000, 1000);
  if (!port.Open(host.PortName(), true)) {
    AState.SkipWithError("cannot open the pseudo-terminal");
    return;
  }
  const Bytes frame = TBuilder::Finalize(TBuilder::Req_GetStatus());
  std::vector<double> samples;
  int failures = 0;
  for (int i = 0; i < 2000; ++i) {
    port.ClearBuffers();
    const auto t0 = TSteady::now();
    port.WriteStr(frame);
    TAnswerReader reader;
    while (!reader.Done()) {
      std::uint8_t chunk[TAnswerReader::kBufferSize];
      const std::int32_t n = port.ReadBuffer(chunk, static_cast<std::uint32_t>(reader.Room()));
      if (n <= 0) {
        ++failures;
        break;
      }
      reader.Feed(chunk, static_cast<std::size_t>(n));
    }
    samples.push_back(MsSince(t0));
  }
  Report(AState, samples, failures);
}
BENCHMARK(BM_PtyRoundTrip)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMillisecond);

// An action timed around its own Execute.
template <class TBase>
class TTimed : public TBase {
 public:
  using TBase::TBase;
  double Ms = 0;
  int Execute(TProtocol& AProto) override {
    const auto t0 = TSteady::now();
    const int r = TBase::Execute(AProto);
    Ms = MsSince(t0);
    return r;
  }
};

template <class TAction, class TMake>
void TimedActions(benchmark::State& AState, TMake AMake, bool AFreshCard) {
  const auto count = static_cast<std::size_t>(AState.max_iterations);
  std::vector<double> samples;
  int failures = 0;
  std::vector<std::unique_ptr<TThAction>> actions;
  for (std::size_t i = 0; i < count; ++i) {
    actions.push_back(AMake([&samples, &failures, AFreshCard](TThAction& A) {
      samples.push_back(static_cast<TTimed<TAction>&>(A).Ms);
      failures += A.ErrCode() != kResOk;
      if (AFreshCard)
        Rig().Firmware.PutCard(FreshCard());
    }));
  }
  Rig().Firmware.PutCard(FreshCard());
  Rig().Run(std::move(actions));
  Report(AState, samples, failures);
}

std::unique_ptr<TThAction> MakeWrite(TOnActionDone ADone) {
  const TKeyList keys{kFFKey, kFFKey, kFFKey};
  return std::make_unique<TTimed<TAcWriteCardCode>>(kBlock, 0, std::uint64_t{0x0102030405}, keys,
                                                    std::move(ADone));
}

// A new card: load key, write code block, load key, write trailer: four exchanges.
void BM_WriteCardCode_NewCard(benchmark::State& AState) {
  TimedActions<TAcWriteCardCode>(AState, MakeWrite, true);
}
BENCHMARK(BM_WriteCardCode_NewCard)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

// A card that already carries the new keys: the first authentication is refused and repeated
// with key B, six exchanges.
void BM_WriteCardCode_SecuredCard(benchmark::State& AState) {
  TimedActions<TAcWriteCardCode>(AState, MakeWrite, false);
}
BENCHMARK(BM_WriteCardCode_SecuredCard)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// Clear, then issue in layout 1: two exchanges.
void BM_IssueCard(benchmark::State& AState) {
  TimedActions<TAcIssueCard>(
      AState,
      [](TOnActionDone ADone) -> std::unique_ptr<TThAction> {
        return std::make_unique<TTimed<TAcIssueCard>>(1, "100", "7", "FF FF FF FF FF FF", "",
                                                      std::move(ADone));
      },
      true);
}
BENCHMARK(BM_IssueCard)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

// A card-code write followed by its checks on a new card: the write's four exchanges, the code
// block and the trailer read back with the new key A (four), the reader's configuration and
// its report of the card (two). ARig's reader reads the code where it is written, so every
// check should pass; failed counts writes and checks that did not.
void CheckedWrites(benchmark::State& AState, TRig& ARig) {
  const auto count = static_cast<std::size_t>(AState.max_iterations);
  std::vector<double> samples;
  int failures = 0;
  std::vector<std::unique_ptr<TThAction>> actions;
  const TKeyList keys{kFFKey, kFFKey, kFFKey};
  for (std::size_t i = 0; i < count; ++i) {
    actions.push_back(std::make_unique<TTimed<TAcWriteCardCodeChecked>>(
        kBlock, 0, Bytes{0x01, 0x02, 0x03, 0x04, 0x05}, keys,
        [&samples, &failures, &ARig](TThAction& A) {
          auto& action = static_cast<TTimed<TAcWriteCardCodeChecked>&>(A);
          samples.push_back(action.Ms);
          failures += action.ErrCode() != kResOk || !action.Check().Verified();
          ARig.Firmware.PutCard(FreshCard());
        }));
  }
  ARig.Firmware.PutCard(FreshCard());
  ARig.Run(std::move(actions));
  Report(AState, samples, failures);
}

void BM_WriteCardCodeChecked_NewCard(benchmark::State& AState) {
  CheckedWrites(AState, Rig());
}
BENCHMARK(BM_WriteCardCodeChecked_NewCard)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

// The same over the line model at 115200 baud. Bytes on the line (requests + answers, keys
// FF..FF): load key 18 + 7 (four times), code block write 23 + 7, trailer write 35 + 7, block
// reads 7 + 23 (twice), configuration 5 + 26, card content 5 + 33: 301 bytes, 26.1 ms.
void BM_WriteCardCodeChecked_Line115200(benchmark::State& AState) {
  CheckedWrites(AState, LineRig());
  const double line = LineMs(301, kLineRate);
  AState.counters["line_ms"] = line;
  AState.counters["over_line_ms"] = AState.counters["p50_ms"] - line;
}
BENCHMARK(BM_WriteCardCodeChecked_Line115200)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// What a click sees: a card-code write queued while the worker sits in its cycle pause
// (right after it showed the card state), timed from queueing to the completion callback.
void BM_QueuedActionToResult(benchmark::State& AState) {
  const auto count = static_cast<int>(AState.max_iterations);
  std::vector<double> samples;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    Rig().Firmware.PutCard(FreshCard());
    Rig().WaitForPause();
    bool done = false;
    std::unique_ptr<TThAction> action = MakeWrite([&](TThAction& A) {
      failures += A.ErrCode() != kResOk;
      done = true;
    });
    const auto t0 = TSteady::now();
    if (!Rig().Worker().TryExec(action) || !Rig().Loop.RunUntil([&] { return done; }, 10s))
      throw std::runtime_error("the queued action did not finish");
    samples.push_back(MsSince(t0));
  }
  Report(AState, samples, failures);
}
BENCHMARK(BM_QueuedActionToResult)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// CPU of this process (main loop, worker, virtual reader) over 10 s while the worker is
// connected and only polls: cpu_pct is the share of one core.
void BM_IdleCpu(benchmark::State& AState) {
  Rig().WaitForPause();
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = TSteady::now();
  Rig().Loop.RunUntil([] { return false; }, 10s);
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = MsSince(t0) / 1000.0;
  for (auto _ : AState)
    AState.SetIterationTime(wall);
  AState.counters["cpu_pct"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_IdleCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
