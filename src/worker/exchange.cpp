#include "worker/exchange.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "logging/dbg_logger.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

namespace kiren {

std::uint32_t TicksElapsed(std::uint32_t AStart, std::uint32_t ANow) {
  if (ANow >= AStart)
    return ANow - AStart;
  return ANow + (0xFFFFFFFFu - AStart);
}

std::uint32_t TSteadyClock::Ticks() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TSteadyClock::Sleep(std::uint32_t AMs) {
  if (AMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

void TDbgExchangeLog::Request(const Bytes& AFrame) {
  auto logger = DbgLogger();
  logger->AddEmptyLine();
  logger->AddHexData(AFrame, true, std::string());
}

void TDbgExchangeLog::WriteFailed(int AAttempt, const std::string& AError) {
  DbgLogger()->AddStr("Ошибка записи в COM-порт [попытка %d]: %s", {AAttempt, AError}, true, "**");
}

void TDbgExchangeLog::Answer(const Bytes& AReceived) {
  DbgLogger()->AddHexData(AReceived, false, std::string());
}

int TExchange::Run(const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  int result = kResBadAnswer;
  int attempts = kAttempts;
  AData.clear();
  const Bytes frame = TBuilder::Finalize(AReq);
  do {
    if (!FPort.Purge())
      return kResPortFailure;
    FLog.Request(frame);
    if (FPort.Write(frame) < static_cast<std::int32_t>(frame.size())) {
      FLog.WriteFailed(attempts, FPort.LastErrorStr());
      return kResPortFailure;
    }
    FReader.Reset();
    const bool portAlive = ReadAnswer();
    FLog.Answer(FReader.Received());
    if (!portAlive)
      return kResPortFailure;

    switch (FReader.State()) {
      case TAnswerState::Answer:
        ACmd = FReader.Command();
        AData = FReader.Payload();
        return kResOk;
      case TAnswerState::Damaged:
        // The first attempt keeps the starting code 4, a second one ends as a timeout.
        return result;
      default:
        result = kResTimeout;
        attempts = FReader.Count() > 0 ? attempts - 1 : 0;
    }
  } while (attempts > 0);
  return result;
}

bool TExchange::ReadAnswer() {
  const std::uint32_t start = FClock.Ticks();
  auto complete = [this] {
    return FReader.State() == TAnswerState::Answer || FReader.State() == TAnswerState::Damaged;
  };
  do {
    const std::uint32_t tick = FClock.Ticks();
    if (FReader.Done()) {
      // Full: nothing more is read; the attempt waits for its timeout.
      FClock.Sleep(TickLeft(start, tick));
      continue;
    }
    FPort.WaitReadable(TickLeft(start, tick));
    const std::int32_t got = ReadWaiting();
    if (got < 0)
      return false;
    // Woken without data (echo, line noise): the rest of the tick passes without reading.
    if (got == 0)
      FClock.Sleep(TickLeft(start, tick));
  } while (!complete() && TicksElapsed(start, FClock.Ticks()) < FTimeoutMs);
  return true;
}

std::int32_t TExchange::ReadWaiting() {
  std::int32_t total = 0;
  std::uint8_t chunk[TAnswerReader::kBufferSize];
  while (FReader.Room() > 0) {
    const std::int32_t got = FPort.Read(chunk, static_cast<std::uint32_t>(FReader.Room()));
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    FReader.Feed(chunk, static_cast<std::size_t>(got));
    total += got;
  }
  return total;
}

std::uint32_t TExchange::TickLeft(std::uint32_t AAttemptStart, std::uint32_t ATickStart) {
  const std::uint32_t now = FClock.Ticks();
  const std::uint32_t inTick = TicksElapsed(ATickStart, now);
  const std::uint32_t inAttempt = TicksElapsed(AAttemptStart, now);
  const std::uint32_t tickLeft = inTick < kReadTickMs ? kReadTickMs - inTick : 0;
  const std::uint32_t attemptLeft = inAttempt < FTimeoutMs ? FTimeoutMs - inAttempt : 0;
  return std::min(tickLeft, attemptLeft);
}

}  // namespace kiren
