// Port over a real pseudo-terminal: the port opens the slave, the test acts as the device.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pty_fixture.h"
#include "serial/com_port.h"

namespace kiren {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ComPortPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pty.Ok());
    Port.SetPort(Pty.Name());
    ASSERT_TRUE(Port.SetParams("115200-8-N-1", false));
    Port.SetTimeoutsSpec_ReadImmediatelyNoWait(1, 1000);
  }

  // Collects ACount bytes with immediate reads, as the worker does.
  Bytes ReadPolling(std::size_t ACount, std::chrono::milliseconds ALimit = 5000ms) {
    Bytes Out;
    const auto End = Clock::now() + ALimit;
    while (Out.size() < ACount && Clock::now() < End) {
      std::uint8_t Buf[256];
      std::int32_t Got = 0;
      if (Port.ReadBuffer(Buf, sizeof Buf, Got)) {
        Out.insert(Out.end(), Buf, Buf + Got);
      } else {
        EXPECT_EQ(Got, 0) << Port.LastErrorStr();
        if (Got < 0)
          break;
        std::this_thread::sleep_for(10ms);
      }
    }
    return Out;
  }

  bool WaitInput(std::int32_t ACount) {
    const auto End = Clock::now() + 5s;
    while (Clock::now() < End) {
      if (Port.InputCount() >= ACount)
        return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  test::TPtyPair Pty;
  TMyComPort Port;
};

TEST_F(ComPortPty, OpensByNameOrDevicePath) {
  struct stat Want {};
  ASSERT_EQ(fstat(Pty.Slave(), &Want), 0);
  for (const std::string& Name : {Pty.Path(), Pty.Name()}) {
    SCOPED_TRACE(Name);
    ASSERT_TRUE(Port.Open(Name, true)) << Port.LastErrorStr();
    EXPECT_EQ(Port.Port(), Pty.Name());
    struct stat Got {};
    ASSERT_EQ(fstat(Port.Handle(), &Got), 0);
    EXPECT_EQ(Got.st_rdev, Want.st_rdev);
    EXPECT_TRUE(Port.Close());
    EXPECT_FALSE(Port.Opened());
  }
  Port.SetPort(Pty.Name());
  EXPECT_TRUE(Port.Open(true));
}

TEST_F(ComPortPty, HooksAndLogTexts) {
  std::vector<std::string> Events;
  Port.SetOnLog([&](TMyComPort&, const std::string& T) { Events.push_back("log " + T); });
  Port.SetOnAfterOpen([&](TMyComPort&) { Events.push_back("after open"); });
  Port.SetOnBeforeClose([&](TMyComPort& P) {
    Events.push_back(P.Opened() ? "before close (open)" : "before close");
  });
  Port.SetOnPortSttChange([&](TMyComPort&) { Events.push_back("state"); });
  Port.SetOnDataSent([&](TMyComPort&) { Events.push_back("sent"); });

  ASSERT_TRUE(Port.Open(Pty.Path(), true));
  EXPECT_EQ(Port.WriteStr(std::string("AB")), 2);
  ASSERT_TRUE(Port.ApplyConfig());  // nothing changed: no report
  ASSERT_TRUE(Port.SetParams("9600-8-N-2", true));
  ASSERT_TRUE(Port.Close());
  EXPECT_TRUE(Port.Close());

  const std::vector<std::string> Expected = {
      "log 115200-8-N-1  (RI:-1 RM:0 RC:0 WM:1 WC:1000)",
      "state",
      "after open",
      "log Open " + Pty.Path(),
      "sent",
      "log 9600-8-N-2",
      "state",
      "before close",
      "log Close " + Pty.Name(),
  };
  EXPECT_EQ(Events, Expected);
}

TEST_F(ComPortPty, FailedApplyClosesAgainAndKeepsItsError) {
  std::vector<std::string> Events;
  Port.SetOnLog([&](TMyComPort&, const std::string& T) { Events.push_back(T); });
  Port.SetOnAfterOpen([&](TMyComPort&) { Events.push_back("after open"); });
  const std::vector<std::pair<const char*, std::function<void(TMyDCB&)>>> Unsupported = {
      {"1.5 stop bits", [](TMyDCB& D) { D.SetStopBits(kOne5StopBits); }},
      {"7 data bits on a pty", [](TMyDCB& D) { D.SetByteSize(7); }},
      {"DSR flow", [](TMyDCB& D) { D.SetFlagOutxDsrFlow(true); }},
      {"RTS toggle", [](TMyDCB& D) { D.SetFlagRtsControl(3); }},
  };
  for (const auto& [Name, Change] : Unsupported) {
    SCOPED_TRACE(Name);
    Events.clear();
    TMyDCB Saved = Port.Settings();
    Change(Port.Settings());
    EXPECT_FALSE(Port.Open(Pty.Name(), true));
    EXPECT_FALSE(Port.Opened());
    EXPECT_EQ(Port.LastErrorCode(), static_cast<std::uint32_t>(ENOTSUP));
    EXPECT_EQ(Port.LastErrorStr(), "Operation not supported");
    ASSERT_FALSE(Events.empty());
    EXPECT_EQ(Events.back(), "Close " + Pty.Name());
    Port.Settings() = Saved;
  }
  Port.Settings().SetByteSize(9);
  EXPECT_FALSE(Port.Open(Pty.Name(), true));
  EXPECT_EQ(Port.LastErrorCode(), static_cast<std::uint32_t>(EINVAL));
}

TEST_F(ComPortPty, LineSettingsReachTheTty) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  termios T{};
  ASSERT_EQ(tcgetattr(Pty.Slave(), &T), 0);
  EXPECT_EQ(cfgetospeed(&T), B115200);
  EXPECT_EQ(T.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(T.c_iflag & (IXON | ICRNL), 0u);

  for (const std::string Text : {"9600-8-N-2", "250000-8-N-1", "4000000-8-N-1"}) {
    SCOPED_TRACE(Text);
    ASSERT_TRUE(Port.SetParams(Text, false));
    ASSERT_TRUE(Port.ApplyParams()) << Port.LastErrorStr();
    TMyComPort Query;
    ASSERT_TRUE(Query.OpenForQuery(Pty.Path()));  // shared, no lock taken
    ASSERT_TRUE(Query.ReadConfig());
    EXPECT_EQ(Query.ParamsAsString(), Text);
  }

  // A pseudo-terminal carries 8 bits without parity only: refused, and nothing of it stays.
  ASSERT_TRUE(Port.SetParams("9600-7-E-1", false));
  EXPECT_FALSE(Port.ApplyParams());
  EXPECT_EQ(Port.LastErrorCode(), static_cast<std::uint32_t>(ENOTSUP));
  ASSERT_EQ(tcgetattr(Pty.Slave(), &T), 0);
  EXPECT_EQ(cfgetospeed(&T), B4000000);
  EXPECT_EQ(T.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(ComPortPty, EveryByteValuePassesBothWays) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  Bytes All(256);
  for (int I = 0; I < 256; ++I)
    All[static_cast<std::size_t>(I)] = static_cast<std::uint8_t>(I);
  EXPECT_EQ(Port.WriteStr(All), 256);
  EXPECT_EQ(Pty.Read(256), All);

  const Bytes Frame = {0xFE, 0x05, 0x01, 0xFF, 0x01, 0x0D, 0x0A, 0x11, 0x13, 0x03};
  ASSERT_TRUE(Pty.Write(Frame));
  ASSERT_TRUE(Pty.Write(All));
  Bytes Want = Frame;
  Want.insert(Want.end(), All.begin(), All.end());
  EXPECT_EQ(ReadPolling(Want.size()), Want);
}

TEST_F(ComPortPty, ImmediateReadAndPurge) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  std::uint8_t Buf[16];
  std::int32_t Got = 7;
  const auto Start = Clock::now();
  EXPECT_FALSE(Port.ReadBuffer(Buf, sizeof Buf, Got));
  EXPECT_LT(Clock::now() - Start, 1s);
  EXPECT_EQ(Got, 0);
  EXPECT_EQ(Port.LastErrorCode(), 0u);  // nothing arrived is no failure

  ASSERT_TRUE(Pty.Write({1, 2, 3, 4}));
  ASSERT_TRUE(WaitInput(4));
  EXPECT_EQ(Port.InputCount(), 4);
  EXPECT_TRUE(Port.ClearBuffers());
  EXPECT_EQ(Port.InputCount(), 0);
  EXPECT_EQ(Port.ReadBuffer(Buf, sizeof Buf), 0);
  EXPECT_EQ(Port.LastErrorCode(), 0u);
}

TEST_F(ComPortPty, WaitForFirstByte) {
  Port.SetTimeoutsSpec_ReadImmediatelyWaitForFirst(1, 1000, 200);
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  std::uint8_t Buf[16];
  auto Start = Clock::now();
  EXPECT_EQ(Port.ReadBuffer(Buf, sizeof Buf), 0);
  EXPECT_GE(Clock::now() - Start, 190ms);

  std::thread Device([&] {
    std::this_thread::sleep_for(50ms);
    Pty.Write({0x42});
  });
  Start = Clock::now();
  const std::int32_t Got = Port.ReadBuffer(Buf, sizeof Buf);
  Device.join();
  // The byte may come after the 200 ms on a loaded machine; then the read is empty.
  if (Got == 1) {
    EXPECT_EQ(Buf[0], 0x42);
  }
  EXPECT_LT(Clock::now() - Start, 5s);
}

TEST_F(ComPortPty, TotalReadTimeoutCollectsUpToSize) {
  Port.SetTimeouts(1, 1000, 0, 0, 3000);  // no interval limit, 3 s in total
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  ASSERT_TRUE(Pty.Write({1, 2, 3}));
  std::thread Device([&] {
    std::this_thread::sleep_for(100ms);
    Pty.Write({4, 5});
  });
  Bytes Got;
  EXPECT_EQ(Port.ReadStr(Got, 5), 5);
  Device.join();
  EXPECT_EQ(Got, Bytes({1, 2, 3, 4, 5}));
}

TEST_F(ComPortPty, SecondOpenIsRefused) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  TMyComPort Other;
  EXPECT_FALSE(Other.Open(Pty.Path(), true));
  EXPECT_FALSE(Other.Opened());
  EXPECT_EQ(Other.LastErrorCode(), static_cast<std::uint32_t>(EBUSY));
  EXPECT_EQ(Other.LastErrorStr(), "Device or resource busy");
  EXPECT_EQ(Other.LastCondition(), TPortCondition::Busy);
  EXPECT_FALSE(Other.DeviceGone());
  EXPECT_EQ(Port.WriteStr(std::string("ok")), 2);  // the first holder is unaffected
  // A query open beside it must not take the holder's exclusive flag away when it closes.
  TMyComPort Query;
  ASSERT_TRUE(Query.OpenForQuery(Pty.Path())) << Query.LastErrorStr();  // root passes TIOCEXCL
  ASSERT_TRUE(Query.Close());
  int Excl = 0;
  ASSERT_EQ(ioctl(Pty.Slave(), TIOCGEXCL, &Excl), 0);
  EXPECT_EQ(Excl, 1);

  ASSERT_TRUE(Port.Close());
  ASSERT_EQ(ioctl(Pty.Slave(), TIOCGEXCL, &Excl), 0);
  EXPECT_EQ(Excl, 0);
  EXPECT_TRUE(Other.Open(Pty.Path(), true)) << Other.LastErrorStr();
}

