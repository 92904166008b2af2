#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "worker/main_thread.h"

namespace kiren {

// A main thread without a window system: the thread that creates the loop runs the queued
// calls whenever it calls RunUntil or RunFor. Console programs and tests use it.
class TEventLoop : public IMainThread {
 public:
  TEventLoop();
  ~TEventLoop() override;
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // On the loop's thread ACall runs at once; elsewhere the caller waits until the loop ran it.
  void Send(const std::function<void()>& ACall) override;
  void Post(std::function<void()> ACall) override;

  // Runs queued calls until APredicate holds (checked before and after each call) or
  // ATimeout has passed; returns APredicate(). Only on the loop's thread.
  bool RunUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout);
  // Runs queued calls for ADuration.
  void RunFor(std::chrono::milliseconds ADuration);
  // Wakes a RunUntil that waits, so that it checks its predicate again (any thread).
  void Wake();

  bool IsLoopThread() const { return std::this_thread::get_id() == FThreadId; }

 private:
  const std::thread::id FThreadId;
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FCalls;
  bool FWoken = false;
};

}  // namespace kiren
