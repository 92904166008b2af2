#include "serial/posix_tty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>

namespace kiren::tty {

namespace {

struct TSpeed {
  std::uint32_t Baud;
  speed_t Code;
};

constexpr TSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(std::uint32_t ABaud, speed_t& ACode) {
  const auto It = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                               [&](const TSpeed& S) { return S.Baud == ABaud; });
  if (It == std::end(kSpeeds))
    return false;
  ACode = It->Code;
  return true;
}

std::uint32_t SpeedBaud(speed_t ACode) {
  const auto It = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                               [&](const TSpeed& S) { return S.Code == ACode; });
  return It == std::end(kSpeeds) ? 0 : It->Baud;
}

tcflag_t SizeFlag(std::uint8_t AByteSize) {
  switch (AByteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

std::uint8_t SizeOfFlag(tcflag_t ACFlag) {
  switch (ACFlag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

tcflag_t ParityFlags(std::uint8_t AParity) {
  switch (AParity) {
    case kParityOdd:
      return PARENB | PARODD;
    case kParityEven:
      return PARENB;
    case kParityMark:
      return PARENB | CMSPAR | PARODD;
    case kParitySpace:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

std::uint8_t ParityOfFlags(tcflag_t ACFlag) {
  if (!(ACFlag & PARENB))
    return kParityNone;
  const bool Odd = ACFlag & PARODD;
  if (ACFlag & CMSPAR)
    return Odd ? kParityMark : kParitySpace;
  return Odd ? kParityOdd : kParityEven;
}

// Flag bits of the settings record (see TMyDCB).
constexpr std::uint32_t kFBinary = 1u << 0, kFParity = 1u << 1, kFOutxCts = 1u << 2,
                        kFOutxDsr = 1u << 3, kFOutX = 1u << 8, kFInX = 1u << 9;
constexpr unsigned kDtrShift = 4, kRtsShift = 12;
constexpr std::uint32_t kControlMask = 3;
constexpr std::uint32_t kDtrHandshake = 2, kRtsHandshake = 2, kRtsToggle = 3;

// Checks the record against what a Linux tty can do.
int CheckDcb(const DCB& ADcb, speed_t& ASpeed) {
  if (ADcb.ByteSize < 5 || ADcb.ByteSize > 8 || ADcb.Parity > kParitySpace ||
      ADcb.StopBits > kTwoStopBits || ADcb.BaudRate == 0)
    return EINVAL;
  const std::uint32_t Dtr = (ADcb.flags >> kDtrShift) & kControlMask;
  const std::uint32_t Rts = (ADcb.flags >> kRtsShift) & kControlMask;
  if (ADcb.StopBits == kOne5StopBits || (ADcb.flags & kFOutxDsr) || Dtr == kDtrHandshake ||
      Rts == kRtsToggle)
    return ENOTSUP;
  if (!SpeedCode(ADcb.BaudRate, ASpeed))
    ASpeed = B0;  // no constant: set through termios2
  return 0;
}

constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

void MakeTermios(const DCB& ADcb, speed_t ASpeed, termios& AT) {
  AT.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                  INPCK | IGNPAR);
  AT.c_oflag &= ~OPOST;
  AT.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  AT.c_cflag &= ~(kLineFlags | HUPCL);
  AT.c_cflag |= CREAD | CLOCAL | SizeFlag(ADcb.ByteSize) | ParityFlags(ADcb.Parity);
  if (ADcb.StopBits == kTwoStopBits)
    AT.c_cflag |= CSTOPB;
  const std::uint32_t Rts = (ADcb.flags >> kRtsShift) & kControlMask;
  if ((ADcb.flags & kFOutxCts) || Rts == kRtsHandshake)
    AT.c_cflag |= CRTSCTS;
  if (ADcb.flags & kFParity)
    AT.c_iflag |= INPCK;
  if (ADcb.flags & kFOutX)
    AT.c_iflag |= IXON;
  if (ADcb.flags & kFInX)
    AT.c_iflag |= IXOFF;
  if (ADcb.flags & (kFOutX | kFInX)) {
    AT.c_cc[VSTART] = static_cast<cc_t>(ADcb.XonChar);
    AT.c_cc[VSTOP] = static_cast<cc_t>(ADcb.XoffChar);
  }
  // The descriptor is non-blocking: with VMIN 1 a read returns EAGAIN when nothing is
  // waiting, so a read of 0 bytes can only mean the line was hung up.
  AT.c_cc[VMIN] = 1;
  AT.c_cc[VTIME] = 0;
  if (ASpeed != B0) {
    cfsetispeed(&AT, ASpeed);
    cfsetospeed(&AT, ASpeed);
  }
}

// A modem line the device does not have (a pseudo-terminal) is no reason to refuse the settings.
bool NoModemLines(int AErr) {
  return AErr == ENOTTY || AErr == EINVAL;
}

int ApplyControlLines(int AFd, const DCB& ADcb) {
  const std::uint32_t Dtr = (ADcb.flags >> kDtrShift) & kControlMask;
  const std::uint32_t Rts = (ADcb.flags >> kRtsShift) & kControlMask;
  int Err = SetModemLine(AFd, TLine::Dtr, Dtr != 0);
  if (Err == 0 && Rts != kRtsHandshake)
    Err = SetModemLine(AFd, TLine::Rts, Rts != 0);
  return NoModemLines(Err) ? 0 : Err;
}

int PollTimeoutMs(const Deadline& ADeadline) {
  if (!ADeadline)
    return -1;
  const auto Left = *ADeadline - Clock::now();
  if (Left <= Clock::duration::zero())
    return 0;
  const auto Ms = std::chrono::ceil<std::chrono::milliseconds>(Left).count();
  return static_cast<int>(std::min<decltype(Ms)>(Ms, INT_MAX));
}

// Polls for AEvents. 0 and AReady: the event came; 0 and !AReady: deadline passed.
int PollFor(int AFd, short AEvents, const Deadline& ADeadline, bool& AReady) {
  AReady = false;
  for (;;) {
    pollfd P{AFd, AEvents, 0};
    const int Timeout = PollTimeoutMs(ADeadline);
    const int R = poll(&P, 1, Timeout);
    if (R < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (R == 0) {
      if (Timeout < 0 || PollTimeoutMs(ADeadline) > 0)
        continue;  // capped wait, go on
      return 0;
    }
    if (P.revents & POLLNVAL)
      return EBADF;
    if (P.revents & AEvents) {
      AReady = true;
      return 0;
    }
    if (P.revents & (POLLERR | POLLHUP))
      return EIO;
  }
}

}  // namespace

int OpenTty(const std::string& APath, bool AExclusive, int& AFd) {
  AFd = -1;
  const int Fd =
      open(APath.c_str(), (AExclusive ? O_RDWR : O_RDONLY) | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (Fd < 0)
    return errno;
  if (AExclusive) {
    int Err = 0;
    if (flock(Fd, LOCK_EX | LOCK_NB) != 0) {
      // Another program holds the port; "busy" reads better than "try again".
      Err = errno == EWOULDBLOCK ? EBUSY : errno;
    } else if (ioctl(Fd, TIOCEXCL) != 0) {
      Err = errno;
    }
    if (Err != 0) {
      close(Fd);
      return Err;
    }
  } else if (!isatty(Fd)) {
    const int Err = errno;
    close(Fd);
    return Err;
  }
  AFd = Fd;
  return 0;
}

int CloseTty(int AFd, bool AExclusive) {
  if (AExclusive)
    ioctl(AFd, TIOCNXCL);
  // Linux releases the descriptor even when close reports EINTR; retrying would be wrong.
  if (close(AFd) != 0 && errno != EINTR)
    return errno;
  return 0;
}

int DcbToTermios(const DCB& ADcb, termios& AT) {
  speed_t Speed = B0;
  if (const int Err = CheckDcb(ADcb, Speed))
    return Err;
  MakeTermios(ADcb, Speed, AT);
  return 0;
}

int ApplyDcb(int AFd, const DCB& ADcb) {
  termios Old{};
  if (tcgetattr(AFd, &Old) != 0)
    return errno;
  termios T = Old;
  if (const int Err = DcbToTermios(ADcb, T))
    return Err;
  if (tcsetattr(AFd, TCSANOW, &T) != 0)
    return errno;
  speed_t Code = B0;
  const bool Custom = !SpeedCode(ADcb.BaudRate, Code);
  if (Custom) {
    if (const int Err = SetCustomSpeed(AFd, ADcb.BaudRate)) {
      tcsetattr(AFd, TCSANOW, &Old);
      return Err;
    }
  }
  // tcsetattr succeeds when any part was taken (a pseudo-terminal keeps only 8 bits, no
  // parity; a UART driver falls back to 9600 for a rate it cannot do); settings taken in
  // part are undone and refused.
  termios Now{};
  if (tcgetattr(AFd, &Now) != 0)
    return errno;
  std::uint32_t Baud = 0;
  const bool SpeedKept = Custom ? GetSpeed(AFd, Baud) == 0 && Baud == ADcb.BaudRate
                                : cfgetospeed(&Now) == Code && cfgetispeed(&Now) == Code;
  if ((Now.c_cflag & kLineFlags) != (T.c_cflag & kLineFlags) || !SpeedKept) {
    tcsetattr(AFd, TCSANOW, &Old);
    return ENOTSUP;
  }
  return ApplyControlLines(AFd, ADcb);
}

int ReadDcb(int AFd, DCB& ADcb) {
  termios T{};
  if (tcgetattr(AFd, &T) != 0)
    return errno;
  TermiosToDcb(T, ADcb);
  std::uint32_t Baud = 0;
  if (ADcb.BaudRate == 0 && GetSpeed(AFd, Baud) == 0)
    ADcb.BaudRate = Baud;  // a rate without a B-constant
  return 0;
}

void TermiosToDcb(const termios& T, DCB& ADcb) {
  ADcb.DCBlength = sizeof(DCB);
  ADcb.BaudRate = SpeedBaud(cfgetospeed(&T));
  ADcb.ByteSize = SizeOfFlag(T.c_cflag);
  ADcb.Parity = ParityOfFlags(T.c_cflag);
  ADcb.StopBits = (T.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
  std::uint32_t Flags = ADcb.flags & ~(kFParity | kFOutxCts | kFOutX | kFInX);
  Flags |= kFBinary;
  if (T.c_iflag & INPCK)
    Flags |= kFParity;
  if (T.c_iflag & IXON)
    Flags |= kFOutX;
  if (T.c_iflag & IXOFF)
    Flags |= kFInX;
  if (T.c_cflag & CRTSCTS) {
    Flags |= kFOutxCts;
    Flags = (Flags & ~(kControlMask << kRtsShift)) | (kRtsHandshake << kRtsShift);
  }
  ADcb.flags = Flags;
  ADcb.XonChar = static_cast<char>(T.c_cc[VSTART]);
  ADcb.XoffChar = static_cast<char>(T.c_cc[VSTOP]);
}

int WaitReadable(int AFd, const Deadline& ADeadline, bool& AReady) {
  return PollFor(AFd, POLLIN, ADeadline, AReady);
}

int ReadSome(int AFd, std::uint8_t* ABuffer, std::size_t ASize, std::size_t& AGot) {
  AGot = 0;
  if (ASize == 0)
    return 0;
  for (;;) {
    const ssize_t N = read(AFd, ABuffer, ASize);
    if (N > 0) {
      AGot = static_cast<std::size_t>(N);
      return 0;
    }
    if (N == 0)
      return EIO;  // hung up (see VMIN in MakeTermios)
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      return 0;
    return errno;
  }
}

int WriteAll(int AFd, const std::uint8_t* ABuffer, std::size_t ASize, const Deadline& ADeadline,
             std::size_t& AWritten) {
  AWritten = 0;
  while (AWritten < ASize) {
    const ssize_t N = write(AFd, ABuffer + AWritten, ASize - AWritten);
    if (N > 0) {
      AWritten += static_cast<std::size_t>(N);
      continue;
    }
    if (N < 0 && errno == EINTR)
      continue;
    if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return errno;
    bool Ready = false;
    if (const int Err = PollFor(AFd, POLLOUT, ADeadline, Ready))
      return Err;
    if (!Ready)
      return ETIMEDOUT;
  }
  return 0;
}

int Flush(int AFd, TQueue AQueue) {
  const int Which = AQueue == TQueue::Input    ? TCIFLUSH
                    : AQueue == TQueue::Output ? TCOFLUSH
                                               : TCIOFLUSH;
  return tcflush(AFd, Which) == 0 ? 0 : errno;
}

int QueuedBytes(int AFd, TQueue AQueue, int& ACount) {
  ACount = 0;
  return ioctl(AFd, AQueue == TQueue::Output ? TIOCOUTQ : TIOCINQ, &ACount) == 0 ? 0 : errno;
}

int SetModemLine(int AFd, TLine ALine, bool AOn) {
  int Bits = ALine == TLine::Rts ? TIOCM_RTS : TIOCM_DTR;
  return ioctl(AFd, AOn ? TIOCMBIS : TIOCMBIC, &Bits) == 0 ? 0 : errno;
}

}  // namespace kiren::tty
