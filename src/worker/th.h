#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/bytes.h"
#include "protocol/protocol.h"
#include "protocol/records.h"
#include "worker/actions.h"
#include "worker/device_view.h"
#include "worker/exchange.h"
#include "worker/main_thread.h"
#include "worker/verify_actions.h"

namespace kiren {

class TMyComPort;

// Bounded blocking FIFO of actions with its own lock and two conditions (not empty, not
// full). Closing it (also by destruction) wakes the producers that wait; their actions are
// then not queued.
class TActionQueue {
 public:
  explicit TActionQueue(std::size_t ACapacity);
  ~TActionQueue();
  TActionQueue(const TActionQueue&) = delete;
  TActionQueue& operator=(const TActionQueue&) = delete;

  // Waits while the queue is full. False (the action stays with the caller) once closed.
  bool Push(std::unique_ptr<TThAction>& AAction);
  // False at once when the queue is full or closed; the action then stays with the caller.
  bool TryPush(std::unique_ptr<TThAction>& AAction);
  // Waits while the queue is empty; nullptr once closed and empty.
  std::unique_ptr<TThAction> Pop();
  // The oldest action, or nullptr when none waits.
  std::unique_ptr<TThAction> TryPop();
  std::size_t Count() const;
  void Close();
  bool Closed() const;

 private:
  const std::size_t FCapacity;
  mutable std::mutex FLock;
  std::condition_variable FNotEmpty;
  std::condition_variable FNotFull;
  std::condition_variable FNoWaiters;
  std::deque<std::unique_ptr<TThAction>> FItems;
  std::size_t FWaiters = 0;
  bool FClosed = false;
};

// Why a worker's run ended.
enum class TEndReason {
  Requested,     // Terminate (or a stop before the run began)
  PortBusy,      // the port did not open: another program holds it
  PortNotFound,  // the port did not open: no such port (any more)
  PortFailed,    // the port did not open for another reason (PortErrorStr tells)
  DeviceGone,    // the reader went away while connected (unplugged, hang-up)
  NoVersion,     // the version query failed
  Failure,       // an unexpected failure while polling
};

// The device worker: the one thread that talks to the reader. It owns the port, the command
// layer and the action queue; it connects, then cycles: queued actions, card poll, card state
// to the view, pause. When the run ends it posts OnTerminate to the main thread and destroys
// itself right after it, so the owner only drops its pointer inside OnTerminate.
class TTh {
 public:
  using TOnTerminate = std::function<void(TTh* ASender)>;

  static constexpr std::size_t kQueueDepth = 10;

  // APort is a port name as discovery lists it ("ttyACM0", "pts/4"). The thread starts at once.
  static TTh* Create(const std::string& APort, bool AUsedWiegand, TOnTerminate AOnTerminate,
                     IDeviceView& AView, IMainThread& AMain);

  TTh(const TTh&) = delete;
  TTh& operator=(const TTh&) = delete;

  // Queues an action (ownership passes to the worker); waits while 10 actions wait. Never call
  // it on the main thread while the queue may be full: the worker may be waiting for that
  // thread. Once the run has ended it no longer waits: the action is released unrun.
  void Exec(std::unique_ptr<TThAction> AAction);
  // Queues the action unless 10 actions wait; on false it stays with the caller. Once the run
  // has ended the action is released unrun and the result is true.
  bool TryExec(std::unique_ptr<TThAction>& AAction);

  void UseWiegand(bool AIsUsed);
  std::int32_t CodeSize() const;
  void SetCodeSize(std::int32_t AValue);
  std::uint8_t Mode() const;
  void SetMode(std::uint8_t AValue);
  std::uint8_t EmissionPrior() const;
  void SetEmissionPrior(std::uint8_t AValue);
  // Pause between two card polls: 800 ms normally; a batch run shortens it while it is armed
  // so that a card placed is found sooner, and sets it back afterwards. A pause under way
  // ends by the new period, counted from its start.
  static constexpr std::chrono::milliseconds kNormalPollPeriod{800};
  void SetPollPeriod(std::chrono::milliseconds APeriod);
  std::chrono::milliseconds PollPeriod() const { return FPollPeriod.load(); }
  // Emission parameters of the last successful TAcPercoStt of this run; empty before one.
  std::optional<TPercoPars> LastPercoPars() const;

  // Requests the end of the run; the worker finishes the exchange in progress.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // The port's error text; meaningful inside OnTerminate (for example why the port did not
  // open).
  std::string PortErrorStr() const;
  // Why the run ended; meaningful inside OnTerminate.
  TEndReason EndReason() const { return FEndReason; }

 private:
  TTh(const std::string& APort, bool AUsedWiegand, TOnTerminate AOnTerminate, IDeviceView& AView,
      IMainThread& AMain);
  ~TTh();

  void Run();
  void Execute();
  bool GetDevInfo();
  void GetConfigInfo();
  void ProcessActions();
  void PollCard(bool AUseWiegand);
  void ReadCardContent(bool AUseWiegand);
  TReaderState ReaderState() const;
  void NoteActionResult(const TThAction& AAction, const TCardCheck* ACheck);
  int WriteRead(const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData);
  void NotePortFailure();
  void Pause();
  // Ends the cycle's pause early: an action waits, or the run is to end.
  void WakePause();

  TActionQueue FQueue;
  std::unique_ptr<TMyComPort> FPort;
  std::unique_ptr<IExchangePort> FLink;
  TSteadyClock FClock;
  TDbgExchangeLog FExchangeLog;
  std::unique_ptr<TExchange> FExchange;
  std::unique_ptr<TProtocol> FProto;
  std::int32_t FTimeout = 0;
  TCardInfo FCardInfo;
  TDevInfo FDevInfo;
  mutable std::mutex FCS;
  std::int32_t FCodeSize = 0;
  std::optional<TPercoPars> FLastPercoPars;
  std::atomic<bool> FUsedWiegand;
  std::atomic<std::chrono::milliseconds> FPollPeriod{kNormalPollPeriod};

  TOnTerminate FOnTerminate;
  IDeviceView& FView;
  IMainThread& FMain;
  std::atomic<bool> FTerminated{false};
  // Set when the port reports that the device is gone (hang-up); ends the run.
  bool FPortGone = false;
  // Written by the worker before OnTerminate is posted, read inside OnTerminate.
  TEndReason FEndReason = TEndReason::Requested;
  std::mutex FPauseLock;
  std::condition_variable FPauseWake;
  bool FPeriodChanged = false;  // under FPauseLock: SetPollPeriod during a pause
  std::thread FThread;
};

}  // namespace kiren
