// The three pages of the main window (recovery, card tools, settings) and the
// little the window's files share about drawing them. Each Build function
// makes a page without a parent, ready for the window's page stack, and hands
// back the controls the window works with; the controls belong to the page.
#pragma once

#include <QIcon>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "app/engine.h"
#include "app/foundfiles.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

namespace kestrella::gui {

// The busy animation fits the row of the Start and Wipe buttons.
inline constexpr int kAnimationSize = 22;

// The gauges hold int; sector counts of large cards do not.
inline int ClampToInt(uint64_t v) { return static_cast<int>(std::min<uint64_t>(v, INT_MAX)); }
// A gauge's position for `v` of `total`: a count past int is halved as
// often as `total` needs to fit, so that the gauge still moves to its end.
inline int GaugePosition(uint64_t v, uint64_t total) {
  int shift = 0;
  while ((total >> shift) > static_cast<uint64_t>(INT_MAX)) ++shift;
  return ClampToInt(v >> shift);
}

// The icon theme's icon of that name, else the style's own: both are drawn
// for the screen's pixel ratio.
QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback);
// The theme's icon for a drive of the drive table's root type.
QIcon DriveIcon(RootKind rootType);

// The drive to recover, the destination, the drive information and the
// run's status with Start and Cancel.
struct RecoverPage {
  QWidget* TSRecover = nullptr;
  QComboBox* ListBoxDrives = nullptr;
  QPushButton* ButtonOpenImage = nullptr;
  QLineEdit* EditDestPath = nullptr;
  QPushButton* ButtonBrowse = nullptr;
  QWidget* MediaInfo = nullptr;  // the three media figures with their captions
  QLabel* LabelInfoHint = nullptr;  // what to do about a drive that cannot be read
  QLabel* LabelInfoMedia = nullptr;
  QLabel* LabelInfoCapacity = nullptr;
  QLabel* LabelInfoBytesPerSec = nullptr;
  QLabel* LabelInfoStatus = nullptr;
  QLabel* LabelInfoImagesFound = nullptr;
  QLabel* LabelInfoReadErrors = nullptr;
  QLabel* LabelCurrSec = nullptr;
  QLabel* LabelInfoCurrentSector = nullptr;
  QProgressBar* GProgress = nullptr;
  QCheckBox* cb_preview = nullptr;
  QPushButton* ButtonStart = nullptr;
  QPushButton* ButtonCancel = nullptr;
  QLabel* Animate1 = nullptr;
};

// Format and Wipe for the selected card.
struct ToolsPage {
  QWidget* TSUtil = nullptr;
  QLabel* LabelToolsDrive = nullptr;  // the drive both act on
  QPushButton* FormatButton = nullptr;
  QProgressBar* WipeGauge = nullptr;
  QPushButton* WipeButton = nullptr;
  QPushButton* WipeCancelButton = nullptr;
  QLabel* AnimateWipe = nullptr;
};

// How found files are named and cut, and the two sliders that tune reading.
struct SettingsPage {
  QWidget* TSOptions = nullptr;
  QCheckBox* CheckCardNames = nullptr;     // the card's names, folders and times
  QLineEdit* EditFilenamePrefix = nullptr;  // else prefix + number
  QCheckBox* CheckFolderPerKind = nullptr;
  QCheckBox* CheckCutAtEnd = nullptr;
  QSlider* TrackBarSecAtOnce = nullptr;
  QSlider* TrackBarRetryCount = nullptr;
};

// How the save step names files, as the page is set.
SaveNaming NamingFrom(const SettingsPage& page);

RecoverPage BuildRecoverPage();
ToolsPage BuildToolsPage();
SettingsPage BuildSettingsPage();

}  // namespace kestrella::gui
