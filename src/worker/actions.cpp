#include "worker/actions.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "protocol/verification.h"

namespace kiren {

namespace {

// Bytes of the number form of the card code.
constexpr int kNumberCodeSize = 5;

}  // namespace

TThAction::TThAction(TOnActionDone AOnDone) : FOnDone(std::move(AOnDone)) {}

void TThAction::CheckStatus() {
  if (FErrCode == kResOk && FStatus.HasError())
    FErrCode = kResStatusError;
}

std::string ActionErrorText(const TThAction& AAction) {
  std::string text;
  const int code = AAction.ErrCode();
  if (code != kResOk && code != kResStatusError)
    text = "Ошибка " + std::to_string(code);
  if (AAction.Status().HasError()) {
    if (text.empty())
      text = "Ошибка: " + AAction.Status().Error();
    else
      text += " (" + AAction.Status().Error() + ")";
  }
  return text;
}

// ---------------------------------------------------------------------------------------------

TAcPercoStt::TAcPercoStt(const TPercoPars& APars, TOnActionDone AOnDone)
    : TThAction(std::move(AOnDone)), FPars(APars) {}

int TAcPercoStt::Execute(TProtocol& AProto) {
  FErrCode = AProto.SetupPerco(FPars, FStatus);
  CheckStatus();
  return FErrCode;
}

// ---------------------------------------------------------------------------------------------

TAcBaseBlock::TAcBaseBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, const TKey& AKey,
                           TOnActionDone AOnDone)
    : TThAction(std::move(AOnDone)), FBlockNo(ABlockNo), FKeyType(AKeyType), FKey(AKey) {}

int TAcBaseBlock::Execute(TProtocol& AProto) {
  FErrCode = AProto.LoadKey(FKeyType, FKey, FStatus);
  return FErrCode;
}

int TAcReadBlock::Execute(TProtocol& AProto) {
  if (TAcBaseBlock::Execute(AProto) != kResOk)
    return FErrCode;
  FErrCode = AProto.ReadBlock(FBlockNo, FKeyType, FStatus, FData);
  CheckStatus();
  return FErrCode;
}

TAcWriteBlock::TAcWriteBlock(std::uint8_t ABlockNo, const TBlock& AData, std::uint8_t AKeyType,
                             const TKey& AKey, TOnActionDone AOnDone)
    : TAcBaseBlock(ABlockNo, AKeyType, AKey, std::move(AOnDone)) {
  FData = AData;
}

int TAcWriteBlock::Execute(TProtocol& AProto) {
  if (TAcBaseBlock::Execute(AProto) != kResOk)
    return FErrCode;
  FErrCode = AProto.WriteBlock(FBlockNo, FData, FKeyType, FStatus);
  CheckStatus();
  return FErrCode;
}

// ---------------------------------------------------------------------------------------------

TAcWriteCardCode::TAcWriteCardCode(std::uint8_t ABlockNo, std::uint8_t AOffset,
                                   const Bytes& ACardCode, const TKeyList& AKeys,
                                   TOnActionDone AOnDone)
    : TAcWriteBlock(ABlockNo, CodeBlock(AOffset, ACardCode), kKeyTypeB, AKeys.oldKeyB,
                    std::move(AOnDone)),
      FKeys(AKeys) {}

TAcWriteCardCode::TAcWriteCardCode(std::uint8_t ABlockNo, std::uint8_t AOffset,
                                   std::uint64_t ACardCode, const TKeyList& AKeys,
                                   TOnActionDone AOnDone)
    : TAcWriteBlock(ABlockNo, CodeBlock(AOffset, ACardCode), kKeyTypeB, AKeys.oldKeyB,
                    std::move(AOnDone)),
      FKeys(AKeys) {}

