#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace kestrella::test {

TempDir::TempDir() {
  fs::path base = fs::temp_directory_path();
  std::string tmpl = (base / "kestrella-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make folders read-only on purpose; give them back before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

MsgResult ScriptedUi::MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                                 MsgButtons buttons) {
  shown.push_back({std::string(text), std::string(caption), icon, buttons});
  if (answers.empty()) return defaultAnswer;
  MsgResult r = answers.front();
  answers.pop_front();
  return r;
}

uint32_t ScriptedUi::TickCount() {
  uint32_t t = tick;
  tick += tickStep;
  return t;
}

CommandResult Run(const std::string& commandLine) {
  CommandResult r;
  std::string full = commandLine + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.output.append(buf.data(), n);
  int status = pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string Numbered(const std::string& prefix, long long n, const std::string& suffix) {
  std::string s = prefix;
  s += std::to_string(n);
  s += suffix;
  return s;
}

fs::path DataDir() {
  // KESTRELLA_TEST_DATA points the same tests at another folder of the same
  // layout: the labelled extended run hands them the large corpus this way.
  fs::path dir = KESTRELLA_TEST_DATA;
  if (const char* env = std::getenv("KESTRELLA_TEST_DATA"); env != nullptr && *env != '\0') dir = env;
  // A missing folder would make every data-driven test pass on nothing.
  if (!fs::is_directory(dir / "photos")) throw std::runtime_error("no test data at " + dir.string());
  return dir;
}

bool UsingRepositoryData() { return fs::equivalent(DataDir(), fs::path(KESTRELLA_TEST_DATA)); }

fs::path DataPhoto(const std::string& name) {
  const fs::path p = DataDir() / "photos" / name;
  if (!fs::is_regular_file(p)) throw std::runtime_error("no photo " + p.string());
  return p;
}

fs::path UnzipDataImage(const std::string& zip, const std::string& image, const fs::path& into) {
  CommandResult r = Run("unzip -o -q " + Quote((DataDir() / "images" / zip).string()) + " -d " +
                        Quote(into.string()));
  if (r.exitCode != 0) throw std::runtime_error("unzip failed: " + r.output);
  for (auto& e : fs::recursive_directory_iterator(into)) {
    if (e.path().filename() == image) return e.path();
  }
  throw std::runtime_error("image " + image + " not found in " + zip);
}

std::vector<fs::path> DataPhotos() {
  std::vector<fs::path> out;
  for (auto& e : fs::directory_iterator(DataDir() / "photos")) {
    if (e.is_regular_file() && e.path().extension() == ".jpg") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> ReadFileBytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

bool NoRunFolderIn(const fs::path& dest) {
  for (const fs::directory_entry& e : fs::directory_iterator(dest))
    if (e.path().filename().string().rfind(".kestrella-", 0) == 0) return false;
  return true;
}

std::string Md5Of(const fs::path& p) {
  CommandResult r = Run("md5sum " + Quote(p.string()));
  return r.output.substr(0, 32);
}

void FakeDisk(const fs::path& classDir, const std::string& name, uint64_t sectors, int removable,
              const std::string& dev) {
  const fs::path d = classDir / name;
  fs::create_directories(d);
  std::ofstream(d / "size") << sectors << "\n";
  std::ofstream(d / "removable") << removable << "\n";
  std::ofstream(d / "ro") << "0\n";
  std::ofstream(d / "dev") << dev << "\n";
}

}  // namespace kestrella::test
