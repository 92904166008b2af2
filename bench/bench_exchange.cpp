// Device exchanges against the virtual reader over a pseudo-terminal, through the real
// worker: its exchange procedure (purge, frame, write, read every 10 ms, recognise), the
// command layer, the port and the debug log. The timed calls run inside actions queued on the
// worker, so the figures are those of the exchanges themselves, without the wait for the
// worker's next cycle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/message_sink.h"
#include "logging/dbg_logger.h"
#include "protocol/frame.h"
#include "serial/com_port.h"
#include "sim/card.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "worker/actions.h"
#include "worker/event_loop.h"
#include "worker/th.h"

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
  void ShowDevInfo(const TDevInfo&, int AError) override { Connected = AError == 0; }
  void ShowConfigInfo(const TConfig&) override {}
  void ShowCardInfo(const TCardInfo&) override {}
};

class TQuietSink : public IMessageSink {
 public:
  void Info(const std::string&) override {}
  void Warning(const std::string&) override {}
  bool Question(const std::string&, const std::string&) override { return false; }
};

sim::TCard FreshCard() {
  return sim::TCard::Make(sim::TCardKind::Classic1K, {0x04, 0x11, 0x22, 0x33});
}

// The virtual reader, a main loop on the benchmark thread and a connected worker.
class TRig {
 public:
  TRig() {
    SetMessageSink(std::make_shared<TQuietSink>());
    std::string dir = (std::filesystem::temp_directory_path() / "kiren-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data()))
      throw std::runtime_error("mkdtemp failed");
    FLogDir = dir;
    DbgLogger()->Close();
    DbgLogger()->SetDir(FLogDir);
    Firmware.PutCard(FreshCard());
    FHost = std::make_unique<sim::TPtyHost>(Firmware);
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

void Exchanges(benchmark::State& AState, TExchangeSampler::TKind AKind) {
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
  Rig().Run(std::move(actions));
  Report(AState, samples, failures);
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

// Reference for the figures above: the worker's 10 ms read tick alone (one sleep), as this
// machine delivers it.
void BM_ReadTick(benchmark::State& AState) {
  std::vector<double> samples;
  for (int i = 0; i < 400; ++i) {
    const auto t0 = TSteady::now();
    std::this_thread::sleep_for(10ms);
    samples.push_back(MsSince(t0));
  }
  Report(AState, samples, 0);
}
BENCHMARK(BM_ReadTick)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

// Reference: the pseudo-terminal and the virtual reader without the read tick: write the
// status request and wait for the whole answer with a blocking read.
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
    Bytes rx(66);
    std::size_t got = 0;
    Bytes block;
    while (!TParser::CheckAnswer(rx, static_cast<int>(got), block)) {
      const std::int32_t n =
          port.ReadBuffer(rx.data() + got, static_cast<std::uint32_t>(rx.size() - got));
      if (n <= 0) {
        ++failures;
        break;
      }
      got += static_cast<std::size_t>(n);
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

}  // namespace

BENCHMARK_MAIN();
