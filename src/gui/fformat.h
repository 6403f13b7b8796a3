// The Format dialog of the Tools page: a fresh FAT file system for a card.
// Linux has no system format dialog to hand the card to, so this small one
// offers what mkfs.fat needs to know (file system, volume label, cluster
// size), runs the engine's FormatDrive on Start and shows the outcome. Start
// is the confirmation; the dialog says plainly that everything on the card
// goes.
#pragma once

#include <QDialog>
#include <QString>

#include "app/cardtools.h"
#include "app/engine.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrella::gui {

class TFrmFormat : public QDialog {
  Q_OBJECT

 public:
  // Result of a dialog closed without a format having been started.
  static constexpr int kNotFormatted = -1;

  TFrmFormat(Engine& engine, const DriveEntry& drive, QWidget* parent = nullptr);

  // The choices as the engine takes them.
  TFormatOptions Options() const;
  // mkfs.fat's exit status of the last Start, or kNotFormatted.
  int Status() const { return status_; }

  // Shows the dialog modally; returns Status() once it is closed.
  int Run();

  // Turns what the user typed into a volume label FAT accepts: upper case,
  // only the characters a FAT short name may hold, at most 11 of them.
  static QString CleanLabel(const QString& text);

 private:
  void StartClicked();
  void LabelEdited(const QString& text);

  Engine& engine_;
  DriveEntry drive_;
  int status_ = kNotFormatted;
  QComboBox* CBFileSystem = nullptr;
  QLineEdit* EditVolumeLabel = nullptr;
  QComboBox* CBClusterSize = nullptr;
  QLabel* LabelResult = nullptr;
  QPushButton* ButtonStart = nullptr;
  QPushButton* ButtonClose = nullptr;
};

}  // namespace kestrella::gui
