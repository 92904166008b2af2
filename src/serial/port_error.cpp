#include "serial/port_error.h"

#include <cerrno>
#include <cstring>

namespace kiren {

namespace {

TPortCondition ConditionOf(int AErrno, bool AWhileOpen) {
  switch (AErrno) {
    case 0:
      return TPortCondition::None;
    case EIO:
      return TPortCondition::Gone;
    case ENODEV:
    case ENXIO:
      return AWhileOpen ? TPortCondition::Gone : TPortCondition::NotFound;
    case ENOENT:
      return AWhileOpen ? TPortCondition::Other : TPortCondition::NotFound;
    case EBUSY:
      return TPortCondition::Busy;
    case ETIMEDOUT:
      return TPortCondition::TimedOut;
    default:
      return TPortCondition::Other;
  }
}

// strerror_r comes in a GNU and an XSI flavour; both are handled here.
[[maybe_unused]] const char* ErrnoText(const char* AGnu, char*) {
  return AGnu;
}
[[maybe_unused]] const char* ErrnoText(int AXsi, char* ABuf) {
  return AXsi == 0 ? ABuf : "";
}

}  // namespace

TPortError PortErrorOf(int AErrno, bool AWhileOpen) {
  const TPortCondition Condition = ConditionOf(AErrno, AWhileOpen);
  const bool ReadsAsNotFound = Condition == TPortCondition::NotFound || AErrno == ENXIO;
  return {Condition, ReadsAsNotFound ? kErrPortNotFound : static_cast<std::uint32_t>(AErrno)};
}

TPortError PortError(TPortCondition ACondition) {
  switch (ACondition) {
    case TPortCondition::None:
      return {};
    case TPortCondition::NotFound:
      return {ACondition, kErrPortNotFound};
    case TPortCondition::Closed:
      return {ACondition, kErrPortClosed};
    case TPortCondition::Gone:
      return {ACondition, EIO};
    case TPortCondition::Busy:
      return {ACondition, EBUSY};
    case TPortCondition::TimedOut:
      return {ACondition, ETIMEDOUT};
    case TPortCondition::Other:
      break;
  }
  return {ACondition, EINVAL};
}

std::string ComErrorText(std::uint32_t ACode) {
  if (ACode == kErrPortNotFound)
    return "COM-порт не найден";
  if (ACode == kErrPortClosed)
    return "COM-порт закрыт";
  char Buf[256] = {};
  std::string Text = ErrnoText(strerror_r(static_cast<int>(ACode), Buf, sizeof Buf), Buf);
  while (!Text.empty() &&
         (Text.back() == ' ' || Text.back() == '\r' || Text.back() == '\n' || Text.back() == '.'))
    Text.pop_back();
  return Text;
}

}  // namespace kiren
