// The save step as the window runs it: the copy into the destination with a
// progress dialog that keeps the window painting and can stop between files,
// and, when files could not be saved, the offer of another folder for them.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "app/foundfiles.h"
#include "app/runsummary.h"

class QWidget;

namespace kestrella::gui {

// One save of the ticked files not saved yet into `dest`, under a progress
// dialog over `parent`. Its Cancel stops after the file in hand; the files
// not tried stay in the temporary folder.
SaveReport SaveWithProgress(QWidget* parent, FoundFileList& files, const QString& dest,
                            const SaveNaming& naming);

// The whole save: SaveWithProgress into `dest`; while files could not be
// saved (and the user did not stop the save), asks whether to choose another
// folder and saves the rest there. Returns every save made, in order.
// `reportFailures`, when set, hears of a save's failures instead of the
// question, and nothing more is tried. `acceptFolder`, when set, must pass
// the folder the user picks (it may ask, and refuses the card being
// recovered); a folder it refuses ends the save with the rest kept.
std::vector<SaveAttempt> SaveUntilDone(QWidget* parent, FoundFileList& files, const QString& dest,
                                       const SaveNaming& naming,
                                       const std::function<void(const SaveReport&)>& reportFailures = {},
                                       const std::function<bool(const QString&)>& acceptFolder = {});

}  // namespace kestrella::gui
