#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/message_sink.h"
#include "protocol/frame.h"

namespace kiren {
namespace {

// Scripted reader: records every request and hands back one canned answer.
struct TFakeReader {
  std::vector<Bytes> requests;
  int code = 0;
  std::uint8_t cmd = 0;
  Bytes data;

  TWriteReadProc Proc() {
    return [this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
      requests.push_back(AReq);
      // On failure the out values are junk that must be ignored.
      ACmd = code ? 0x5A : cmd;
      AData = code ? Bytes{0x80, 0x01, 0x04, 0x00, 0x08, 0x04, 1, 2, 3, 4, 5} : data;
      return code;
    };
  }
};

class TWarningRecorder : public IMessageSink {
 public:
  std::vector<std::string> warnings;
  void Info(const std::string&) override {}
  void Warning(const std::string& AText) override { warnings.push_back(AText); }
  bool Question(const std::string&, const std::string&) override { return false; }
};

class ProtocolTest : public testing::Test {
 protected:
  void SetUp() override { previousSink_ = SetMessageSink(sink_); }
  void TearDown() override { SetMessageSink(previousSink_); }

  void Answer(std::uint8_t ACmd, Bytes AData) {
    fake_.code = 0;
    fake_.cmd = ACmd;
    fake_.data = std::move(AData);
  }
  void Fail(int ACode) { fake_.code = ACode; }

