// settings.ini: the window's stored editor fields in the INI section "Common", and the
// debug-log option of the section "Log".
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiren {

// Groups of keys written together after a successful device operation.
enum TSettingsGroup : unsigned {
  sgEmission = 1u << 0,  // BlockNo, Offset, Size, LBS
  sgCardCode = 1u << 1,  // CardCode
  sgClose = 1u << 2,     // nothing
};
using TSettingsGroups = unsigned;  // a set of TSettingsGroup bits; 0 stands for all

inline const QString kSettingsFileName = QStringLiteral("settings.ini");

// Where settings.ini lives: beside the program when AProgramDir is a writable folder,
// otherwise in AConfigHome/kiren/ (AConfigHome empty: $XDG_CONFIG_HOME, or ~/.config).
QString SettingsFilePath(const std::string& AProgramDir, const std::string& AConfigHome = {});

// Reads and writes the "Common" section of one INI file.
class TSettingsFile {
 public:
  explicit TSettingsFile(QString APath) : FPath(std::move(APath)) {}

  const QString& Path() const { return FPath; }

  // The stored value, or nothing when the key (or the file) is missing or holds no text.
  std::optional<QString> Value(const QString& AKey) const;

  // [Log] MaskKeys: 1 (or true, yes, on) hides the key bytes of load-key requests in the
  // debug log; anything else, or no such key, leaves them shown.
  bool MaskKeys() const;

  // Stores the values in one go: the whole file is replaced atomically (a new file renamed
  // over the old one, keeping its mode; a link is followed), so it is never left truncated
  // or half-written. Creates the folder and
  // the file when needed. False when the file could not be written; it then keeps its
  // former content.
  bool Write(const std::vector<std::pair<QString, QString>>& AValues) const;

 private:
  QString FPath;
};

}  // namespace kiren
