#include "sim/firmware.h"

#include <algorithm>
#include <cstdio>

#include "base/codepage.h"
#include "protocol/crc.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "protocol/records.h"

namespace kiren::sim {

namespace {

constexpr std::size_t kHistoryLimit = 256;
// A long answer is padded up to this many frame bytes (the tool reads at most 66).
constexpr std::size_t kLongFrameSize = 90;
// Error numbers the reader reports when it cannot read a card code.
constexpr int kErrNoBlock = 1;
constexpr int kErrAuth = 2;
constexpr int kErrDenied = 3;

Bytes Word(std::uint16_t AValue) {
  return {static_cast<std::uint8_t>(AValue >> 8), static_cast<std::uint8_t>(AValue)};
}

void AppendBE(Bytes& AOut, std::uint32_t AValue, int ASize) {
  for (int i = ASize - 1; i >= 0; --i)
    AOut.push_back(static_cast<std::uint8_t>(AValue >> (8 * i)));
}

std::uint32_t ReadLE(const Bytes& AData, std::size_t APos, int ASize) {
  std::uint32_t v = 0;
  for (int i = ASize - 1; i >= 0; --i)
    v = v << 8 | AData[APos + static_cast<std::size_t>(i)];
  return v;
}

std::size_t EscapedSize(const Bytes& ABody) {
  std::size_t n = ABody.size();
  for (std::uint8_t b : ABody)
    n += (b == kFrameStart || b == kFrameEscape) ? 1 : 0;
  return n;
}

// Cuts the payload so that the escaped body (command, payload, CRC of up to 4 escaped bytes)
// stays within the longest length a frame can carry.
void FitPayload(std::uint8_t ACmd, Bytes& APayload) {
  Bytes body{ACmd};
  body.insert(body.end(), APayload.begin(), APayload.end());
  while (!APayload.empty() && EscapedSize(body) + 4 > static_cast<std::size_t>(kFrameMaxLength)) {
    APayload.pop_back();
    body.pop_back();
  }
}

// A frame like TBuilder::Finalize builds, but with a CRC that does not match.
Bytes FrameWithBadCrc(const Bytes& ACmdData) {
  Bytes raw{kFrameStart, 0x00};
  raw.insert(raw.end(), ACmdData.begin(), ACmdData.end());
  const std::uint16_t crc = static_cast<std::uint16_t>(CalcCRC16(ACmdData, 1, 0) ^ 0x0001);
  raw.push_back(static_cast<std::uint8_t>(crc >> 8));
  raw.push_back(static_cast<std::uint8_t>(crc));
  Bytes frame = TBuilder::Stuffing(raw, 3);
  frame[1] = static_cast<std::uint8_t>(frame.size() - 2);
  return frame;
}

std::optional<TKeySlot> SlotOf(std::uint8_t AKeyType) {
  if (AKeyType == kKeyTypeA)
    return TKeySlot::A;
  if (AKeyType == kKeyTypeB)
    return TKeySlot::B;
  return std::nullopt;
}

std::uint16_t StatusOf(TAccessResult AResult) {
  switch (AResult) {
    case TAccessResult::Ok:
      return TStatus::kExecuted;
    case TAccessResult::AuthFailed:
      return TStatus::kAuthError;
    default:
      return 0;
  }
}

TKey6 KeyAt(const Bytes& AData, std::size_t APos) {
  TKey6 key{};
  std::copy_n(AData.begin() + static_cast<std::ptrdiff_t>(APos), key.size(), key.begin());
  return key;
}

// UID in the 7-byte field of the card-content answer: shorter UIDs are right-aligned, so the
// last four bytes are always the card's ID.
std::array<std::uint8_t, 7> Uid7(const TCard& ACard) {
  std::array<std::uint8_t, 7> uid{};
  const Bytes& u = ACard.UID();
  const std::size_t n = std::min<std::size_t>(u.size(), uid.size());
  std::copy_n(u.end() - static_cast<std::ptrdiff_t>(n), n,
              uid.end() - static_cast<std::ptrdiff_t>(n));
  return uid;
}

// What the reader finds on the card for the card-content commands.
struct TContent {
  enum TKind { None, Error, Plain, Uid, Issued } Kind = None;
  int Err = 0;
  Bytes Code;
  TIssuedLayout Layout;
};

std::optional<TIssuedLayout> ReadLayout(const TCard& ACard, const std::vector<TKey6>& AKeys) {
  if (!ACard.IsClassic() || ACard.BlockCount() <= kValueBlock)
    return std::nullopt;
  for (const TKey6& key : AKeys) {
    for (TKeySlot slot : {TKeySlot::A, TKeySlot::B}) {
      TBlock16 b8, b9, b10;
      if (ACard.Read(kLayoutBlock, slot, key, b8) == TAccessResult::Ok &&
          ACard.Read(kUserDataBlock, slot, key, b9) == TAccessResult::Ok &&
          ACard.Read(kValueBlock, slot, key, b10) == TAccessResult::Ok) {
        return TIssuedLayout::Decode(b8, b9, b10);
      }
    }
  }
  return std::nullopt;
}

TContent ReadPlainCode(const TCard& ACard, const TEmissionParams& AParams) {
  TContent content;
  TBlock16 block{};
  TAccessResult res = ACard.Read(AParams.BlockNo, TKeySlot::A, AParams.Key, block);
  if (res != TAccessResult::Ok && res != TAccessResult::NoBlock) {
    const TAccessResult resB = ACard.Read(AParams.BlockNo, TKeySlot::B, AParams.Key, block);
    if (resB == TAccessResult::Ok || resB == TAccessResult::Denied)
      res = resB;
  }
  if (res != TAccessResult::Ok) {
    content.Kind = TContent::Error;
    content.Err = res == TAccessResult::NoBlock      ? kErrNoBlock
                  : res == TAccessResult::AuthFailed ? kErrAuth
                                                     : kErrDenied;
    return content;
  }
  const std::size_t from = std::min<std::size_t>(AParams.Offset, block.size());
  const std::size_t to = std::min<std::size_t>(from + AParams.Size, block.size());
  content.Kind = TContent::Plain;
  content.Code.assign(block.begin() + static_cast<std::ptrdiff_t>(from),
                      block.begin() + static_cast<std::ptrdiff_t>(to));
  if (AParams.Lbs == 1)
    ReverseBytes(content.Code);
  return content;
}

// Universal record: FF FF FF Dn kind, then the n code bytes in reverse order where the
// record format places them (see the universal layout of the 0x50 answer).
Bytes UniversalRecord(const Bytes& ACode, std::uint8_t AKind) {
  const std::size_t n = std::min<std::size_t>(ACode.size(), 14);
  Bytes rec(20, 0x00);
  rec[0] = rec[1] = rec[2] = 0xFF;
  rec[3] = static_cast<std::uint8_t>(0xD0 | n);
  rec[4] = AKind;
  const std::size_t start = (n / 5 + 1) * 5 + 5 - n;
  for (std::size_t i = 0; i < n; ++i)
    rec[start + i] = ACode[n - 1 - i];
  const std::size_t end = n == 0 ? 10 : start + n;
  rec.resize(end <= 5 ? 5 : end <= 10 ? 10 : end <= 15 ? 15 : 20);
  return rec;
}

std::string SorvelCodeText(const TIssuedLayout& ALayout, const std::array<std::uint8_t, 7>& AUid) {
  const std::uint32_t id =
      static_cast<std::uint32_t>(AUid[3]) << 24 | AUid[4] << 16 | AUid[5] << 8 | AUid[6];
  char text[40];
  std::snprintf(text, sizeof text, "%.10u-%.5u%.10u", static_cast<unsigned>(ALayout.Emitent),
                static_cast<unsigned>(ALayout.Emission), static_cast<unsigned>(id));
  return text;
}

// Emitent and emission little-endian, then the ID bytes (bytes 5 to 14 of the 0x50 record).
Bytes LayoutRegion(const TIssuedLayout& ALayout, const std::array<std::uint8_t, 7>& AUid) {
  Bytes region;
  for (int i = 0; i < 4; ++i)
    region.push_back(static_cast<std::uint8_t>(ALayout.Emitent >> (8 * i)));
  for (int i = 0; i < 2; ++i)
    region.push_back(static_cast<std::uint8_t>(ALayout.Emission >> (8 * i)));
  region.insert(region.end(), AUid.begin() + 3, AUid.end());
  return region;
}

std::string ErrorText(int AErr) {
  return "Ошибка. Код: " + std::to_string(AErr);
}

}  // namespace

bool TFaults::Any() const {
  return NoAnswer || HalfAnswer || BadCrc || TrailingBytes || WrongCommand || LongAnswer ||
         DelayMs > 0;
}

TFirmware::TFirmware() = default;

// ---- Public operations -------------------------------------------------------------------

Bytes TFirmware::Receive(const Bytes& AHostBytes, int* ADelayMs) {
  std::lock_guard<std::mutex> lock(FLock);
  FRx.insert(FRx.end(), AHostBytes.begin(), AHostBytes.end());
  Bytes out;
  int delay = 0;
  while (auto request = NextRequest()) {
    int d = 0;
    const Bytes answer = Answer(*request, d);
    out.insert(out.end(), answer.begin(), answer.end());
    delay = std::max(delay, d);
  }
  if (ADelayMs)
    *ADelayMs = delay;
  return out;
}

void TFirmware::PutCard(const TCard& ACard) {
  std::lock_guard<std::mutex> lock(FLock);
  FCard = ACard;
}

void TFirmware::RemoveCard() {
  std::lock_guard<std::mutex> lock(FLock);
  FCard.reset();
}

bool TFirmware::HasCard() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCard.has_value();
}

