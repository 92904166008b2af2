#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "protocol/answer_reader.h"
#include "protocol/frame.h"
#include "sim/pty_host.h"

namespace kiren::sim {
namespace {

// Reads until the receive path is done (a complete frame, or a full buffer) or ATimeoutMs
// passed; returns the bytes read.
Bytes ReadFrame(int AFd, int ATimeoutMs) {
  TAnswerReader reader;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!reader.Done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      break;
    pollfd p{AFd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
      break;
    std::uint8_t buf[TAnswerReader::kBufferSize];
    const ssize_t n = ::read(AFd, buf, reader.Room());
    if (n <= 0)
      break;
    reader.Feed(buf, static_cast<std::size_t>(n));
  }
  return reader.Received();
}

TEST(PtyHost, AnswersFramesOnTheSlaveAndHangsUp) {
  TFirmware fw;
  TPtyHost host(fw);
  EXPECT_EQ(host.DevicePath(), "/dev/" + host.PortName());
  EXPECT_EQ(host.PortName().rfind("pts/", 0), 0u);

  const int fd = ::open(host.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const Bytes req = TBuilder::Finalize({0xFE});
  ASSERT_EQ(::write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
  EXPECT_EQ(ReadFrame(fd, 5000), fw.Receive(req));

  // A delayed answer arrives late but whole.
  TFaults f;
  f.DelayMs = 300;
  fw.SetFaults(f);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(::write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
  const Bytes late = ReadFrame(fd, 5000);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
  fw.SetFaults({});
  EXPECT_EQ(late, fw.Receive(req));

  host.Hangup();
  EXPECT_TRUE(host.HungUp());
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  std::uint8_t b;
  EXPECT_LE(::read(fd, &b, 1), 0);
  ::close(fd);
}

TEST(PtyHost, ToolMayReopenThePort) {
  TFirmware fw;
  TPtyHost host(fw);
  const Bytes req = TBuilder::Finalize({0xFF});
  for (int round = 0; round < 2; ++round) {
    const int fd = ::open(host.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    EXPECT_EQ(ReadFrame(fd, 5000), fw.Receive(req));
    ::close(fd);
  }
}

// With the line model a request and its answer take at least their 8-N-1 line time, and the
// answer still arrives whole and unchanged.
TEST(PtyHost, LineModelTakesTheLineTime) {
  TFirmware fw;
  constexpr std::uint32_t kBaud = 9600;
  TPtyHost host(fw, kBaud);
  const int fd = ::open(host.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const Bytes req = TBuilder::Finalize({0xFE});
  const Bytes expected = fw.Receive(req);
  const auto lineTime = std::chrono::microseconds(
      10'000'000LL * static_cast<long long>(req.size() + expected.size()) / kBaud);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(::write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
  EXPECT_EQ(ReadFrame(fd, 5000), expected);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, lineTime);
  ::close(fd);
}

}  // namespace
}  // namespace kiren::sim