  TFakeReader fake_;
  TProtocol proto_{fake_.Proc()};
  std::shared_ptr<TWarningRecorder> sink_ = std::make_shared<TWarningRecorder>();
  std::shared_ptr<IMessageSink> previousSink_;
};

Bytes Ascii(const std::string& AText) {
  return Bytes(AText.begin(), AText.end());
}

const TKey kKey = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
TBlock Ramp() {
  TBlock block;
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = std::uint8_t(0x10 + i);
  return block;
}

// Every operation with its command byte, a good answer and a check that its out parameters
// hold their initial values.
struct TOperation {
  const char* name;
  std::uint8_t cmd;
  Bytes goodAnswer;
  std::function<int(TProtocol&)> run;  // starts with junk in the out parameters
  std::function<bool()> outsAtInitial;
};

std::vector<TOperation> AllOperations() {
  static std::string ver;
  static TStatus status;
  static TCardInfo card;
  static TKirenCardEx cardEx;
  static TKirenCard cardShort;
  static int err;
  static TConfig config;
  static TBlock block;
  static std::uint8_t answer;
  const auto junkStatus = [] { status = TStatus(0x1234); };
  return {
      {"GetVer", 0xFE, Ascii("v5.1"),
       [](TProtocol& p) {
         ver = "junk";
         return p.GetVer(ver);
       },
       [] { return ver.empty(); }},
      {"GetStatus",
       0xFF,
       {0x80, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         return p.GetStatus(status);
       },
       [] { return status.data == 0; }},
      {"GetCardInfo",
       0xA0,
       {0x80, 0x01, 0x04, 0x00, 0x08, 0x04, 1, 2, 3, 4},
       [](TProtocol& p) {
         card.status = TStatus(0x8001);
         card.UIDSize = 3;
         card.desc = "junk";
         return p.GetCardInfo(card);
       },
       [] { return card == TCardInfo{} && card.UIDSize == 0 && card.desc.empty(); }},
      {"GetKirenCard 55", 0x55, Bytes(18, 0x01),
       [](TProtocol& p) {
         cardEx.Emitent = 5;
         cardEx.buf = {1};
         return p.GetKirenCard(cardEx);
       },
       [] { return cardEx == TKirenCardEx{}; }},
      {"GetKirenCard 50", 0x50, Bytes(5, 0x01),
       [](TProtocol& p) {
         cardShort.data.fill(0x77);
         return p.GetKirenCard(cardShort);
       },
       [] { return cardShort == TKirenCard{}; }},
      {"ClearCard",
       0xE5,
       {0x01},
       [](TProtocol& p) {
         err = -1;
         p.ClearCard(err);
         return err;
       },
       [] { return true; }},
      {"GetConfig", 0x21, Ascii("82:1"),
       [](TProtocol& p) {
         config = {{1, {"x"}}};
         return p.GetConfig(config);
       },
       [] {
         return config == TConfig{{1, {"x"}}};
       }},
      {"IssueCard",
       0xA7,
       {0x00, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         return p.IssueCard(1, "1", "2", "FFFFFFFFFFFF", "", status);
       },
       [] { return status.data == 0; }},
      {"LoadKey",
       0xA1,
       {0x00, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         return p.LoadKey(0xAA, kKey, status);
       },
       [] { return status.data == 0; }},
      {"ReadBlock",
       0xA2,
       {0x00, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         block.fill(0x77);
         return p.ReadBlock(4, 0xAA, status, block);
       },
       [] { return status.data == 0 && block == TBlock{}; }},
      {"WriteBlock",
       0xA3,
       {0x00, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         return p.WriteBlock(4, Ramp(), 0xAA, status);
       },
       [] { return status.data == 0; }},
      {"SetupMode",
       0x52,
       {0x01},
       [](TProtocol& p) {
         answer = 0x77;
         return p.SetupMode(2, answer);
       },
       [] { return answer == 0; }},
      {"SetupPerco",
       0x51,
       {0x00, 0x01},
       [=](TProtocol& p) {
         junkStatus();
         return p.SetupPerco(TPercoPars{}, status);
       },
       [] { return status.data == 0; }},
      {"SetupEmissionPrior",
       0xA8,
       {0x01, 0x00, 0x01},
       [](TProtocol& p) {
         answer = 0x77;
         return p.SetupEmissionPrior(2, answer);
       },
       [] { return answer == 0; }},
  };
}

TEST_F(ProtocolTest, EveryOperationPassesExchangeFailuresAndForeignAnswersThrough) {
  for (const auto& op : AllOperations()) {
    SCOPED_TRACE(op.name);
    for (int code : {2, 3, 4}) {
      Fail(code);
      EXPECT_EQ(op.run(proto_), code);
      EXPECT_TRUE(op.outsAtInitial());
    }
    Answer(std::uint8_t(op.cmd ^ 0x01), op.goodAnswer);
    EXPECT_EQ(op.run(proto_), 1);
    EXPECT_TRUE(op.outsAtInitial());
    Answer(op.cmd, op.goodAnswer);
    EXPECT_EQ(op.run(proto_), 0);
    ASSERT_FALSE(fake_.requests.empty());
    EXPECT_EQ(fake_.requests.back()[0], op.cmd);
  }
  EXPECT_TRUE(sink_->warnings.empty());
}

TEST_F(ProtocolTest, RequestBytes) {
  TStatus status;
  TBlock block;
  std::uint8_t answer;
  TPercoPars pars{kKey, 8, 2, 4, 1};
  const struct {
    const char* name;
    std::function<void()> run;
    Bytes request;
  } cases[] = {
      {"GetVer",
       [&] {
         std::string s;
         proto_.GetVer(s);
       },
       {0xFE}},
      {"GetStatus", [&] { proto_.GetStatus(status); }, {0xFF}},
      {"GetCardInfo",
       [&] {
         TCardInfo c;
         proto_.GetCardInfo(c);
       },
       {0xA0}},
      {"GetKirenCard 55",
       [&] {
         TKirenCardEx c;
         proto_.GetKirenCard(c);
       },
       {0x55}},
      {"GetKirenCard 50",
       [&] {
         TKirenCard c;
         proto_.GetKirenCard(c);
       },
       {0x50}},
      {"ClearCard",
       [&] {
         int e;
         proto_.ClearCard(e);
       },
       {0xE5}},
      {"GetConfig",
       [&] {
         TConfig c;
         proto_.GetConfig(c);
       },
       {0x21}},
      {"LoadKey",
       [&] { proto_.LoadKey(0xBB, kKey, status); },
       {0xA1, 0xBB, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}},
      {"ReadBlock", [&] { proto_.ReadBlock(4, 0xAA, status, block); }, {0xA2, 0x04, 0xAA}},
      {"WriteBlock",
       [&] { proto_.WriteBlock(9, Ramp(), 0xBB, status); },
       {0xA3, 0x09, 0xBB, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B,
        0x1C, 0x1D, 0x1E, 0x1F}},
      {"SetupMode", [&] { proto_.SetupMode(2, answer); }, {0x52, 0x02}},
      {"SetupEmissionPrior", [&] { proto_.SetupEmissionPrior(1, answer); }, {0xA8, 0x01}},
      {"SetupPerco",
       [&] { proto_.SetupPerco(pars, status); },
       {0x51, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x08, 0x02, 0x04, 0x01}},
  };
  Fail(3);
  for (const auto& c : cases) {
    fake_.requests.clear();
    c.run();
    ASSERT_EQ(fake_.requests.size(), 1u) << c.name;
    EXPECT_EQ(fake_.requests[0], c.request) << c.name;
  }
  // The builders used by other layers produce the same bytes.
  EXPECT_EQ(TBuilder::Req_SetupSorvelMode(0), (Bytes{0xA8, 0x00}));
  EXPECT_EQ(TBuilder::Req_SetupPerco(pars).size(), 11u);
}

TEST_F(ProtocolTest, GetVerDecodesWindows1251UpToAZeroByte) {
  const struct {
    Bytes payload;
    std::string text;
  } cases[] = {
      {Ascii("v4.12 build 7"), "v4.12 build 7"},
      {{0xCA, 0xE8, 0xF0, 0xE5, 0xED, ' ', 'v', '5', '.', '1'}, "Кирен v5.1"},
      {{'v', '1', 0x00, 'x', 'y'}, "v1"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    Answer(0xFE, c.payload);
    std::string ver = "junk";
    EXPECT_EQ(proto_.GetVer(ver), 0);
    EXPECT_EQ(ver, c.text);
  }
}

TEST_F(ProtocolTest, GetStatusNeedsExactlyTwoBytes) {
  const struct {
    Bytes payload;
    int res;
    std::uint16_t status;
  } cases[] = {
      {{0x80, 0x01}, 0, 0x8001},
      {{0x80, 0x01, 0x00}, 4, 0},
      {{0x80}, 4, 0},
      {{}, 4, 0},
  };
  for (const auto& c : cases) {
    Answer(0xFF, c.payload);
    TStatus status(0x1234);
    EXPECT_EQ(proto_.GetStatus(status), c.res) << testing::PrintToString(c.payload);
    EXPECT_EQ(status.data, c.status);
  }
}

TEST_F(ProtocolTest, GetCardInfoCases) {
  const struct {
    const char* name;
    Bytes payload;
    int res;
    TCardInfo expected;
  } cases[] = {
      {"no card",
       {0x00, 0x01, 0x04, 0x00, 0x08, 0x04, 1, 2, 3, 4},
       0,
       [] {
         TCardInfo c;
         c.status = TStatus(0x0001);
         return c;
       }()},
      {"card, 4-byte UID",
       {0x80, 0x01, 0x04, 0x00, 0x08, 0x04, 0x04, 0xA1, 0xB2, 0x0C},
       0,
       [] {
         TCardInfo c;
         c.status = TStatus(0x8001);
         c.type_ = 0x0400;
         c.SAK = 0x08;
         c.UIDSize = 4;
         c.UID = {0x04, 0xA1, 0xB2, 0x0C};
         return c;
       }()},
      {"card, 10-byte UID",
       {0x80, 0x01, 0x44, 0x00, 0x00, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       0,
       [] {
         TCardInfo c;
         c.status = TStatus(0x8001);
         c.type_ = 0x4400;
         c.UIDSize = 10;
         c.UID = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
         return c;
       }()},
      {"one byte", {0x80}, 4, {}},
      {"card, 8 bytes", {0x80, 0x01, 0x04, 0x00, 0x08, 0x02, 1, 2}, 4, {}},
      {"UID size 11",
       {0x80, 0x01, 0x04, 0x00, 0x08, 0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       4,
       {}},
      // The UID size promises 7 bytes but only 4 arrived: rejected, nothing read past them.
      {"UID cut short", {0x80, 0x01, 0x04, 0x00, 0x08, 0x07, 1, 2, 3, 4}, 4, {}},
  };
  for (const auto& c : cases) {
    Answer(0xA0, c.payload);
    TCardInfo info;
    info.desc = "junk";
    info.UID.fill(0xEE);
    EXPECT_EQ(proto_.GetCardInfo(info), c.res) << c.name;
    EXPECT_EQ(info.status, c.expected.status) << c.name;
    EXPECT_EQ(info.type_, c.expected.type_) << c.name;
    EXPECT_EQ(info.SAK, c.expected.SAK) << c.name;
    EXPECT_EQ(info.UIDSize, c.expected.UIDSize) << c.name;
    EXPECT_EQ(info.UID, c.expected.UID) << c.name;
    EXPECT_TRUE(info.desc.empty()) << c.name;
  }
}

TEST_F(ProtocolTest, GetKirenCardExtendedNeedsTheFixedPart) {
  Bytes payload{0x03, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00,
                0x00, 0x01, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x0A};
  TKirenCardEx card;
  Answer(0x55, Bytes(payload.begin(), payload.end() - 1));
  EXPECT_EQ(proto_.GetKirenCard(card), 4);
  EXPECT_EQ(card, TKirenCardEx{});

  Answer(0x55, payload);
  EXPECT_EQ(proto_.GetKirenCard(card), 0);
  EXPECT_EQ(card.Emitent, 0x0102u);
  EXPECT_TRUE(card.buf.empty());

  payload.insert(payload.end(), {'1', '2', '3'});
  Answer(0x55, payload);
  EXPECT_EQ(proto_.GetKirenCard(card), 0);
  EXPECT_EQ(card.Info(),
            "=== СОРВЕЛ ===\r\nКод карты: 123\r\nЭмитент: 0x00000102\r\nЭмиссия: 0x0005\r\n"
            "ID: 0x66554433");
}

TEST_F(ProtocolTest, GetKirenCardShortTakesWholeFiveByteSteps) {
  for (std::size_t n = 0; n <= 25; ++n) {
    Bytes payload(n);
    for (std::size_t i = 0; i < n; ++i)
      payload[i] = std::uint8_t(i + 1);
    Answer(0x50, payload);
    TKirenCard card;
    card.data.fill(0x77);
    const bool good = n > 0 && n <= 20 && n % 5 == 0;
    EXPECT_EQ(proto_.GetKirenCard(card), good ? 0 : 4) << n;
    TKirenCard expected;
    if (good)
      std::copy(payload.begin(), payload.end(), expected.data.begin());
    EXPECT_EQ(card, expected) << n;
  }
}

TEST_F(ProtocolTest, ClearCardCodes) {
  const struct {
    Bytes payload;
    int code;
  } cases[] = {
      {{0x00}, 8}, {{0x01}, 0}, {{0x07}, 0}, {{0x08}, 5}, {{0xFF}, 5}, {{}, 5}, {{0x01, 0x01}, 5},
  };
  for (const auto& c : cases) {
    Answer(0xE5, c.payload);
    int err = -1;
    proto_.ClearCard(err);
    EXPECT_EQ(err, c.code) << testing::PrintToString(c.payload);
  }
  Fail(3);
  int err = -1;
  proto_.ClearCard(err);
  EXPECT_EQ(err, 3);
  Answer(0xFF, {0x01});
  proto_.ClearCard(err);
  EXPECT_EQ(err, 1);
}

TEST_F(ProtocolTest, GetConfigParsesTheConfigurationText) {
  const struct {
    const char* name;
    Bytes payload;
    int res;
    TConfig config;
  } cases[] = {
      {"example",
       Ascii("81:12,0,4,1;82:1;168:0"),
       0,
       {{81, {"12", "0", "4", "1"}}, {82, {"1"}}, {168, {"0"}}}},
      {"empty", {}, 8, {}},
      {"trailing semicolon", Ascii("81:0,0,4,0;"), 0, {{81, {"0", "0", "4", "0"}}}},
      {"empty items", Ascii(";;82:1;;"), 0, {{82, {"1"}}}},
      {"empty strings kept", Ascii("1:a,,b,"), 0, {{1, {"a", "", "b", ""}}}},
      {"second colon ends the list", Ascii("2:1,2:3,4"), 0, {{2, {"1", "2"}}}},
      {"empty value", Ascii("82:"), 0, {{82, {""}}}},
      {"no colon", Ascii("82"), 0, {{82, {}}}},
      {"low 8 bits", Ascii("337:5;-1:6"), 0, {{81, {"5"}}, {255, {"6"}}}},
      {"zero byte ends the text", {'8', '2', ':', '1', 0x00, ';', 'x'}, 0, {{82, {"1"}}}},
      {"only separators", Ascii(";"), 0, {}},
  };
  for (const auto& c : cases) {
    Answer(0x21, c.payload);
    TConfig config;
    EXPECT_EQ(proto_.GetConfig(config), c.res) << c.name;
    EXPECT_EQ(config, c.config) << c.name;
  }
}

TEST_F(ProtocolTest, GetConfigAddsToTheDictionary) {
  TConfig config{{1, {"old"}}, {82, {"0"}}};
  Answer(0x21, Ascii("82:1;168:0"));
  EXPECT_EQ(proto_.GetConfig(config), 0);
  EXPECT_EQ(config, (TConfig{{1, {"old"}}, {82, {"1"}}, {168, {"0"}}}));
}

TEST_F(ProtocolTest, MalformedConfigurationRaisesAndLeavesTheDictionary) {
  for (const char* text :
       {"81:1;x2:1", "81:1;82:1;81:2", "81:1;337:2", ":1", " 81:1", "99999999999:1"}) {
    Answer(0x21, Ascii(text));
    TConfig config{{7, {"keep"}}};
    EXPECT_THROW(proto_.GetConfig(config), std::invalid_argument) << text;
    EXPECT_EQ(config, (TConfig{{7, {"keep"}}})) << text;
  }
}

TEST_F(ProtocolTest, StatusOnlyAnswers) {
  using TRun = std::function<int(TProtocol&, TStatus&)>;
  const std::pair<std::uint8_t, TRun> ops[] = {
      {0xA1, [](TProtocol& p, TStatus& s) { return p.LoadKey(0xAA, kKey, s); }},
      {0xA3, [](TProtocol& p, TStatus& s) { return p.WriteBlock(4, Ramp(), 0xAA, s); }},
      {0xA7, [](TProtocol& p, TStatus& s) { return p.IssueCard(1, "1", "1", "", "", s); }},
  };
  const struct {
    Bytes payload;
    int res;
    std::uint16_t status;
  } cases[] = {
      {{0x00, 0x03}, 0, 0x0003},
      {{0x80, 0x01, 0x99}, 4, 0x8001},  // longer answer: the status still comes through
      {{0x80}, 4, 0},
      {{}, 4, 0},
  };
  for (const auto& [cmd, run] : ops) {
    for (const auto& c : cases) {
      Answer(cmd, c.payload);
      TStatus status(0x1234);
      EXPECT_EQ(run(proto_, status), c.res) << int(cmd);
      EXPECT_EQ(status.data, c.status) << int(cmd);
    }
  }
}

TEST_F(ProtocolTest, ReadBlockCases) {
  const TBlock ramp = Ramp();
  const auto answer = [&](std::size_t ADataBytes, std::size_t AExtra = 0) {
    Bytes payload{0x00, 0x01};
    payload.insert(payload.end(), ramp.begin(), ramp.begin() + std::ptrdiff_t(ADataBytes));
    payload.resize(payload.size() + AExtra, 0xEE);
    return payload;
  };
  const struct {
    const char* name;
    Bytes payload;
    int res;
    std::uint16_t status;
    TBlock data;
  } cases[] = {
      {"status only", {0x00, 0x02}, 0, 0x0002, {}},
      {"full block", answer(16), 0, 0x0001, ramp},
      {"longer answer", answer(16, 3), 0, 0x0001, ramp},
      {"partial block", answer(8), 0, 0x0001, {}},
      {"one byte", {0x00}, 4, 0, {}},
      {"nothing", {}, 4, 0, {}},
  };
  for (const auto& c : cases) {
    Answer(0xA2, c.payload);
    TStatus status(0x1234);
    TBlock data;
    data.fill(0x77);
    EXPECT_EQ(proto_.ReadBlock(4, 0xAA, status, data), c.res) << c.name;
    EXPECT_EQ(status.data, c.status) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
}

TEST_F(ProtocolTest, ModeAndEmissionParameterAnswers) {
  std::uint8_t answer = 0x77;
  const struct {
    std::uint8_t cmd;
    Bytes payload;
    int res;
    std::uint8_t answer;
  } cases[] = {
      {0x52, {0x01}, 0, 1},
      {0x52, {0x00}, 0, 0},
      {0x52, {}, 4, 0},
      {0x52, {0x01, 0x01}, 4, 0},
      {0xA8, {0x01, 0x00, 0x01}, 0, 1},
      {0xA8, {0x01, 0x01, 0x00}, 0, 1},
      {0xA8, {0x00, 0x01, 0x01}, 0, 0},
      {0xA8, {0x01, 0x00, 0x00}, 6, 0},
      {0xA8, {0x01, 0x02, 0x00}, 6, 0},
      {0xA8, {0x01, 0x00}, 4, 0},
      {0xA8, {0x01, 0x00, 0x01, 0x00}, 4, 0},
  };
  for (const auto& c : cases) {
    Answer(c.cmd, c.payload);
    answer = 0x77;
    const int res =
        c.cmd == 0x52 ? proto_.SetupMode(2, answer) : proto_.SetupEmissionPrior(2, answer);
    EXPECT_EQ(res, c.res) << int(c.cmd) << testing::PrintToString(c.payload);
    EXPECT_EQ(answer, c.answer) << int(c.cmd) << testing::PrintToString(c.payload);
  }
}

TEST_F(ProtocolTest, SetupPercoNeedsExactlyTwoBytes) {
  const TPercoPars pars{kKey, 8, 0, 4, 0};
  TStatus status(0x1234);
  Answer(0x51, {0x00, 0x01});
  EXPECT_EQ(proto_.SetupPerco(pars, status), 0);
  EXPECT_EQ(status.data, 0x0001);
  Answer(0x51, {0x00, 0x01, 0x00});
  EXPECT_EQ(proto_.SetupPerco(pars, status), 4);
  EXPECT_EQ(status.data, 0);
}

const std::string kWarningTail = "\"\r\nИспользуется значение по умолчанию";

std::string Warning(const std::string& AText, const std::string& AParam) {
  return "Недопустимое значение: \"" + AText + "\" для параметра: \"" + AParam + kWarningTail;
}

TEST_F(ProtocolTest, IssueCardRequestAfterOneWarning) {
  EXPECT_EQ(TBuilder::Req_IssueCard(1, "100", "7", "", ""),
            (Bytes{0xA7, 0x01, 0x64, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(sink_->warnings, std::vector<std::string>{Warning("", "Заводской ключ")});
}

TEST_F(ProtocolTest, IssueCardLayoutsValueFieldAndUserData) {
  const struct {
    int type;
    std::string userData;
    Bytes tail;  // value field, then user data
  } cases[] = {
      {1, "", {0x00, 0x00, 0x00, 0x00}},
      {2, "", {0xFF, 0xFF, 0xFF, 0xFF}},
      {3, "0A0B", {0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0x0B}},
      {4, "0a0b1", {0x00, 0x00, 0x00, 0x00, 0x0A, 0x0B, 0x01}},
      {5, "F", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
      {0x105, "", {0xFF, 0xFF, 0xFF, 0xFF}},  // only the low byte of the layout is sent
  };
  for (const auto& c : cases) {
    const Bytes req = TBuilder::Req_IssueCard(c.type, "1", "2", "A0A1A2A3A4A5", c.userData);
    Bytes expected{0xA7, std::uint8_t(c.type), 0x01, 0x00, 0x00, 0x00, 0x02, 0x00};
    expected.insert(expected.end(), c.tail.begin(), c.tail.begin() + 4);
    expected.insert(expected.end(), kKey.begin(), kKey.end());
    expected.insert(expected.end(), c.tail.begin() + 4, c.tail.end());
    EXPECT_EQ(req, expected) << c.type;
  }
  EXPECT_TRUE(sink_->warnings.empty());
}

TEST_F(ProtocolTest, BadUserDataRaisesAndNothingIsSent) {
  for (const char* userData : {"0G", "12 34", "1-", "x"}) {
    Answer(0xA7, {0x00, 0x01});
    fake_.requests.clear();
    TStatus status(0x1234);
    EXPECT_THROW(proto_.IssueCard(1, "1", "2", "FFFFFFFFFFFF", userData, status),
                 std::invalid_argument)
        << userData;
    EXPECT_TRUE(fake_.requests.empty()) << userData;
    EXPECT_EQ(status.data, 0) << userData;
  }
}

TEST_F(ProtocolTest, ParamToBytesCases) {
  const Bytes zero4(4, 0x00), ff6(6, 0xFF);
  const struct {
    std::string text;
    bool hex;
    std::uint8_t size;
    Bytes def;
    Bytes result;
    bool warned;
  } cases[] = {
      {"100", false, 4, zero4, {0x64, 0x00, 0x00, 0x00}, false},
      {"-1", false, 4, zero4, {0xFF, 0xFF, 0xFF, 0xFF}, false},
      {"+258", false, 2, {0, 0}, {0x02, 0x01}, false},
      {"70000", false, 2, {0, 0}, {0x70, 0x11}, false},        // the low bytes of the number
      {"AB", false, 4, zero4, {'A', 'B', 0x00, 0x00}, false},  // padded to the field width
      {"ЖЖ", false, 2, {0, 0}, {0xC6, 0xC6}, false},
      {"ABCD", false, 4, zero4, {'A', 'B', 'C', 'D'}, false},
      {"ABCDE", false, 4, zero4, zero4, true},
      {"2147483648", false, 4, zero4, zero4, true},
      {"", false, 4, zero4, zero4, true},
      {"A0A1A2A3A4A5", true, 6, ff6, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
      {"a0 a1 a2 a3 a4 a5", true, 6, ff6, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
      {"A0A1", true, 6, ff6, ff6, true},
      {"A0A1A2A3A4A5A6", true, 6, ff6, ff6, true},
      {"A0A1A2A3A4AZ", true, 6, ff6, ff6, true},
      {"", true, 6, ff6, ff6, true},
      {"bad", true, 6, {}, {}, false},  // no default: nothing to fall back on, no warning
  };
  for (const auto& c : cases) {
    sink_->warnings.clear();
    Bytes result{0x99};
    TBuilder::ParamToBytes(c.text, c.def, "Параметр", result, c.hex, c.size);
    EXPECT_EQ(result, c.result) << c.text;
    EXPECT_EQ(sink_->warnings, c.warned ? std::vector<std::string>{Warning(c.text, "Параметр")}
                                        : std::vector<std::string>{})
        << c.text;
  }
}

TEST_F(ProtocolTest, IssueCardWarnsForEachBadParameterInOrder) {
  const Bytes req = TBuilder::Req_IssueCard(2, "ABCDE", "XYZ", "00", "");
  EXPECT_EQ(req, (Bytes{0xA7, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(sink_->warnings, (std::vector<std::string>{Warning("ABCDE", "Код эмитента"),
                                                       Warning("XYZ", "Код эмиссии"),
                                                       Warning("00", "Заводской ключ")}));
}

TEST(ProtocolSectors, MifareClassicArithmetic) {
  const struct {
    int block, sector, start, end;
  } cases[] = {
      {0, 0, 0, 3},        {4, 1, 4, 7},        {127, 31, 124, 127}, {128, 32, 128, 143},
      {143, 32, 128, 143}, {144, 33, 144, 159}, {255, 39, 240, 255},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TProtocol::GetSector(c.block), c.sector) << c.block;
    int start = -1, end = -1;
    TProtocol::GetSectorRange(c.sector, start, end);
    EXPECT_EQ(start, c.start) << c.sector;
    EXPECT_EQ(end, c.end) << c.sector;
    EXPECT_EQ(TProtocol::GetTBlock(c.block), c.end) << c.block;
  }
}

TEST(ProtocolCreate, RefusesAnEmptyExchangeProcedure) {
  EXPECT_THROW(TProtocol(TWriteReadProc{}), std::invalid_argument);
}

}  // namespace
}  // namespace kiren
