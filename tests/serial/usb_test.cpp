// Port discovery over sysfs trees built in a temporary directory, the virtual readers
// registry and the device-node listing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/usb.h"
#include "serial/virtual_readers.h"
#include "support/temp_dir.h"

namespace kiren {
namespace {

namespace fs = std::filesystem;

using test::TTempDir;

void WriteFile(const fs::path& AFile, const std::string& AText) {
  fs::create_directories(AFile.parent_path());
  std::ofstream(AFile) << AText << "\n";
}

// A sysfs tree laid out as the kernel does it: class/tty/<tty> links to the tty's
// directory below the USB interface; its "device" link points at the interface (cdc_acm)
// or at the usb-serial port directory (ttyUSB), whose parents hold the USB attributes.
class TSysfs {
 public:
  explicit TSysfs(const std::string& ARoot) : FRoot(ARoot) {
    fs::create_directories(FRoot / "class" / "tty");
  }
  const fs::path& Root() const { return FRoot; }

  struct TUsb {
    std::string Tty, Vid, Pid, Rev = "0200", Product;
    bool UsbSerial = false;  // ttyUSB layout: one more level below the interface
  };

  void AddUsb(const TUsb& A) {
    const fs::path Dev = FRoot / "devices/pci0000:00/0000:00:14.0/usb1" / ("1-" + A.Tty);
    WriteFile(Dev / "idVendor", A.Vid);
    WriteFile(Dev / "idProduct", A.Pid);
    WriteFile(Dev / "bcdDevice", A.Rev);
    if (!A.Product.empty())
      WriteFile(Dev / "product", A.Product);
    fs::path Parent = Dev / ("1-" + A.Tty + ":1.0");
    if (A.UsbSerial)
      Parent /= A.Tty;
    AddTty(A.Tty, Parent);
  }

  // A tty whose device is not on USB (a built-in UART) or, with an empty device, a
  // virtual console.
  void AddOther(const std::string& ATty, bool AWithDevice) {
    if (AWithDevice) {
      AddTty(ATty, FRoot / "devices/platform/serial8250");
    } else {
      fs::create_directories(FRoot / "devices/virtual/tty" / ATty);
      fs::create_directory_symlink(fs::path("../../devices/virtual/tty") / ATty,
                                   FRoot / "class/tty" / ATty);
    }
  }

 private:
  void AddTty(const std::string& ATty, const fs::path& ADevice) {
    const fs::path TtyDir = ADevice / "tty" / ATty;
    fs::create_directories(TtyDir);
    fs::create_directory_symlink(fs::relative(ADevice, TtyDir), TtyDir / "device");
    fs::create_directory_symlink(fs::relative(TtyDir, FRoot / "class/tty"),
                                 FRoot / "class/tty" / ATty);
  }

  fs::path FRoot;
};

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Tmp.Path().empty());
    Readers = Tmp.Path() + "/readers";
  }
  std::vector<std::string> List(const std::string& AFilter = kReaderPidVid) {
    std::vector<std::string> L = {"stale entry"};
    EnumComPorts(L, AFilter, Sys.Root().string(), Readers);
    return L;
  }

  TTempDir Tmp;
  TSysfs Sys{Tmp.Path() + "/sys"};
  std::string Readers;
};

TEST_F(Discovery, ReadsUsbAttributesOfEachTty) {
  Sys.AddUsb({"ttyACM0", "0483", "5740", "0200", "Кирен-М1"});
  Sys.AddUsb({"ttyUSB0", "10c4", "ea60", "0100", "", true});
  Sys.AddOther("ttyS0", true);
  Sys.AddOther("tty1", false);
  std::vector<TUSBDevInfo> Seen;
  EnumUsbDevices([&](const TUSBDevInfo& I) { Seen.push_back(I); }, Sys.Root().string());
  ASSERT_EQ(Seen.size(), 2u);
  EXPECT_EQ(Seen[0].Port, "ttyACM0");
  EXPECT_EQ(Seen[0].HardwareID, "USB\\VID_0483&PID_5740&REV_0200");
  EXPECT_EQ(Seen[0].DeviceDesc, "Кирен-М1");
  EXPECT_EQ(Seen[0].FriendlyName, "Кирен-М1 (ttyACM0)");
  EXPECT_EQ(Seen[1].Port, "ttyUSB0");
  EXPECT_EQ(Seen[1].HardwareID, "USB\\VID_10C4&PID_EA60&REV_0100");
  EXPECT_EQ(Seen[1].FriendlyName, "USB Serial Device (ttyUSB0)");

  EnumUsbDevices(nullptr, Sys.Root().string());  // nothing to call: no crash
  Seen[0].Clear();
  EXPECT_TRUE(Seen[0].Port.empty() && Seen[0].HardwareID.empty() && Seen[0].FriendlyName.empty() &&
              Seen[0].DeviceDesc.empty());
}

