// One request and its answer over a port: purge, frame, write, collect the answer under the
// timeout and retry rules, log both directions. The port, the clock and the log are small
// interfaces, so the rules run against the real serial port in the worker and against
// scripted ones in tests.
#pragma once

#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "protocol/answer_reader.h"

namespace kiren {

// The port as the exchange uses it.
class IExchangePort {
 public:
  virtual ~IExchangePort() = default;
  // Drops whatever waits in both directions.
  virtual bool Purge() = 0;
  // Bytes written.
  virtual std::int32_t Write(const Bytes& AFrame) = 0;
  // Returns once bytes can be read (or the port has failed), at the latest after AMs.
  virtual void WaitReadable(std::uint32_t AMs) = 0;
  // Bytes read, 0 when none wait, -1 when the device is gone.
  virtual std::int32_t Read(std::uint8_t* ABuffer, std::uint32_t ASize) = 0;
  virtual std::string LastErrorStr() const = 0;
};

// A millisecond tick counter that may wrap, and a plain sleep.
class IExchangeClock {
 public:
  virtual ~IExchangeClock() = default;
  virtual std::uint32_t Ticks() = 0;
  virtual void Sleep(std::uint32_t AMs) = 0;
};

// The exchange's lines in the debug log.
class IExchangeLog {
 public:
  virtual ~IExchangeLog() = default;
  // An empty line, then the request frame.
  virtual void Request(const Bytes& AFrame) = 0;
  // AAttempt counts the attempts still open, the current one included.
  virtual void WriteFailed(int AAttempt, const std::string& AError) = 0;
  // The bytes received in one attempt, also when there are none.
  virtual void Answer(const Bytes& AReceived) = 0;
};

// Milliseconds between two readings of a 32-bit tick counter that may have wrapped.
std::uint32_t TicksElapsed(std::uint32_t AStart, std::uint32_t ANow);

// The system's steady clock in milliseconds.
class TSteadyClock : public IExchangeClock {
 public:
  std::uint32_t Ticks() override;
  void Sleep(std::uint32_t AMs) override;
};

// The debug log's exchange lines (">>" request, "<<" answer, "**" write error).
class TDbgExchangeLog : public IExchangeLog {
 public:
  void Request(const Bytes& AFrame) override;
  void WriteFailed(int AAttempt, const std::string& AError) override;
  void Answer(const Bytes& AReceived) override;
};

// Result codes: 0 intact answer; 2 port failure (purge failed, short write, device gone);
// 3 no complete frame before the timeout; 4 a complete frame with a bad CRC on the first
// attempt. A silent reader gets one send; an attempt that received some bytes but no
// complete frame is repeated once.
class TExchange {
 public:
  // Answer timeout of one attempt.
  static constexpr std::uint32_t kTimeoutMs = 2000;
  static constexpr int kAttempts = 2;
  // The longest gap between two reads.
  static constexpr std::uint32_t kReadTickMs = 10;

  TExchange(IExchangePort& APort, IExchangeClock& AClock, IExchangeLog& ALog,
            std::uint32_t ATimeoutMs = kTimeoutMs)
      : FPort(APort), FClock(AClock), FLog(ALog), FTimeoutMs(ATimeoutMs) {}

  int Run(const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData);

 private:
  // Collects one answer into FReader; false when the device is gone.
  bool ReadAnswer();
  // Reads what waits, as long as the reader takes bytes. -1 when the device is gone.
  std::int32_t ReadWaiting();
  // Milliseconds left in the read tick that began at ATickStart, within the attempt.
  std::uint32_t TickLeft(std::uint32_t AAttemptStart, std::uint32_t ATickStart);

  IExchangePort& FPort;
  IExchangeClock& FClock;
  IExchangeLog& FLog;
  const std::uint32_t FTimeoutMs;
  TAnswerReader FReader;
};

}  // namespace kiren
