// The preview dialog: one thumbnail per file a recovery run found, each with a
// "Recover Image" tick box, its name, size and date; at the end the ticked
// files are copied into the destination folder and the temporary files are
// deleted. Found files are discarded only when the user says so: Cancel in
// the save step asks first. A double-click on a thumbnail shows the photo
// enlarged. The dialog can be resized; its thumbnails fill the rows it is
// wide enough for.
//
// Ownership: the dialog frees itself when it is closed (WA_DeleteOnClose), by
// OK, by a confirmed Cancel or by the end of a modal showing. Callers hold it through a
// QPointer. It shows a list of found files that its caller owns (a run's),
// which must outlive it; its destructor deletes the temporary files of that
// list, except those whose save failed.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "app/foundfiles.h"
#include "app/runsummary.h"

class QPushButton;
class QScrollArea;

namespace kestrella::gui {

class PhotoView;
class ThumbnailBox;

class TFrmPreview : public QDialog {
  Q_OBJECT

 public:
  // What the dialog needs from the main window.
  struct Hooks {
    std::function<bool()> runInProgress;      // a run is still finding files
    std::function<QString()> destFolder;      // the destination folder text
    std::function<SaveNaming()> naming;       // how saved files are named
    // Every save into a folder, for the run's summary.
    std::function<void(const SaveAttempt&)> saved;
    // Told about files that could not be saved; by default the offer of
    // another folder for them.
    std::function<void(const SaveReport&)> reportFailures;
    // Whether another folder picked after a failed save may take files.
    std::function<bool(const QString&)> acceptFolder;
  };

  // The exec() result of a save step the user ended by discarding the files.
  static constexpr int kResultDiscarded = 2;

  explicit TFrmPreview(FoundFileList& files, QWidget* parent = nullptr);
  ~TFrmPreview() override;

  void SetHooks(Hooks hooks);

  // Adds a file to the list and shows it.
  void AddImage(const QString& path);
  // The list grew (a run added to it): shows the new files.
  void ShowAdded();
  int ImageCount() const;
  void SelectAll();
  void SelectNone();
  bool IsTicked(int n) const;

  // Copies the ticked files into dest under the names `naming` gives, with a
  // progress dialog. Files that could not be saved stay in the temporary
  // folder, and another folder is offered for them (see SaveUntilDone).
  // Returns what all the saves did: every file saved, and the problems and
  // files not tried of the last one.
  SaveReport SaveSelectedImages(const QString& dest, const SaveNaming& naming);

  // The end of a run: re-captions the dialog for the save step and shows
  // Cancel. The caller then shows it modally.
  void BeginSaveStep();

  // Puts the dialog beside `window`, right of it when the screen has room,
  // never over `keepClear` (the window's Cancel, which must stay in reach
  // during the run); see PlaceBeside. Narrows the dialog when it has to.
  void PlaceBesideWindow(const QWidget* window, const QWidget* keepClear);
  // Four columns and two rows of thumbnails.
  QSize sizeHint() const override;
  // The smallest size worth placing: one column and one row of thumbnails.
  QSize MinimumPlacedSize() const;

  // The enlarged view of thumbnail n; null when it shows no picture.
  PhotoView* OpenPhoto(int n);

  // For the tests and for anyone drawing over the thumbnails: the geometry
  // the box really uses, in PanelBox coordinates.
  QRect PanelGeometry(int n) const;
  QRect CheckBoxGeometry(int n) const;
  int PanelBoxHeight() const;
  ThumbnailBox* Box() const { return box_; }
  QScrollArea* ScrollBox() const { return scroll_; }

 protected:
  // Escape. During a run it only hides the dialog, like OK: closing would
  // delete the files found so far while more keep arriving, and the save
  // step still shows the dialog. In the save step it is Cancel.
  void reject() override;

 private:
  // The dialog's size around its thumbnail box.
  QSize ChromeSize() const;
  void OkClicked();
  void CancelClicked();
  // "Discard the N found photos?", No by default.
  bool ConfirmDiscard();

  FoundFileList& files_;
  Hooks hooks_;
  ThumbnailBox* box_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool saving_ = false;  // a save lets events run: the buttons must wait
};

}  // namespace kestrella::gui
