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

Bytes Word(std::uint16_t AValue) {
  return {static_cast<std::uint8_t>(AValue >> 8), static_cast<std::uint8_t>(AValue)};
}

std::uint32_t ReadLE(const Bytes& AData, std::size_t APos, int ASize) {
  std::uint32_t v = 0;
  for (int i = ASize - 1; i >= 0; --i)
    v = v << 8 | AData[APos + static_cast<std::size_t>(i)];
  return v;
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

}  // namespace

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
  FWritesToCard = 0;
}

void TFirmware::PullCardAfterWrites(int AWrites) {
  SetLocked(FPullAfterWrites, std::max(0, AWrites));
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
  FWriteFaulted = FFaults.AppliesTo(cmd) && FFaults.WriteFaults();
  const Bytes answer = Execute(cmd, payload, hasAnswer);
  if (cmd == kCmdWriteBlock && FCard && FPullAfterWrites > 0 &&
      ++FWritesToCard >= FPullAfterWrites) {
    FCard.reset();
    FPullAfterWrites = 0;
  }
  if (!hasAnswer)
    return {};
  return FaultedAnswer(cmd, answer, FFaults, ADelayMs);
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
      return EncodeKirenCardEx(FCard, ContentSettings());
    case kCmdReadKirenCard:
      return EncodeKirenCard(FCard, ContentSettings());
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
  out.push_back(static_cast<std::uint8_t>(FCard->TypeWord() >> 8));
  out.push_back(static_cast<std::uint8_t>(FCard->TypeWord()));
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
  const int blockNo = APayload[0];
  TCard written = *FCard;
  const TAccessResult res = written.Write(blockNo, *slot, *key, data);
  if (res == TAccessResult::Ok)
    StoreWrite(written, blockNo);
  return Word(StatusOf(res));
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

// Takes over a block write done on a copy of the card, or only part of it (or nothing) when a
// write switch is on.
void TFirmware::StoreWrite(const TCard& AWritten, int ABlock) {
  if (!FWriteFaulted) {
    FCard = AWritten;
    return;
  }
  if (FFaults.WriteNotStored || FFaults.WritePartial <= 0)
    return;
  TBlock16 stored = FCard->RawBlock(ABlock);
  const auto n = static_cast<std::ptrdiff_t>(std::min(FFaults.WritePartial, 15));
  std::copy_n(AWritten.RawBlock(ABlock).begin(), n, stored.begin());
  FCard->SetRawBlock(ABlock, stored);
}

TEmissionParams TFirmware::EffectiveEmission() const {
  TEmissionParams p = FEmission;
  if (FFaults.EmissionBlock >= 0)
    p.BlockNo = static_cast<std::uint8_t>(FFaults.EmissionBlock);
  if (FFaults.EmissionKey)
    p.Key = *FFaults.EmissionKey;
  return p;
}

std::vector<TKey6> TFirmware::KeyRing() const {
  std::vector<TKey6> keys{EffectiveEmission().Key};
  for (const TKey6& k : {FIssueKey, kTransportKey}) {
    if (std::find(keys.begin(), keys.end(), k) == keys.end())
      keys.push_back(k);
  }
  return keys;
}

TContentSettings TFirmware::ContentSettings() const {
  return {.Emission = EffectiveEmission(),
          .Keys = KeyRing(),
          .Mode = FMode,
          .EmissionPrior = FEmissionPrior};
}

}  // namespace kiren::sim
