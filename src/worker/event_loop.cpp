#include "worker/event_loop.h"

#include <exception>
#include <utility>

namespace kiren {

TEventLoop::TEventLoop() : FThreadId(std::this_thread::get_id()) {}

TEventLoop::~TEventLoop() = default;

void TEventLoop::Send(const std::function<void()>& ACall) {
  if (IsLoopThread()) {
    ACall();
    return;
  }
  std::mutex doneLock;
  std::condition_variable doneCond;
  bool done = false;
  std::exception_ptr error;
  Post([&] {
    try {
      ACall();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(doneLock);
    done = true;
    doneCond.notify_one();
  });
  std::unique_lock<std::mutex> guard(doneLock);
  doneCond.wait(guard, [&] { return done; });
  if (error)
    std::rethrow_exception(error);
}

void TEventLoop::Post(std::function<void()> ACall) {
  std::lock_guard<std::mutex> guard(FLock);
  FCalls.push_back(std::move(ACall));
  FWake.notify_all();
}

void TEventLoop::Wake() {
  std::lock_guard<std::mutex> guard(FLock);
  FWoken = true;
  FWake.notify_all();
}

bool TEventLoop::RunUntil(const std::function<bool()>& APredicate,
                          std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    std::function<void()> call;
    {
      std::unique_lock<std::mutex> guard(FLock);
      if (!FWake.wait_until(guard, deadline, [this] { return !FCalls.empty() || FWoken; }))
        return APredicate();
      FWoken = false;
      if (FCalls.empty())
        continue;
      call = std::move(FCalls.front());
      FCalls.pop_front();
    }
    call();
  }
  return true;
}

void TEventLoop::RunFor(std::chrono::milliseconds ADuration) {
  RunUntil([] { return false; }, ADuration);
}

}  // namespace kiren
