#include "diskio/enginecontext.h"

namespace kestrella {

EngineContext::EngineContext(UserInterface& ui, SourceOpener* opener, OutputFiles* files)
    : ui_(&ui),
      opener_(opener != nullptr ? opener : &plainOpener_),
      files_(files != nullptr ? files : &plainFiles_),
      diskutils_(kDiskutilsTraits, *this) {}

}  // namespace kestrella
