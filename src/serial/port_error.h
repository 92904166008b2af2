// What a failure of the port means: the one place where errno values of the tty layer are
// read, the codes LastErrorCode reports and their texts.
#pragma once

#include <cstdint>
#include <string>

namespace kiren {

enum class TPortCondition {
  None,      // no failure
  NotFound,  // no such port (also an empty port name)
  Closed,    // the port is not open
  Gone,      // the device behind the port has vanished (hang-up, unplugged)
  Busy,      // another program holds the port
  TimedOut,  // a write was cut short by its timeout
  Other,     // anything else; the errno value tells
};

// Error codes the port words itself; every other code is an errno value.
constexpr std::uint32_t kErrPortNotFound = 2;
constexpr std::uint32_t kErrPortClosed = 6;

struct TPortError {
  TPortCondition Condition = TPortCondition::None;
  std::uint32_t Code = 0;  // what LastErrorCode reports
};

// Meaning of an errno value from the tty layer. AWhileOpen: the call failed on an open port,
// where a vanished node or device means the device is gone; while opening it means there is
// no such port. The code keeps the errno value, except that a missing port reads as 2 and
// ENXIO (whose number is the port's "closed" code) as 2 as well.
TPortError PortErrorOf(int AErrno, bool AWhileOpen);
// The port's own conditions: NotFound gives code 2, Closed code 6.
TPortError PortError(TPortCondition ACondition);

// Text of an error code as LastErrorStr shows it.
std::string ComErrorText(std::uint32_t ACode);

}  // namespace kiren
