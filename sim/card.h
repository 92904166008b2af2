// Mifare card model of the virtual reader: card kinds, UIDs, Classic memory with sector
// trailers and the published access conditions, the reader's issued-layout storage, presets.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace kiren::sim {

using TKey6 = std::array<std::uint8_t, 6>;
using TBlock16 = std::array<std::uint8_t, 16>;

enum class TCardKind { Classic1K, Classic4K, Mini, PlusS1K, Ultralight, DESFire };

enum class TKeySlot { A, B };

// Outcome of one block access.
enum class TAccessResult {
  Ok,
  NoBlock,     // the card has no such block (or no Classic memory at all)
  AuthFailed,  // the key does not match the sector trailer
  Denied,      // authenticated, but the access conditions forbid the operation
};

// The transport key of new cards and the two access settings the tool deals with.
constexpr TKey6 kTransportKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Access bytes 6..9 of a new card: data blocks 000 (all with A or B), trailer 001.
constexpr std::array<std::uint8_t, 4> kTransportAccess = {0xFF, 0x07, 0x80, 0x69};
// Access bytes the card-code write puts into a trailer: data blocks 100 (read A|B, write B),
// trailer 011 (keys and access bits written with B only).
constexpr std::array<std::uint8_t, 4> kSecuredAccess = {0x78, 0x77, 0x88, 0x00};

// Access conditions of one sector: C1C2C3 of data groups 0..2 and of the trailer (index 3),
// each as the 3-bit number C1*4 + C2*2 + C3.
struct TAccessBits {
  std::array<std::uint8_t, 4> C{};

  // Decodes access bytes 6..8 of a trailer; empty when the inverted copies disagree.
  static std::optional<TAccessBits> Decode(std::uint8_t AB6, std::uint8_t AB7, std::uint8_t AB8);
  // The three access bytes of these conditions.
  std::array<std::uint8_t, 3> Encode() const;
};

// Access rules of the published Mifare Classic table. AKeyBReadable is the trailer's own
// setting: when key B can be read, key B grants nothing.
bool DataAccessAllowed(std::uint8_t AC, TKeySlot ASlot, bool AWrite);
enum class TTrailerPart { KeyA, AccessBits, KeyB };
bool TrailerAccessAllowed(std::uint8_t AC, TKeySlot ASlot, TTrailerPart APart, bool AWrite);
bool KeyBReadable(std::uint8_t ATrailerC);

class TCard {
 public:
  // A card in the transport setting: every trailer FF..FF / FF 07 80 69 / FF..FF, data zero,
  // block 0 with UID, BCC, SAK and type word. AUid must hold 4 or 7 bytes (else a default).
  static TCard Make(TCardKind AKind, const Bytes& AUid);

  TCardKind Kind() const { return FKind; }
  std::uint16_t TypeWord() const;
  std::uint8_t SAK() const;
  const Bytes& UID() const { return FUid; }
  std::string KindName() const;

  // Classic memory (Classic 1K, 4K, Mini, Plus S 1K in level 1); others have none.
  bool IsClassic() const;
  int SectorCount() const;
  int BlockCount() const { return static_cast<int>(FBlocks.size()); }
  // Sector arithmetic: 4-block sectors up to sector 31, then 16-block sectors.
  static int SectorOf(int ABlock);
  static int FirstBlock(int ASector);
  static int BlocksIn(int ASector);
  static int TrailerOf(int ASector) { return FirstBlock(ASector) + BlocksIn(ASector) - 1; }
  bool IsTrailer(int ABlock) const;

  // Raw memory, no keys checked (console dump, presets, tests).
  const TBlock16& RawBlock(int ABlock) const {
    return FBlocks.at(static_cast<std::size_t>(ABlock));
  }
  void SetRawBlock(int ABlock, const TBlock16& AData);
  // Writes a whole trailer: key A, access bytes 6..9, key B.
  void SetTrailer(int ASector, const TKey6& AKeyA, const std::array<std::uint8_t, 4>& AAccess,
                  const TKey6& AKeyB);

  // Keyed access as a reader performs it: authenticate the block's sector with the key in
  // the slot, then read or write under the access conditions. A trailer read shows key A as
  // zeros and key B only where it may be read; a trailer write changes only the parts the key
  // may write and is refused when it would store inconsistent access bits; block 0 is
  // read-only. A sector whose stored access bytes are inconsistent refuses every access.
  TAccessResult Authenticate(int ABlock, TKeySlot ASlot, const TKey6& AKey) const;
  TAccessResult Read(int ABlock, TKeySlot ASlot, const TKey6& AKey, TBlock16& AOut) const;
  TAccessResult Write(int ABlock, TKeySlot ASlot, const TKey6& AKey, const TBlock16& AData);

