// Port object without a device: settings texts, timeouts, flags, printed forms, errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/com_port.h"

namespace kiren {
namespace {

TEST(ComPortSettings, ConstructionState) {
  TMyComPort Port;
  EXPECT_FALSE(Port.Opened());
  EXPECT_EQ(Port.Handle(), -1);
  EXPECT_EQ(Port.ParamsAsString(), "9600-8-N-1");
  EXPECT_EQ(Port.TimeoutsAsString(), "RI:1000 RM:0 RC:0 WM:1 WC:1000");
  EXPECT_EQ(Port.Buffer()->InputSize, 1200);
  EXPECT_EQ(Port.Buffer()->OutputSize, 1200);
  EXPECT_EQ(Port.Settings().DCB().DCBlength, 28u);
  EXPECT_EQ(Port.Settings().DCB().flags, 1u);  // binary only, DTR and RTS disabled
  EXPECT_FALSE(Port.Echo());
}

struct TParamsCase {
  std::string Text;
  bool Accepted;
  std::string Printed;  // ParamsAsString afterwards
};

TEST(ComPortSettings, SettingsTexts) {
  const std::string Before = "4800-6-O-2";
  const std::vector<TParamsCase> Cases = {
      {"115200-8-N-1", true, "115200-8-N-1"},
      {"9600-7-e-2", true, "9600-7-E-2"},
      {"19200-8-s-1-x", true, "19200-8-S-1"},
      {"0-5-m-1", true, "0-5-M-1"},
      {"4294967295-8-N-1", true, "4294967295-8-N-1"},
      {"0000000000000000000000115200-08-N-1", true, "115200-8-N-1"},  // leading zeros
      {"115200-8-Nothing-1", true, "115200-8-N-1"},  // only the first letter counts
      {"115200-8-N-1.5", false, Before},
      {"115200-9-N-1", false, Before},
      {"115200-4-N-1", false, Before},
      {"115200-8--1", false, Before},
      {"-8-N-1", false, Before},
      {"115200-8-X-1", false, Before},
      {"115200-8-N", false, Before},
      {"115200-8-N-0", false, Before},
      {"115200-8-N-3", false, Before},
      {"4294967296-8-N-1", false, Before},
      {"99999999999999999999999999-8-N-1", false, Before},
      {"+9600-8-N-1", false, Before},
      {"96 00-8-N-1", false, Before},
      {"", false, Before},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    TMyComPort Port;
    Port.SetParams(4800, 6, kParityOdd, kTwoStopBits, false);
    const DCB Old = Port.Settings().DCB();
    EXPECT_EQ(Port.SetParams(C.Text, false), C.Accepted);
    EXPECT_EQ(Port.ParamsAsString(), C.Printed);
    if (!C.Accepted) {
      EXPECT_EQ(std::memcmp(&Old, &Port.Settings().DCB(), sizeof(DCB)), 0);
    }
  }
}

TEST(ComPortSettings, TimeoutsTexts) {
  TMyComPort Port;
  Port.SetTimeoutsSpec_ReadImmediatelyNoWait(1, 1000);
  EXPECT_EQ(Port.TimeoutsAsString(), "RI:-1 RM:0 RC:0 WM:1 WC:1000");
  Port.SetTimeoutsSpec_ReadImmediatelyWaitForFirst(2, 500, 300);
  EXPECT_EQ(Port.TimeoutsAsString(), "RI:-1 RM:-1 RC:300 WM:2 WC:500");
  Port.SetTimeouts(3, 4, 5, 6, 7);
  EXPECT_EQ(Port.TimeoutsAsString(), "RI:5 RM:6 RC:7 WM:3 WC:4");
  EXPECT_EQ(Port.Timeouts()->ReadTotalTimeoutConstant, 7u);
}

TEST(ComPortSettings, CharLenAndWaitChars) {
  TMyComPort Port;
  ASSERT_TRUE(Port.SetParams("115200-8-N-1", false));
  EXPECT_DOUBLE_EQ(Port.CharLen(), 9 * 1000.0 / 115200);
  ASSERT_TRUE(Port.SetParams("9600-7-E-2", false));
  EXPECT_DOUBLE_EQ(Port.CharLen(), 11 * 1000.0 / 9600);  // 7 + 2 + 1 + parity

  // 9600-8-N-1: 0.9375 ms a character, 100 characters are 93.75 ms, slept as 94.
  ASSERT_TRUE(Port.SetParams("9600-8-N-1", false));
  auto Start = std::chrono::steady_clock::now();
  Port.WaitChars(100);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(94));

  ASSERT_TRUE(Port.SetParams("0-8-N-1", false));
  EXPECT_EQ(Port.CharLen(), 0.0);
  Start = std::chrono::steady_clock::now();
  Port.WaitChars(1000000);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(2));
}

