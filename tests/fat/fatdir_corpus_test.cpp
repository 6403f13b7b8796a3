// Forensic test images made by others, checked against the ground truth in
// the index.html that comes with each.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>

#include "fatdir_support.h"

namespace kestrella::test {
namespace {

class Corpus : public ::testing::Test {
 protected:
  void SetUp() override {
  }
  // Unzips and mounts an image; `index_` gets its index.html.
  void Open(const std::string& zip, const std::string& image) {
    const fs::path img = UnzipDataImage(zip, image, dir_.path());
    const std::vector<uint8_t> html = ReadFileBytes(img.parent_path() / "index.html");
    index_.assign(html.begin(), html.end());
    ASSERT_TRUE(v_.Mount(img));
  }
  std::vector<std::smatch> Rows(const std::string& pattern) {
    std::vector<std::smatch> rows;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(index_.begin(), index_.end(), re); it != std::sregex_iterator(); ++it)
      rows.push_back(*it);
    return rows;
  }
  TempDir dir_;
  std::string index_;
  ImageVolume v_;
};

// The listed path of a true one: equal but for case, with "_" for the lost
// first letter of a deleted short name.
bool SamePath(std::string listed, std::string truth) {
  if (listed.size() != truth.size()) return false;
  for (size_t i = 0; i < listed.size(); ++i) {
    const bool start = i == 0 || listed[i - 1] == '\\';
    if (std::tolower(static_cast<unsigned char>(listed[i])) != std::tolower(static_cast<unsigned char>(truth[i])) &&
        !(start && listed[i] == '_'))
      return false;
  }
  return true;
}

TEST_F(Corpus, UndeleteImageListsEveryDeletedFileAndFolderOfItsGroundTruth) {
  Open("6-undel-fat.zip", "6-fat-undel.dd");
  // "<td>1</td><td><tt>\sing.dat</tt></td><td>780</td>"
  const auto truth = Rows(R"(<td>\d+</td><td><tt>\\([^<]*)</tt></td><td>(\d+)</td>)");
  ASSERT_EQ(truth.size(), 8u);
  // Files left inside a deleted folder read as live entries but are deleted
  // with it: the deleted-only listing shows them too.
  for (const bool deletedOnly : {false, true}) {
    const std::vector<Listed> listed = Walk(v_.Deleted(), true, deletedOnly);
    for (const std::smatch& t : truth) {
      const std::string path = t[1].str();
      const Listed* match = nullptr;
      for (const Listed& l : listed)
        if (SamePath(l.path, path)) match = &l;
      ASSERT_NE(match, nullptr) << path << (deletedOnly ? " (deleted only)" : "");
      EXPECT_TRUE(match->deleted) << path;
      EXPECT_EQ(match->dir, path.back() == '\\') << path;
      if (!match->dir) {  // folders keep no size
        EXPECT_EQ(match->size, std::stoul(t[2].str())) << path;
      }
    }
  }
  // Without deleted entries none of it shows.
  const std::vector<Listed> listed = Walk(v_.Root(), true, false);
  for (const char* path : {"_ing.dat", "_ult1.dat", "_rag1.dat", "_rag2.dat", "_ir1\\"}) {
    ASSERT_NE(Find(listed, path), nullptr) << path;
    EXPECT_TRUE(Find(listed, path)->deleted) << path;
  }
  for (const Listed& l : Walk(v_.Root(), false, false))
    for (const std::smatch& t : truth) EXPECT_FALSE(SamePath(l.path, t[1].str())) << l.path;
}

TEST_F(Corpus, DaylightImageShowsTheTimesStoredOnIt) {
  Open("5-fat-daylight.zip", "daylight.dd");
  // "<td>winter.txt</td><td>January 1, 2004 - 2:00PM</td>"
  const std::vector<std::string> months = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};
  std::map<std::string, std::string> expected, shown;
  for (const std::smatch& m : Rows(R"(<td>(\w+\.txt)</td><td>(\w+) (\d+), (\d{4}) - (\d+):(\d\d)(AM|PM)</td>)")) {
    const int month = static_cast<int>(std::find(months.begin(), months.end(), m[2].str()) - months.begin()) + 1;
    const int hour = std::stoi(m[5].str()) % 12 + (m[7].str() == "PM" ? 12 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%02d.%02d.%s %02d:%s", std::stoi(m[3].str()), month, m[4].str().c_str(), hour,
                  m[6].str().c_str());
    expected[m[1].str()] = text;
  }
  ASSERT_EQ(expected.size(), 2u);
  v_.Root().AddChildren(false, false);
  for (const auto& node : *v_.Root().Nodes) {
    TListItem row;
    dynamic_cast<TFATFile&>(*node).ChangeListViewItem(row);
    shown[row.Caption] = row.SubItems.at(1);
  }
  EXPECT_EQ(shown, expected);
}

TEST_F(Corpus, LabelImageMountsUnderItsBootSectorLabel) {
  Open("9-fat-label.zip", "9-fat-label.dd");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(index_, m, std::regex(R"re(label in the boot sector is "(\w+)")re")));
  EXPECT_EQ(v_.drive.Name, m[1].str() + std::string(11 - m[1].length(), ' '));  // the whole 11-byte field
  // The root's label entry ("LABEL2") and dir1's ("FILE2.DLL") own clusters
  // but are labels, not files.
  EXPECT_EQ(Paths(Walk(v_.Root(), false, false)), (std::vector<std::string>{"dir1\\"}));
  // The deleted "New Folder" points at dir1's cluster, which is in use.
  const std::vector<Listed> all = Walk(v_.Root(), true, false);
  ASSERT_NE(Find(all, "New Folder\\"), nullptr);
  EXPECT_TRUE(Find(all, "New Folder\\")->deleted);
  EXPECT_EQ(Find(all, "New Folder\\")->condition, 2);
  EXPECT_EQ(Find(all, "New Folder\\")->cluster, Find(all, "dir1\\")->cluster);
}

}  // namespace
}  // namespace kestrella::test
