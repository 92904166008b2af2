#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

#include "worker/main_thread.h"

class QThread;

namespace kiren {

// Runs calls of the device worker on the Qt GUI thread. Create and destroy it on the GUI
// thread. Destroying it drops the calls not yet run: posted ones silently, while a worker
// waiting in Send is released with an error instead of a call that never ran.
class TQtMainThread : public IMainThread {
 public:
  TQtMainThread();
  ~TQtMainThread() override;

  // Runs ACall on the GUI thread and waits; its exception is rethrown here. On the GUI thread
  // itself the call runs at once. The GUI thread must be running its event loop. Throws
  // std::runtime_error when the dispatcher is destroyed before the call ran.
  void Send(const std::function<void()>& ACall) override;
  // Queues ACall for the GUI thread's event loop. An exception it throws is reported on
  // stderr and dropped: nobody waits for it.
  void Post(std::function<void()> ACall) override;

 private:
  QThread* const FGuiThread;
  std::unique_ptr<QObject> FContext;
  // Guards FClosed and FSending: the destructor must not free FContext while a worker is
  // posting to it.
  std::mutex FLock;
  bool FClosed = false;
  int FSending = 0;
};

}  // namespace kiren
