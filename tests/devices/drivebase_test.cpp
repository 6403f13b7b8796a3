// The file-system independent drive, directory and file classes.
#include "devices/drivebase.h"

#include <gtest/gtest.h>

namespace kestrella {
namespace {

int g_freed = 0;  // destructions of the nodes and drives below

struct Dir : TCustomDirectory {
  ~Dir() override { ++g_freed; }
  std::string GetPath(const TCustomDirectory*) const override { return Name; }
  bool Rename(const std::string&) override { return false; }
  void ChangeListViewItem(TListItem&) const override {}
  int CompareChildren(const TListItem&, const TListItem&, int) const override { return 0; }
};
struct File : TCustomFile {
  ~File() override { ++g_freed; }
  bool Rename(const std::string&) override { return false; }
  std::string GetPath(const TCustomDirectory*) const override { return Name; }
  void ChangeListViewItem(TListItem&) const override {}
};
struct Other : TCustomNode {  // neither a directory nor a file
  ~Other() override { ++g_freed; }
};
struct Drive : TCustomDrive {
  ~Drive() override { ++g_freed; }
  bool ReadSec(uint32_t, uint16_t, void*, bool) override { return false; }
  bool MountDrive(bool) override { return false; }
  std::vector<TListColumn> AddListViewColumns() const override { return {}; }
};

// A directory listing `files` files.
std::unique_ptr<Dir> Listed(int files) {
  auto d = std::make_unique<Dir>();
  d->Nodes = std::make_shared<TNodeList>();
  for (int i = 0; i < files; ++i) d->Nodes->push_back(std::make_unique<File>());
  return d;
}

class DriveBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { g_freed = 0; }
  Drive drive_;
  Dir parent_;
};

TEST_F(DriveBaseTest, DuplicatesCopyTheFieldsAndShareTheChildList) {
  File f;
  f.Name = "P1000.JPG";
  f.Size = 4096;
  f.Drive = &drive_;
  f.Flags = kNodeDeleted | kNodeLost;
  f.Condition = 3;
  f.Parent = &parent_;
  File fcopy;
  fcopy.Size = 7;
  f.duplicate(fcopy);
  EXPECT_EQ(std::tie(fcopy.Name, fcopy.Drive, fcopy.Flags, fcopy.Condition, fcopy.Parent),
            std::tie(f.Name, f.Drive, f.Flags, f.Condition, f.Parent));
  EXPECT_EQ(fcopy.Size, 7u);  // the size is the concrete file's business

  auto d = Listed(1);
  d->Name = "DCIM";
  d->Drive = &drive_;
  d->Mark = 1;
  d->Flags = kNodeDeleted;
  d->Condition = 2;
  d->Parent = &parent_;
  Dir dcopy;
  d->duplicate(dcopy);
  EXPECT_EQ(
      std::tie(dcopy.Name, dcopy.Drive, dcopy.Mark, dcopy.Flags, dcopy.Condition, dcopy.Parent),
      std::tie(d->Name, d->Drive, d->Mark, d->Flags, d->Condition, d->Parent));
  EXPECT_EQ(dcopy.Nodes.get(), d->Nodes.get());

  // Freeing the original frees the children the duplicate sees as well.
  d.reset();
  EXPECT_EQ(g_freed, 2);
  ASSERT_NE(dcopy.Nodes, nullptr);
  EXPECT_TRUE(dcopy.Nodes->empty());
  Dir().duplicate(dcopy);  // an unlisted directory hands over no list
  EXPECT_EQ(dcopy.Nodes, nullptr);
}

TEST_F(DriveBaseTest, DeleteChildrenFreesDirectoriesAndFilesAndKeepsTheList) {
  Dir unlisted;
  unlisted.DeleteChildren();
  EXPECT_EQ(unlisted.Nodes, nullptr);
  EXPECT_FALSE(unlisted.ChildIsSubDir());

  auto dir = Listed(1);
  EXPECT_FALSE(dir->ChildIsSubDir());
  dir->Nodes->push_back(Listed(2));  // its children go with it
  EXPECT_TRUE(dir->ChildIsSubDir());
  auto other = std::make_unique<Other>();
  dir->Nodes->push_back(std::unique_ptr<TCustomNode>(other.get()));
  const TNodeList* list = dir->Nodes.get();
  dir->DeleteChildren();
  EXPECT_EQ(g_freed, 4);
  EXPECT_EQ(dir->Nodes.get(), list);
  EXPECT_TRUE(dir->Nodes->empty());
  other.reset();  // left to its maker
  EXPECT_EQ(g_freed, 5);

  std::weak_ptr<TNodeList> dropped = dir->Nodes;
  dir.reset();
  EXPECT_TRUE(dropped.expired());
}

TEST_F(DriveBaseTest, DriveListOwnsItsDrives) {
  {
    TDriveList list;
    list.DriveItems.push_back(std::make_unique<Drive>());
    list.DriveItems.push_back(std::make_unique<Drive>());
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.GetDrive(1), list.DriveItems[1].get());
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(g_freed, 2);
    list.DriveItems.push_back(std::make_unique<Drive>());
  }
  EXPECT_EQ(g_freed, 3);
}

}  // namespace
}  // namespace kestrella
