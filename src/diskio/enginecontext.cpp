#include "diskio/enginecontext.h"

namespace kestrella {

EngineContext::EngineContext(UserInterface& ui, SourceOpener* opener, OutputFiles* files)
    : ui_(&ui),
      opener_(opener != nullptr ? opener : &plainOpener_),
      files_(files != nullptr ? files : &plainFiles_),
      diskutils_(kDiskutilsTraits, *this) {
  // While UDisks2 waits for the user to answer polkit, the window keeps
  // drawing itself.
  opener_->SetWhileAsking([this] { ui_->ProcessMessages(); });
}

}  // namespace kestrella
