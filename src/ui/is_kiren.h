// Service gate: the block-read tab and the card issue tab are meant for the service
// workgroup's workstations only.
#pragma once

#include <mutex>
#include <string>

namespace kiren {

// Samba's configuration, where a Linux workstation keeps its LAN workgroup.
inline const std::string kSmbConfPath = "/etc/samba/smb.conf";

// Workgroup name of the service workstations (compared exactly, case-sensitive).
inline const std::string kServiceWorkgroup = "REROD";

// The `workgroup` parameter of the [global] section of an smb.conf file. Section and
// parameter names are case-insensitive, blanks around names and values are ignored, lines
// starting with ';' or '#' are comments and a trailing backslash continues a line. A file
// that is missing or unreadable, or has no such parameter, gives an empty name.
std::string GetWorkgroupName(const std::string& ASmbConfPath = kSmbConfPath);

// True when AWorkgroup is the service workgroup.
bool IsServiceWorkgroup(const std::string& AWorkgroup);

// The gate, evaluated on first use and then fixed for the life of the object.
class TServiceGate {
 public:
  explicit TServiceGate(std::string ASmbConfPath = kSmbConfPath) : FPath(std::move(ASmbConfPath)) {}
  bool IsKiren();

 private:
  std::string FPath;
  std::once_flag FOnce;
  bool FOpen = false;
};

}  // namespace kiren
