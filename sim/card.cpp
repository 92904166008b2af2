#include "sim/card.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace kiren::sim {

namespace {

std::uint8_t Nibble(const std::array<std::uint8_t, 4>& AC, int ABit) {
  std::uint8_t n = 0;
  for (int i = 0; i < 4; ++i) {
    if (AC[static_cast<std::size_t>(i)] >> ABit & 1)
      n |= static_cast<std::uint8_t>(1 << i);
  }
  return n;
}

}  // namespace

// ---- Access conditions -------------------------------------------------------------------

std::optional<TAccessBits> TAccessBits::Decode(std::uint8_t AB6, std::uint8_t AB7,
                                               std::uint8_t AB8) {
  const int c1 = AB7 >> 4, c2 = AB8 & 0x0F, c3 = AB8 >> 4;
  const int nc1 = AB6 & 0x0F, nc2 = AB6 >> 4, nc3 = AB7 & 0x0F;
  if ((c1 ^ nc1) != 0x0F || (c2 ^ nc2) != 0x0F || (c3 ^ nc3) != 0x0F)
    return std::nullopt;
  TAccessBits bits;
  for (int i = 0; i < 4; ++i) {
    bits.C[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>((c1 >> i & 1) << 2 | (c2 >> i & 1) << 1 | (c3 >> i & 1));
  }
  return bits;
}

std::array<std::uint8_t, 3> TAccessBits::Encode() const {
  const std::uint8_t c1 = Nibble(C, 2), c2 = Nibble(C, 1), c3 = Nibble(C, 0);
  return {static_cast<std::uint8_t>((~c2 & 0x0F) << 4 | (~c1 & 0x0F)),
          static_cast<std::uint8_t>(c1 << 4 | (~c3 & 0x0F)),
          static_cast<std::uint8_t>(c3 << 4 | c2)};
}

bool KeyBReadable(std::uint8_t ATrailerC) {
  return ATrailerC == 0 || ATrailerC == 1 || ATrailerC == 2;
}

namespace {

// Who may do something: never, key A only, key B only, either key.
enum TWho : std::uint8_t { kNever = 0, kA = 1, kB = 2, kAB = 3 };

bool Permits(TWho AWho, TKeySlot ASlot) {
  return (AWho & (ASlot == TKeySlot::A ? kA : kB)) != 0;
}

// Indexed by C1C2C3 as a number (C1 * 4 + C2 * 2 + C3).
constexpr TWho kDataRead[8] = {kAB, kAB, kAB, kB, kAB, kB, kAB, kNever};
constexpr TWho kDataWrite[8] = {kAB, kNever, kNever, kB, kB, kNever, kB, kNever};
constexpr TWho kKeyAWrite[8] = {kA, kA, kNever, kB, kB, kNever, kNever, kNever};
constexpr TWho kAccessRead[8] = {kA, kA, kA, kAB, kAB, kAB, kAB, kAB};
constexpr TWho kAccessWrite[8] = {kNever, kA, kNever, kB, kNever, kB, kNever, kNever};
constexpr TWho kKeyBRead[8] = {kA, kA, kA, kNever, kNever, kNever, kNever, kNever};
constexpr TWho kKeyBWrite[8] = {kA, kA, kNever, kB, kB, kNever, kNever, kNever};

}  // namespace

bool DataAccessAllowed(std::uint8_t AC, TKeySlot ASlot, bool AWrite) {
  return Permits((AWrite ? kDataWrite : kDataRead)[AC & 7], ASlot);
}

bool TrailerAccessAllowed(std::uint8_t AC, TKeySlot ASlot, TTrailerPart APart, bool AWrite) {
  const int c = AC & 7;
  switch (APart) {
    case TTrailerPart::KeyA:
      return AWrite && Permits(kKeyAWrite[c], ASlot);
    case TTrailerPart::AccessBits:
      return Permits((AWrite ? kAccessWrite : kAccessRead)[c], ASlot);
    case TTrailerPart::KeyB:
      return Permits((AWrite ? kKeyBWrite : kKeyBRead)[c], ASlot);
  }
  return false;
}

// ---- Card --------------------------------------------------------------------------------

TCard TCard::Make(TCardKind AKind, const Bytes& AUid) {
  TCard card;
  card.FKind = AKind;
  card.FUid = (AUid.size() == 4 || AUid.size() == 7) ? AUid : DefaultUid(AKind);
  if (!card.IsClassic())
    return card;
  int blocks = 0;
  for (int s = 0; s < card.SectorCount(); ++s)
    blocks += BlocksIn(s);
  card.FBlocks.assign(static_cast<std::size_t>(blocks), TBlock16{});
  for (int s = 0; s < card.SectorCount(); ++s) {
    card.SetTrailer(s, kTransportKey, kTransportAccess, kTransportKey);
  }
  TBlock16 b0{};
  std::copy(card.FUid.begin(), card.FUid.end(), b0.begin());
  std::size_t pos = card.FUid.size();
  if (card.FUid.size() == 4) {
    b0[pos++] =
        static_cast<std::uint8_t>(card.FUid[0] ^ card.FUid[1] ^ card.FUid[2] ^ card.FUid[3]);
  }
  b0[pos++] = card.SAK();
  b0[pos++] = static_cast<std::uint8_t>(card.TypeWord() >> 8);
  b0[pos] = static_cast<std::uint8_t>(card.TypeWord());
  card.FBlocks[0] = b0;
  return card;
}

std::uint16_t TCard::TypeWord() const {
  switch (FKind) {
    case TCardKind::Classic4K:
      return 0x0200;
    case TCardKind::Ultralight:
      return 0x4400;
    case TCardKind::DESFire:
      return 0x4403;
    default:
      return 0x0400;
  }
}

std::uint8_t TCard::SAK() const {
  switch (FKind) {
    case TCardKind::Classic1K:
      return 0x08;
    case TCardKind::Classic4K:
      return 0x18;
    case TCardKind::Mini:
      return 0x09;
    case TCardKind::PlusS1K:
      return 0x88;
    case TCardKind::Ultralight:
      return 0x00;
    case TCardKind::DESFire:
      return 0x20;
  }
  return 0;
}

std::string TCard::KindName() const {
  switch (FKind) {
    case TCardKind::Classic1K:
      return "Mifare Classic 1K";
    case TCardKind::Classic4K:
      return "Mifare Classic 4K";
    case TCardKind::Mini:
      return "Mifare Mini";
    case TCardKind::PlusS1K:
      return "Mifare Plus S 1K";
    case TCardKind::Ultralight:
      return "Mifare Ultralight";
    case TCardKind::DESFire:
      return "DESFire";
  }
  return {};
}

bool TCard::IsClassic() const {
  return FKind != TCardKind::Ultralight && FKind != TCardKind::DESFire;
}

int TCard::SectorCount() const {
  switch (FKind) {
    case TCardKind::Classic4K:
      return 40;
    case TCardKind::Mini:
      return 5;
    case TCardKind::Classic1K:
    case TCardKind::PlusS1K:
      return 16;
    default:
      return 0;
  }
}

int TCard::SectorOf(int ABlock) {
  return ABlock < 128 ? ABlock / 4 : 32 + (ABlock - 128) / 16;
}

int TCard::FirstBlock(int ASector) {
  return ASector < 32 ? ASector * 4 : 16 * ASector - 384;
}

int TCard::BlocksIn(int ASector) {
  return ASector < 32 ? 4 : 16;
}

bool TCard::IsTrailer(int ABlock) const {
  return ABlock >= 0 && ABlock < BlockCount() && ABlock == TrailerOf(SectorOf(ABlock));
}

void TCard::SetRawBlock(int ABlock, const TBlock16& AData) {
  FBlocks.at(static_cast<std::size_t>(ABlock)) = AData;
}

void TCard::SetTrailer(int ASector, const TKey6& AKeyA, const std::array<std::uint8_t, 4>& AAccess,
                       const TKey6& AKeyB) {
  TBlock16 t{};
  std::copy(AKeyA.begin(), AKeyA.end(), t.begin());
  std::copy(AAccess.begin(), AAccess.end(), t.begin() + 6);
  std::copy(AKeyB.begin(), AKeyB.end(), t.begin() + 10);
  SetRawBlock(TrailerOf(ASector), t);
}

std::optional<TAccessBits> TCard::AccessOf(int ASector) const {
  const TBlock16& t = RawBlock(TrailerOf(ASector));
  return TAccessBits::Decode(t[6], t[7], t[8]);
}

TAccessResult TCard::Authenticate(int ABlock, TKeySlot ASlot, const TKey6& AKey) const {
  if (!IsClassic() || ABlock < 0 || ABlock >= BlockCount())
    return TAccessResult::NoBlock;
  const TBlock16& t = RawBlock(TrailerOf(SectorOf(ABlock)));
  const auto first = t.begin() + (ASlot == TKeySlot::A ? 0 : 10);
  return std::equal(AKey.begin(), AKey.end(), first) ? TAccessResult::Ok
                                                     : TAccessResult::AuthFailed;
}

namespace {

std::uint8_t DataCondition(const TAccessBits& ABits, int ABlock, int ASector) {
  const int index = ABlock - TCard::FirstBlock(ASector);
  const int group = TCard::BlocksIn(ASector) == 4 ? index : index / 5;
  return ABits.C[static_cast<std::size_t>(group)];
}

bool KeyUsable(const TAccessBits& ABits, TKeySlot ASlot) {
  return ASlot == TKeySlot::A || !KeyBReadable(ABits.C[3]);
}

}  // namespace

TAccessResult TCard::Read(int ABlock, TKeySlot ASlot, const TKey6& AKey, TBlock16& AOut) const {
  const TAccessResult auth = Authenticate(ABlock, ASlot, AKey);
  if (auth != TAccessResult::Ok)
    return auth;
  const int sector = SectorOf(ABlock);
  // A sector whose access bytes disagree with their inverted copies is blocked for good: not
  // even its trailer can be read.
  const auto access = AccessOf(sector);
  if (!access || !KeyUsable(*access, ASlot))
    return TAccessResult::Denied;
  const TAccessBits& bits = *access;
  const TBlock16& raw = RawBlock(ABlock);
  if (!IsTrailer(ABlock)) {
    if (!DataAccessAllowed(DataCondition(bits, ABlock, sector), ASlot, false)) {
      return TAccessResult::Denied;
    }
    AOut = raw;
    return TAccessResult::Ok;
  }
  AOut = TBlock16{};
  const std::uint8_t c = bits.C[3];
  if (TrailerAccessAllowed(c, ASlot, TTrailerPart::AccessBits, false)) {
    std::copy(raw.begin() + 6, raw.begin() + 10, AOut.begin() + 6);
  }
  if (TrailerAccessAllowed(c, ASlot, TTrailerPart::KeyB, false)) {
    std::copy(raw.begin() + 10, raw.end(), AOut.begin() + 10);
  }
  return TAccessResult::Ok;
}

TAccessResult TCard::Write(int ABlock, TKeySlot ASlot, const TKey6& AKey, const TBlock16& AData) {
  const TAccessResult auth = Authenticate(ABlock, ASlot, AKey);
  if (auth != TAccessResult::Ok)
    return auth;
  const int sector = SectorOf(ABlock);
  const auto current = AccessOf(sector);
  if (!current || !KeyUsable(*current, ASlot) || ABlock == 0)
    return TAccessResult::Denied;
  const TAccessBits& bits = *current;
  if (!IsTrailer(ABlock)) {
    if (!DataAccessAllowed(DataCondition(bits, ABlock, sector), ASlot, true)) {
      return TAccessResult::Denied;
    }
    SetRawBlock(ABlock, AData);
    return TAccessResult::Ok;
  }
  const std::uint8_t c = bits.C[3];
  const bool keyA = TrailerAccessAllowed(c, ASlot, TTrailerPart::KeyA, true);
  const bool access = TrailerAccessAllowed(c, ASlot, TTrailerPart::AccessBits, true);
  const bool keyB = TrailerAccessAllowed(c, ASlot, TTrailerPart::KeyB, true);
  if (!keyA && !access && !keyB)
    return TAccessResult::Denied;
  // Inconsistent access bits would lock the sector for good; refuse them.
  if (access && !TAccessBits::Decode(AData[6], AData[7], AData[8]))
    return TAccessResult::Denied;
  TBlock16 t = RawBlock(ABlock);
  if (keyA)
    std::copy(AData.begin(), AData.begin() + 6, t.begin());
  if (access)
    std::copy(AData.begin() + 6, AData.begin() + 10, t.begin() + 6);
  if (keyB)
    std::copy(AData.begin() + 10, AData.end(), t.begin() + 10);
  SetRawBlock(ABlock, t);
  return TAccessResult::Ok;
}

std::string TCard::DumpSector(int ASector) const {
  if (!IsClassic() || ASector < 0 || ASector >= SectorCount())
    return {};
  std::string text;
  char line[96];
  for (int b = FirstBlock(ASector); b <= TrailerOf(ASector); ++b) {
    const TBlock16& d = RawBlock(b);
    std::snprintf(line, sizeof line, "blk %3d:", b);
    text += line;
    for (std::uint8_t v : d) {
      std::snprintf(line, sizeof line, " %02X", v);
      text += line;
    }
    text += "\n";
  }
  const TBlock16& t = RawBlock(TrailerOf(ASector));
  const auto bits = TAccessBits::Decode(t[6], t[7], t[8]);
  if (!bits) {
    text += "access: inconsistent (sector locked)\n";
    return text;
  }
  text += "access C1C2C3:";
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t c = bits->C[static_cast<std::size_t>(i)];
    std::snprintf(line, sizeof line, " %s%d%d%d", i == 3 ? "trailer " : "", c >> 2 & 1, c >> 1 & 1,
                  c & 1);
    text += line;
  }
  text += "\n";
  return text;
}

