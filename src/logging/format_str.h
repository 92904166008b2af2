#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace kiren {

// Integer types a format argument takes: all but bool and the character types.
template <class T>
concept TFormatInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
    !std::is_same_v<T, wchar_t>;

// One argument of FormatStr: an integer, a floating-point number or a text.
// Booleans and characters are not accepted (a '%d' of a bool is almost always a slip).
// The constructors are implicit so that arguments read as a braced list: {attempts, text}.
class TFormatArg {
 public:
  template <TFormatInteger T>
  TFormatArg(T AValue) : FWide(sizeof(T) > 4) {
    if constexpr (std::is_signed_v<T>)
      FValue = static_cast<std::int64_t>(AValue);
    else
      FValue = static_cast<std::uint64_t>(AValue);
  }
  template <std::floating_point T>
  TFormatArg(T AValue) : FValue(static_cast<double>(AValue)) {}
  TFormatArg(const char* AValue) : FValue(std::string(AValue ? AValue : "")) {}
  TFormatArg(std::string_view AValue) : FValue(std::string(AValue)) {}
  TFormatArg(const std::string& AValue) : FValue(AValue) {}

  const std::variant<std::int64_t, std::uint64_t, double, std::string>& Value() const {
    return FValue;
  }
  // True for 64-bit integers; narrower ones show negative values as 32-bit in %u and %x.
  bool Wide() const { return FWide; }

 private:
  std::variant<std::int64_t, std::uint64_t, double, std::string> FValue;
  bool FWide = false;
};

// printf-like formatting with checked argument types:
//   %[-][0][width][.precision]conversion
//   d, i  signed or unsigned integer; precision is the least number of digits
//   u     integer shown unsigned
//   x, X  integer in upper-case hexadecimal ("%.4x" of 255 gives "00FF")
//   s     text; precision is the most characters shown
//   f     floating-point number, 2 decimals unless a precision is given, always a point
//   %%    a percent sign
// Widths and precisions count characters (code points), not bytes. A conversion that does
// not fit its argument, a missing argument or an unknown conversion throws
// std::invalid_argument; surplus arguments are ignored.
//   FormatStr("Ошибка записи в COM-порт [попытка %d]: %s", {2, "timeout"})
std::string FormatStr(std::string_view AFormat, std::initializer_list<TFormatArg> AArgs);

}  // namespace kiren
