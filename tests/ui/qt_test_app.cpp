#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class TQtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { FApp = std::make_unique<QApplication>(FArgc, FArgv); }
  void TearDown() override { FApp.reset(); }

 private:
  int FArgc = 1;
  char FName[16] = "kiren-test";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtApplicationEnvironment);

}  // namespace