std::optional<TCard> TFirmware::Card() const {
  return Locked(FCard);
}

void TFirmware::SetVersion(const std::string& AText) {
  SetLocked(FVersion, AText);
}

std::string TFirmware::Version() const {
  return Locked(FVersion);
}

void TFirmware::SetFaults(const TFaults& AFaults) {
  SetLocked(FFaults, AFaults);
}

TFaults TFirmware::Faults() const {
  return Locked(FFaults);
}

void TFirmware::SetEmissionParams(const TEmissionParams& AParams) {
  SetLocked(FEmission, AParams);
}

TEmissionParams TFirmware::EmissionParams() const {
  return Locked(FEmission);
}

std::uint8_t TFirmware::Mode() const {
  return Locked(FMode);
}

std::uint8_t TFirmware::EmissionPrior() const {
  return Locked(FEmissionPrior);
}

std::vector<Bytes> TFirmware::History() const {
  return Locked(FHistory);
}

void TFirmware::ClearHistory() {
  std::lock_guard<std::mutex> lock(FLock);
  FHistory.clear();
}

// ---- Framing -----------------------------------------------------------------------------

std::optional<Bytes> TFirmware::NextRequest() {
  for (;;) {
    const auto start = std::find(FRx.begin(), FRx.end(), kFrameStart);
    FRx.erase(FRx.begin(), start);
    if (FRx.size() < 2)
      return std::nullopt;
    const int length = FRx[1];
    if (length < kFrameMinLength || length > kFrameMaxLength) {
      FRx.erase(FRx.begin());
      continue;
    }
    // A start byte inside the frame means the frame was cut short: resynchronise there.
    const std::size_t frameSize = 2 + static_cast<std::size_t>(length);
    const auto limit = FRx.begin() + static_cast<std::ptrdiff_t>(std::min(FRx.size(), frameSize));
    const auto next = std::find(FRx.begin() + 1, limit, kFrameStart);
    if (next != limit) {
      FRx.erase(FRx.begin(), next);
      continue;
    }
    if (FRx.size() < frameSize)
      return std::nullopt;
    const Bytes frame(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(frameSize));
    FRx.erase(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(frameSize));
    Bytes body;
    if (!TParser::CheckAnswer(frame, static_cast<int>(frame.size()), body) ||
        !TParser::CheckCRC(body)) {
      continue;  // damaged request: no answer, like a reader that missed it
    }
    body.resize(body.size() - 2);
    return body;
  }
}

