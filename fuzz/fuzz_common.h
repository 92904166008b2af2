// Helpers shared by the libFuzzer targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/bytes.h"
#include "base/message_sink.h"

namespace kiren::fuzz {

// Message boxes raised by the code under test go nowhere (the issuing warning would
// otherwise print on every run).
class TQuietSink : public IMessageSink {
 public:
  void Info(const std::string&) override {}
  void Warning(const std::string&) override {}
  bool Question(const std::string&, const std::string&) override { return false; }
};

inline void InstallQuietSink() {
  static const bool installed = [] {
    SetMessageSink(std::make_shared<TQuietSink>());
    return true;
  }();
  (void)installed;
}

// Reads the fuzz input front to back; past its end every read yields zeros.
class TInput {
 public:
  TInput(const std::uint8_t* AData, std::size_t ASize) : FData(AData), FSize(ASize) {}

  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  // AMax + 1 would not fit: keeps the small ranges the targets ask for.
  int Range(int AMin, int AMax) { return AMin + Byte() % (AMax - AMin + 1); }
  Bytes Take(std::size_t ACount) {
    const std::size_t n = ACount < Left() ? ACount : Left();
    Bytes out(FData + FPos, FData + FPos + n);
    FPos += n;
    return out;
  }
  Bytes Rest() { return Take(Left()); }
  std::string RestText() {
    const Bytes b = Rest();
    return std::string(b.begin(), b.end());
  }
  std::size_t Left() const { return FSize - FPos; }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

// A broken invariant: print it and abort, so libFuzzer keeps the input as a crash.
[[noreturn]] inline void Fail(const char* AWhat) {
  std::fprintf(stderr, "invariant broken: %s\n", AWhat);
  std::abort();
}

#define KIREN_FUZZ_CHECK(cond)    \
  do {                            \
    if (!(cond))                  \
      ::kiren::fuzz::Fail(#cond); \
  } while (0)

}  // namespace kiren::fuzz

#include "base/utf8.h"

namespace kiren::fuzz {

// Decoding maps malformed sequences to U+FFFD, so only valid UTF-8 survives the round trip.
inline bool IsUtf8(const std::string& AText) {
  return U32ToUtf8(Utf8ToU32(AText)) == AText;
}

}  // namespace kiren::fuzz
