#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "support/temp_dir.h"
#include "worker/device_view.h"
#include "worker/event_loop.h"
#include "worker/th.h"

namespace kiren::test {

using namespace std::chrono_literals;

// Records what the worker shows; runs on the test's main thread.
class TRecordingView : public IDeviceView {
 public:
  struct TDevCall {
    TDevInfo DevInfo;
    int Error = 0;
  };
  std::vector<TDevCall> DevInfos;
  std::vector<TConfig> Configs;
  std::vector<TCardInfo> Cards;
  // Runs inside ShowCardInfo, after the card was recorded.
  std::function<void(const TCardInfo&)> OnCard;

  void ShowDevInfo(const TDevInfo& ADevInfo, int AError) override {
    DevInfos.push_back({ADevInfo, AError});
  }
  void ShowConfigInfo(const TConfig& AConfig) override { Configs.push_back(AConfig); }
  void ShowCardInfo(const TCardInfo& ACardInfo) override {
    Cards.push_back(ACardInfo);
    if (OnCard)
      OnCard(ACardInfo);
  }
};

// Requests of one command byte in the firmware's history.
std::vector<Bytes> RequestsOf(const sim::TFirmware& AFirmware, std::uint8_t ACmd);
// Command bytes of the firmware's history, in order.
std::vector<std::uint8_t> CommandsOf(const sim::TFirmware& AFirmware);

// Exchange procedure that hands frames straight to a firmware (no port), for action tests.
TWriteReadProc DirectExchange(sim::TFirmware& AFirmware);

// A virtual reader on a pseudo-terminal, a main loop on the test thread and a worker on it.
class TWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the worker on the virtual reader's port (or on APort when given).
  void Start(bool AUsedWiegand = false, const std::string& APort = {});
  // Requests the stop and runs the loop until OnTerminate came.
  void Stop();
  bool RunUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = 15s) {
    return Loop.RunUntil(APredicate, ATimeout);
  }
  // Runs the loop until ACount more ShowCardInfo calls came.
  bool WaitCards(std::size_t ACount, std::chrono::milliseconds ATimeout = 15s);

  TTempDir LogDir{"kiren-worker"};
  sim::TFirmware Firmware;
  std::unique_ptr<sim::TPtyHost> Host;
  TEventLoop Loop;
  TRecordingView View;
  TTh* Th = nullptr;
  bool Started = false;
  bool Ended = false;
  TEndReason EndReason = TEndReason::Requested;  // as OnTerminate saw it
};

}  // namespace kiren::test
