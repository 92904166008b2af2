#include "ui/qt_main_thread.h"

#include <QCoreApplication>
#include <QThread>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kiren {

namespace {

const char* const kDroppedText = "the window thread stopped taking calls; the call did not run";

}  // namespace

TQtMainThread::TQtMainThread()
    : FGuiThread(QThread::currentThread()), FContext(std::make_unique<QObject>()) {}

TQtMainThread::~TQtMainThread() {
  {
    std::lock_guard lock(FLock);
    FClosed = true;
  }
  // Dropping a waiting call releases its worker; one that is about to post is waited for.
  for (;;) {
    {
      std::lock_guard lock(FLock);
      if (FSending == 0)
        break;
    }
    QCoreApplication::removePostedEvents(FContext.get(), QEvent::MetaCall);
    std::this_thread::yield();
  }
}

void TQtMainThread::Send(const std::function<void()>& ACall) {
  if (QThread::currentThread() == FGuiThread) {
    ACall();
    return;
  }
  {
    std::lock_guard lock(FLock);
    if (FClosed)
      throw std::runtime_error(kDroppedText);
    ++FSending;
  }
  bool ran = false;
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      FContext.get(),
      [&] {
        ran = true;
        try {
          ACall();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  {
    std::lock_guard lock(FLock);
    --FSending;
  }
  if (error)
    std::rethrow_exception(error);
  if (!ran)
    throw std::runtime_error(kDroppedText);
}

void TQtMainThread::Post(std::function<void()> ACall) {
  std::lock_guard lock(FLock);
  if (FClosed)
    return;
  QMetaObject::invokeMethod(
      FContext.get(),
      [Call = std::move(ACall)] {
        try {
          Call();
        } catch (const std::exception& E) {
          std::cerr << "posted call failed: " << E.what() << std::endl;
        } catch (...) {
          std::cerr << "posted call failed" << std::endl;
        }
      },
      Qt::QueuedConnection);
}

}  // namespace kiren
