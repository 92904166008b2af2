#include "serial/dev_ports.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

namespace kiren {

namespace {

const std::string kDevPrefix = "/dev/";

bool AllDigits(const std::string& AText, std::size_t AFrom = 0) {
  return AText.size() > AFrom && AText.find_first_not_of("0123456789", AFrom) == std::string::npos;
}

std::vector<std::string> DirNames(const std::string& APath, bool& AOk) {
  std::vector<std::string> Names;
  DIR* Dir = opendir(APath.c_str());
  AOk = Dir != nullptr;
  if (Dir == nullptr)
    return Names;
  while (const dirent* Entry = readdir(Dir))
    Names.emplace_back(Entry->d_name);
  closedir(Dir);
  return Names;
}

// True when the node behind APath is the character device ADevice.
bool IsDevice(const std::string& APath, dev_t ADevice) {
  struct stat St {};
  return stat(APath.c_str(), &St) == 0 && S_ISCHR(St.st_mode) && St.st_rdev == ADevice;
}

std::string ProgramName(const std::string& AProcDir) {
  std::ifstream In(AProcDir + "/comm");
  std::string Name;
  std::getline(In, Name);
  return Name;
}

}  // namespace

std::int32_t PortNumber(const std::string& AName) {
  std::int64_t V = 0;
  bool Any = false;
  for (const char C : AName) {
    if (C < '0' || C > '9')
      continue;
    Any = true;
    V = V * 10 + (C - '0');
    if (V > std::numeric_limits<std::int32_t>::max())
      return 1000;
  }
  return Any ? static_cast<std::int32_t>(V) : 1000;
}

void SortPorts(TPortArray& APorts) {
  for (auto& P : APorts)
    P.num = PortNumber(P.name);
  std::stable_sort(APorts.begin(), APorts.end(),
                   [](const TPortInfo& A, const TPortInfo& B) { return A.num < B.num; });
}

bool ListDevPorts(std::string& APorts, const std::string& ADevRoot) {
  APorts.clear();
  bool Ok = false;
  std::vector<std::string> Names;
  for (const std::string& Name : DirNames(ADevRoot, Ok)) {
    for (const char* Prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
      const std::size_t Len = std::strlen(Prefix);
      if (Name.compare(0, Len, Prefix) == 0 && AllDigits(Name, Len))
        Names.push_back(Name);
    }
  }
  if (!Ok)
    return false;
  std::sort(Names.begin(), Names.end());  // a fixed order for equal numbers
  TPortArray Ports;
  for (auto& N : Names)
    Ports.push_back({N, 0});
  SortPorts(Ports);
  for (const auto& P : Ports)
    APorts += P.name + "\r\n";
  return true;
}

std::string PortDevicePath(const std::string& APort) {
  return APort.compare(0, kDevPrefix.size(), kDevPrefix) == 0 ? APort : kDevPrefix + APort;
}

std::vector<TPortHolder> PortHolders(const std::string& ADevicePath, const std::string& AProcRoot) {
  std::vector<TPortHolder> Holders;
  struct stat Dev {};
  if (stat(ADevicePath.c_str(), &Dev) != 0 || !S_ISCHR(Dev.st_mode))
    return Holders;
  bool Ok = false;
  for (const std::string& Pid : DirNames(AProcRoot, Ok)) {
    if (!AllDigits(Pid))
      continue;
    const std::string ProcDir = AProcRoot + "/" + Pid;
    bool FdsReadable = false;
    for (const std::string& Fd : DirNames(ProcDir + "/fd", FdsReadable)) {
      if (!AllDigits(Fd) || !IsDevice(ProcDir + "/fd/" + Fd, Dev.st_rdev))
        continue;
      Holders.push_back(
          {static_cast<int>(std::strtol(Pid.c_str(), nullptr, 10)), ProgramName(ProcDir)});
      break;
    }
  }
  std::sort(Holders.begin(), Holders.end(),
            [](const TPortHolder& A, const TPortHolder& B) { return A.Pid < B.Pid; });
  return Holders;
}

}  // namespace kiren
