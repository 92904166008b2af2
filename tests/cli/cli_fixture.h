// kiren-cli runs against a virtual reader (kiren-sim with its console on a pipe), both with a
// private runtime folder and log folder inside the test's temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace kiren::test {

class TCliFixture : public ::testing::Test {
 protected:
  explicit TCliFixture(const char* ATempName) : FTmp(ATempName) {}

  void TearDown() override {
    FSim.reset();
    if (HasFailure()) {
      std::cerr << "kept " << FDir << std::endl;
      FTmp.Keep();
    }
  }

  // Starts kiren-sim with AArgs and returns its port name.
  std::string StartSimProcess(const std::vector<std::string>& AArgs = {}) {
    FSim = std::make_unique<TSimProcess>(AArgs, FDir, FEnv);
    return FSim->PortName();
  }
  std::unique_ptr<TProcess> Cli(const std::vector<std::string>& AArgs) {
    std::vector<std::string> argv = {KIREN_CLI_PATH};
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    return std::make_unique<TProcess>(argv, FEnv, FDir + "/cli.err");
  }
  // Runs kiren-cli to its end; AStatus receives the exit status.
  std::string RunCli(const std::vector<std::string>& AArgs, int& AStatus) {
    auto cli = Cli(AArgs);
    AStatus = cli->Wait(std::chrono::seconds(60)).value_or(-1);
    return cli->Output();
  }

  static std::string ReadText(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  // Waits until kiren-cli's stderr holds AText ACount times.
  bool WaitStderr(const std::string& AText, int ACount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string text = ReadText(FDir + "/cli.err");
      int found = 0;
      for (auto pos = text.find(AText); pos != std::string::npos; pos = text.find(AText, pos + 1))
        ++found;
      if (found >= ACount)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TTempDir FTmp;
  const std::string FDir = FTmp.Path();
  std::vector<std::string> FEnv;
  std::unique_ptr<TSimProcess> FSim;
};

}  // namespace kiren::test