Bytes TFirmware::Answer(const Bytes& ARequest, int& ADelayMs) {
  if (FHistory.size() >= kHistoryLimit)
    FHistory.erase(FHistory.begin());
  FHistory.push_back(ARequest);
  const std::uint8_t cmd = ARequest[0];
  const Bytes payload(ARequest.begin() + 1, ARequest.end());
  bool hasAnswer = true;
  const Bytes answer = Execute(cmd, payload, hasAnswer);
  if (!hasAnswer)
    return {};
  return ApplyFaults(cmd, answer, ADelayMs);
}

Bytes TFirmware::ApplyFaults(std::uint8_t ACmd, const Bytes& APayload, int& ADelayMs) {
  Bytes payload = APayload;
  FitPayload(ACmd, payload);
  const bool applies =
      FFaults.Any() && FFaults.Count != 0 && (FFaults.OnlyCmd < 0 || FFaults.OnlyCmd == ACmd);
  Bytes cmdData{ACmd};
  cmdData.insert(cmdData.end(), payload.begin(), payload.end());
  if (!applies)
    return TBuilder::Finalize(cmdData);
  if (FFaults.Count > 0)
    --FFaults.Count;
  ADelayMs = std::max(0, FFaults.DelayMs);
  if (FFaults.NoAnswer)
    return {};
  if (FFaults.WrongCommand)
    cmdData[0] = ACmd == kCmdGetStatus ? kCmdGetVerInfo : kCmdGetStatus;
  if (FFaults.LongAnswer) {
    while (EscapedSize(cmdData) + 4 < kLongFrameSize)
      cmdData.push_back(0x00);
  }
  Bytes frame = FFaults.BadCrc ? FrameWithBadCrc(cmdData) : TBuilder::Finalize(cmdData);
  if (FFaults.TrailingBytes)
    frame.insert(frame.end(), {0x00, 0x5A});
  if (FFaults.HalfAnswer)
    frame.resize(frame.size() / 2);
  return frame;
}