TEST_F(Discovery, FilterOnHardwareId) {
  Sys.AddUsb({"ttyACM0", "0483", "5741", "0200", "Other"});
  Sys.AddUsb({"ttyACM1", "0483", "5740", "0200", "Reader"});
  Sys.AddUsb({"ttyUSB3", "1a86", "7523", "0254", "", true});
  Sys.AddOther("ttyS0", true);
  EXPECT_EQ(List(), std::vector<std::string>({"ttyACM1"}));
  // The hardware ID is upper-cased, the filter is taken as it is.
  EXPECT_EQ(List("VID_1A86&PID_7523"), std::vector<std::string>({"ttyUSB3"}));
  EXPECT_TRUE(List("vid_1a86&pid_7523").empty());
  EXPECT_EQ(List("VID_0483"), std::vector<std::string>({"ttyACM0", "ttyACM1"}));
}

TEST_F(Discovery, EnumerationOrderIsNotNumeric) {
  Sys.AddUsb({"ttyACM2", "0483", "5740", "0200", "Reader"});
  Sys.AddUsb({"ttyACM10", "0483", "5740", "0200", "Reader"});
  EXPECT_EQ(List(), std::vector<std::string>({"ttyACM10", "ttyACM2"}));
}

TEST_F(Discovery, MissingSysfsGivesAnEmptyList) {
  std::vector<std::string> L = {"old"};
  EnumComPorts(L, kReaderPidVid, Tmp.Path() + "/nowhere", Readers);
  EXPECT_TRUE(L.empty());
}

TEST_F(Discovery, VirtualReadersFollowUsbDevices) {
  Sys.AddUsb({"ttyACM0", "0483", "5740", "0200", "Reader"});
  const long Me = static_cast<long>(getpid());
  ASSERT_FALSE(RegisterVirtualReader(
                   {"USB\\VID_0483&PID_5740&REV_0200", "Sim (pts/7)", "pts/7", Me}, Readers)
                   .empty());
  ASSERT_FALSE(
      RegisterVirtualReader({"usb\\vid_0483&pid_5740", "Lower (pts/8)", "pts/8", Me}, Readers)
          .empty());
  ASSERT_FALSE(
      RegisterVirtualReader({"USB\\VID_0483&PID_5740", "Serial (pts/9)", "", Me}, Readers).empty());
  ASSERT_FALSE(
      RegisterVirtualReader({"USB\\VID_0483&PID_5740", "No port here", "", Me}, Readers).empty());
  ASSERT_FALSE(
      RegisterVirtualReader({"USB\\VID_0483&PID_5741", "Other (pts/5)", "pts/5", Me}, Readers)
          .empty());
  EXPECT_EQ(List(), std::vector<std::string>({"ttyACM0", "pts/7", "pts/8", "pts/9", ""}));
}

TEST(PortNames, FromFriendlyName) {
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"USB Serial Device (COM7)", "COM7"},
      {"Serial (COM9)", "COM9"},
      {"Кирен-М1 (ttyACM0)", "ttyACM0"},
      {"A (b) (pts/3)", "pts/3"},
      {"(COM1)", "COM1"},  // position 1 is not examined; same text either way
      {"xCOM1)", "COM1"},  // no "(": from position 2
      {"X)", ""},
      {")", ""},
      {"Serial COM9", ""},
      {"", ""},
  };
  for (const auto& [Name, Port] : Cases)
    EXPECT_EQ(PortFromFriendlyName(Name), Port) << Name;
}

TEST(PortNames, NumericSort) {
  EXPECT_EQ(PortNumber("COM10"), 10);
  EXPECT_EQ(PortNumber("ttyS1x2"), 12);
  EXPECT_EQ(PortNumber("LPT"), 1000);
  EXPECT_EQ(PortNumber("COM2147483648"), 1000);
  EXPECT_EQ(PortNumber("COM2147483647"), 2147483647);
  EXPECT_EQ(PortNumber("COM0000000000000000000000000005"), 5);
  TPortArray Ports = {{"COM2", 0}, {"COM10", 0}, {"NUL", 0}, {"COM1", 0}, {"X9999", 0}};
  SortPorts(Ports);
  std::vector<std::string> Names;
  for (const auto& P : Ports)
    Names.push_back(P.name);
  EXPECT_EQ(Names, std::vector<std::string>({"COM1", "COM2", "COM10", "NUL", "X9999"}));
}

