#include <poll.h>

#include <climits>

#include "serial/com_port.h"

namespace kiren {

bool TMyComPort::WaitReadable(std::uint32_t AMs) const {
  // A closed port has no descriptor: poll then ignores it and only waits.
  pollfd fd{hFile, POLLIN, 0};
  const int timeout = AMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(AMs);
  return ::poll(&fd, 1, timeout) > 0;
}

}  // namespace kiren
