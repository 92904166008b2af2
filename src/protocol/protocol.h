#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "protocol/card_content.h"
#include "protocol/records.h"

namespace kiren {

// Exchange procedure: command bytes in; answer command byte and payload out. Returns 0 when
// an intact answer arrived, otherwise a non-zero result code (2 port, 3 timeout, 4 damaged).
using TWriteReadProc = std::function<int(const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData)>;

// Reader configuration: command code -> its settings as decimal texts.
using TConfig = std::map<std::uint8_t, std::vector<std::string>>;

// Result codes of the device path.
enum : int {
  kResOk = 0,
  kResWrongCommand = 1,
  kResPortFailure = 2,
  kResTimeout = 3,
  kResBadAnswer = 4,
  kResNotExecuted = 5,
  kResRefused = 6,
  kResStatusError = 7,
  kResNothingToDo = 8,
};

// Command codes.
enum : std::uint8_t {
  kCmdGetVerInfo = 0xFE,
  kCmdGetStatus = 0xFF,
  kCmdGetCardType = 0xA0,
  kCmdGetKirenCard = 0x55,
  kCmdReadKirenCard = 0x50,
  kCmdClearCard = 0xE5,
  kCmdGetConfig = 0x21,
  kCmdIssueCard = 0xA7,
  kCmdLoadKey = 0xA1,
  kCmdReadBlock = 0xA2,
  kCmdWriteBlock = 0xA3,
  kCmdSetupMode = 0x52,
  kCmdSetupPerco = 0x51,
  kCmdSetupSorvelMode = 0xA8,
};

// Mode byte of the universal-mode and emission-priority commands: switch off, switch on, or
// only ask for the current setting.
constexpr std::uint8_t kModeOff = 0;
constexpr std::uint8_t kModeOn = 1;
constexpr std::uint8_t kModeQuery = 2;

// Key types of the block commands.
constexpr std::uint8_t kKeyTypeA = 0xAA;
constexpr std::uint8_t kKeyTypeB = 0xBB;

// The reader's command set: each operation sends one command through the exchange procedure
// and decodes the answer. Out parameters start at their initial values and keep them when
// the exchange fails or the answer is rejected.
class TProtocol {
 public:
  // Throws std::invalid_argument for an empty procedure.
  explicit TProtocol(TWriteReadProc AWriteReadProc);

  int GetVer(std::string& VerInfo);
  int GetStatus(TStatus& Status);
  int GetCardInfo(TCardInfo& CardInfo);
  int GetKirenCard(TKirenCardEx& CardInfo);
  int GetKirenCard(TKirenCard& CardInfo);
  void ClearCard(int& ErrCode);
  // Adds the decoded entries to Config (an entry replaces one already there). Throws
  // std::invalid_argument for a key that is not a number or occurs twice; Config is then unchanged.
  int GetConfig(TConfig& Config);
  // Throws std::invalid_argument for user data that is not hexadecimal; nothing is sent.
  int IssueCard(int AType, const std::string& ACodeEmitent, const std::string& ACodeEmission,
                const std::string& AFactoryKey, const std::string& AUserData, TStatus& Status);
  int LoadKey(std::uint8_t AKeyType, const TKey& AKey, TStatus& Status);
  int ReadBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, TStatus& Status, TBlock& AData);
  int WriteBlock(std::uint8_t ABlockNo, const TBlock& AData, std::uint8_t AKeyType,
                 TStatus& Status);
  int SetupMode(std::uint8_t AMode, std::uint8_t& AAnswer);
  int SetupPerco(const TPercoPars& AStt, TStatus& Status);
  int SetupEmissionPrior(std::uint8_t AMode, std::uint8_t& AAnswer);

  // Mifare Classic sectors: 32 sectors of 4 blocks, then sectors of 16 blocks from block 128.
  static int GetSector(int ABlockNo);
  static void GetSectorRange(int ASector, int& AStartBlock, int& AEndBlock);
  // The sector trailer of the block's sector.
  static int GetTBlock(int ABlockNo);

 private:
  using TRequestProc = std::function<Bytes()>;
  using TParseProc = std::function<int(const Bytes& AData)>;
  using TParseProc2 = std::function<void(TStatus AStatus, int& AResult)>;

  int SendCmd(std::uint8_t ACmd, const TRequestProc& AReq, const TParseProc& AParse);
  // For answers that are only a status word.
  int SendCmd(std::uint8_t ACmd, const TRequestProc& AReq, const TParseProc2& AParse);

  TWriteReadProc FWriteReadProc;
};

}  // namespace kiren