// ---- Issued layouts ----------------------------------------------------------------------

namespace {

constexpr std::uint8_t kSignature[3] = {'K', 'R', 'N'};

void PutLE(TBlock16& ABlock, std::size_t APos, std::uint32_t AValue, int ASize) {
  for (int i = 0; i < ASize; ++i) {
    ABlock[APos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(AValue >> (8 * i));
  }
}

std::uint32_t GetLE(const TBlock16& ABlock, std::size_t APos, int ASize) {
  std::uint32_t v = 0;
  for (int i = ASize - 1; i >= 0; --i)
    v = v << 8 | ABlock[APos + static_cast<std::size_t>(i)];
  return v;
}

}  // namespace

bool TIssuedLayout::HasValue() const {
  return Layout == TIssueLayout::DEVU || Layout == TIssueLayout::Combined ||
         Layout == TIssueLayout::UserValue;
}

std::array<TBlock16, 3> TIssuedLayout::Encode() const {
  std::array<TBlock16, 3> blocks{};
  TBlock16& head = blocks[0];
  std::copy(std::begin(kSignature), std::end(kSignature), head.begin());
  head[3] = static_cast<std::uint8_t>(Layout);
  PutLE(head, 4, Emitent, 4);
  PutLE(head, 8, Emission, 2);
  const std::size_t n = std::min(UserData.size(), kMaxUserData);
  head[10] = static_cast<std::uint8_t>(n);
  std::copy(UserData.begin(), UserData.begin() + static_cast<std::ptrdiff_t>(n), blocks[1].begin());
  if (HasValue())
    blocks[2] = MakeValueBlock(Value, kValueBlock);
  return blocks;
}

std::optional<TIssuedLayout> TIssuedLayout::Decode(const TBlock16& ALayoutBlock,
                                                   const TBlock16& AUserBlock,
                                                   const TBlock16& AValueBlock) {
  if (!std::equal(std::begin(kSignature), std::end(kSignature), ALayoutBlock.begin())) {
    return std::nullopt;
  }
  const std::uint8_t layout = ALayoutBlock[3];
  if (layout < 1 || layout > 5 || ALayoutBlock[10] > kMaxUserData)
    return std::nullopt;
  TIssuedLayout l;
  l.Layout = static_cast<TIssueLayout>(layout);
  l.Emitent = GetLE(ALayoutBlock, 4, 4);
  l.Emission = static_cast<std::uint16_t>(GetLE(ALayoutBlock, 8, 2));
  l.UserData.assign(AUserBlock.begin(), AUserBlock.begin() + ALayoutBlock[10]);
  if (l.HasValue())
    l.Value = ParseValueBlock(AValueBlock).value_or(0);
  return l;
}

TBlock16 MakeValueBlock(std::uint32_t AValue, std::uint8_t AAddr) {
  TBlock16 b{};
  PutLE(b, 0, AValue, 4);
  PutLE(b, 4, ~AValue, 4);
  PutLE(b, 8, AValue, 4);
  b[12] = AAddr;
  b[13] = static_cast<std::uint8_t>(~AAddr);
  b[14] = AAddr;
  b[15] = static_cast<std::uint8_t>(~AAddr);
  return b;
}

std::optional<std::uint32_t> ParseValueBlock(const TBlock16& ABlock) {
  const std::uint32_t v = GetLE(ABlock, 0, 4);
  if (GetLE(ABlock, 4, 4) != ~v || GetLE(ABlock, 8, 4) != v)
    return std::nullopt;
  if (ABlock[12] != ABlock[14] || (ABlock[12] ^ ABlock[13]) != 0xFF ||
      (ABlock[14] ^ ABlock[15]) != 0xFF) {
    return std::nullopt;
  }
  return v;
}

// ---- Presets -----------------------------------------------------------------------------

Bytes DefaultUid(TCardKind AKind) {
  switch (AKind) {
    case TCardKind::Ultralight:
      return {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    case TCardKind::DESFire:
      return {0x04, 0x5A, 0x6B, 0x7C, 0x8D, 0x9E, 0x80};
    case TCardKind::Classic4K:
      return {0x5E, 0x6F, 0x7A, 0x8B};
    default:
      return {0xA1, 0xB2, 0xC3, 0xD4};
  }
}

Bytes PresetUserData() {
  return {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};
}

TCard NewClassic1K(const Bytes& AUid) {
  return TCard::Make(TCardKind::Classic1K, AUid);
}
TCard NewClassic4K(const Bytes& AUid) {
  return TCard::Make(TCardKind::Classic4K, AUid);
}
TCard NewMini(const Bytes& AUid) {
  return TCard::Make(TCardKind::Mini, AUid);
}
TCard NewPlusS1K(const Bytes& AUid) {
  return TCard::Make(TCardKind::PlusS1K, AUid);
}
TCard NewUltralight(const Bytes& AUid) {
  return TCard::Make(TCardKind::Ultralight, AUid);
}
TCard NewDESFire(const Bytes& AUid) {
  return TCard::Make(TCardKind::DESFire, AUid);
}

TCard WrittenClassic1K(const Bytes& AUid) {
  TCard card = NewClassic1K(AUid);
  card.SetRawBlock(kWrittenCodeBlock, {0x01, 0x23, 0x45, 0x67, 0x89});
  card.SetTrailer(TCard::SectorOf(kWrittenCodeBlock), kWrittenKeyA, kSecuredAccess, kWrittenKeyB);
  return card;
}

TCard IssuedClassic1K(TIssueLayout ALayout, const Bytes& AUid) {
  TCard card = NewClassic1K(AUid);
  TIssuedLayout layout;
  layout.Layout = ALayout;
  layout.Emitent = kPresetEmitent;
  layout.Emission = kPresetEmission;
  layout.Value = layout.HasValue() ? 0xFFFFFFFFu : 0u;
  layout.UserData = PresetUserData();
  const auto blocks = layout.Encode();
  card.SetRawBlock(kLayoutBlock, blocks[0]);
  card.SetRawBlock(kUserDataBlock, blocks[1]);
  card.SetRawBlock(kValueBlock, blocks[2]);
  return card;
}

namespace {

using TPresetFactory = TCard (*)(const Bytes&);

struct TPreset {
  const char* Name;
  TPresetFactory Make;
};

// In the order the console lists them.
constexpr TPreset kPresets[] = {
    {"new1k", NewClassic1K},
    {"written", WrittenClassic1K},
    {"sorvel", [](const Bytes& AUid) { return IssuedClassic1K(TIssueLayout::Sorvel, AUid); }},
    {"devu", [](const Bytes& AUid) { return IssuedClassic1K(TIssueLayout::DEVU, AUid); }},
    {"combined", [](const Bytes& AUid) { return IssuedClassic1K(TIssueLayout::Combined, AUid); }},
    {"user", [](const Bytes& AUid) { return IssuedClassic1K(TIssueLayout::User, AUid); }},
    {"user-value",
     [](const Bytes& AUid) { return IssuedClassic1K(TIssueLayout::UserValue, AUid); }},
    {"4k", NewClassic4K},
    {"mini", NewMini},
    {"plus", NewPlusS1K},
    {"ultralight", NewUltralight},
    {"desfire", NewDESFire},
};

}  // namespace

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  for (const TPreset& p : kPresets)
    names.emplace_back(p.Name);
  return names;
}

std::optional<TCard> MakePreset(const std::string& AName, const Bytes& AUid) {
  for (const TPreset& p : kPresets) {
    if (AName == p.Name)
      return p.Make(AUid);
  }
  return std::nullopt;
}

}  // namespace kiren::sim
