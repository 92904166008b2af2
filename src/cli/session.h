#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/protocol.h"
#include "protocol/records.h"
#include "worker/actions.h"
#include "worker/device_view.h"
#include "worker/event_loop.h"
#include "worker/th.h"

namespace kiren::cli {

// Set from the SIGINT/SIGTERM handler; every wait of the session ends when it is set.
extern std::atomic<bool> gInterrupted;

// One connection to a reader through the device worker, driven from the program's main
// thread: the worker's view calls and action callbacks run while this thread waits here.
class TSession : public IDeviceView {
 public:
  using TMs = std::chrono::milliseconds;
  static constexpr TMs kForever = TMs::max();

  explicit TSession(std::string APort);
  ~TSession() override;
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // Starts the worker and waits until it has shown the device information and its first card
  // state. False with AError set when the port does not open or the version query fails.
  bool Connect(std::string& AError);
  // Runs the main loop until APredicate holds; false when ATimeout passed, the worker ended
  // or the program was interrupted first.
  bool WaitFor(const std::function<bool()>& APredicate, TMs ATimeout = kForever);
  // Queues the action and waits for its completion callback; false when the worker ended or
  // the program was interrupted first (the callback is then not run).
  bool Run(std::unique_ptr<TThAction> AAction);
  // Queues the action without waiting for it (its callback runs in a later wait); false when
  // ten actions wait or the worker has ended (the action then stays with the caller).
  bool Queue(std::unique_ptr<TThAction>& AAction);
  // The worker's pause between card polls (see TTh::SetPollPeriod).
  void SetPollPeriod(TMs APeriod);
  // Stops the worker and waits for its end.
  void Close();

  bool Ended() const { return FEnded; }
  const TDevInfo& DevInfo() const { return FDevInfo; }
  int DevInfoError() const { return FDevInfoError; }
  const std::optional<TConfig>& Config() const { return FConfig; }
  const TCardInfo& Card() const { return FCard; }
  // ShowCardInfo calls so far.
  std::size_t CardCalls() const { return FCardCalls; }
  // Called on every ShowCardInfo.
  std::function<void(const TCardInfo&)> OnCard;

  void ShowDevInfo(const TDevInfo& ADevInfo, int AError) override;
  void ShowConfigInfo(const TConfig& AConfig) override;
  void ShowCardInfo(const TCardInfo& ACardInfo) override;

 private:
  std::string FPort;
  TEventLoop FLoop;
  TTh* FTh = nullptr;
  bool FStarted = false;
  bool FEnded = false;
  std::string FPortError;
  bool FHasDevInfo = false;
  TDevInfo FDevInfo;
  int FDevInfoError = 0;
  std::optional<TConfig> FConfig;
  TCardInfo FCard;
  std::size_t FCardCalls = 0;
};

}  // namespace kiren::cli