// ---- Commands ----------------------------------------------------------------------------

Bytes TFirmware::Execute(std::uint8_t ACmd, const Bytes& APayload, bool& AHasAnswer) {
  switch (ACmd) {
    case kCmdGetVerInfo:
      return EncodeText(FVersion);
    case kCmdGetStatus:
      return DoStatus();
    case kCmdGetCardType:
      return DoCardType();
    case kCmdGetKirenCard:
      return DoKirenCardEx();
    case kCmdReadKirenCard:
      return DoKirenCard();
    case kCmdClearCard:
      return DoClear();
    case kCmdGetConfig:
      return DoConfig();
    case kCmdIssueCard:
      return DoIssue(APayload);
    case kCmdLoadKey:
      return DoLoadKey(APayload);
    case kCmdReadBlock:
      return DoReadBlock(APayload);
    case kCmdWriteBlock:
      return DoWriteBlock(APayload);
    case kCmdSetupMode:
      return DoMode(FMode, APayload, false);
    case kCmdSetupPerco:
      return DoSetupPerco(APayload);
    case kCmdSetupSorvelMode:
      return DoMode(FEmissionPrior, APayload, true);
    default:
      AHasAnswer = false;  // unknown command: the reader stays silent
      return {};
  }
}

Bytes TFirmware::DoStatus() const {
  return Word(static_cast<std::uint16_t>(TStatus::kExecuted | (FCard ? TStatus::kCardPresent : 0)));
}