  // Sector as text lines "blk NN: XX XX .." with the decoded access conditions.
  std::string DumpSector(int ASector) const;

 private:
  TCardKind FKind = TCardKind::Classic1K;
  Bytes FUid;
  std::vector<TBlock16> FBlocks;
  // Empty when the trailer's access bytes are inconsistent (the sector is blocked).
  std::optional<TAccessBits> AccessOf(int ASector) const;
};

// ---- Issued layouts (command 0xA7) -------------------------------------------------------
// The reader keeps an issued layout in sector 2 (blocks 8, 9, 10) of a Classic card:
//   block 8:  'K' 'R' 'N' layout(1..5) emitent(4, little-endian) emission(2, little-endian)
//             user-data length(1) 00 00 00 00 00
//   block 9:  user data (up to 14 bytes), zero padded
//   block 10: a Mifare value block holding the value field, for the layouts with a counter
//             (2, 3, 5); zeros otherwise
// The sector trailer is left as it was: the factory key stays the card's key.
constexpr int kLayoutSector = 2;
constexpr int kLayoutBlock = 8;
constexpr int kUserDataBlock = 9;
constexpr int kValueBlock = 10;
constexpr std::size_t kMaxUserData = 14;

enum class TIssueLayout : std::uint8_t {
  Sorvel = 1,
  DEVU = 2,
  Combined = 3,
  User = 4,
  UserValue = 5,
};

struct TIssuedLayout {
  TIssueLayout Layout = TIssueLayout::Sorvel;
  std::uint32_t Emitent = 0;
  std::uint16_t Emission = 0;
  std::uint32_t Value = 0;
  Bytes UserData;

  bool HasValue() const;
  // Blocks 8, 9, 10 of this layout.
  std::array<TBlock16, 3> Encode() const;
  // Layout from blocks 8, 9, 10; empty when block 8 carries no layout signature.
  static std::optional<TIssuedLayout> Decode(const TBlock16& ALayoutBlock,
                                             const TBlock16& AUserBlock,
                                             const TBlock16& AValueBlock);
};

// Mifare value block: value, inverted value, value (little-endian), address bytes.
TBlock16 MakeValueBlock(std::uint32_t AValue, std::uint8_t AAddr);
std::optional<std::uint32_t> ParseValueBlock(const TBlock16& ABlock);

// ---- Presets -----------------------------------------------------------------------------
// Default UIDs: 4 bytes for Classic cards, 7 bytes for Ultralight and DESFire.
Bytes DefaultUid(TCardKind AKind);

// Keys and code of the "written" preset: sector 1 secured with 78 77 88, block 4 with a code.
constexpr TKey6 kWrittenKeyA = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
constexpr TKey6 kWrittenKeyB = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
constexpr int kWrittenCodeBlock = 4;

// Emitent, emission and user data of the issued presets.
constexpr std::uint32_t kPresetEmitent = 100;
constexpr std::uint16_t kPresetEmission = 7;
Bytes PresetUserData();  // 01 02 .. 0A

TCard NewClassic1K(const Bytes& AUid = {});
TCard NewClassic4K(const Bytes& AUid = {});
TCard NewMini(const Bytes& AUid = {});
TCard NewPlusS1K(const Bytes& AUid = {});
TCard NewUltralight(const Bytes& AUid = {});
TCard NewDESFire(const Bytes& AUid = {});
// Block 4 = 01 23 45 67 89 00.., sector 1 trailer kWrittenKeyA / 78 77 88 00 / kWrittenKeyB.
TCard WrittenClassic1K(const Bytes& AUid = {});
// A transport 1K card issued in the layout with the preset emitent, emission and user data;
// the value field is what the tool sends for that layout (0 or FFFFFFFF).
TCard IssuedClassic1K(TIssueLayout ALayout, const Bytes& AUid = {});

// Named presets for the console and scripts: new1k, written, sorvel, devu, combined, user,
// user-value, 4k, mini, plus, ultralight, desfire.
std::vector<std::string> PresetNames();
std::optional<TCard> MakePreset(const std::string& AName, const Bytes& AUid = {});

}  // namespace kiren::sim
