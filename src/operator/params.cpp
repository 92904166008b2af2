#include "operator/params.h"

#include <algorithm>
#include <stdexcept>

#include "base/text_utils.h"
#include "base/utf8.h"
#include "operator/texts.h"
#include "protocol/protocol.h"

namespace kiren::op {

namespace {

// The action's own check of a code at an offset, before anything is queued.
void CheckCodeFits(std::uint8_t AOffset, const Bytes& ACode) {
  try {
    TAcWriteCardCode(0, AOffset, ACode, TKeyList{}, nullptr);
  } catch (const std::invalid_argument& e) {
    throw TInputError(e.what(), TField::CardCode);
  }
}

// An issuing code in the command layer's text mode: a whole number within [0, AMax], or
// any other text of at most AChars characters.
std::string IssueCode(const std::string& AText, std::int32_t AMax, std::size_t AChars,
                      const std::string& AMessage, TField AField) {
  if (std::int32_t number = 0; TryStrToInt(AText, number)) {
    if (number < 0 || number > AMax)
      throw TInputError(AMessage, AField);
    return AText;
  }
  const std::size_t chars = Utf8ToU32(AText).size();
  if (chars == 0 || chars > AChars)
    throw TInputError(AMessage, AField);
  return AText;
}

// Hexadecimal digits without blanks, at most ten bytes; a single digit left at the end is
// one byte (the command layer's rule).
std::string UserData(const std::string& AText) {
  std::string digits;
  for (const char c : AText) {
    if (c == ' ')
      continue;
    if (HexDigitValue(c) < 0)
      throw TInputError(kMsgBadUserData, TField::UserData);
    digits += c;
  }
  if (digits.size() > 2 * static_cast<std::size_t>(kMaxUserDataBytes))
    throw TInputError(kMsgBadUserData, TField::UserData);
  return digits;
}

}  // namespace

std::optional<int> TrailerSector(int ABlockNo) {
  const auto block = static_cast<std::uint8_t>(ABlockNo);
  if (TProtocol::GetTBlock(block) != block)
    return std::nullopt;
  return TProtocol::GetSector(block);
}

std::optional<TPercoPars> EmissionParams(const TEmissionInput& AInput,
                                         const TConfirmTrailer& AConfirmTrailer) {
  TPercoPars pars;
  pars.key = ParseKey(AInput.Key, TKeyForm::AsciiOrHex, kMsgKeyMustHave6Bytes, TField::Key);
  pars.blockNo =
      static_cast<std::uint8_t>(IntInRange(AInput.BlockNo, 0, kMaxBlockNo, TField::BlockNo));
  if (const auto sector = TrailerSector(pars.blockNo))
    if (!AConfirmTrailer || !AConfirmTrailer(*sector))
      return std::nullopt;
  pars.offset = static_cast<std::uint8_t>(IntInRange(AInput.Offset, 0, kMaxOffset, TField::Offset));
  pars.size =
      static_cast<std::uint8_t>(IntInRange(AInput.Size, kMinCodeSize, kMaxCodeSize, TField::Size));
  pars.lbs = AInput.ReverseOrder ? 1 : 0;
  if (pars.offset + pars.size > kBlockSize)
    throw TInputError(kMsgOffsetSizeTooBig, TField::Offset);
  return pars;
}

TCardCodeParams CardCodeParams(const TCardCodeInput& AInput) {
  TCardCodeParams params;
  params.BlockNo =
      static_cast<std::uint8_t>(IntInRange(AInput.BlockNo, 0, kMaxBlockNo, TField::BlockNo));
  params.Offset =
      static_cast<std::uint8_t>(IntInRange(AInput.Offset, 0, kMaxOffset, TField::Offset));
  params.Size = IntInRange(AInput.Size, kMinCodeSize, kMaxCodeSize, TField::Size);
  params.Keys.KeyA = ParseKey(AInput.KeyA, TKeyForm::AsciiOrHex, kMsgBadReadKey, TField::KeyA);
  params.Keys.KeyB = ParseKey(AInput.KeyB, TKeyForm::AsciiOrHex, kMsgBadWriteKey, TField::KeyB);
  params.Keys.oldKeyB =
      ParseKey(AInput.OldKeyB, TKeyForm::AsciiOrHex, kMsgBadOldWriteKey, TField::OldKeyB);
  params.Code = NextCodeBytes(params, AInput.Code);
  return params;
}

Bytes NextCodeBytes(const TCardCodeParams& AParams, const TCardCodeText& ACode) {
  Bytes code = CardCodeBytes(ACode.Digits, ACode.Hex, AParams.Size);
  CheckCodeFits(AParams.Offset, code);
  return code;
}

TCardCodeText NextCardCode(const TCardCodeText& ACode) {
  return {IncCardCodeText(ACode.Digits, ACode.Hex), ACode.Hex};
}

TIssueParams IssueParams(const TIssueInput& AInput) {
  TIssueParams params;
  std::int32_t variant = 0;
  if (!TryStrToInt(AInput.Variant, variant) || variant < kMinVariant || variant > kMaxVariant)
    throw TInputError(kMsgBadVariant, TField::Variant);
  params.Variant = variant;
  params.Emitent = IssueCode(AInput.Emitent, 2147483647, 4, kMsgBadEmitent, TField::Emitent);
  params.Emission = IssueCode(AInput.Emission, 65535, 2, kMsgBadEmission, TField::Emission);
  const TKey factoryKey =
      ParseKey(AInput.FactoryKey, TKeyForm::HexOnly, kMsgBadFactoryKey, TField::FactoryKey);
  params.FactoryKey = BytesToHexStr(factoryKey.data(), factoryKey.size());
  params.UserData = UserData(AInput.UserData);
  return params;
}

TReadBlockParams ReadBlockParams(const TReadBlockInput& AInput) {
  TReadBlockParams params;
  params.BlockNo = static_cast<std::uint8_t>(
      IntInRange(AInput.BlockNo, 0, kMaxReadBlockNo, TField::ReadBlockNo));
  params.Key = ParseKey(AInput.Key, TKeyForm::HexOnly, kMsgBadReadBlockKey, TField::ReadBlockKey);
  return params;
}

}  // namespace kiren::op
