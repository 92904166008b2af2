// Bit rates without a B-constant, set and read through termios2. Kept apart from
// posix_tty.cpp because <asm/termbits.h> and glibc's <termios.h> both define struct termios.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace kiren::tty {

int SetCustomSpeed(int AFd, std::uint32_t ABaud) {
  struct termios2 T {};
  if (ioctl(AFd, TCGETS2, &T) != 0)
    return errno;
  T.c_cflag = (T.c_cflag & ~CBAUD) | BOTHER;
  T.c_cflag &= ~(CBAUD << IBSHIFT);  // input rate follows the output rate
  T.c_ospeed = ABaud;
  T.c_ispeed = ABaud;
  return ioctl(AFd, TCSETS2, &T) == 0 ? 0 : errno;
}

int GetSpeed(int AFd, std::uint32_t& ABaud) {
  ABaud = 0;
  struct termios2 T {};
  if (ioctl(AFd, TCGETS2, &T) != 0)
    return errno;
  ABaud = T.c_ospeed;
  return 0;
}

}  // namespace kiren::tty