Bytes TFirmware::DoCardType() const {
  if (!FCard)
    return Word(TStatus::kExecuted);
  Bytes out = Word(TStatus::kExecuted | TStatus::kCardPresent);
  AppendBE(out, FCard->TypeWord(), 2);
  out.push_back(FCard->SAK());
  out.push_back(static_cast<std::uint8_t>(FCard->UID().size()));
  out.insert(out.end(), FCard->UID().begin(), FCard->UID().end());
  return out;
}

Bytes TFirmware::DoLoadKey(const Bytes& APayload) {
  if (APayload.size() != 7 || !SlotOf(APayload[0]))
    return Word(0);
  (APayload[0] == kKeyTypeA ? FLoadedKeyA : FLoadedKeyB) = KeyAt(APayload, 1);
  return Word(TStatus::kExecuted);
}

Bytes TFirmware::DoReadBlock(const Bytes& APayload) const {
  if (APayload.size() != 2 || !FCard)
    return Word(0);
  const auto slot = SlotOf(APayload[1]);
  if (!slot)
    return Word(0);
  const auto& key = *slot == TKeySlot::A ? FLoadedKeyA : FLoadedKeyB;
  if (!key)
    return Word(TStatus::kAuthError);
  TBlock16 data{};
  const TAccessResult res = FCard->Read(APayload[0], *slot, *key, data);
  Bytes out = Word(StatusOf(res));
  if (res == TAccessResult::Ok)
    out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes TFirmware::DoWriteBlock(const Bytes& APayload) {
  if (APayload.size() != 18 || !FCard)
    return Word(0);
  const auto slot = SlotOf(APayload[1]);
  if (!slot)
    return Word(0);
  const auto& key = *slot == TKeySlot::A ? FLoadedKeyA : FLoadedKeyB;
  if (!key)
    return Word(TStatus::kAuthError);
  TBlock16 data{};
  std::copy(APayload.begin() + 2, APayload.end(), data.begin());
  return Word(StatusOf(FCard->Write(APayload[0], *slot, *key, data)));
}

Bytes TFirmware::DoSetupPerco(const Bytes& APayload) {
  if (APayload.size() != 10)
    return Word(0);
  TEmissionParams p;
  p.Key = KeyAt(APayload, 0);
  p.BlockNo = APayload[6];
  p.Offset = APayload[7];
  p.Size = APayload[8];
  p.Lbs = APayload[9];
  if (p.Size < 1 || p.Size > 10 || p.Offset + p.Size > 16 || p.Lbs > 1)
    return Word(0);
  FEmission = p;
  return Word(TStatus::kExecuted);
}

Bytes TFirmware::DoMode(std::uint8_t& ASetting, const Bytes& APayload, bool AEmissionPrior) {
  const bool valid = APayload.size() == 1 && APayload[0] <= 2;
  if (valid && APayload[0] < 2)
    ASetting = APayload[0];
  if (!AEmissionPrior)
    return {ASetting};
  return {ASetting, 0x00, static_cast<std::uint8_t>(valid ? 0x01 : 0x00)};
}

Bytes TFirmware::DoConfig() const {
  char text[64];
  std::snprintf(text, sizeof text, "81:%d,%d,%d,%d;82:%d;168:%d", FEmission.BlockNo,
                FEmission.Offset, FEmission.Size, FEmission.Lbs, FMode, FEmissionPrior);
  return EncodeText(text);
}

namespace {

// Writes blocks 8..10 of a copy with one key slot; true when all three writes went through.
TAccessResult WriteLayoutBlocks(TCard& ACard, TKeySlot ASlot, const TKey6& AKey,
                                const std::array<TBlock16, 3>& ABlocks) {
  const int numbers[3] = {kLayoutBlock, kUserDataBlock, kValueBlock};
  for (int i = 0; i < 3; ++i) {
    const TAccessResult res =
        ACard.Write(numbers[i], ASlot, AKey, ABlocks[static_cast<std::size_t>(i)]);
    if (res != TAccessResult::Ok)
      return res;
  }
  return TAccessResult::Ok;
}

// Tries the keys in both slots; the card changes only when every block was written.
TAccessResult WriteLayoutWithKeys(TCard& ACard, const std::vector<TKey6>& AKeys,
                                  const std::array<TBlock16, 3>& ABlocks) {
  TAccessResult worst = TAccessResult::AuthFailed;
  for (const TKey6& key : AKeys) {
    for (TKeySlot slot : {TKeySlot::A, TKeySlot::B}) {
      TCard copy = ACard;
      const TAccessResult res = WriteLayoutBlocks(copy, slot, key, ABlocks);
      if (res == TAccessResult::Ok) {
        ACard = copy;
        return res;
      }
      if (res != TAccessResult::AuthFailed)
        worst = res;
    }
  }
  return worst;
}

}  // namespace

Bytes TFirmware::DoIssue(const Bytes& APayload) {
  if (APayload.size() < 17 || !FCard || !FCard->IsClassic() || FCard->BlockCount() <= kValueBlock) {
    return Word(0);
  }
  if (APayload[0] < 1 || APayload[0] > 5 || APayload.size() - 17 > kMaxUserData)
    return Word(0);
  TIssuedLayout layout;
  layout.Layout = static_cast<TIssueLayout>(APayload[0]);
  layout.Emitent = ReadLE(APayload, 1, 4);
  layout.Emission = static_cast<std::uint16_t>(ReadLE(APayload, 5, 2));
  layout.Value = ReadLE(APayload, 7, 4);
  const TKey6 key = KeyAt(APayload, 11);
  layout.UserData.assign(APayload.begin() + 17, APayload.end());
  const TAccessResult res = WriteLayoutWithKeys(*FCard, {key}, layout.Encode());
  if (res == TAccessResult::Ok)
    FIssueKey = key;
  return Word(StatusOf(res));
}

Bytes TFirmware::DoClear() {
  constexpr std::uint8_t kNotDone = 0xFF;
  if (!FCard || !FCard->IsClassic() || FCard->BlockCount() <= kValueBlock)
    return {kNotDone};
  const std::vector<TKey6> keys = KeyRing();
  const auto layout = ReadLayout(*FCard, keys);
  if (!layout) {
    TBlock16 probe;
    for (const TKey6& key : keys) {
      for (TKeySlot slot : {TKeySlot::A, TKeySlot::B}) {
        if (FCard->Read(kLayoutBlock, slot, key, probe) == TAccessResult::Ok)
          return {0x00};
      }
    }
    return {kNotDone};  // the layout sector cannot be read with any key the reader knows
  }
  if (WriteLayoutWithKeys(*FCard, keys, {}) != TAccessResult::Ok)
    return {kNotDone};
  return {static_cast<std::uint8_t>(layout->Layout)};
}

std::vector<TKey6> TFirmware::KeyRing() const {
  std::vector<TKey6> keys{FEmission.Key};
  for (const TKey6& k : {FIssueKey, kTransportKey}) {
    if (std::find(keys.begin(), keys.end(), k) == keys.end())
      keys.push_back(k);
  }
  return keys;
}

namespace {

TContent ReadContent(const TCard& ACard, const TEmissionParams& AParams,
                     const std::vector<TKey6>& AKeys, bool AParamsFirst) {
  TContent content;
  if (!ACard.IsClassic()) {
    content.Kind = TContent::Uid;
    content.Code = ACard.UID();
    return content;
  }
  if (!AParamsFirst) {
    if (auto layout = ReadLayout(ACard, AKeys)) {
      content.Kind = TContent::Issued;
      content.Layout = *layout;
      return content;
    }
  }
  return ReadPlainCode(ACard, AParams);
}

}  // namespace

Bytes TFirmware::DoKirenCard() const {
  if (!FCard)
    return {0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
  const TContent c = ReadContent(*FCard, FEmission, KeyRing(), FEmissionPrior == 1);
  switch (c.Kind) {
    case TContent::None:
      break;
    case TContent::Error: {
      Bytes rec(10, 0x00);
      rec[0] = rec[1] = rec[2] = 0xFF;
      rec[3] = static_cast<std::uint8_t>(0xD0 | c.Err);
      rec[4] = 0x01;
      return rec;
    }
    case TContent::Uid:
      return UniversalRecord(c.Code, 0x00);
    case TContent::Plain: {
      if (FMode == 1)
        return UniversalRecord(c.Code, 0x00);
      const std::size_t n = c.Code.size();
      if (n <= 5) {
        Bytes rec(5, 0x00);
        std::copy(c.Code.begin(), c.Code.end(), rec.end() - static_cast<std::ptrdiff_t>(n));
        // A short code that starts like a layout marker goes out in the long form.
        if (!(rec[0] == 0xFF && rec[1] == 0xFF && rec[2] == 0xFF))
          return rec;
      }
      Bytes rec(15, 0x00);
      rec[0] = rec[1] = rec[2] = rec[3] = 0xFF;
      rec[4] = 0xFD;
      std::copy(c.Code.begin(), c.Code.end(), rec.end() - static_cast<std::ptrdiff_t>(n));
      return rec;
    }
    case TContent::Issued: {
      const TIssuedLayout& l = c.Layout;
      if (l.Layout == TIssueLayout::User)
        return UniversalRecord(l.UserData, 0x00);
      if (l.Layout == TIssueLayout::UserValue)
        return UniversalRecord(l.UserData, 0x04);
      Bytes rec = l.Layout == TIssueLayout::Sorvel     ? Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}
                  : l.Layout == TIssueLayout::Combined ? Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}
                                                       : Bytes{0xFF, 0xFF, 0xFF, 0xEF, 0x1F};
      const Bytes region = LayoutRegion(l, Uid7(*FCard));
      rec.insert(rec.end(), region.begin(), region.end());
      if (l.HasValue()) {
        AppendBE(rec, l.Value, 4);
        rec.push_back(0x00);
      }
      return rec;
    }
  }
  return {0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
}

Bytes TFirmware::DoKirenCardEx() const {
  Bytes out(18, 0x00);
  if (!FCard)
    return out;
  const auto uid = Uid7(*FCard);
  std::copy(uid.begin(), uid.end(), out.begin() + 1);
  const TContent c = ReadContent(*FCard, FEmission, KeyRing(), FEmissionPrior == 1);
  std::uint8_t flags = 0x01;
  std::string text;
  switch (c.Kind) {
    case TContent::None:
      break;
    case TContent::Error:
      flags = 0x10;  // card in the field, content not readable
      text = ErrorText(c.Err);
      break;
    case TContent::Uid:
      text = BytesToHexTrimmed(c.Code);
      break;
    case TContent::Plain:
      text = FMode == 1 ? BytesToHexTrimmed(c.Code) : BytesToHex(c.Code);
      break;
    case TContent::Issued: {
      const TIssuedLayout& l = c.Layout;
      switch (l.Layout) {
        case TIssueLayout::Sorvel:
        case TIssueLayout::Combined:
          flags |= 0x02;
          text = SorvelCodeText(l, uid);
          break;
        case TIssueLayout::DEVU: {
          flags |= 0x08;
          const Bytes region = LayoutRegion(l, uid);
          const std::size_t n = std::clamp<std::size_t>(FEmission.Size, 1, region.size());
          text = BytesToHex(region.data() + region.size() - n, n);
          break;
        }
        case TIssueLayout::User:
        case TIssueLayout::UserValue:
          text = BytesToHexTrimmed(l.UserData);
          break;
      }
      if (l.HasValue())
        flags |= 0x04;
      out[0] = flags;
      Bytes numbers;
      AppendBE(numbers, l.Emitent, 4);
      AppendBE(numbers, l.Emission, 2);
      AppendBE(numbers, l.HasValue() ? l.Value : 0, 4);
      std::copy(numbers.begin(), numbers.end(), out.begin() + 8);
      break;
    }
  }
  out[0] = flags;
  const Bytes encoded = EncodeText(text);
  out.insert(out.end(), encoded.begin(), encoded.end());
  return out;
}

}  // namespace kiren::sim
