// The file-system independent drive, directory and file classes.
#include <gtest/gtest.h>

#include "devices/drivebase.h"

namespace kestrella {
namespace {

// Counts the destructions of the nodes and drives below.
int g_freed = 0;

class Dir : public TCustomDirectory {
 public:
  ~Dir() override { ++g_freed; }
  std::string GetPath(const TCustomDirectory*) const override { return Name; }
  bool Rename(const std::string&) override { return false; }
  void ChangeListViewItem(TListItem&) const override {}
  int CompareChildren(const TListItem&, const TListItem&, int) const override { return 0; }
};

class File : public TCustomFile {
 public:
  ~File() override { ++g_freed; }
  bool Rename(const std::string&) override { return false; }
  std::string GetPath(const TCustomDirectory*) const override { return Name; }
  void ChangeListViewItem(TListItem&) const override {}
};

// A node that is neither a directory nor a file.
class Other : public TCustomNode {
 public:
  ~Other() override { ++g_freed; }
};

class Drive : public TCustomDrive {
 public:
  ~Drive() override { ++g_freed; }
  bool ReadSec(uint32_t, uint16_t, void*, bool) override { return false; }
  bool MountDrive(bool) override { return false; }
  std::vector<TListColumn> AddListViewColumns() const override { return {}; }
};

class DriveBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { g_freed = 0; }
  Drive drive_;
  Dir parent_;
};

TEST_F(DriveBaseTest, FileDuplicateCopiesAllButTheSize) {
  File source;
  source.Name = "P1000.JPG";
  source.Size = 4096;
  source.Drive = &drive_;
  source.Flags = kNodeDeleted | kNodeLost;
  source.Condition = 3;
  source.Parent = &parent_;
  File target;
  target.Size = 7;
  source.duplicate(target);
  EXPECT_EQ(target.Name, "P1000.JPG");
  EXPECT_EQ(target.Drive, &drive_);
  EXPECT_EQ(target.Flags, kNodeDeleted | kNodeLost);
  EXPECT_EQ(target.Condition, 3);
  EXPECT_EQ(target.Parent, &parent_);
  EXPECT_EQ(target.Size, 7u);
}

TEST_F(DriveBaseTest, DirectoryDuplicateSharesTheChildList) {
  Dir source;
  source.Name = "DCIM";
  source.Drive = &drive_;
  source.Mark = 1;
  source.Flags = kNodeDeleted;
  source.Condition = 2;
  source.Parent = &parent_;
  source.Nodes = std::make_shared<TNodeList>();
  source.Nodes->push_back(std::make_unique<File>());

  Dir target;
  source.duplicate(target);
  EXPECT_EQ(target.Name, "DCIM");
  EXPECT_EQ(target.Drive, &drive_);
  EXPECT_EQ(target.Mark, 1);
  EXPECT_EQ(target.Flags, kNodeDeleted);
  EXPECT_EQ(target.Condition, 2);
  EXPECT_EQ(target.Parent, &parent_);
  EXPECT_EQ(target.Nodes.get(), source.Nodes.get());

  // Children deleted through one are gone for the other.
  target.DeleteChildren();
  EXPECT_EQ(g_freed, 1);
  ASSERT_NE(source.Nodes, nullptr);
  EXPECT_TRUE(source.Nodes->empty());

  // An unlisted directory hands over "no list".
  Dir unlisted;
  unlisted.duplicate(target);
  EXPECT_EQ(target.Nodes, nullptr);
}

TEST_F(DriveBaseTest, DeleteChildren) {
  Dir unlisted;
  unlisted.DeleteChildren();
  EXPECT_EQ(unlisted.Nodes, nullptr);

  Dir listed;
  listed.Nodes = std::make_shared<TNodeList>();
  listed.DeleteChildren();
  ASSERT_NE(listed.Nodes, nullptr);
  EXPECT_TRUE(listed.Nodes->empty());

  // A subdirectory takes its own children with it.
  auto sub = std::make_unique<Dir>();
  sub->Nodes = std::make_shared<TNodeList>();
  sub->Nodes->push_back(std::make_unique<File>());
  sub->Nodes->push_back(std::make_unique<File>());
  listed.Nodes->push_back(std::move(sub));
  listed.Nodes->push_back(std::make_unique<File>());
  // A foreign node stays with whoever made it.
  auto other = std::make_unique<Other>();
  listed.Nodes->push_back(std::unique_ptr<TCustomNode>(other.get()));
  const TNodeList* list = listed.Nodes.get();

  listed.DeleteChildren();
  EXPECT_EQ(g_freed, 4);
  EXPECT_EQ(listed.Nodes.get(), list);
  EXPECT_TRUE(listed.Nodes->empty());
  other.reset();
  EXPECT_EQ(g_freed, 5);
}

TEST_F(DriveBaseTest, FreeingADirectoryFreesItsChildrenAndDropsTheList) {
  auto dir = std::make_unique<Dir>();
  dir->Nodes = std::make_shared<TNodeList>();
  dir->Nodes->push_back(std::make_unique<File>());
  dir->Nodes->push_back(std::make_unique<File>());
  std::weak_ptr<TNodeList> list = dir->Nodes;
  dir.reset();
  EXPECT_EQ(g_freed, 3);
  EXPECT_TRUE(list.expired());

  // A duplicate keeps the list object, but the children are gone with the
  // directory that was freed.
  auto original = std::make_unique<Dir>();
  original->Nodes = std::make_shared<TNodeList>();
  original->Nodes->push_back(std::make_unique<File>());
  Dir copy;
  original->duplicate(copy);
  original.reset();
  EXPECT_EQ(g_freed, 5);
  ASSERT_NE(copy.Nodes, nullptr);
  EXPECT_TRUE(copy.Nodes->empty());
}

TEST_F(DriveBaseTest, ChildIsSubDir) {
  Dir dir;
  EXPECT_FALSE(dir.ChildIsSubDir());
  dir.Nodes = std::make_shared<TNodeList>();
  EXPECT_FALSE(dir.ChildIsSubDir());
  dir.Nodes->push_back(std::make_unique<File>());
  EXPECT_FALSE(dir.ChildIsSubDir());
  dir.Nodes->push_back(std::make_unique<Dir>());
  EXPECT_TRUE(dir.ChildIsSubDir());
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
