#include "protocol/access_conditions.h"

#include "base/text_utils.h"

namespace kiren {

namespace {

constexpr auto N = TAccessKeys::Never;
constexpr auto A = TAccessKeys::KeyA;
constexpr auto B = TAccessKeys::KeyB;
constexpr auto AB = TAccessKeys::KeyAOrB;

// Data blocks, indexed by C1 C2 C3: read, write, increment, decrement/transfer/restore.
constexpr std::array<std::array<TAccessKeys, 4>, 8> kDataTable{{
    {AB, AB, AB, AB},  // 000 transport configuration
    {AB, N, N, AB},    // 001 value block
    {AB, N, N, N},     // 010 read/write block
    {B, B, N, N},      // 011
    {AB, B, N, N},     // 100
    {B, N, N, N},      // 101
    {AB, B, B, AB},    // 110 value block
    {N, N, N, N},      // 111
}};

// Sector trailer, indexed by C1 C2 C3: key A write, access bits read and write, key B read and
// write.
constexpr std::array<std::array<TAccessKeys, 5>, 8> kTrailerTable{{
    {A, A, N, A, A},   // 000 key B readable
    {A, A, A, A, A},   // 001 key B readable, transport configuration
    {N, A, N, A, N},   // 010 key B readable
    {B, AB, B, N, B},  // 011
    {B, AB, N, N, B},  // 100
    {N, AB, B, N, N},  // 101
    {N, AB, N, N, N},  // 110
    {N, AB, N, N, N},  // 111
}};

bool Bit(std::uint8_t AByte, int ABit) {
  return (AByte >> ABit) & 1;
}

// C1 C2 C3 of block ABlock (3 for the trailer) from the plain bits of bytes 7 and 8.
std::uint8_t ConditionBits(std::uint8_t AByte7, std::uint8_t AByte8, int ABlock) {
  const int c1 = Bit(AByte7, 4 + ABlock);
  const int c2 = Bit(AByte8, ABlock);
  const int c3 = Bit(AByte8, 4 + ABlock);
  return static_cast<std::uint8_t>(c1 << 2 | c2 << 1 | c3);
}

// Byte 6 holds ~C2 (high nibble) and ~C1 (low nibble); byte 7's low nibble holds ~C3.
bool InvertedCopiesMatch(std::uint8_t AByte6, std::uint8_t AByte7, std::uint8_t AByte8) {
  const std::uint8_t c1 = AByte7 >> 4, c2 = AByte8 & 0x0F, c3 = AByte8 >> 4;
  return (~AByte6 & 0x0F) == c1 && ((~AByte6 >> 4) & 0x0F) == c2 && (~AByte7 & 0x0F) == c3;
}

TAccessKeys WithoutKeyB(TAccessKeys AKeys) {
  return static_cast<TAccessKeys>(static_cast<std::uint8_t>(AKeys) &
                                  static_cast<std::uint8_t>(TAccessKeys::KeyA));
}

std::string BitsText(std::uint8_t ABits) {
  std::string out;
  for (int i = 2; i >= 0; --i)
    out += Bit(ABits, i) ? '1' : '0';
  return out;
}

// Names of the data block ABlock (0-2) of the sector whose trailer is ATrailerBlock.
std::string DataBlockName(int ABlock, int ATrailerBlock) {
  if (ATrailerBlock < 0)
    return "Блок " + std::to_string(ABlock) + " сектора";
  if (ATrailerBlock < 128) {
    return "Блок " + std::to_string(ATrailerBlock - 3 + ABlock);
  }
  const int first = ATrailerBlock - 15 + ABlock * 5;
  return "Блоки " + std::to_string(first) + "–" + std::to_string(first + 4);
}

std::string TrailerName(int ATrailerBlock) {
  return ATrailerBlock < 0 ? std::string("Трейлер сектора")
                           : "Трейлер сектора (блок " + std::to_string(ATrailerBlock) + ")";
}

}  // namespace

TAccessConditions DecodeAccessConditions(std::uint8_t AByte6, std::uint8_t AByte7,
                                         std::uint8_t AByte8, std::uint8_t AByte9) {
  TAccessConditions out;
  out.AccessBytes = {AByte6, AByte7, AByte8};
  out.UserByte = AByte9;
  out.Consistent = InvertedCopiesMatch(AByte6, AByte7, AByte8);
  for (int i = 0; i < 3; ++i)
    out.Blocks[i].Bits = ConditionBits(AByte7, AByte8, i);
  out.Trailer.Bits = ConditionBits(AByte7, AByte8, 3);
  if (!out.Consistent)
    return out;

  const auto& t = kTrailerTable[out.Trailer.Bits];
  out.Trailer.KeyAWrite = t[0];
  out.Trailer.AccessBitsRead = t[1];
  out.Trailer.AccessBitsWrite = t[2];
  out.Trailer.KeyBRead = t[3];
  out.Trailer.KeyBWrite = t[4];
  out.KeyBReadable = t[3] != N;
  for (auto& block : out.Blocks) {
    const auto& d = kDataTable[block.Bits];
    block.Read = d[0];
    block.Write = d[1];
    block.Increment = d[2];
    block.Decrement = d[3];
    if (out.KeyBReadable)
      for (TAccessKeys* keys : {&block.Read, &block.Write, &block.Increment, &block.Decrement})
        *keys = WithoutKeyB(*keys);
  }
  return out;
}

std::optional<TAccessConditions> DecodeSectorTrailer(const Bytes& ATrailer) {
  if (ATrailer.size() != 16)
    return std::nullopt;
  return DecodeAccessConditions(ATrailer[6], ATrailer[7], ATrailer[8], ATrailer[9]);
}

std::string AccessKeysText(TAccessKeys AKeys) {
  switch (AKeys) {
    case TAccessKeys::Never:
      return "никогда";
    case TAccessKeys::KeyA:
      return "ключ A";
    case TAccessKeys::KeyB:
      return "ключ B";
    case TAccessKeys::KeyAOrB:
      return "ключ A или B";
  }
  return "никогда";
}

std::string AccessConditionsText(const TAccessConditions& AConditions, int ATrailerBlock) {
  const auto& c = AConditions;
  std::string out = "Условия доступа: байты 6–8 " +
                    BytesToHexStr(c.AccessBytes.data(), c.AccessBytes.size()) + ", байт 9 " +
                    BytesToHexStr(&c.UserByte, 1) + " (данные пользователя)";
  if (!c.Consistent)
    return out +
           "\r\nИнвертированные копии битов доступа не совпадают с прямыми: карта навсегда "
           "блокирует такой сектор — ни чтение, ни запись его блоков и трейлера невозможны.";
  for (int i = 0; i < 3; ++i) {
    const auto& b = c.Blocks[i];
    out += "\r\n" + DataBlockName(i, ATrailerBlock) + " (условие " + BitsText(b.Bits) +
           "): чтение — " + AccessKeysText(b.Read) + ", запись — " + AccessKeysText(b.Write) +
           ", инкремент — " + AccessKeysText(b.Increment) +
           ", декремент/перенос/восстановление — " + AccessKeysText(b.Decrement);
  }
  const auto& t = c.Trailer;
  out += "\r\n" + TrailerName(ATrailerBlock) + " (условие " + BitsText(t.Bits) +
         "): ключ A: чтение — никогда, запись — " + AccessKeysText(t.KeyAWrite) +
         "; биты доступа: чтение — " + AccessKeysText(t.AccessBitsRead) + ", запись — " +
         AccessKeysText(t.AccessBitsWrite) + "; ключ B: чтение — " + AccessKeysText(t.KeyBRead) +
         ", запись — " + AccessKeysText(t.KeyBWrite);
  if (c.KeyBReadable)
    out +=
        "\r\nКлюч B читается с карты, поэтому не служит для аутентификации: после входа по "
        "ключу B карта откажет в любом доступе к сектору.";
  return out;
}

}  // namespace kiren
