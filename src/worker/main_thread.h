#pragma once

#include <functional>

namespace kiren {

// The thread that owns the view (the window's thread, or a console program's main thread).
class IMainThread {
 public:
  virtual ~IMainThread() = default;
  // Runs ACall on the main thread and waits for it; an exception thrown by ACall is rethrown
  // in the caller.
  virtual void Send(const std::function<void()>& ACall) = 0;
  // Queues ACall to run on the main thread later; returns at once.
  virtual void Post(std::function<void()> ACall) = 0;
};

}  // namespace kiren
