#include "app/recoveryrun.h"

#include "diskio/enginecontext.h"
#include "util/sizetext.h"
#include "util/userinterface.h"

namespace kestrella {

void LimitOutputToCard(EngineContext& context, uint64_t cardBytes) {
  // Files saved from a card hold at most its data: the margin is for the
  // odd cluster two entries share.
  if (cardBytes == 0) {
    context.files().Unlimit();
    return;
  }
  UserInterface& ui = context.ui();
  context.files().LimitWrites(cardBytes + cardBytes / 64 + (1u << 20), [&ui, cardBytes](uint64_t written) {
    return ui.MessageBox("This run has written " + FormatByteSize(written) + ", more than the card holds (" +
                             FormatByteSize(cardBytes) +
                             "). The card's entries describe the same data again and again. Write on?",
                         "Confirm", MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes;
  });
}

void TRecoveryRun::Add(const std::string& path, const FoundOrigin& origin) {
  found_.AddImage(path, origin);
  if (OnFound) OnFound(path);
}

void TRecoveryRun::Stop() {
  stopped_ = true;
  scan_.Stop();
  driver_.StopScan();
}

const Report& TRecoveryRun::Problems() const {
  return folderRoute_ ? driver_.SaveProblems : scan_.Problems();
}

void TRecoveryRun::Run(const TRunChoice& choice, const RawScanSettings& given) {
  stopped_ = false;
  // Found files go into the run's own private folder in the temporary
  // location, never loose into a folder other users share.
  RawScanSettings settings = given;
  if (found_.RunFolderPath().empty()) {
    found_.OpenRunFolder(given.tempFolder.empty() ? driver_.Context().ui().TempFolder()
                                                  : given.tempFolder);
  }
  settings.tempFolder = found_.RunFolderPath();
  folderRoute_ = choice.FolderMethod;
  struct Unlimit {
    OutputFiles& files;
    ~Unlimit() { files.Unlimit(); }
  } unlimit{driver_.Context().files()};
  LimitOutputToCard(driver_.Context(), settings.totalBytes != 0 ? settings.totalBytes
                                                                : settings.totalSectors * settings.bytesPerSector);
  if (!choice.FolderMethod) {
    // The scan reads the drive through the window's own access; the
    // analysis' mount is not needed and lets go of the card.
    driver_.CloseDrive();
    scan_.OnFileClosed = [this](const std::string& path, const FoundOrigin& origin) { Add(path, origin); };
    scan_.Run(settings);
    scan_.OnFileClosed = nullptr;
    return;
  }
  // The driver reports each saved file through its event; during the run
  // the hand-off is the run's (front ends listen to OnFound).
  driver_.DestFolder = settings.tempFolder.string();
  driver_.CutAtEnd = settings.cutAtEnd;
  TOnFoundImageEvent previous = driver_.OnFoundImage;
  driver_.OnFoundImage = [this](const std::string& path, const FoundOrigin& origin) { Add(path, origin); };
  driver_.ScanDrive(settings.drive, false, choice.RecoverDeleted, choice.RecoverLost);
  driver_.OnFoundImage = previous;
  driver_.Context().diskutils().NT_CloseDrive();
  // The run is over: the card is not held open until the next Start.
  driver_.CloseDrive();
  driver_.StopScan();
}

}  // namespace kestrella
