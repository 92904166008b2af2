// What the port makes of a failure: the condition, the code callers see and its text, and
// who holds a port that is busy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "pty_fixture.h"
#include "serial/com_port.h"

namespace kiren {
namespace {

using C = TPortCondition;

TEST(PortErrors, ErrnoToConditionAndCode) {
  struct TCase {
    int Errno;
    bool WhileOpen;
    TPortCondition Condition;
    std::uint32_t Code;
  };
  const TCase cases[] = {
      // Opening: a missing node or no device behind it is "not found" (code 2).
      {.Errno = ENOENT, .WhileOpen = false, .Condition = C::NotFound, .Code = 2},
      {.Errno = ENODEV, .WhileOpen = false, .Condition = C::NotFound, .Code = 2},
      {.Errno = ENXIO, .WhileOpen = false, .Condition = C::NotFound, .Code = 2},
      {.Errno = EBUSY, .WhileOpen = false, .Condition = C::Busy, .Code = EBUSY},
      {.Errno = EACCES, .WhileOpen = false, .Condition = C::Other, .Code = EACCES},
      {.Errno = EIO, .WhileOpen = false, .Condition = C::Gone, .Code = EIO},
      // On an open port the same numbers mean the device went away; ENXIO keeps reading
      // as 2, never as 6 ("closed"), which is its number.
      {.Errno = EIO, .WhileOpen = true, .Condition = C::Gone, .Code = EIO},
      {.Errno = ENODEV, .WhileOpen = true, .Condition = C::Gone, .Code = ENODEV},
      {.Errno = ENXIO, .WhileOpen = true, .Condition = C::Gone, .Code = 2},
      {.Errno = ENOENT, .WhileOpen = true, .Condition = C::Other, .Code = ENOENT},
      {.Errno = ETIMEDOUT, .WhileOpen = true, .Condition = C::TimedOut, .Code = ETIMEDOUT},
      {.Errno = ENOTSUP, .WhileOpen = true, .Condition = C::Other, .Code = ENOTSUP},
      {.Errno = EBADF, .WhileOpen = true, .Condition = C::Other, .Code = EBADF},
      {.Errno = 0, .WhileOpen = true, .Condition = C::None, .Code = 0},
  };
  for (const TCase& c : cases) {
    const TPortError e = PortErrorOf(c.Errno, c.WhileOpen);
    EXPECT_EQ(e.Condition, c.Condition) << c.Errno << (c.WhileOpen ? " open" : " opening");
    EXPECT_EQ(e.Code, c.Code) << c.Errno << (c.WhileOpen ? " open" : " opening");
  }
  EXPECT_EQ(PortError(C::NotFound).Code, kErrPortNotFound);
  EXPECT_EQ(PortError(C::Closed).Code, kErrPortClosed);
  EXPECT_EQ(ComErrorText(PortError(C::Closed).Code), "COM-порт закрыт");
  EXPECT_EQ(PortError(C::None).Code, 0u);
}

TEST(PortErrors, ConditionsOfThePort) {
  TMyComPort Port;
  EXPECT_EQ(Port.LastCondition(), C::None);
  EXPECT_FALSE(Port.ClearBuffers());
  EXPECT_EQ(Port.LastCondition(), C::Closed);
  EXPECT_FALSE(Port.DeviceGone());
  EXPECT_FALSE(Port.Open("ttyKirenNoSuchPort", true));
  EXPECT_EQ(Port.LastCondition(), C::NotFound);
  EXPECT_FALSE(Port.DeviceGone()) << "a port that never opened has not gone";
  Port.ClearError();
  EXPECT_EQ(Port.LastCondition(), C::None);
  EXPECT_EQ(Port.LastErrorCode(), 0u);
}

std::string OwnName() {
  std::ifstream In("/proc/self/comm");
  std::string Name;
  std::getline(In, Name);
  return Name;
}

// The port held by this very process is found through /proc, by the device and not by the
// name it was opened with; a device nobody holds has no holders.
TEST(PortHolders, FoundThroughProc) {
  test::TPtyPair Held;
  ASSERT_TRUE(Held.Ok());
  TMyComPort Port;
  ASSERT_TRUE(Port.Open(Held.Name(), true)) << Port.LastErrorStr();
  TMyComPort Other;
  ASSERT_FALSE(Other.Open(Held.Name(), true));
  ASSERT_EQ(Other.LastCondition(), C::Busy);

  const auto Holders = PortHolders(PortDevicePath(Held.Name()));
  ASSERT_FALSE(Holders.empty());
  EXPECT_EQ(Holders.front().Pid, getpid());  // the pty pair's own slave end counts too
  EXPECT_EQ(Holders.front().Name, OwnName());
  EXPECT_EQ(Holders.size(), 1u) << "one entry per process";

  // A missing device and a missing /proc give nothing.
  EXPECT_TRUE(PortHolders("/dev/kiren-no-such-device").empty());
  EXPECT_TRUE(PortHolders(Held.Path(), "/nonexistent-proc").empty());
  EXPECT_EQ(PortDevicePath("ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(PortDevicePath("/dev/pts/3"), "/dev/pts/3");
}

}  // namespace
}  // namespace kiren
