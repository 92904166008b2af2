#include "serial/usb.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/text_utils.h"

namespace kiren {

namespace {

namespace fs = std::filesystem;

// First line of a sysfs attribute file, up to a NUL; empty when it cannot be read.
std::string ReadAttr(const fs::path& AFile) {
  std::ifstream In(AFile);
  std::string Line;
  std::getline(In, Line);
  Line = Line.substr(0, Line.find('\0'));
  while (!Line.empty() && (Line.back() == '\r' || Line.back() == ' '))
    Line.pop_back();
  return Line;
}

// Walks up from the tty's device to the USB device directory, the first one that
// carries idVendor and idProduct.
bool FindUsbDevice(const fs::path& ATtyDir, const fs::path& ASysRoot, fs::path& AUsbDir) {
  std::error_code Ec;
  fs::path Dir = fs::canonical(ATtyDir / "device", Ec);
  if (Ec)
    return false;
  const fs::path Root = fs::canonical(ASysRoot, Ec);
  if (Ec)
    return false;
  while (Dir.has_relative_path() && Dir != Root) {
    if (fs::exists(Dir / "idVendor", Ec) && fs::exists(Dir / "idProduct", Ec)) {
      AUsbDir = Dir;
      return true;
    }
    Dir = Dir.parent_path();
  }
  return false;
}

TUSBDevInfo ReadUsbDevInfo(const std::string& ATty, const fs::path& AUsbDir) {
  TUSBDevInfo Info;
  std::string Id = "USB\\VID_" + UpperCase(ReadAttr(AUsbDir / "idVendor")) + "&PID_" +
                   UpperCase(ReadAttr(AUsbDir / "idProduct"));
  const std::string Rev = ReadAttr(AUsbDir / "bcdDevice");
  if (!Rev.empty())
    Id += "&REV_" + UpperCase(Rev);
  Info.HardwareID = Id;
  Info.DeviceDesc = ReadAttr(AUsbDir / "product");
  if (Info.DeviceDesc.empty())
    Info.DeviceDesc = "USB Serial Device";
  Info.Port = ATty;
  Info.FriendlyName = Info.DeviceDesc + " (" + ATty + ")";
  return Info;
}

bool MatchesFilter(const std::string& AHardwareID, const std::string& APidVid) {
  return UpperCase(AHardwareID).find(APidVid) != std::string::npos;
}

}  // namespace

std::string PortFromFriendlyName(const std::string& AFriendlyName) {
  const std::size_t L = AFriendlyName.size();
  if (L == 0 || AFriendlyName.back() != ')')
    return {};
  // Positions counted from 1: look for "(" from L - 1 down to 2.
  for (std::size_t Pos = L - 1; Pos >= 2; --Pos) {
    if (AFriendlyName[Pos - 1] == '(')
      return AFriendlyName.substr(Pos, L - 1 - Pos);
  }
  return L >= 2 ? AFriendlyName.substr(1, L - 2) : std::string();
}

void EnumUsbDevices(const TUSBDevProc& AProc, const std::string& ASysRoot) {
  if (!AProc)
    return;
  const fs::path ClassDir = fs::path(ASysRoot) / "class" / "tty";
  std::error_code Ec;
  std::vector<std::string> Ttys;
  for (fs::directory_iterator It(ClassDir, Ec), End; !Ec && It != End; It.increment(Ec))
    Ttys.push_back(It->path().filename().string());
  std::sort(Ttys.begin(), Ttys.end());
  for (const auto& Tty : Ttys) {
    fs::path UsbDir;
    if (FindUsbDevice(ClassDir / Tty, ASysRoot, UsbDir))
      AProc(ReadUsbDevInfo(Tty, UsbDir));
  }
}

void EnumComPorts(std::vector<std::string>& AList, const std::string& APidVid,
                  const std::string& ASysRoot, const std::string& AReadersDir) {
  AList.clear();
  EnumUsbDevices(
      [&](const TUSBDevInfo& AInfo) {
        if (MatchesFilter(AInfo.HardwareID, APidVid))
          AList.push_back(AInfo.Port);
      },
      ASysRoot);
  for (const auto& Reader : ListVirtualReaders(AReadersDir)) {
    if (!MatchesFilter(Reader.HardwareID, APidVid))
      continue;
    AList.push_back(Reader.Port.empty() ? PortFromFriendlyName(Reader.FriendlyName) : Reader.Port);
  }
}

}  // namespace kiren
