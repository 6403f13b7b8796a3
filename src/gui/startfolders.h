// What the Start button settles about folders before a run reads anything:
// the destination check's refusals and questions, and the found files that
// earlier runs left in the temporary location.
#pragma once

#include <QString>
#include <set>
#include <string>

#include "app/engine.h"
#include "app/foundfiles.h"

class QWidget;

namespace kestrella::gui {

// Refuses a destination the run must not write into (in the words of the
// one destination check), asks before a missing one is made and before a
// run into less room than the card holds, then makes the folders ready.
// False when the run must not start.
bool ReadyFolders(Engine& engine, QWidget* window, const QString& dest, const DriveEntry& drive);

// Offers each leftover folder of found files in the temporary location,
// except those in `declined`: Yes saves its files into `dest` by the normal
// save step, No keeps them for later (and adds the folder to `declined`),
// Discard deletes them after a confirmation.
void OfferLeftovers(Engine& engine, QWidget* window, const QString& dest, const SaveNaming& naming,
                    std::set<std::string>& declined);

}  // namespace kestrella::gui