TBlock TAcWriteCardCode::CodeBlock(std::uint8_t AOffset, const Bytes& ACardCode) {
  if (ACardCode.size() > kMaxCodeSize)
    throw std::invalid_argument("Слишком длинный код карты");
  if (AOffset + ACardCode.size() > std::tuple_size_v<TBlock>)
    throw std::invalid_argument("Недопустимая комбинация смещения и кода карты");
  TBlock block{};
  std::copy(ACardCode.begin(), ACardCode.end(), block.begin() + AOffset);
  return block;
}

TBlock TAcWriteCardCode::CodeBlock(std::uint8_t AOffset, std::uint64_t ACardCode) {
  TBlock block{};
  // Positions beyond the block are dropped; callers keep AOffset at most 11.
  for (int i = 0; i < kNumberCodeSize; ++i) {
    const std::size_t pos = AOffset + static_cast<std::size_t>(i);
    const int shift = 8 * (kNumberCodeSize - 1 - i);
    if (pos < block.size())
      block[pos] = static_cast<std::uint8_t>(ACardCode >> shift);
  }
  return block;
}

int TAcWriteCardCode::WriteStep(TProtocol& AProto) {
  return TAcWriteBlock::Execute(AProto);
}

int TAcWriteCardCode::Execute(TProtocol& AProto) {
  // The old key B value authenticates both writes: first as key A, and when the card rejects
  // that (a card that already carries new keys), as key B.
  FKeyType = kKeyTypeA;
  int err = WriteStep(AProto);
  if (err == kResStatusError) {
    FKeyType = kKeyTypeB;
    err = WriteStep(AProto);
  }
  if (err != kResOk)
    return err;

  TBlock trailer{};
  auto pos = std::copy(FKeys.KeyA.begin(), FKeys.KeyA.end(), trailer.begin());
  pos = std::copy(kCodeTrailerAccess.begin(), kCodeTrailerAccess.end(), pos);
  std::copy(FKeys.KeyB.begin(), FKeys.KeyB.end(), pos);
  FData = trailer;
  int startBlock = 0;
  int endBlock = 0;
  TProtocol::GetSectorRange(TProtocol::GetSector(FBlockNo), startBlock, endBlock);
  FBlockNo = static_cast<std::uint8_t>(endBlock);
  return WriteStep(AProto);
}

// ---------------------------------------------------------------------------------------------

int TAcClearCard::Execute(TProtocol& AProto) {
  AProto.ClearCard(FErrCode);
  return FErrCode;
}

TAcIssueCard::TAcIssueCard(int AVarEmission, const std::string& ACodeEmitent,
                           const std::string& ACodeEmission, const std::string& AFactoryKey,
                           const std::string& AUserData, TOnActionDone AOnDone)
    : TThAction(std::move(AOnDone)),
      FVarEmission(AVarEmission),
      FCodeEmitent(ACodeEmitent),
      FCodeEmission(ACodeEmission),
      FFactoryKey(AFactoryKey),
      FUserData(AUserData) {}

int TAcIssueCard::Execute(TProtocol& AProto) {
  // A card is always cleared before issuing; the clearing result does not count.
  AProto.ClearCard(FErrCode);
  FErrCode =
      AProto.IssueCard(FVarEmission, FCodeEmitent, FCodeEmission, FFactoryKey, FUserData, FStatus);
  CheckStatus();
  return FErrCode;
}

TAcSetupMode::TAcSetupMode(std::uint8_t AMode, TOnActionDone AOnDone)
    : TThAction(std::move(AOnDone)), FMode(AMode) {}

int TAcSetupMode::Execute(TProtocol& AProto) {
  FErrCode = AProto.SetupMode(FMode, FAnswer);
  return FErrCode;
}

int TAcSetupEmissionPrior::Execute(TProtocol& AProto) {
  FErrCode = AProto.SetupEmissionPrior(FMode, FAnswer);
  return FErrCode;
}

int TAcReadConfig::Execute(TProtocol& AProto) {
  FErrCode = AProto.GetConfig(FConfig);
  return FErrCode;
}

}  // namespace kiren
