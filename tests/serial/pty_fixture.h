// A pseudo-terminal pair for port tests: the port under test opens the slave by name,
// the test plays the device on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "base/bytes.h"

namespace kiren::test {

class TPtyPair {
 public:
  TPtyPair() {
    char Name[128] = {};
    if (openpty(&FMaster, &FSlave, Name, nullptr, nullptr) != 0)
      return;
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    FPath = Name;
  }
  ~TPtyPair() {
    CloseMaster();
    if (FSlave >= 0)
      close(FSlave);
  }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  bool Ok() const { return FMaster >= 0 && !FPath.empty(); }
  const std::string& Path() const { return FPath; }     // /dev/pts/N
  std::string Name() const { return FPath.substr(5); }  // pts/N
  int Slave() const { return FSlave; }

  void CloseMaster() {
    if (FMaster >= 0)
      close(FMaster);
    FMaster = -1;
  }

  bool Write(const Bytes& AData) {
    std::size_t Done = 0;
    while (Done < AData.size()) {
      const ssize_t N = write(FMaster, AData.data() + Done, AData.size() - Done);
      if (N > 0) {
        Done += static_cast<std::size_t>(N);
      } else {
        pollfd P{FMaster, POLLOUT, 0};
        if (poll(&P, 1, 5000) <= 0)
          return false;
      }
    }
    return true;
  }

  // Reads until ACount bytes came or AMs passed.
  Bytes Read(std::size_t ACount, int AMs = 5000) {
    Bytes Out;
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    while (Out.size() < ACount && std::chrono::steady_clock::now() < End) {
      pollfd P{FMaster, POLLIN, 0};
      if (poll(&P, 1, 20) <= 0)
        continue;
      std::uint8_t Buf[4096];
      const ssize_t N = read(FMaster, Buf, std::min(sizeof Buf, ACount - Out.size()));
      if (N > 0)
        Out.insert(Out.end(), Buf, Buf + N);
    }
    return Out;
  }

 private:
  int FMaster = -1;
  int FSlave = -1;
  std::string FPath;
};

}  // namespace kiren::test
