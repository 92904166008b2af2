// The exchange rules against a scripted line and clock: every case runs in microseconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "base/text_utils.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "worker/exchange.h"

namespace kiren::test {
namespace {

Bytes Hex(const std::string& AText) {
  Bytes b;
  if (!HexStrToBytes(AText, b))
    throw std::invalid_argument("bad hex in the test table: " + AText);
  return b;
}

Bytes Cat(Bytes A, const Bytes& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

Bytes Part(const Bytes& AData, std::size_t AFrom, std::size_t ACount = Bytes().max_size()) {
  const std::size_t end = std::min(AData.size(), AFrom + std::min(ACount, AData.size()));
  return Bytes(AData.begin() + static_cast<std::ptrdiff_t>(AFrom),
               AData.begin() + static_cast<std::ptrdiff_t>(end));
}

// Bytes that reach the port AAt milliseconds after the request was written.
struct TArrival {
  std::uint32_t At = 0;
  Bytes Data;
};

// A line and a clock in one: time moves only while the exchange waits or sleeps; bytes arrive
// at their scripted times after each write. Records the reads' times and the log lines.
class TScriptedLine : public IExchangePort, public IExchangeClock, public IExchangeLog {
 public:
  std::uint32_t Now = 1000;
  std::vector<std::vector<TArrival>> PerWrite;  // what follows the n-th write
  bool PurgeFails = false;
  bool ShortWrite = false;
  int GoneAfterReads = -1;  // reads before the device is gone (-1: never)

  int Writes = 0;
  std::vector<std::uint32_t> ReadTimes;
  std::vector<std::string> Log;

  bool Purge() override {
    Arrive();
    FWaiting.clear();
    return !PurgeFails;
  }
  std::int32_t Write(const Bytes& AFrame) override {
    FWriteTimes.push_back(Now);
    FReadsBefore.push_back(ReadTimes.size());
    const std::size_t n = static_cast<std::size_t>(Writes++);
    if (n < PerWrite.size())
      for (const TArrival& a : PerWrite[n])
        FScheduled.push_back({Now + a.At, a.Data});
    std::stable_sort(FScheduled.begin(), FScheduled.end(),
                     [](const TArrival& A, const TArrival& B) { return A.At < B.At; });
    return static_cast<std::int32_t>(AFrame.size()) - (ShortWrite ? 1 : 0);
  }
  void WaitReadable(std::uint32_t AMs) override {
    Arrive();
    if (!FWaiting.empty())
      return;
    std::uint32_t until = Now + AMs;
    if (!FScheduled.empty())
      until = std::min(until, std::max(Now, FScheduled.front().At));
    Now = until;
    Arrive();
  }
  std::int32_t Read(std::uint8_t* ABuffer, std::uint32_t ASize) override {
    ReadTimes.push_back(Now);
    if (GoneAfterReads >= 0 && static_cast<int>(ReadTimes.size()) > GoneAfterReads)
      return -1;
    Arrive();
    const std::size_t n = std::min<std::size_t>(ASize, FWaiting.size());
    std::copy_n(FWaiting.begin(), n, ABuffer);
    FWaiting.erase(FWaiting.begin(), FWaiting.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<std::int32_t>(n);
  }
  std::string LastErrorStr() const override { return "lost"; }

  std::uint32_t Ticks() override { return Now; }
  void Sleep(std::uint32_t AMs) override { Now += AMs; }

  void Request(const Bytes& AFrame) override { Log.push_back(">> " + BytesToHexStr(AFrame)); }
  void WriteFailed(int AAttempt, const std::string& AError) override {
    Log.push_back("** " + std::to_string(AAttempt) + " " + AError);
  }
  void Answer(const Bytes& AReceived) override { Log.push_back("<< " + BytesToHexStr(AReceived)); }

  // The longest time between a write or a read and the next read of the same attempt. A full buffer
  // is not read again, so the full-buffer case reads only once per attempt.
  std::uint32_t LongestReadGap() const {
    std::uint32_t gap = 0;
    std::size_t r = 0;
    for (std::size_t w = 0; w < FWriteTimes.size(); ++w) {
      std::uint32_t last = FWriteTimes[w];
      const std::size_t next = w + 1;
      for (; r < ReadTimes.size() && (next >= FReadsBefore.size() || r < FReadsBefore[next]); ++r) {
        gap = std::max(gap, ReadTimes[r] - last);
        last = ReadTimes[r];
      }
    }
    return gap;
  }

 private:
  void Arrive() {
    while (!FScheduled.empty() && FScheduled.front().At <= Now) {
      FWaiting.insert(FWaiting.end(), FScheduled.front().Data.begin(),
                      FScheduled.front().Data.end());
      FScheduled.pop_front();
    }
  }
  std::deque<TArrival> FScheduled;
  Bytes FWaiting;
  std::vector<std::uint32_t> FWriteTimes;
  std::vector<std::size_t> FReadsBefore;  // reads done before each write
};

const Bytes kRequest = TBuilder::Req_ReadBlock(4, 0xAA);
const Bytes kReqFrame = TBuilder::Finalize(kRequest);
const std::string kReqLine = ">> " + BytesToHexStr(kReqFrame);
// A block-read answer whose payload holds FE and FF, so its frame carries escapes.
const Bytes kPayload = Hex("0000 FE FF 01 02 03 04 05 06 07 08 09 0A 0B 0C FF FE");
const Bytes kAnswer = TBuilder::Finalize(Cat(Hex("A2"), kPayload));
const std::size_t kFirstEscape = [] {
  return static_cast<std::size_t>(std::find(kAnswer.begin() + 2, kAnswer.end(), 0xFF) -
                                  kAnswer.begin());
}();
Bytes BadCrc() {
  Bytes b = kAnswer;
  b[b.size() - 1] ^= 0x01;
  return b;
}
const Bytes kLong(70, 0x11);  // no start byte: fills the buffer

std::string AnswerLine(const Bytes& AData) {
  return "<< " + BytesToHexStr(AData);
}

struct TCase {
  const char* Name;
  std::vector<std::vector<TArrival>> PerWrite;
  bool PurgeFails = false;
  bool ShortWrite = false;
  int GoneAfterReads = -1;
  std::uint32_t Start = 1000;
  int Result;
  int Writes;
  std::uint32_t Duration;                             // from the first write to the end
  std::uint32_t LongestGap = TExchange::kReadTickMs;  // between two reads
  std::vector<std::string> Log;
};

TEST(TExchange, FollowsTheTimeoutAndRetryRules) {
  const Bytes half = Part(kAnswer, 0, 8);
  const Bytes upToEscape = Part(kAnswer, 0, kFirstEscape + 1);
  const Bytes fromEscape = Part(kAnswer, kFirstEscape + 1);
  const Bytes firstRead = Part(kLong, 0, TAnswerReader::kBufferSize);
  const TCase cases[] = {
      {.Name = "answer in one piece ends the exchange on arrival",
       .PerWrite = {{{.At = 3, .Data = kAnswer}}},
       .Result = kResOk,
       .Writes = 1,
       .Duration = 3,
       .Log = {kReqLine, AnswerLine(kAnswer)}},
      {.Name = "answer in pieces, read as they come",
       .PerWrite = {{{1, Part(kAnswer, 0, 5)}, {2, Part(kAnswer, 5, 9)}, {4, Part(kAnswer, 14)}}},
       .Result = kResOk,
       .Writes = 1,
       .Duration = 4,
       .Log = {kReqLine, AnswerLine(kAnswer)}},
      {.Name = "escape byte FF at the end of a piece",
       .PerWrite = {{{1, upToEscape}, {6, fromEscape}}},
       .Result = kResOk,
       .Writes = 1,
       .Duration = 6,
       .Log = {kReqLine, AnswerLine(kAnswer)}},
      {.Name = "bytes before the start byte are skipped",
       .PerWrite = {{{1, Cat(Hex("00 12"), kAnswer)}}},
       .Result = kResOk,
       .Writes = 1,
       .Duration = 1,
       .Log = {kReqLine, AnswerLine(Cat(Hex("00 12"), kAnswer))}},
      {.Name = "silent reader: one send, timeout",
       .PerWrite = {},
       .Result = kResTimeout,
       .Writes = 1,
       .Duration = 2000,
       .Log = {kReqLine, "<< "}},
      {.Name = "silent reader across the wrap of the tick counter",
       .PerWrite = {},
       .Start = 0xFFFFFFFFu - 995,
       .Result = kResTimeout,
       .Writes = 1,
       .Duration = 2001,  // the elapsed time skips one tick at the wrap
       .LongestGap = TExchange::kReadTickMs + 1,
       .Log = {kReqLine, "<< "}},
      {.Name = "half a frame, then silence: two sends",
       .PerWrite = {{{1, half}}, {{1, half}}},
       .Result = kResTimeout,
       .Writes = 2,
       .Duration = 4000,
       .Log = {kReqLine, AnswerLine(half), kReqLine, AnswerLine(half)}},
      {.Name = "half a frame, then the whole answer on the second send",
       .PerWrite = {{{1, half}}, {{2, kAnswer}}},
       .Result = kResOk,
       .Writes = 2,
       .Duration = 2002,
       .Log = {kReqLine, AnswerLine(half), kReqLine, AnswerLine(kAnswer)}},
      {.Name = "bad CRC on the first send: 4 at once",
       .PerWrite = {{{2, BadCrc()}}},
       .Result = kResBadAnswer,
       .Writes = 1,
       .Duration = 2,
       .Log = {kReqLine, AnswerLine(BadCrc())}},
      {.Name = "bad CRC on the second send: 3",
       .PerWrite = {{{1, half}}, {{2, BadCrc()}}},
       .Result = kResTimeout,
       .Writes = 2,
       .Duration = 2002,
       .Log = {kReqLine, AnswerLine(half), kReqLine, AnswerLine(BadCrc())}},
      {.Name = "trailing bytes in the same piece fail the CRC",
       .PerWrite = {{{1, Cat(kAnswer, Hex("12 34"))}}},
       .Result = kResBadAnswer,
       .Writes = 1,
       .Duration = 1,
       .Log = {kReqLine, AnswerLine(Cat(kAnswer, Hex("12 34")))}},
      {.Name = "bytes after a complete frame are not read",
       .PerWrite = {{{1, kAnswer}, {3, Hex("00 00")}}},
       .Result = kResOk,
       .Writes = 1,
       .Duration = 1,
       .Log = {kReqLine, AnswerLine(kAnswer)}},
      {.Name = "full buffer: no more reads, timeout, second send",
       .PerWrite = {{{1, kLong}}, {{1, kLong}}},
       .Result = kResTimeout,
       .Writes = 2,
       .Duration = 4000,
       .Log = {kReqLine, AnswerLine(firstRead), kReqLine, AnswerLine(firstRead)}},
      {.Name = "late answer: nothing within the timeout, one send",
       .PerWrite = {{{2100, kAnswer}}},
       .Result = kResTimeout,
       .Writes = 1,
       .Duration = 2000,
       .Log = {kReqLine, "<< "}},
      {.Name = "purge fails: nothing is sent",
       .PerWrite = {},
       .PurgeFails = true,
       .Result = kResPortFailure,
       .Writes = 0,
       .Duration = 0,
       .Log = {}},
      {.Name = "short write: logged with the attempts left, no second send",
       .PerWrite = {},
       .ShortWrite = true,
       .Result = kResPortFailure,
       .Writes = 1,
       .Duration = 0,
       .Log = {kReqLine, "** 2 lost"}},
      {.Name = "device gone while reading: received bytes logged",
       .PerWrite = {{{1, half}}},
       .GoneAfterReads = 1,
       .Result = kResPortFailure,
       .Writes = 1,
       .Duration = 1,
       .Log = {kReqLine, AnswerLine(half)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedLine line;
    line.Now = c.Start;
    line.PerWrite = c.PerWrite;
    line.PurgeFails = c.PurgeFails;
    line.ShortWrite = c.ShortWrite;
    line.GoneAfterReads = c.GoneAfterReads;
    TExchange exchange(line, line, line);
    std::uint8_t cmd = 0;
    Bytes data{0x99};
    EXPECT_EQ(exchange.Run(kRequest, cmd, data), c.Result);
    EXPECT_EQ(line.Writes, c.Writes);
    EXPECT_EQ(line.Now - c.Start, c.Duration);
    EXPECT_EQ(line.Log, c.Log);
    EXPECT_LE(line.LongestReadGap(), c.LongestGap);
    if (c.Result == kResOk) {
      EXPECT_EQ(cmd, 0xA2);
      EXPECT_EQ(data, kPayload);
    } else {
      EXPECT_TRUE(data.empty());
    }
  }
}

// A late answer lands in the port after the exchange gave up; the next exchange purges it
// and takes its own answer.
TEST(TExchange, LateBytesArePurgedBeforeTheNextRequest) {
  TScriptedLine line;
  const Bytes status = TBuilder::Finalize(Hex("FF 00 01"));
  line.PerWrite = {{{2100, kAnswer}}, {{1, status}}};
  TExchange exchange(line, line, line);
  std::uint8_t cmd = 0;
  Bytes data;
  ASSERT_EQ(exchange.Run(kRequest, cmd, data), kResTimeout);
  line.Sleep(500);
  EXPECT_EQ(exchange.Run(TBuilder::Req_GetStatus(), cmd, data), kResOk);
  EXPECT_EQ(cmd, 0xFF);
  EXPECT_EQ(data, Hex("00 01"));
}

}  // namespace
}  // namespace kiren::test
