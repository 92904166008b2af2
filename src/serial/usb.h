// Discovery of the reader's serial ports among present USB devices (sysfs) and the
// registered virtual readers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "serial/virtual_readers.h"

namespace kiren {

// Hardware-ID filter of the reader (USB vendor 0x0483, product 0x5740).
inline const std::string kReaderPidVid = "VID_0483&PID_5740";

struct TUSBDevInfo {
  std::string Port;          // tty name such as ttyACM0 (or pts/3 for a virtual reader)
  std::string DeviceDesc;    // USB product string
  std::string HardwareID;    // USB\VID_0483&PID_5740&REV_0200
  std::string FriendlyName;  // DeviceDesc followed by the port in brackets
  void Clear() { *this = TUSBDevInfo{}; }
};

using TUSBDevProc = std::function<void(const TUSBDevInfo&)>;

// Text between the last "(" and the final ")" of a friendly name: "Serial (ttyACM0)" gives
// ttyACM0. Empty when the name does not end with ")".
std::string PortFromFriendlyName(const std::string& AFriendlyName);

// Calls AProc for every tty under <ASysRoot>/class/tty that belongs to a USB device, in
// tty name order. Nothing happens when AProc is empty.
void EnumUsbDevices(const TUSBDevProc& AProc, const std::string& ASysRoot = "/sys");

// Replaces AList with the ports whose upper-cased hardware ID contains APidVid: USB devices
// first, then registered virtual readers. No sorting, no removal of duplicates; a device
// whose port cannot be told gives an empty entry.
void EnumComPorts(std::vector<std::string>& AList, const std::string& APidVid,
                  const std::string& ASysRoot = "/sys",
                  const std::string& AReadersDir = VirtualReadersDir());

}  // namespace kiren
