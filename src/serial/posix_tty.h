// Thin layer over the Linux tty interface (termios, ioctl, poll, flock) used by TMyComPort.
// Every function returns 0 on success or an errno value; none keeps state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <termios.h>

#include "serial/line_settings.h"

namespace kiren::tty {

using Clock = std::chrono::steady_clock;
// No deadline: wait as long as it takes (or until the line fails).
using Deadline = std::optional<Clock::time_point>;

// Opens a tty non-blocking. AExclusive takes an flock and sets TIOCEXCL so that no
// second open succeeds; without it the device is opened read-only for queries.
int OpenTty(const std::string& APath, bool AExclusive, int& AFd);
// AExclusive: the descriptor was opened exclusive, so its TIOCEXCL is taken back. A
// query descriptor leaves the flag alone: it may belong to another program.
int CloseTty(int AFd, bool AExclusive);

// Line settings to and from termios. Settings the platform cannot do give ENOTSUP,
// values out of range EINVAL. A bit rate without a B-constant is set through termios2;
// the driver must keep it exactly.
int ApplyDcb(int AFd, const DCB& ADcb);
int ReadDcb(int AFd, DCB& ADcb);
// The mapping itself: raw mode with the record's line settings on top of AT. A bit rate
// without a B-constant leaves the speed of AT as it is (ApplyDcb sets it apart).
int DcbToTermios(const DCB& ADcb, termios& AT);
void TermiosToDcb(const termios& AT, DCB& ADcb);
// Any bit rate the driver takes (termios2, BOTHER), and the rate in force.
int SetCustomSpeed(int AFd, std::uint32_t ABaud);
int GetSpeed(int AFd, std::uint32_t& ABaud);

// Waits until input is readable. 0 and AReady = true: bytes are waiting; 0 and
// AReady = false: the deadline passed. A hung-up line gives EIO.
int WaitReadable(int AFd, const Deadline& ADeadline, bool& AReady);
// Reads what is waiting, at most ASize bytes (AGot may be 0). Hang-up gives EIO.
int ReadSome(int AFd, std::uint8_t* ABuffer, std::size_t ASize, std::size_t& AGot);
// Writes until all bytes are accepted or the deadline passes; AWritten counts the bytes
// accepted. A passed deadline gives ETIMEDOUT.
int WriteAll(int AFd, const std::uint8_t* ABuffer, std::size_t ASize, const Deadline& ADeadline,
             std::size_t& AWritten);

enum class TQueue { Input, Output, Both };
int Flush(int AFd, TQueue AQueue);
int QueuedBytes(int AFd, TQueue AQueue, int& ACount);

enum class TLine { Rts, Dtr };
int SetModemLine(int AFd, TLine ALine, bool AOn);

}  // namespace kiren::tty
