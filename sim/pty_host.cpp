#include "sim/pty_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <optional>
#include <system_error>

namespace kiren::sim {

namespace {

using TClock = std::chrono::steady_clock;

[[noreturn]] void ThrowErrno(const char* AWhat) {
  throw std::system_error(errno, std::generic_category(), AWhat);
}

void CloseFd(int& AFd) {
  if (AFd >= 0)
    ::close(AFd);
  AFd = -1;
}

// Writes what the slave's input queue takes; the rest is dropped like bytes on a line
// nobody listens to.
void WriteAll(int AFd, const Bytes& AData) {
  std::size_t done = 0;
  while (done < AData.size()) {
    const ssize_t n = ::write(AFd, AData.data() + done, AData.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

void MakeRaw(int AFd) {
  termios tio{};
  if (::tcgetattr(AFd, &tio) != 0)
    return;
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  tio.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(AFd, TCSANOW, &tio);
}

}  // namespace

namespace {

// Ten bit times (start, 8 data, stop) of one byte at ABaud.
std::chrono::nanoseconds ByteTime(std::uint32_t ABaud) {
  return ABaud == 0 ? std::chrono::nanoseconds(0)
                    : std::chrono::nanoseconds(10'000'000'000LL / ABaud);
}

}  // namespace

TPtyHost::TPtyHost(TFirmware& AFirmware, std::uint32_t ALineRate)
    : FFirmware(AFirmware), FByteTime(ByteTime(ALineRate)) {
  try {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
      ThrowErrno("posix_openpt");
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
      ThrowErrno("unlockpt");
    char name[128];
    if (::ptsname_r(FMaster, name, sizeof name) != 0)
      ThrowErrno("ptsname_r");
    FDevicePath = name;
    // Holding the slave open keeps the pair alive (no hang-up on the master) until the tool
    // opens the port, and between its connections.
    FSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlave < 0)
      ThrowErrno("open pty slave");
    MakeRaw(FSlave);
    const int flags = ::fcntl(FMaster, F_GETFL);
    ::fcntl(FMaster, F_SETFL, flags | O_NONBLOCK);
    if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
      ThrowErrno("pipe2");
    FThread = std::thread(&TPtyHost::Run, this);
  } catch (...) {
    CloseEnds();
    throw;
  }
}

TPtyHost::~TPtyHost() {
  StopThread();
  CloseEnds();
}

std::string TPtyHost::PortName() const {
  const std::string prefix = "/dev/";
  return FDevicePath.compare(0, prefix.size(), prefix) == 0 ? FDevicePath.substr(prefix.size())
                                                            : FDevicePath;
}

std::string TPtyHost::DevicePath() const {
  return FDevicePath;
}

void TPtyHost::Hangup() {
  FHungUp = true;
  StopThread();
  std::lock_guard<std::mutex> lock(FCloseLock);
  CloseFd(FMaster);
  CloseFd(FSlave);
}

void TPtyHost::StopThread() {
  FStop = true;
  Wake();
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
    FThread.join();
}

void TPtyHost::Wake() {
  if (FWake[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWake[1], &b, 1);
  }
}

void TPtyHost::CloseEnds() {
  std::lock_guard<std::mutex> lock(FCloseLock);
  CloseFd(FMaster);
  CloseFd(FSlave);
  CloseFd(FWake[0]);
  CloseFd(FWake[1]);
}

void TPtyHost::Run() {
  struct TPending {
    TClock::time_point Due;
    Bytes Data;
  };
  // With the line model: answer bytes on their way, each with the time its stop bit ends.
  struct TOnLine {
    TClock::time_point Done;
    std::uint8_t Byte;
  };
  std::deque<TPending> pending;
  std::deque<TOnLine> onLine;
  TClock::time_point inFree{}, outFree{};  // when each direction of the line is free again
  Bytes buf(4096);
  while (!FStop) {
    std::optional<TClock::time_point> next;
    if (!pending.empty())
      next = pending.front().Due;
    if (!onLine.empty() && (!next || onLine.front().Done < *next))
      next = onLine.front().Done;
    timespec wait{};
    const timespec* timeout = nullptr;
    if (next) {
      const auto left = std::max(TClock::duration::zero(), *next - TClock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      wait.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      wait.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      timeout = &wait;
    }
    pollfd fds[2] = {{FMaster, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    const int n = ::ppoll(fds, 2, timeout, nullptr);
    if (n < 0 && errno != EINTR)
      break;
    if (FStop)
      break;
    if (n > 0 && (fds[0].revents & POLLIN) != 0) {
      const ssize_t got = ::read(FMaster, buf.data(), buf.size());
      if (got > 0) {
        int delay = 0;
        Bytes answer = FFirmware.Receive(Bytes(buf.begin(), buf.begin() + got), &delay);
        // The request is complete at the reader once its last byte has crossed the line.
        inFree = std::max(inFree, TClock::now()) + FByteTime * got;
        if (!answer.empty())
          pending.push_back({inFree + std::chrono::milliseconds(delay), std::move(answer)});
      }
    } else if (n > 0 && (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
      // Only possible when the slave is closed everywhere; the host keeps it open, so this
      // is the end of the pair.
      break;
    }
    // Answers leave in order; a delayed one holds back those behind it.
    while (!pending.empty() && pending.front().Due <= TClock::now()) {
      if (FByteTime.count() == 0) {
        WriteAll(FMaster, pending.front().Data);
      } else {
        outFree = std::max(outFree, pending.front().Due);
        for (std::uint8_t b : pending.front().Data) {
          outFree += FByteTime;
          onLine.push_back({outFree, b});
        }
      }
      pending.pop_front();
    }
    Bytes arrived;
    while (!onLine.empty() && onLine.front().Done <= TClock::now()) {
      arrived.push_back(onLine.front().Byte);
      onLine.pop_front();
    }
    if (!arrived.empty())
      WriteAll(FMaster, arrived);
  }
}

}  // namespace kiren::sim
