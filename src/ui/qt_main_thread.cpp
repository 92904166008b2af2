#include "ui/qt_main_thread.h"

#include <QThread>
#include <exception>
#include <iostream>
#include <utility>

namespace kiren {

TQtMainThread::TQtMainThread() : FContext(std::make_unique<QObject>()) {}

TQtMainThread::~TQtMainThread() = default;

void TQtMainThread::Send(const std::function<void()>& ACall) {
  if (QThread::currentThread() == FContext->thread()) {
    ACall();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      FContext.get(),
      [&] {
        try {
          ACall();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error)
    std::rethrow_exception(error);
}

void TQtMainThread::Post(std::function<void()> ACall) {
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
