// Where the main window keeps what it remembers between runs: the destination
// folder and the preview switch (per user, group "Kestrella2", section
// "Options", every value stored as text) and the update address from the
// profile file "Kestrella.ini" beside the program.
#pragma once

#include <QString>

namespace kestrella::gui {

// The values read at start. `preview` stays the stored text: only "1" checks
// the box, so anything else a user typed into the file unchecks it.
struct StoredOptions {
  QString savePath;
  QString prefix = QStringLiteral("image");
  QString preview = QStringLiteral("1");
  // How found files are named and cut ("1" or "0").
  bool cardNames = true;
  bool folderPerKind = false;
  bool cutAtEnd = true;
};

// Reads "Save Path", "Prefix", "Preview", "Card Names", "Folder Per Kind" and
// "Cut Files"; missing values give the defaults.
StoredOptions ReadOptions();

// Writes the values in their fixed order. The three search switches are
// written empty: older versions read them, this one does not.
void WriteOptions(const QString& savePath, const QString& prefix, bool preview);
void WriteNamingOptions(bool cardNames, bool folderPerKind, bool cutAtEnd);

// The destination when none is stored or the stored one is gone. Photos must
// land somewhere the user can write: `pictures`/Recovered when the folder
// `pictures` exists (Recovered is created if missing), else `home`/Recovered
// (created if missing), else `fallback` (created if missing), else the
// temporary folder.
QString DefaultDestination(const QString& home, const QString& fallback,
                           const QString& pictures = QString());
// The same with the user's pictures folder, home and the system's temporary
// folder.
QString DefaultDestination();

// The folder of the running program.
QString ProgramFolder();

inline constexpr const char* kDefaultUpdateURL = "https://kestrella.invalid/update/update.inf";
// "LiveUpdate"/"URL" of the profile file at `iniPath`; the built-in address
// when the file, the section or the key is missing.
QString ReadUpdateURL(const QString& iniPath);

}  // namespace kestrella::gui
