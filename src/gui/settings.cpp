#include "gui/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "util/userinterface.h"

namespace kestrella::gui {

namespace {

// The organisation name alone picks the file (~/.config/Kestrella2.conf on
// Linux), so the values sit in its "Options" section as they always did.
constexpr const char* kGroup = "Kestrella2";
constexpr const char* kSection = "Options";

// A folder that takes files, or one that could be made where it is named:
// the nearest existing folder above it takes new entries. Nothing is made
// here; Start asks before it creates the destination.
bool UsableFolder(const QString& path) {
  if (path.isEmpty()) return false;
  // The nearest entry that exists decides: a file there blocks the way.
  QString at = QFileInfo(path).absoluteFilePath();
  while (!QFileInfo::exists(at) && at != QStringLiteral("/")) at = QFileInfo(at).absolutePath();
  const QFileInfo nearest(at);
  return nearest.isDir() && nearest.isWritable();
}

}  // namespace

StoredOptions ReadOptions() {
  StoredOptions o;
  QSettings s(QSettings::defaultFormat(), QSettings::UserScope, kGroup);
  s.beginGroup(kSection);
  o.savePath = s.value("Save Path", o.savePath).toString();
  o.prefix = s.value("Prefix", o.prefix).toString();
  o.preview = s.value("Preview", o.preview).toString();
  auto flag = [&s](const char* key, bool fallback) {
    const QString v = s.value(key).toString();
    return v.isEmpty() ? fallback : v == QStringLiteral("1");
  };
  o.cardNames = flag("Card Names", o.cardNames);
  o.folderPerKind = flag("Folder Per Kind", o.folderPerKind);
  o.cutAtEnd = flag("Cut Files", o.cutAtEnd);
  s.endGroup();
  return o;
}

void WriteOptions(const QString& savePath, const QString& prefix, bool preview) {
  QSettings s(QSettings::defaultFormat(), QSettings::UserScope, kGroup);
  s.beginGroup(kSection);
  s.setValue("Save Path", savePath);
  s.setValue("Prefix", prefix);
  s.setValue("Preview", preview ? QStringLiteral("1") : QStringLiteral("0"));
  s.setValue("ShowExistsFiles", QString());
  s.setValue("RecoverDeletedFiles", QString());
  s.setValue("RecoverLostFiles", QString());
  s.endGroup();
  s.sync();
}

void WriteNamingOptions(bool cardNames, bool folderPerKind, bool cutAtEnd) {
  QSettings s(QSettings::defaultFormat(), QSettings::UserScope, kGroup);
  s.beginGroup(kSection);
  auto text = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
  s.setValue("Card Names", text(cardNames));
  s.setValue("Folder Per Kind", text(folderPerKind));
  s.setValue("Cut Files", text(cutAtEnd));
  s.endGroup();
  s.sync();
}

QString DefaultDestination(const QString& home, const QString& fallback,
                           const QString& pictures) {
  // Not the program's folder: installed, that is /usr/bin, and a recovery
  // into it would fail file by file after the card was read. The pictures
  // folder is where a photo viewer looks first, but only one the user
  // already has: making ~/Pictures for someone who never had it would be
  // clutter, so then the photos go to ~/Recovered as before.
  if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) {
    const QString recovered = QDir(pictures).filePath(QStringLiteral("Recovered"));
    if (UsableFolder(recovered)) return recovered;
  }
  if (!home.isEmpty()) {
    const QString recovered = QDir(home).filePath(QStringLiteral("Recovered"));
    if (UsableFolder(recovered)) return recovered;
  }
  if (UsableFolder(fallback)) return fallback;
  return QDir::tempPath();
}

QString DefaultDestination() {
  // PicturesLocation follows XDG_PICTURES_DIR from user-dirs.dirs, so a
  // user who renamed or moved the folder gets it found.
  return DefaultDestination(QDir::homePath(),
                            QString::fromStdString(SystemTempFolder().string()),
                            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString ReadUpdateURL(const QString& iniPath) {
  const QString builtIn = QString::fromLatin1(kDefaultUpdateURL);
  if (!QFileInfo::exists(iniPath)) return builtIn;
  QSettings ini(iniPath, QSettings::IniFormat);
  return ini.value("LiveUpdate/URL", builtIn).toString();
}

}  // namespace kestrella::gui
