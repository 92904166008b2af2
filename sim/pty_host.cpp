#include "sim/pty_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
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

TPtyHost::TPtyHost(TFirmware& AFirmware) : FFirmware(AFirmware) {
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
  std::deque<TPending> pending;
  Bytes buf(4096);
  while (!FStop) {
    int timeout = -1;
    if (!pending.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().Due -
                                                                              TClock::now());
      timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
    }
    pollfd fds[2] = {{FMaster, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    const int n = ::poll(fds, 2, timeout);
    if (n < 0 && errno != EINTR)
      break;
    if (FStop)
      break;
    if (n > 0 && (fds[0].revents & POLLIN) != 0) {
      const ssize_t got = ::read(FMaster, buf.data(), buf.size());
      if (got > 0) {
        int delay = 0;
        Bytes answer = FFirmware.Receive(Bytes(buf.begin(), buf.begin() + got), &delay);
        if (!answer.empty()) {
          pending.push_back({TClock::now() + std::chrono::milliseconds(delay), std::move(answer)});
        }
      }
    } else if (n > 0 && (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
      // Only possible when the slave is closed everywhere; the host keeps it open, so this
      // is the end of the pair.
      break;
    }
    // Answers leave in order; a delayed one holds back those behind it.
    while (!pending.empty() && pending.front().Due <= TClock::now()) {
      WriteAll(FMaster, pending.front().Data);
      pending.pop_front();
    }
  }
}

}  // namespace kiren::sim
