// The port and discovery against a running kiren-sim process: it is listed while it runs,
// gone after it ends (also when killed), and answers frames written through TMyComPort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/answer_reader.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "serial/com_port.h"
#include "serial/usb.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace kiren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class SimLink : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FDir + "/sys/class/tty");  // no USB devices: only the simulator
  }

  void Start(std::vector<std::string> AArgs) {
    AArgs.push_back("--no-console");
    FSim = std::make_unique<test::TSimProcess>(AArgs, FDir);
    FPortName = FSim->PortName();
  }

  std::vector<std::string> Listed() {
    std::vector<std::string> L;
    EnumComPorts(L, kReaderPidVid, FDir + "/sys", FDir + "/kiren/readers");
    return L;
  }

  // Polls the listing until it equals AWant or 10 s pass.
  std::vector<std::string> ListedEventually(const std::vector<std::string>& AWant) {
    const auto End = Clock::now() + 10s;
    auto L = Listed();
    while (L != AWant && Clock::now() < End) {
      std::this_thread::sleep_for(20ms);
      L = Listed();
    }
    return L;
  }

  void Stop(int ASignal) {
    FSim->Process().Signal(ASignal);
    ASSERT_TRUE(FSim->Process().Wait(10s).has_value());
  }

  test::TTempDir FTmp{"kiren-simlink"};
  const std::string FDir = FTmp.Path();
  std::unique_ptr<test::TSimProcess> FSim;
  std::string FPortName;
};

// The worker's exchange in short: purge, write the frame, collect the answer with the
// receive path, waiting on the port for up to 2 s.
int PortExchange(TMyComPort& APort, const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  if (!APort.ClearBuffers())
    return kResPortFailure;
  const Bytes Frame = TBuilder::Finalize(AReq);
  if (APort.WriteStr(Frame) != static_cast<std::int32_t>(Frame.size()))
    return kResPortFailure;
  TAnswerReader Reader;
  const auto End = Clock::now() + 2s;
  while (!Reader.Done() && Clock::now() < End) {
    APort.WaitReadable(10);
    std::uint8_t Buf[TAnswerReader::kBufferSize];
    std::int32_t Got = 0;
    if (APort.ReadBuffer(Buf, static_cast<std::uint32_t>(Reader.Room()), Got))
      Reader.Feed(Buf, static_cast<std::size_t>(Got));
    else if (Got < 0)
      return kResPortFailure;
  }
  return AttemptResult(Reader, ACmd, AData);
}

TEST_F(SimLink, ListedWhileRunningGoneAfterTerm) {
  Start({});
  EXPECT_EQ(ListedEventually({FPortName}), std::vector<std::string>({FPortName}));
  Stop(SIGTERM);
  EXPECT_TRUE(Listed().empty());
}

TEST_F(SimLink, StaleEntryOfKilledSimulatorIsDropped) {
  Start({});
  ASSERT_EQ(ListedEventually({FPortName}), std::vector<std::string>({FPortName}));
  Stop(SIGKILL);
  EXPECT_FALSE(fs::is_empty(FDir + "/kiren/readers"));  // left behind by the killed process
  EXPECT_TRUE(Listed().empty());
  EXPECT_TRUE(fs::is_empty(FDir + "/kiren/readers"));
}

TEST_F(SimLink, RoundTripThroughThePort) {
  Start({"--version", "Кирен-М1 v5.7", "--card", "new1k", "--uid", "A1B2C3D4"});
  TMyComPort Port;
  Port.SetPort(FPortName);
  ASSERT_TRUE(Port.SetParams("115200-8-N-1", false));
  Port.SetTimeoutsSpec_ReadImmediatelyNoWait(1, 1000);
  ASSERT_TRUE(Port.Open(true)) << Port.LastErrorStr();

  TProtocol Proto([&](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    return PortExchange(Port, AReq, ACmd, AData);
  });
  std::string Ver;
  ASSERT_EQ(Proto.GetVer(Ver), kResOk);
  EXPECT_EQ(Ver, "Кирен-М1 v5.7");

  TCardInfo Card;
  ASSERT_EQ(Proto.GetCardInfo(Card), kResOk);
  EXPECT_EQ(Card.CardType(), "Mifare Classic 1K");
  EXPECT_EQ(Card.UIDStr(), "A1B2C3D4");

  // The simulator ends: the next exchange is a port failure, not a timeout.
  Stop(SIGKILL);
  std::uint8_t Cmd = 0;
  Bytes Data;
  int Res = kResOk;
  const auto End = Clock::now() + 10s;
  do {
    Res = PortExchange(Port, TBuilder::Req_GetVerInfo(), Cmd, Data);
  } while (Res == kResOk && Clock::now() < End);
  EXPECT_EQ(Res, kResPortFailure) << Port.LastErrorStr();
  EXPECT_TRUE(Port.Close());
}

}  // namespace
}  // namespace kiren
