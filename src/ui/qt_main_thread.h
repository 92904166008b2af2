#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "worker/main_thread.h"

namespace kiren {

// Runs calls of the device worker on the Qt GUI thread. Create and destroy it on the GUI
// thread; calls posted but not yet run when it is destroyed are dropped.
class TQtMainThread : public IMainThread {
 public:
  TQtMainThread();
  ~TQtMainThread() override;

  // Runs ACall on the GUI thread and waits; its exception is rethrown here. On the GUI thread
  // itself the call runs at once. The GUI thread must be running its event loop.
  void Send(const std::function<void()>& ACall) override;
  // Queues ACall for the GUI thread's event loop. An exception it throws is reported on
  // stderr and dropped: nobody waits for it.
  void Post(std::function<void()> ACall) override;

 private:
  std::unique_ptr<QObject> FContext;
};

}  // namespace kiren
