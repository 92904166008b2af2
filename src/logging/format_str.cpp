#include "logging/format_str.h"

#include <charconv>
#include <stdexcept>
#include <vector>

namespace kiren {

namespace {

struct TSpec {
  bool Left = false;
  bool Zero = false;
  int Width = 0;
  int Precision = -1;
  char Conv = 0;
};

[[noreturn]] void Fail(std::string_view AFormat, const std::string& AWhy) {
  throw std::invalid_argument("Format \"" + std::string(AFormat) + "\": " + AWhy);
}

std::size_t CodePointCount(std::string_view AText) {
  std::size_t n = 0;
  for (unsigned char c : AText)
    if ((c & 0xC0) != 0x80)
      ++n;
  return n;
}

// Byte length of the first ACount code points of AText.
std::size_t PrefixBytes(std::string_view AText, std::size_t ACount) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < AText.size(); ++i) {
    if ((static_cast<unsigned char>(AText[i]) & 0xC0) != 0x80 && seen++ == ACount)
      break;
  }
  return i;
}

int ReadNumber(std::string_view AFormat, std::size_t& APos) {
  int n = 0;
  while (APos < AFormat.size() && AFormat[APos] >= '0' && AFormat[APos] <= '9') {
    n = n * 10 + (AFormat[APos++] - '0');
    if (n > 10000)
      Fail(AFormat, "width or precision too large");
  }
  return n;
}

TSpec ReadSpec(std::string_view AFormat, std::size_t& APos) {
  TSpec s;
  for (; APos < AFormat.size(); ++APos) {
    if (AFormat[APos] == '-')
      s.Left = true;
    else if (AFormat[APos] == '0')
      s.Zero = true;
    else
      break;
  }
  s.Width = ReadNumber(AFormat, APos);
  if (APos < AFormat.size() && AFormat[APos] == '.') {
    ++APos;
    s.Precision = ReadNumber(AFormat, APos);
  }
  if (APos >= AFormat.size())
    Fail(AFormat, "incomplete conversion at the end");
  s.Conv = AFormat[APos++];
  return s;
}

std::string UnsignedDigits(std::uint64_t AValue, int ABase) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, AValue, ABase);
  std::string digits(buf, res.ptr);
  for (char& c : digits)
    if (c >= 'a' && c <= 'f')
      c = static_cast<char>(c - 'a' + 'A');
  return digits;
}

// Sign and digits of an integer argument for one integer conversion.
void IntegerText(std::string_view AFormat, const TFormatArg& AArg, char AConv, std::string& ASign,
                 std::string& ADigits) {
  const auto& v = AArg.Value();
  std::uint64_t magnitude = 0;
  bool negative = false;
  if (const auto* s = std::get_if<std::int64_t>(&v)) {
    negative = *s < 0;
    magnitude = negative ? 0 - static_cast<std::uint64_t>(*s) : static_cast<std::uint64_t>(*s);
    if (negative && AConv != 'd' && AConv != 'i') {
      // %u and %x show the two's complement of the argument's own width.
      magnitude = static_cast<std::uint64_t>(*s);
      if (!AArg.Wide())
        magnitude &= 0xFFFFFFFFu;
      negative = false;
    }
  } else if (const auto* u = std::get_if<std::uint64_t>(&v)) {
    magnitude = *u;
  } else {
    Fail(AFormat, std::string("%") + AConv + " needs an integer argument");
  }
  ASign = negative ? "-" : "";
  ADigits = UnsignedDigits(magnitude, (AConv == 'x' || AConv == 'X') ? 16 : 10);
}

std::string FloatText(std::string_view AFormat, const TFormatArg& AArg, int APrecision) {
  const auto* d = std::get_if<double>(&AArg.Value());
  if (!d)
    Fail(AFormat, "%f needs a floating-point argument");
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, *d, std::chars_format::fixed,
                           APrecision < 0 ? 2 : APrecision);
  if (res.ec != std::errc())
    Fail(AFormat, "number too large for %f");
  return std::string(buf, res.ptr);
}

void Pad(std::string& AOut, const TSpec& ASpec, const std::string& ASign, std::string ABody,
         bool ANumeric) {
  const std::size_t len = ASign.size() + CodePointCount(ABody);
  const std::size_t width = static_cast<std::size_t>(ASpec.Width);
  if (len >= width) {
    AOut += ASign + ABody;
  } else if (ASpec.Left) {
    AOut += ASign + ABody + std::string(width - len, ' ');
  } else if (ASpec.Zero && ANumeric) {
    AOut += ASign + std::string(width - len, '0') + ABody;
  } else {
    AOut += std::string(width - len, ' ') + ASign + ABody;
  }
}

}  // namespace

std::string FormatStr(std::string_view AFormat, std::initializer_list<TFormatArg> AArgs) {
  const std::vector<const TFormatArg*> args = [&] {
    std::vector<const TFormatArg*> v;
    for (const auto& a : AArgs)
      v.push_back(&a);
    return v;
  }();
  std::string out;
  std::size_t next = 0;
  for (std::size_t pos = 0; pos < AFormat.size();) {
    const char c = AFormat[pos++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (pos < AFormat.size() && AFormat[pos] == '%') {
      out += '%';
      ++pos;
      continue;
    }
    const TSpec spec = ReadSpec(AFormat, pos);
    if (next >= args.size())
      Fail(AFormat, "too few arguments");
    const TFormatArg& arg = *args[next++];
    switch (spec.Conv) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        std::string sign, digits;
        IntegerText(AFormat, arg, spec.Conv, sign, digits);
        if (spec.Precision > static_cast<int>(digits.size()))
          digits.insert(0, static_cast<std::size_t>(spec.Precision) - digits.size(), '0');
        Pad(out, spec, sign, digits, spec.Precision < 0);
        break;
      }
      case 'f': {
        std::string text = FloatText(AFormat, arg, spec.Precision);
        std::string sign;
        if (!text.empty() && text[0] == '-') {
          sign = "-";
          text.erase(0, 1);
        }
        Pad(out, spec, sign, text, true);
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&arg.Value());
        if (!s)
          Fail(AFormat, "%s needs a text argument");
        std::string_view text = *s;
        if (spec.Precision >= 0)
          text = text.substr(0, PrefixBytes(text, static_cast<std::size_t>(spec.Precision)));
        Pad(out, spec, "", std::string(text), false);
        break;
      }
      default:
        Fail(AFormat, std::string("unknown conversion %") + spec.Conv);
    }
  }
  return out;
}

}  // namespace kiren