TEST_F(ComPortPty, HangUpIsAFailureNotSilence) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  Pty.CloseMaster();
  std::uint8_t Buf[16];
  std::int32_t Got = 0;
  EXPECT_FALSE(Port.ReadBuffer(Buf, sizeof Buf, Got));
  EXPECT_EQ(Got, -1);
  EXPECT_EQ(Port.LastErrorCode(), static_cast<std::uint32_t>(EIO));
  EXPECT_EQ(Port.LastErrorStr(), "Input/output error");
  EXPECT_TRUE(Port.DeviceGone());

  Port.ClearError();
  EXPECT_FALSE(Port.DeviceGone());
  EXPECT_EQ(Port.WriteStr(std::string("x")), 0);
  EXPECT_TRUE(Port.DeviceGone()) << Port.LastErrorStr();
  Port.ClearError();
  EXPECT_FALSE(Port.ClearBuffers());
  EXPECT_TRUE(Port.DeviceGone()) << Port.LastErrorStr();

  Port.SetTimeoutsSpec_ReadImmediatelyWaitForFirst(1, 1000, 60000);
  const auto Start = Clock::now();
  EXPECT_EQ(Port.ReadBuffer(Buf, sizeof Buf), -1);  // no waiting on a dead line
  EXPECT_LT(Clock::now() - Start, 10s);
  EXPECT_TRUE(Port.Close());
}

