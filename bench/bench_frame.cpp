// Frame codec throughput: building request frames, recognising and checking answers.
#include <benchmark/benchmark.h>

#include "protocol/crc.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

using namespace kiren;

namespace {

// The status request (1 command byte), the issuing request (30 bytes before escaping) and a
// body of the largest size a frame carries, half of it bytes that need escaping.
Bytes CommandBytes(int AKind) {
  switch (AKind) {
    case 0:
      return TBuilder::Req_GetStatus();
    case 1:
      return TBuilder::Req_IssueCard(5, "100", "7", "FF FF FF FF FF FF", "00112233445566778899");
    default: {
      Bytes b{kCmdReadBlock};
      for (int i = 0; i < 61; ++i)
        b.push_back(i % 2 ? 0xFE : static_cast<std::uint8_t>(i));
      return b;
    }
  }
}

const char* KindName(int AKind) {
  return AKind == 0 ? "status_request" : AKind == 1 ? "issue_request" : "escaped_62_bytes";
}

void BM_Finalize(benchmark::State& AState) {
  const Bytes cmd = CommandBytes(static_cast<int>(AState.range(0)));
  std::size_t wire = 0;
  for (auto _ : AState) {
    const Bytes frame = TBuilder::Finalize(cmd);
    wire = frame.size();
    benchmark::DoNotOptimize(frame.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * wire));
  AState.SetLabel(std::string(KindName(static_cast<int>(AState.range(0)))) + ", " +
                  std::to_string(wire) + " wire bytes");
}
BENCHMARK(BM_Finalize)->DenseRange(0, 2);

// What the worker does with a complete answer: recognise, unescape, check, split.
void BM_Decode(benchmark::State& AState) {
  Bytes answer;
  switch (AState.range(0)) {
    case 0:  // status answer: 7 wire bytes
      answer = TBuilder::Finalize({kCmdGetStatus, 0x80, 0x01});
      break;
    case 1: {  // card content answer with a 3-character code: 23 payload bytes
      Bytes b{kCmdGetKirenCard,
              0x03,
              0x04,
              0x11,
              0x22,
              0x33,
              0x44,
              0x55,
              0x66,
              0x00,
              0x00,
              0x01,
              0x02,
              0x00,
              0x05,
              0x00,
              0x00,
              0x00,
              0x0A,
              '1',
              '2',
              '3'};
      answer = TBuilder::Finalize(b);
      break;
    }
    default:
      answer = TBuilder::Finalize(CommandBytes(2));
      break;
  }
  for (auto _ : AState) {
    Bytes block;
    const bool ok = TParser::CheckAnswer(answer, static_cast<int>(answer.size()), block) &&
                    TParser::CheckCRC(block);
    if (!ok)
      AState.SkipWithError("answer not recognised");
    const std::uint8_t cmd = block.front();
    const Bytes payload(block.begin() + 1, block.end() - 2);
    benchmark::DoNotOptimize(cmd);
    benchmark::DoNotOptimize(payload.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * answer.size()));
  AState.SetLabel(std::to_string(answer.size()) + " wire bytes");
}
BENCHMARK(BM_Decode)->DenseRange(0, 2);

// The worker calls CheckAnswer after every read; a frame arriving byte by byte costs one call
// per byte.
void BM_DecodeByteByByte(benchmark::State& AState) {
  const Bytes answer = TBuilder::Finalize(CommandBytes(1));
  for (auto _ : AState) {
    Bytes block;
    for (std::size_t n = 1; n <= answer.size(); ++n)
      if (TParser::CheckAnswer(answer, static_cast<int>(n), block))
        break;
    benchmark::DoNotOptimize(block.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * answer.size()));
  AState.SetLabel(std::to_string(answer.size()) + " wire bytes");
}
BENCHMARK(BM_DecodeByteByByte);

void BM_Crc16(benchmark::State& AState) {
  Bytes data(static_cast<std::size_t>(AState.range(0)));
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7);
  for (auto _ : AState)
    benchmark::DoNotOptimize(CalcCRC16(data, 1, 0));
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * data.size()));
}
BENCHMARK(BM_Crc16)->Arg(3)->Arg(128)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