TEST(PortNames, DeviceNodeListing) {
  TTempDir Dev;
  for (const char* N :
       {"ttyS10", "ttyS2", "ttyUSB1", "ttyACM0", "ttyS0", "tty5", "ttyS", "console", "ttySx1"})
    WriteFile(fs::path(Dev.Path()) / N, "");
  std::string Ports = "old";
  ASSERT_TRUE(TMyComPort::EnumComPorts(Ports, Dev.Path()));
  EXPECT_EQ(Ports, "ttyACM0\r\nttyS0\r\nttyUSB1\r\nttyS2\r\nttyS10\r\n");
  EXPECT_FALSE(TMyComPort::EnumComPorts(Ports, Dev.Path() + "/none"));
  EXPECT_EQ(Ports, "");
}

// A process id that has just ended.
long DeadPid() {
  const pid_t Child = fork();
  if (Child == 0)
    _exit(0);
  waitpid(Child, nullptr, 0);
  return static_cast<long>(Child);
}

TEST(VirtualReaders, RegisterListUnregister) {
  TTempDir Tmp;
  const std::string Dir = Tmp.Path() + "/a/readers";
  const TVirtualReader Live{"USB\\VID_0483&PID_5740&REV_0200", "Кирен-М1 sim\n(pts/4)", "pts/4",
                            static_cast<long>(getpid())};
  const std::string Path = RegisterVirtualReader(Live, Dir);
  ASSERT_FALSE(Path.empty());
  struct stat St {};
  ASSERT_EQ(stat(Dir.c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, 0700u);

  const std::string Stale =
      RegisterVirtualReader({"USB\\VID_0483&PID_5740", "Gone (pts/5)", "pts/5", DeadPid()}, Dir);
  ASSERT_FALSE(Stale.empty());
  WriteFile(fs::path(Dir) / "garbage.reader", "no fields here");
  // 2^32 + 1 narrows to pid 1, which is always alive: the entry must not pass for live.
  WriteFile(fs::path(Dir) / "huge.reader", "HardwareID=USB\\VID_0483&PID_5740\nPid=4294967297");

  const auto Listed = ListVirtualReaders(Dir);
  ASSERT_EQ(Listed.size(), 1u);
  EXPECT_EQ(Listed[0].HardwareID, Live.HardwareID);
  EXPECT_EQ(Listed[0].FriendlyName, "Кирен-М1 sim (pts/4)");  // kept on one line
  EXPECT_EQ(Listed[0].Port, "pts/4");
  EXPECT_EQ(Listed[0].Pid, Live.Pid);
  EXPECT_FALSE(fs::exists(Stale));  // the dead process's entry is removed
  EXPECT_TRUE(fs::exists(fs::path(Dir) / "garbage.reader"));

  UnregisterVirtualReader(Path);
  EXPECT_FALSE(fs::exists(Path));
  EXPECT_TRUE(ListVirtualReaders(Dir).empty());
  for (const auto& E : fs::directory_iterator(Dir))  // no temporary files left behind
    EXPECT_NE(E.path().filename().string().front(), '.') << E.path();
  UnregisterVirtualReader(Path);  // twice: harmless
  EXPECT_TRUE(ListVirtualReaders(Tmp.Path() + "/none").empty());
}

TEST(VirtualReaders, DefaultDirectoryFollowsXdgRuntimeDir) {
  TTempDir Tmp;
  const char* Old = std::getenv("XDG_RUNTIME_DIR");
  const std::string Saved = Old ? Old : "";
  setenv("XDG_RUNTIME_DIR", Tmp.Path().c_str(), 1);
  const std::string Dir = VirtualReadersDir();
  EXPECT_EQ(Dir, Tmp.Path() + "/kiren/readers");
  struct stat St {};
  ASSERT_EQ(stat(Dir.c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, 0700u);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(VirtualReadersDir(), "/tmp/kiren-" + std::to_string(getuid()) + "/readers");
  if (Old)
    setenv("XDG_RUNTIME_DIR", Saved.c_str(), 1);
}

}  // namespace
}  // namespace kiren
