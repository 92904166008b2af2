#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/bytes.h"
#include "protocol/protocol.h"
#include "protocol/records.h"

namespace kiren {

// The keys of a card-code write: the key that authenticates the write and the two keys put
// into the sector trailer.
struct TKeyList {
  TKey oldKeyB{};
  TKey KeyA{};
  TKey KeyB{};
};

class TThAction;

// Completion callback; runs on the main thread with the finished action.
using TOnActionDone = std::function<void(TThAction& AAction)>;

// A device operation queued on the worker: input parameters, the protocol calls of Execute,
// and the result fields its callback reads.
class TThAction {
 public:
  explicit TThAction(TOnActionDone AOnDone);
  virtual ~TThAction() = default;
  TThAction(const TThAction&) = delete;
  TThAction& operator=(const TThAction&) = delete;

  int ErrCode() const { return FErrCode; }
  void SetErrCode(int AErrCode) { FErrCode = AErrCode; }
  const TStatus& Status() const { return FStatus; }
  const TOnActionDone& OnDone() const { return FOnDone; }
  void SetOnDone(TOnActionDone AOnDone) { FOnDone = std::move(AOnDone); }
  // Raw answer bytes; none of the actions fills them.
  const std::uint8_t* Data() const { return FRxData.empty() ? nullptr : FRxData.data(); }
  std::size_t DataSize() const { return FRxData.size(); }

  // An executed command whose status word reports an error turns ErrCode 0 into 7.
  virtual void CheckStatus();
  // Runs the action; the result is left in ErrCode and returned.
  virtual int Execute(TProtocol& AProto) = 0;

 protected:
  TOnActionDone FOnDone;
  std::int32_t FErrCode = kResNotExecuted;
  TStatus FStatus;
  Bytes FRxData;
};

// Operator text of a finished action that failed ("Ошибка 3", "Ошибка: <status text>",
// "Ошибка 1 (<status text>)"); empty when it succeeded.
std::string ActionErrorText(const TThAction& AAction);

// Writes the reader's emission parameters.
class TAcPercoStt : public TThAction {
 public:
  TAcPercoStt(const TPercoPars& APars, TOnActionDone AOnDone);
  const TPercoPars& Pars() const { return FPars; }
  int Execute(TProtocol& AProto) override;

 protected:
  TPercoPars FPars;
};

// Loads a key into the reader: the first step of every block read or write.
class TAcBaseBlock : public TThAction {
 public:
  TAcBaseBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, const TKey& AKey,
               TOnActionDone AOnDone);
  std::uint8_t BlockNo() const { return FBlockNo; }
  std::uint8_t KeyType() const { return FKeyType; }
  const TKey& Key() const { return FKey; }
  // The block read, or the last block written.
  const TBlock& BlockData() const { return FData; }
  int Execute(TProtocol& AProto) override;

 protected:
  std::uint8_t FBlockNo;
  std::uint8_t FKeyType;
  TKey FKey;
  TBlock FData{};
};

// Reads one card block.
class TAcReadBlock : public TAcBaseBlock {
 public:
  using TAcBaseBlock::TAcBaseBlock;
  int Execute(TProtocol& AProto) override;
};

// Writes one card block.
class TAcWriteBlock : public TAcBaseBlock {
 public:
  TAcWriteBlock(std::uint8_t ABlockNo, const TBlock& AData, std::uint8_t AKeyType, const TKey& AKey,
                TOnActionDone AOnDone);
  int Execute(TProtocol& AProto) override;
};

// Writes a card code into a block and new keys into the sector trailer.
class TAcWriteCardCode : public TAcWriteBlock {
 public:
  static constexpr std::size_t kMaxCodeSize = 10;

  // Throws std::invalid_argument "Слишком длинный код карты" for more than 10 code bytes and
  // "Недопустимая комбинация смещения и кода карты" when the code does not fit the block.
  TAcWriteCardCode(std::uint8_t ABlockNo, std::uint8_t AOffset, const Bytes& ACardCode,
                   const TKeyList& AKeys, TOnActionDone AOnDone);
  // The 5 low-order bytes of ACardCode, most significant first; AOffset must be at most 11.
  TAcWriteCardCode(std::uint8_t ABlockNo, std::uint8_t AOffset, std::uint64_t ACardCode,
                   const TKeyList& AKeys, TOnActionDone AOnDone);
  const TKeyList& Keys() const { return FKeys; }
  int Execute(TProtocol& AProto) override;

 protected:
  TKeyList FKeys;

 private:
  static TBlock CodeBlock(std::uint8_t AOffset, const Bytes& ACardCode);
  static TBlock CodeBlock(std::uint8_t AOffset, std::uint64_t ACardCode);
  int WriteStep(TProtocol& AProto);
};

// Clears the card in the field (ErrCode 8: nothing to clear).
class TAcClearCard : public TThAction {
 public:
  using TThAction::TThAction;
  int Execute(TProtocol& AProto) override;
};

// Clears the card, then issues it in one of the five layouts.
class TAcIssueCard : public TThAction {
 public:
  TAcIssueCard(int AVarEmission, const std::string& ACodeEmitent, const std::string& ACodeEmission,
               const std::string& AFactoryKey, const std::string& AUserData, TOnActionDone AOnDone);
  int VarEmission() const { return FVarEmission; }
  int Execute(TProtocol& AProto) override;

 protected:
  std::int32_t FVarEmission;
  std::string FCodeEmitent;
  std::string FCodeEmission;
  std::string FFactoryKey;
  std::string FUserData;
};

// Switches (0 off, 1 on) or queries (2) the universal-command mode.
class TAcSetupMode : public TThAction {
 public:
  TAcSetupMode(std::uint8_t AMode, TOnActionDone AOnDone);
  std::uint8_t Mode() const { return FMode; }
  std::uint8_t Answer() const { return FAnswer; }
  int Execute(TProtocol& AProto) override;

 protected:
  std::uint8_t FAnswer = 0;
  std::uint8_t FMode;
};

// Switches or queries the priority of the emission parameters.
class TAcSetupEmissionPrior : public TAcSetupMode {
 public:
  using TAcSetupMode::TAcSetupMode;
  int Execute(TProtocol& AProto) override;
};

// Reads the reader's configuration.
class TAcReadConfig : public TThAction {
 public:
  using TThAction::TThAction;
  const TConfig& Config() const { return FConfig; }
  int Execute(TProtocol& AProto) override;

 protected:
  TConfig FConfig;
};

}  // namespace kiren