TEST_F(ComPortPty, WriteGivesUpAfterItsTimeout) {
  Port.SetTimeoutsSpec_ReadImmediatelyNoWait(0, 300);
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  const Bytes Big(4 << 20, 0x55);  // far more than the tty queues hold; nobody reads
  const auto Start = Clock::now();
  const std::int32_t Written = Port.WriteStr(Big);
  EXPECT_GE(Clock::now() - Start, 290ms);
  EXPECT_LT(Clock::now() - Start, 20s);
  EXPECT_GT(Written, 0);
  EXPECT_LT(Written, static_cast<std::int32_t>(Big.size()));
  EXPECT_EQ(Port.LastErrorCode(), static_cast<std::uint32_t>(ETIMEDOUT));
  EXPECT_EQ(Port.LastCondition(), TPortCondition::TimedOut);
}

TEST_F(ComPortPty, EchoIsDropped) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  Port.SetEcho(true);
  ASSERT_EQ(Port.WriteStr(std::string("12345")), 5);
  EXPECT_EQ(Port.EchoCount(), 5);

  ASSERT_TRUE(Pty.Write({'1', '2', '3'}));  // three of the five echoed bytes
  ASSERT_TRUE(WaitInput(3));
  std::uint8_t Buf[10];
  EXPECT_EQ(Port.ReadBuffer(Buf, sizeof Buf), 0);
  EXPECT_EQ(Port.EchoCount(), 2);

  ASSERT_TRUE(Pty.Write({'4', '5', 'a', 'b', 'c', 'd'}));
  ASSERT_TRUE(WaitInput(6));
  ASSERT_EQ(Port.ReadBuffer(Buf, sizeof Buf), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Buf), 4), "abcd");
  EXPECT_EQ(Port.EchoCount(), 0);

  ASSERT_EQ(Port.WriteStr(std::string("xy")), 2);
  EXPECT_TRUE(Port.ClearRxBuffer());
  EXPECT_EQ(Port.EchoCount(), 0);
}

TEST_F(ComPortPty, ModemLinesFailCleanlyOnAPty) {
  ASSERT_TRUE(Port.Open(Pty.Name(), true));
  using TOp = bool (TMyComPort::*)();
  for (TOp Op : {&TMyComPort::SetDTR, &TMyComPort::ClearDTR, &TMyComPort::SetRTS,
                 &TMyComPort::ClearRTS, &TMyComPort::SwitchToRead, &TMyComPort::SwitchToWrite}) {
    Port.ClearError();
    EXPECT_FALSE((Port.*Op)());
    EXPECT_TRUE(Port.LastErrorCode() == ENOTTY || Port.LastErrorCode() == EINVAL)
        << Port.LastErrorCode();
  }
  EXPECT_TRUE(Port.Opened());
  EXPECT_EQ(Port.WriteStr(std::string("z")), 1);
  EXPECT_EQ(Pty.Read(1), Bytes({'z'}));
  EXPECT_TRUE(Port.WaitTxEmpty());
}

}  // namespace
}  // namespace kiren
