#include "ui/qt_main_thread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace kiren {
namespace {

TEST(QtMainThread, SendFromWorkerRunsOnGuiThreadAndWaits) {
  TQtMainThread dispatcher;
  std::atomic<bool> done{false};
  bool ranOnGui = false;
  bool callFinishedBeforeReturn = false;
  std::string error;
  std::thread worker([&] {
    bool finished = false;
    dispatcher.Send([&] {
      ranOnGui = QThread::currentThread() == qApp->thread();
      QTest::qWait(100);
      finished = true;
    });
    callFinishedBeforeReturn = finished;
    try {
      dispatcher.Send([] { throw std::runtime_error("отказ в окне"); });
    } catch (const std::runtime_error& E) {
      error = E.what();
    }
    done = true;
  });
  QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
  worker.join();
  EXPECT_TRUE(ranOnGui);
  EXPECT_TRUE(callFinishedBeforeReturn);
  EXPECT_EQ(error, "отказ в окне");
}

TEST(QtMainThread, SendOnGuiThreadRunsAtOnceAndPropagates) {
  TQtMainThread dispatcher;
  int runs = 0;
  dispatcher.Send([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_THROW(dispatcher.Send([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST(QtMainThread, PostIsQueuedAndSwallowsErrors) {
  TQtMainThread dispatcher;
  int runs = 0;
  dispatcher.Post([] { throw std::runtime_error("никто не ждёт"); });
  dispatcher.Post([&] { ++runs; });
  EXPECT_EQ(runs, 0);
  QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
}

TEST(QtMainThread, PendingPostsDieWithTheDispatcher) {
  int runs = 0;
  auto dispatcher = std::make_unique<TQtMainThread>();
  dispatcher->Post([&] { ++runs; });
  dispatcher.reset();
  QCoreApplication::processEvents();
  QTest::qWait(50);
  EXPECT_EQ(runs, 0);
}

TEST(QtMainThread, DestroyingReleasesAWaitingSendWithAnError) {
  auto dispatcher = std::make_unique<TQtMainThread>();
  std::atomic<bool> sending{false};
  std::atomic<bool> ran{false};
  std::string error;
  std::thread worker([&] {
    sending = true;
    try {
      dispatcher->Send([&] { ran = true; });
    } catch (const std::runtime_error& E) {
      error = E.what();
    }
  });
  // The GUI thread takes no calls; whether the worker has posted yet or not, it must not hang
  // nor be told that its call ran.
  while (!sending)
    std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dispatcher.reset();
  worker.join();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kiren
