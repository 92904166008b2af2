// Line settings record to termios and back, without a device.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/posix_tty.h"

namespace kiren {
namespace {

TEST(TermiosMapping, LineSettings) {
  struct TCase {
    std::string Text;
    tcflag_t CFlags;
    speed_t Speed;
  };
  const std::vector<TCase> Cases = {
      {"115200-8-N-1", CS8, B115200},
      {"9600-7-E-2", CS7 | PARENB | CSTOPB, B9600},
      {"19200-5-O-1", CS5 | PARENB | PARODD, B19200},
      {"57600-8-M-1", CS8 | PARENB | PARODD | CMSPAR, B57600},
      {"230400-6-S-2", CS6 | PARENB | CMSPAR | CSTOPB, B230400},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    TMyComPort Port;
    ASSERT_TRUE(Port.SetParams(C.Text, false));
    termios T{};
    T.c_lflag = ICANON | ECHO | ISIG;
    T.c_iflag = ICRNL | IXON;
    T.c_oflag = OPOST;
    ASSERT_EQ(tty::DcbToTermios(Port.Settings().DCB(), T), 0);
    EXPECT_EQ(T.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), C.CFlags);
    EXPECT_EQ(T.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(cfgetospeed(&T), C.Speed);
    EXPECT_EQ(cfgetispeed(&T), C.Speed);
    EXPECT_EQ(T.c_lflag, 0u);  // raw: no line editing, echo or signals
    EXPECT_EQ(T.c_iflag, 0u);
    EXPECT_EQ(T.c_oflag & OPOST, 0u);

    TMyComPort Back;
    DCB D = Back.Settings().DCB();
    tty::TermiosToDcb(T, D);
    Back.Settings().SetDCB(D);
    EXPECT_EQ(Back.ParamsAsString(), C.Text);
  }

  // A rate without a B-constant is set through termios2 on apply; the mapping keeps the speed.
  TMyDCB D;
  D.SetBaudRate(250000);
  termios T{};
  cfsetospeed(&T, B9600);
  ASSERT_EQ(tty::DcbToTermios(D.DCB(), T), 0);
  EXPECT_EQ(cfgetospeed(&T), B9600);
}

TEST(TermiosMapping, FlowControl) {
  TMyDCB D;
  D.SetBaudRate(115200);
  D.SetFlagRtsControl(2);
  D.SetFlagOutX(true);
  D.SetFlagInX(true);
  D.SetXonChar(0x11);
  D.SetXoffChar(0x13);
  D.SetFlagParity(true);
  termios T{};
  ASSERT_EQ(tty::DcbToTermios(D.DCB(), T), 0);
  EXPECT_TRUE(T.c_cflag & CRTSCTS);
  EXPECT_EQ(T.c_iflag & (IXON | IXOFF | INPCK), static_cast<tcflag_t>(IXON | IXOFF | INPCK));
  EXPECT_EQ(T.c_cc[VSTART], 0x11);
  EXPECT_EQ(T.c_cc[VSTOP], 0x13);
  TMyDCB Back;
  DCB R = Back.DCB();
  tty::TermiosToDcb(T, R);
  Back.SetDCB(R);
  EXPECT_TRUE(Back.FlagOutxCtsFlow());
  EXPECT_EQ(Back.FlagRtsControl(), 2);
  EXPECT_TRUE(Back.FlagOutX() && Back.FlagInX() && Back.FlagParity());
}

TEST(TermiosMapping, WhatLinuxCannotDoIsRefused) {
  struct TCase {
    const char* Name;
    void (*Change)(TMyDCB&);
    int Err;
  };
  const std::vector<TCase> Cases = {
      {"1.5 stop bits", [](TMyDCB& D) { D.SetStopBits(kOne5StopBits); }, ENOTSUP},
      {"DSR flow", [](TMyDCB& D) { D.SetFlagOutxDsrFlow(true); }, ENOTSUP},
      {"DTR handshake", [](TMyDCB& D) { D.SetFlagDtrControl(2); }, ENOTSUP},
      {"RTS toggle", [](TMyDCB& D) { D.SetFlagRtsControl(3); }, ENOTSUP},
      {"baud 0", [](TMyDCB& D) { D.SetBaudRate(0); }, EINVAL},
      {"9 data bits", [](TMyDCB& D) { D.SetByteSize(9); }, EINVAL},
      {"4 data bits", [](TMyDCB& D) { D.SetByteSize(4); }, EINVAL},
      {"parity 5", [](TMyDCB& D) { D.SetParity(5); }, EINVAL},
      {"stop bits 3", [](TMyDCB& D) { D.SetStopBits(3); }, EINVAL},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TMyDCB D;
    C.Change(D);
    termios T{};
    EXPECT_EQ(tty::DcbToTermios(D.DCB(), T), C.Err);
  }
}

}  // namespace
}  // namespace kiren
