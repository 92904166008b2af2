#include "worker/verify_actions.h"

#include <stdexcept>
#include <utility>

namespace kiren {

namespace {

// A failure after which the reader is not asked anything more: it does not answer, or the
// port is broken.
bool ReaderLost(int AErrCode) {
  return AErrCode == kResPortFailure || AErrCode == kResTimeout;
}

}  // namespace

TBlockRead ReadBlockWithKeyA(TProtocol& AProto, std::uint8_t ABlockNo, const TKey& AKey) {
  TBlockRead read;
  read.ErrCode = AProto.LoadKey(kKeyTypeA, AKey, read.Status);
  if (read.ErrCode == kResOk && !read.Status.HasError())
    read.ErrCode = AProto.ReadBlock(ABlockNo, kKeyTypeA, read.Status, read.Data);
  if (read.ErrCode == kResOk && read.Status.HasError())
    read.ErrCode = kResStatusError;
  return read;
}

TContentRead ReadReportedCard(TProtocol& AProto, const TReaderState& AState) {
  TContentRead read;
  if (AState.UsedWiegand) {
    TKirenCard card;
    read.ErrCode = AProto.GetKirenCard(card);
    if (read.ErrCode == kResOk)
      read.Card = ReportedCard(card, AState.CodeSize);
  } else {
    TKirenCardEx card;
    read.ErrCode = AProto.GetKirenCard(card);
    if (read.ErrCode == kResOk)
      read.Card = ReportedCard(card);
  }
  return read;
}

std::optional<TEmissionView> ReaderEmission(TProtocol& AProto, const TReaderState& AState,
                                            const std::optional<TPercoPars>& AKnown) {
  const std::optional<TPercoPars>& written = AState.LastPars ? AState.LastPars : AKnown;
  if (AState.DevInfo.AllowReadConfig()) {
    TConfig config;
    int err = kResNotExecuted;
    try {
      err = AProto.GetConfig(config);
    } catch (const std::invalid_argument&) {
      // A malformed configuration tells nothing; the written parameters may.
    }
    if (err == kResOk) {
      if (auto view = EmissionFromConfig(config)) {
        if (written)
          view->Key = written->key;
        return view;
      }
    }
  }
  if (written)
    return EmissionFromPars(*written);
  return std::nullopt;
}

TContentRead TCardCheck::ReadContent(TProtocol& AProto) {
  TContentRead read = ReadReportedCard(AProto, FReader);
  if (read.ErrCode == kResOk)
    FReported = read.Card;
  return read;
}

// ---------------------------------------------------------------------------------------------

TAcWriteCardCodeChecked::TAcWriteCardCodeChecked(std::uint8_t ABlockNo, std::uint8_t AOffset,
                                                 const Bytes& ACardCode, const TKeyList& AKeys,
                                                 TOnActionDone AOnDone,
                                                 std::optional<TPercoPars> AKnownPars)
    : TAcWriteCardCode(ABlockNo, AOffset, ACardCode, AKeys, std::move(AOnDone)),
      FKnownPars(std::move(AKnownPars)) {
  FWritten.BlockNo = ABlockNo;
  FWritten.Offset = AOffset;
  FWritten.Code = ACardCode;
  FWritten.Block = FData;
  FWritten.KeyA = AKeys.KeyA;
  FWritten.KeyB = AKeys.KeyB;
}

int TAcWriteCardCodeChecked::Execute(TProtocol& AProto) {
  TAcWriteCardCode::Execute(AProto);
  if (FErrCode != kResOk) {
    FCheck = NotCheckedAfter(FErrCode);
    // The code block may have changed even when the trailer write failed: refresh the content.
    if (!ReaderLost(FErrCode))
      ReadContent(AProto);
    return FErrCode;
  }
  const TBlockRead code = ReadBlockWithKeyA(AProto, FWritten.BlockNo, FWritten.KeyA);
  TBlockRead trailer{code.ErrCode, {}, {}};
  if (!ReaderLost(code.ErrCode)) {
    trailer = ReadBlockWithKeyA(
        AProto, static_cast<std::uint8_t>(TProtocol::GetTBlock(FWritten.BlockNo)), FWritten.KeyA);
  }
  FReadBack = CompareReadBack(FWritten, code, trailer);
  if (ReaderLost(code.ErrCode) || ReaderLost(trailer.ErrCode)) {
    FCheck = FReadBack;
    return FErrCode;
  }
  FEmission = ReaderEmission(AProto, FReader, FKnownPars);
  FEmitted = CompareEmittedCode(FWritten, FEmission, ReadContent(AProto));
  FCheck = CombineChecks(FReadBack, FEmitted);
  return FErrCode;
}

// ---------------------------------------------------------------------------------------------

int TAcIssueCardChecked::Execute(TProtocol& AProto) {
  TAcIssueCard::Execute(AProto);
  if (ReaderLost(FErrCode)) {
    FCheck = NotCheckedAfter(FErrCode);
    return FErrCode;
  }
  // The card was cleared even when the issue failed: the content is read in either case.
  const TContentRead content = ReadContent(AProto);
  const auto issued = IssuedCardOf(FVarEmission, FCodeEmitent, FCodeEmission, FUserData);
  if (FErrCode != kResOk || !issued)
    FCheck = NotCheckedAfter(FErrCode);
  else
    FCheck = CompareIssued(*issued, content);
  return FErrCode;
}

int TAcClearCardChecked::Execute(TProtocol& AProto) {
  TAcClearCard::Execute(AProto);
  if (ReaderLost(FErrCode)) {
    FCheck = NotCheckedAfter(FErrCode);
    return FErrCode;
  }
  const TContentRead content = ReadContent(AProto);
  if (FErrCode == kResOk || FErrCode == kResNothingToDo)
    FCheck = CompareCleared(content);
  else
    FCheck = NotCheckedAfter(FErrCode);
  return FErrCode;
}

}  // namespace kiren