// Each flag property against the bits it owns.
struct TFlagCase {
  const char* Name;
  std::function<void(TMyDCB&)> SetAll;    // sets the property to its widest value
  std::function<void(TMyDCB&)> ClearAll;  // sets it to 0 / false
  std::uint32_t Bits;
};

TEST(ComPortSettings, FlagPropertiesChangeOnlyTheirBits) {
  const std::vector<TFlagCase> Cases = {
      {"Binary", [](TMyDCB& D) { D.SetFlagBinary(true); },
       [](TMyDCB& D) { D.SetFlagBinary(false); }, 1u << 0},
      {"Parity", [](TMyDCB& D) { D.SetFlagParity(true); },
       [](TMyDCB& D) { D.SetFlagParity(false); }, 1u << 1},
      {"OutxCtsFlow", [](TMyDCB& D) { D.SetFlagOutxCtsFlow(true); },
       [](TMyDCB& D) { D.SetFlagOutxCtsFlow(false); }, 1u << 2},
      {"OutxDsrFlow", [](TMyDCB& D) { D.SetFlagOutxDsrFlow(true); },
       [](TMyDCB& D) { D.SetFlagOutxDsrFlow(false); }, 1u << 3},
      {"DtrControl", [](TMyDCB& D) { D.SetFlagDtrControl(3); },
       [](TMyDCB& D) { D.SetFlagDtrControl(0); }, 3u << 4},
      {"DsrSensitivity", [](TMyDCB& D) { D.SetFlagDsrSensitivity(true); },
       [](TMyDCB& D) { D.SetFlagDsrSensitivity(false); }, 1u << 6},
      {"TXContinueOnXoff", [](TMyDCB& D) { D.SetFlagTXContinueOnXoff(true); },
       [](TMyDCB& D) { D.SetFlagTXContinueOnXoff(false); }, 1u << 7},
      {"OutX", [](TMyDCB& D) { D.SetFlagOutX(true); }, [](TMyDCB& D) { D.SetFlagOutX(false); },
       1u << 8},
      {"InX", [](TMyDCB& D) { D.SetFlagInX(true); }, [](TMyDCB& D) { D.SetFlagInX(false); },
       1u << 9},
      {"ErrorChar", [](TMyDCB& D) { D.SetFlagErrorChar(true); },
       [](TMyDCB& D) { D.SetFlagErrorChar(false); }, 1u << 10},
      {"Null", [](TMyDCB& D) { D.SetFlagNull(true); }, [](TMyDCB& D) { D.SetFlagNull(false); },
       1u << 11},
      {"RtsControl", [](TMyDCB& D) { D.SetFlagRtsControl(3); },
       [](TMyDCB& D) { D.SetFlagRtsControl(0); }, 3u << 12},
      {"AbortOnError", [](TMyDCB& D) { D.SetFlagAbortOnError(true); },
       [](TMyDCB& D) { D.SetFlagAbortOnError(false); }, 1u << 14},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TMyDCB D;
    DCB Raw = D.DCB();
    Raw.flags = 0xFFFFFFFFu;
    D.SetDCB(Raw);
    C.ClearAll(D);
    EXPECT_EQ(D.DCB().flags, ~C.Bits);
    Raw.flags = 0;
    D.SetDCB(Raw);
    C.SetAll(D);
    EXPECT_EQ(D.DCB().flags, C.Bits);
  }

  TMyDCB D;
  D.SetFlagDtrControl(2);
  D.SetFlagRtsControl(1);
  EXPECT_EQ(D.FlagDtrControl(), 2);
  EXPECT_EQ(D.FlagRtsControl(), 1);
  EXPECT_TRUE(D.FlagBinary());
  D.SetXonChar(0x11);
  D.SetXoffChar(0x13);
  EXPECT_EQ(D.XonChar(), 0x11);
  EXPECT_EQ(D.XoffChar(), 0x13);
  EXPECT_EQ(D.DCB().ErrorChar, 0);
}

