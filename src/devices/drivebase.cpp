#include "devices/drivebase.h"

#include "devices/device.h"
#include "diskio/enginecontext.h"

namespace kestrella {

void TCustomFile::duplicate(TCustomFile& target) const {
  // The size belongs to the concrete file (how it is measured depends on the
  // file system), so the base leaves it to the override.
  target.Name = Name;
  target.Drive = Drive;
  target.Flags = Flags;
  target.Condition = Condition;
  target.Parent = Parent;
}

TCustomDirectory::~TCustomDirectory() {
  DeleteChildren();
  Nodes.reset();
}

void TCustomDirectory::duplicate(TCustomDirectory& target) const {
  target.Name = Name;
  target.Drive = Drive;
  target.Mark = Mark;
  target.Flags = Flags;
  target.Condition = Condition;
  // The child list is shared, not copied: a duplicate shown in another tree
  // sees the children its original lists.
  target.Nodes = Nodes;
  target.Parent = Parent;
}

void TCustomDirectory::DeleteChildren() {
  if (!Nodes) return;
  for (auto& node : *Nodes) {
    // Directories and files are the children this list owns. Any other node
    // belongs to whoever put it there: the list lets go of it unfreed.
    if (dynamic_cast<TCustomDirectory*>(node.get()) == nullptr &&
        dynamic_cast<TCustomFile*>(node.get()) == nullptr)
      (void)node.release();
  }
  // Freeing a child directory frees its own children in turn.
  Nodes->clear();
}

bool TCustomDirectory::ChildIsSubDir() const {
  if (!Nodes) return false;
  for (const auto& node : *Nodes)
    if (dynamic_cast<const TCustomDirectory*>(node.get()) != nullptr) return true;
  return false;
}

UserInterface& TCustomDrive::UI() const {
  return Device != nullptr ? Device->Context().ui() : silentUi_;
}

}  // namespace kestrella
