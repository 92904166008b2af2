#include "ui/settings_file.h"

#include "base/user_files.h"

#include <stdio.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

namespace kiren {

namespace {

const QString kSection = QStringLiteral("Common/");

}  // namespace

QString SettingsFilePath(const std::string& AProgramDir, const std::string& AConfigHome) {
  return QString::fromStdString(ProgramFilePath(AProgramDir, kSettingsFileName.toStdString(),
                                                TUserFolder::Config, AConfigHome));
}

std::optional<QString> TSettingsFile::Value(const QString& AKey) const {
  if (!QFileInfo::exists(FPath))
    return std::nullopt;
  QSettings ini(FPath, QSettings::IniFormat);
  const QVariant v = ini.value(kSection + AKey);
  // The INI reader turns a value with commas into a list and "@Type(...)" into other types;
  // a list is joined back, anything that is not text counts as missing.
  if (v.metaType() == QMetaType::fromType<QStringList>())
    return v.toStringList().join(QLatin1Char(','));
  if (v.metaType() != QMetaType::fromType<QString>() &&
      v.metaType() != QMetaType::fromType<QByteArray>())
    return std::nullopt;
  return v.toString();
}

bool TSettingsFile::MaskKeys() const {
  if (!QFileInfo::exists(FPath))
    return false;
  const QSettings ini(FPath, QSettings::IniFormat);
  const QString v = ini.value(QStringLiteral("Log/MaskKeys")).toString().trimmed().toLower();
  return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes") ||
         v == QLatin1String("on");
}

bool TSettingsFile::Write(const std::vector<std::pair<QString, QString>>& AValues) const {
  // A link stays a link: the file it points to is the one replaced.
  const QFileInfo link(FPath);
  const QFileInfo target(link.isSymLink() ? link.symLinkTarget() : FPath);
  if (!QDir().mkpath(target.absolutePath()))
    return false;
  // QSettings edits a private copy; the copy then replaces the file in one rename. A failed
  // write leaves the file as it was, and no unsaved values linger in QSettings' cache of it.
  QTemporaryFile copy(target.absoluteFilePath() + QStringLiteral(".XXXXXX"));
  if (!copy.open())
    return false;
  QFile old(target.absoluteFilePath());
  QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ReadGroup | QFileDevice::ReadOther;
  if (old.exists()) {
    mode = old.permissions();
    if (!old.open(QIODevice::ReadOnly) || copy.write(old.readAll()) != old.size())
      return false;
  }
  if (!copy.flush())
    return false;
  copy.close();
  {
    QSettings ini(copy.fileName(), QSettings::IniFormat);
    ini.setAtomicSyncRequired(true);
    for (const auto& [key, value] : AValues)
      ini.setValue(kSection + key, value);
    ini.sync();
    if (ini.status() != QSettings::NoError)
      return false;
  }
  QFile::setPermissions(copy.fileName(), mode);
  if (::rename(QFile::encodeName(copy.fileName()).constData(),
               QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
    return false;
  copy.setAutoRemove(false);
  return true;
}

}  // namespace kiren
