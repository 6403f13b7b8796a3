// The golden hostile cards of tests/data/hostile: each NAME.xxd is read back
// into a card image, kestrella-cli analyses it, recovers it by the folder
// route with the lost-cluster hunt and scans it for signatures, and what it
// printed, its exit codes and the files it saved must be NAME.expected.
// Adding a card is adding those two files; KESTRELLA_UPDATE_GOLDEN=1 writes
// the .expected files from what the program does now.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/hexdump.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const fs::path kCards = fs::path(KESTRELLA_SOURCE_DIR) / "tests" / "data" / "hostile";
// A step that runs longer than this on a card of a few hundred sectors hangs.
constexpr int kStepSeconds = 20;
// More than this is output without bound, whatever the card holds.
constexpr size_t kMaxStepOutput = 64 * 1024;

std::vector<std::string> CardNames() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(kCards))
    if (e.path().extension() == ".xxd") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Text(const fs::path& p) {
  const std::vector<uint8_t> b = ReadFileBytes(p);
  return std::string(b.begin(), b.end());
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

// One stream of one step, as the golden file keeps it: the run's own paths
// and times replaced, progress lines (their count follows the clock) left out.
std::string Lines(std::string text, const std::string& prefix, const fs::path& dir) {
  ReplaceAll(text, dir.string(), "TMP");
  text = std::regex_replace(text, std::regex(R"(\.kestrella-[A-Za-z0-9]{6})"), ".kestrella-XXXXXX");
  text = std::regex_replace(text, std::regex(R"(\d+\.\d s\b)"), "N s");
  text = std::regex_replace(text, std::regex(R"(\(\d+\.\d [KMGT]?B/s\))"), "(N/s)");
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!std::regex_search(line, std::regex(R"(^ *\d+%  )"))) out += prefix + line + "\n";
  }
  return out;
}

// Every file below `dest`: its path there and its size.
std::string SavedFiles(const fs::path& dest) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dest, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file())
      files.push_back("saved: " + it->path().lexically_relative(dest).string() + " " +
                      std::to_string(it->file_size()) + "\n");
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const std::string& f : files) out += f;
  return out;
}

// As xxd -r reads them: "*" and every gap are zeros, a short last line
// ends the bytes, the text column is not read even where it looks like hex.
TEST(HexDump, ReadsBackWhatXxdWrote) {
  const std::vector<uint8_t> bytes = ParseHexDump(
      "00000000: 4142 0000 0000 0000 0000 0000 0000 00ff  AB..............\n"
      "*\n"
      "00000030: dead be                                  ...\n");
  std::vector<uint8_t> expected(0x33, 0);
  expected[0] = 'A', expected[1] = 'B', expected[15] = 0xFF;
  expected[0x30] = 0xDE, expected[0x31] = 0xAD, expected[0x32] = 0xBE;
  EXPECT_EQ(bytes, expected);
  EXPECT_THROW(ParseHexDump("00000000: 41x2  A.\n"), std::runtime_error);
  EXPECT_THROW(ParseHexDump("not a dump\n"), std::runtime_error);
}

class HostileCard : public ::testing::TestWithParam<std::string> {};

TEST_P(HostileCard, RunsAsItsGoldenReportSays) {
  const std::string name = GetParam();
  TempDir dir;
  const fs::path card = dir / "card.img";
  const std::vector<uint8_t> bytes = ReadHexDump(kCards / (name + ".xxd"));
  WriteFileBytes(card, bytes);
  const std::string cli = Quote(KESTRELLA_CLI_PATH);
  const struct Step {
    const char* title;
    std::string args;
    const char* dest;
  } steps[] = {{"analyze", "analyze CARD", nullptr},
               {"recover --method folder --lost", "recover CARD -o DEST --method folder --lost", "folder"},
               {"scan", "scan CARD -o DEST", "scan"}};
  std::string report;
  for (const Step& s : steps) {
    std::string args = s.args;
    ReplaceAll(args, "CARD", Quote(card.string()));
    if (s.dest != nullptr) ReplaceAll(args, "DEST", Quote((dir / s.dest).string()));
    const fs::path out = dir / "stdout", err = dir / "stderr";
    const CommandResult r = kestrella::test::Run(
        "(cd " + Quote(dir.path().string()) + " && TMPDIR=" + Quote(dir.path().string()) + " timeout -s KILL " +
        std::to_string(kStepSeconds) + " " + cli + " " + args + " </dev/null >" + Quote(out.string()) +
        " 2>" + Quote(err.string()) + ")");
    EXPECT_NE(r.exitCode, 137) << name << ": " << s.title << " did not end within " << kStepSeconds << " s";
    EXPECT_LE(fs::file_size(out) + fs::file_size(err), kMaxStepOutput) << name << ": " << s.title;
    report += "== " + std::string(s.title) + "\nexit " + std::to_string(r.exitCode) + "\n" +
              Lines(Text(out), "out: ", dir.path()) + Lines(Text(err), "err: ", dir.path());
    if (s.dest != nullptr) {
      report += SavedFiles(dir / s.dest);
      EXPECT_TRUE(!fs::exists(dir / s.dest) || NoRunFolderIn(dir / s.dest)) << name << ": " << s.title;
    }
  }
  EXPECT_TRUE(ReadFileBytes(card) == bytes) << name << ": the card was changed";
  const fs::path expected = kCards / (name + ".expected");
  const char* update = std::getenv("KESTRELLA_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    WriteFileBytes(expected, std::vector<uint8_t>(report.begin(), report.end()));
    return;
  }
  ASSERT_TRUE(fs::exists(expected)) << expected << " is missing: run with KESTRELLA_UPDATE_GOLDEN=1";
  EXPECT_EQ(report, Text(expected)) << name;
}

INSTANTIATE_TEST_SUITE_P(Golden, HostileCard, ::testing::ValuesIn(CardNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
}  // namespace kestrella::test