TEST(ComPortSettings, PrintedForms) {
  TMyComPort Port;
  Port.Settings().SetXonLim(2048);
  Port.Settings().SetXoffChar(0x13);
  Port.Settings().SetFlagRtsControl(2);
  Port.SetTimeoutsSpec_ReadImmediatelyNoWait(1, 1000);
  const std::string Expected =
      "DCB: \r\n BaudRate: 9600\r\n ByteSize: 8\r\n Parity: N\r\n StopBits: 1\r\n"
      " Flags: 0x00002001\r\n"
      "  fBinary: True\r\n  fParity: False\r\n  fOutxCtsFlow: False\r\n"
      "  fOutxDsrFlow: False\r\n  fDtrControl: DTR_DISABLE\r\n  fDsrSensitivity: False\r\n"
      "  fTXContinueOnXoff: False\r\n  fOutX: False\r\n  fInX: False\r\n"
      "  fErrorChar: False\r\n  fNull: False\r\n  fRtsControl: RTS_HANDSHAKE\r\n"
      "  fAbortOnError: False\r\n XonLim: 2048 (0x800)\r\n XoffLim: 0 (0x00)\r\n"
      " XonChar: 0x00\r\n XoffChar: 0x13\r\n ErrorChar: 0x00\r\n EofChar: 0x00\r\n"
      " EvtChar: 0x00";
  EXPECT_EQ(Port.Settings().Print(), Expected);
  EXPECT_EQ(Port.PrintConfig(), Expected +
                                    "\r\n\r\nTimeouts: \r\n WTM: 1\r\n WTC: 1000\r\n"
                                    " RTI: 4294967295\r\n RTM: 0\r\n RTC: 0");
  EXPECT_EQ(ParityName(kParitySpace, true), "SPACE");
  EXPECT_EQ(StopBitsName(kOne5StopBits), "1.5");
  EXPECT_EQ(RtsControlName(3), "RTS_TOGGLE");
  EXPECT_EQ(DtrControlName(7), "?");
}

TEST(ComPortErrors, TextsOfCodes) {
  EXPECT_EQ(ComErrorText(2), "COM-порт не найден");
  EXPECT_EQ(ComErrorText(6), "COM-порт закрыт");
  EXPECT_EQ(ComErrorText(EBUSY), "Device or resource busy");
  EXPECT_EQ(ComErrorText(EIO), "Input/output error");
  for (std::uint32_t Code = 1; Code < 140; ++Code) {
    const std::string T = ComErrorText(Code);
    ASSERT_FALSE(T.empty()) << Code;
    EXPECT_EQ(std::string(" .\r\n").find(T.back()), std::string::npos) << Code << ": " << T;
  }
}

TEST(ComPortErrors, MissingOrEmptyPort) {
  TMyComPort Port;
  std::vector<std::string> Events;
  Port.SetOnLog([&](TMyComPort&, const std::string& T) { Events.push_back(T); });
  Port.SetOnBeforeClose([&](TMyComPort&) { Events.push_back("before close"); });

  EXPECT_FALSE(Port.Open(true));  // Port is empty
  EXPECT_EQ(Port.LastErrorCode(), 2u);
  EXPECT_EQ(Port.LastErrorStr(), "COM-порт не найден");

  Port.ClearError();
  EXPECT_FALSE(Port.Open("ttyKirenNoSuchPort", true));
  EXPECT_EQ(Port.LastErrorCode(), 2u);
  EXPECT_EQ(Port.Port(), "ttyKirenNoSuchPort");

  Port.ClearError();
  EXPECT_FALSE(Port.Open("/dev/", true));
  EXPECT_EQ(Port.LastErrorCode(), 2u);

  EXPECT_TRUE(Port.Close());  // closed already: true, no hook
  EXPECT_TRUE(Events.empty());
}

TEST(ComPortErrors, OperationsOnClosedPort) {
  TMyComPort Port;
  std::uint8_t Buf[8];
  std::int32_t Got = 99;
  const std::vector<std::pair<const char*, std::function<bool()>>> Ops = {
      {"ReadBuffer", [&] { return Port.ReadBuffer(Buf, sizeof Buf) == -1; }},
      {"ReadBuffer rSize", [&] { return !Port.ReadBuffer(Buf, sizeof Buf, Got) && Got == -1; }},
      {"WriteStr", [&] { return Port.WriteStr(std::string("x")) == 0; }},
      {"InputCount", [&] { return Port.InputCount() == -1; }},
      {"ClearBuffers", [&] { return !Port.ClearBuffers(); }},
      {"ClearRxBuffer", [&] { return !Port.ClearRxBuffer(); }},
      {"ClearTxBuffer", [&] { return !Port.ClearTxBuffer(); }},
      {"SetDTR", [&] { return !Port.SetDTR(); }},
      {"ApplyConfig", [&] { return !Port.ApplyConfig(); }},
      {"ReadConfig", [&] { return !Port.ReadConfig(); }},
      {"WaitTxEmpty", [&] { return !Port.WaitTxEmpty(); }},
  };
  for (const auto& [Name, Op] : Ops) {
    SCOPED_TRACE(Name);
    Port.ClearError();
    EXPECT_TRUE(Op());
    EXPECT_EQ(Port.LastErrorCode(), 6u);
    EXPECT_EQ(Port.LastErrorStr(), "COM-порт закрыт");
  }
  try {
    Port.raiseLastError("Ошибка: ");
    FAIL();
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "Ошибка: COM-порт закрыт");
  }
}

}  // namespace
}  // namespace kiren
