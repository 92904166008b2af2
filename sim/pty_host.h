// Pseudo-terminal that carries the virtual reader: the tool opens the slave side as its
// serial port; a thread answers on the master side with the firmware.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "base/bytes.h"
#include "sim/firmware.h"

namespace kiren::sim {

class TPtyHost {
 public:
  // Opens the pseudo-terminal (raw mode) and starts answering with AFirmware, which must
  // outlive the host. Throws std::system_error when no pseudo-terminal can be opened.
  // ALineRate (baud, 0: none) models a real 8-N-1 line: every byte takes 10 bit times, a
  // request reaches the firmware once its last byte is in, and an answer leaves byte by byte.
  explicit TPtyHost(TFirmware& AFirmware, std::uint32_t ALineRate = 0);
  ~TPtyHost();
  TPtyHost(const TPtyHost&) = delete;
  TPtyHost& operator=(const TPtyHost&) = delete;

  // The slave's name relative to /dev ("pts/5") and its full path ("/dev/pts/5").
  std::string PortName() const;
  std::string DevicePath() const;

  // Unplugs the reader: closes the master side, so the tool's reads and polls on the slave
  // see a hang-up. Stops answering for good.
  void Hangup();
  bool HungUp() const { return FHungUp; }

 private:
  TFirmware& FFirmware;
  const std::chrono::nanoseconds FByteTime;
  std::string FDevicePath;
  int FMaster = -1;
  int FSlave = -1;  // kept open so the pair lives while no tool holds the slave
  int FWake[2] = {-1, -1};
  std::atomic<bool> FStop{false};
  std::atomic<bool> FHungUp{false};
  std::mutex FCloseLock;
  std::thread FThread;

  void Run();
  void StopThread();
  void CloseEnds();
  void Wake();
};

}  // namespace kiren::sim
