#include "diskio/enginecontext.h"

namespace kestrella {

EngineContext::EngineContext(UserInterface& ui, SourceOpener* opener, OutputFiles* files)
    : ui_(&ui),
      opener_(opener != nullptr ? opener : &plainOpener_),
      files_(files != nullptr ? files : &plainFiles_),
      diskutils_(kDiskutilsTraits, *this) {
  // Before UDisks2 is asked, a terminal gets its polkit agent; while it
  // waits for the user's answer, the window keeps drawing itself.
  opener_->SetAskingHooks([this] { ui_->BeforeAskingPermission(); },
                          [this] { ui_->ProcessMessages(); });
}

}  // namespace kestrella
