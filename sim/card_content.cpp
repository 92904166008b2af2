#include "sim/card_content.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/codepage.h"
#include "base/text_utils.h"
#include "protocol/records.h"

namespace kiren::sim {

namespace {

// Error numbers the reader reports when it cannot read a card code.
constexpr int kErrNoBlock = 1;
constexpr int kErrAuth = 2;
constexpr int kErrDenied = 3;

void AppendBE(Bytes& AOut, std::uint32_t AValue, int ASize) {
  for (int i = ASize - 1; i >= 0; --i)
    AOut.push_back(static_cast<std::uint8_t>(AValue >> (8 * i)));
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
  // Parameters set through the API may ask for more than the answers can carry: the reader
  // never takes more than the emission size limit.
  const std::size_t size = std::min<std::size_t>(AParams.Size, kMaxEmissionSize);
  const std::size_t from = std::min<std::size_t>(AParams.Offset, block.size());
  const std::size_t to = std::min<std::size_t>(from + size, block.size());
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

TContent ReadContent(const TCard& ACard, const TContentSettings& ASettings) {
  TContent content;
  if (!ACard.IsClassic()) {
    content.Kind = TContent::Uid;
    content.Code = ACard.UID();
    return content;
  }
  if (ASettings.EmissionPrior != 1) {
    if (auto layout = ReadLayout(ACard, ASettings.Keys)) {
      content.Kind = TContent::Issued;
      content.Layout = *layout;
      return content;
    }
  }
  return ReadPlainCode(ACard, ASettings.Emission);
}

}  // namespace

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

Bytes EncodeKirenCard(const std::optional<TCard>& ACard, const TContentSettings& ASettings) {
  if (!ACard)
    return {0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
  const TContent c = ReadContent(*ACard, ASettings);
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
      if (ASettings.Mode == 1)
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
      const Bytes region = LayoutRegion(l, Uid7(*ACard));
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

Bytes EncodeKirenCardEx(const std::optional<TCard>& ACard, const TContentSettings& ASettings) {
  Bytes out(18, 0x00);
  if (!ACard)
    return out;
  const auto uid = Uid7(*ACard);
  std::copy(uid.begin(), uid.end(), out.begin() + 1);
  const TContent c = ReadContent(*ACard, ASettings);
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
      text = ASettings.Mode == 1 ? BytesToHexTrimmed(c.Code) : BytesToHex(c.Code);
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
          const std::size_t n = std::clamp<std::size_t>(ASettings.Emission.Size, 1, region.size());
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
