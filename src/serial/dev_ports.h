// Serial device nodes under /dev: the listing by port number, and the processes that hold a
// node open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiren {

// One entry of the device-node port listing.
struct TPortInfo {
  std::string name;
  std::int32_t num = 0;
};
using TPortArray = std::vector<TPortInfo>;

// All decimal digits of the name, in order, as one number; 1000 when there is none or the
// digits do not fit a 32-bit signed number.
std::int32_t PortNumber(const std::string& AName);

// Sorts by PortNumber ascending; names with equal numbers keep their order.
void SortPorts(TPortArray& APorts);

// Device nodes ttyS*, ttyUSB*, ttyACM* under ADevRoot, sorted by port number, each
// followed by CR LF. False when ADevRoot cannot be read.
bool ListDevPorts(std::string& APorts, const std::string& ADevRoot = "/dev");

// The device path of a port name: "ttyACM0" and "/dev/ttyACM0" both give /dev/ttyACM0.
std::string PortDevicePath(const std::string& APort);

struct TPortHolder {
  int Pid = 0;
  std::string Name;  // the program's name as the kernel keeps it (at most 15 characters)
};

// Processes that have the device ADevicePath open, by their descriptors under
// <AProcRoot>/<pid>/fd, in pid order. Processes whose descriptors this user may not read are
// not seen; nothing when the device does not exist.
std::vector<TPortHolder> PortHolders(const std::string& ADevicePath,
                                     const std::string& AProcRoot = "/proc");

}  // namespace kiren
