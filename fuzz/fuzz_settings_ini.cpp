// settings.ini with any content: the values are read as the window reads them at start-up.
#include <unistd.h>

#include <QFile>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text_utils.h"
#include "fuzz/fuzz_common.h"
#include "ui/settings_file.h"

using namespace kiren;

namespace {

std::string gDir;

void RemoveDir() {
  std::filesystem::remove_all(gDir);
}

// One file in a private folder, rewritten for every input and removed at exit.
const QString& IniPath() {
  static const QString path = [] {
    gDir = (std::filesystem::temp_directory_path() / "kiren-fuzz-ini-XXXXXX").string();
    if (!::mkdtemp(gDir.data()))
      std::abort();
    std::atexit(RemoveDir);
    return QString::fromStdString(gDir + "/settings.ini");
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  {
    QFile file(IniPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
      std::abort();
    file.write(reinterpret_cast<const char*>(AData), static_cast<qint64>(ASize));
  }
  const TSettingsFile settings(IniPath());
  for (const char* key : {"BlockNo", "Offset", "Size", "CardCode"})
    if (const auto value = settings.Value(QString::fromLatin1(key)))
      (void)value->startsWith(QStringLiteral("0x"));
  std::int32_t lbs = 0;
  if (const auto value = settings.Value(QStringLiteral("LBS")))
    (void)TryStrToInt(value->toStdString(), lbs);
  return 0;
}
