#include "diskio/systemdisk.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace kestrella {

namespace fs = std::filesystem;

std::string ReadSysText(const fs::path& p) {
  std::ifstream f(p);
  std::string s;
  std::getline(f, s);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

namespace {

// The sysfs name of the device numbered "major:minor", or "".
std::string NameOfNumber(const fs::path& classDir, const std::string& number) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(classDir, ec))
    if (ReadSysText(e.path() / "dev") == number) return e.path().filename().string();
  return {};
}

// The sysfs name of a mount source such as /dev/nvme0n1p2 or
// /dev/mapper/vg-root (a link to /dev/dm-0), or "" when it names none.
std::string NameOfSource(const fs::path& classDir, const std::string& source) {
  if (source.rfind("/dev/", 0) != 0) return {};
  std::error_code ec;
  fs::path p = fs::canonical(source, ec);
  if (ec) p = source;
  const std::string name = p.filename().string();
  return fs::exists(classDir / name, ec) ? name : std::string();
}

void AddDisksOf(const fs::path& classDir, const std::string& name, std::set<std::string>& out,
                int depth) {
  if (name.empty() || depth > 8) return;
  // A mapped or RAID volume rests on the devices in its slaves folder.
  std::error_code ec;
  bool stacked = false;
  for (const auto& e : fs::directory_iterator(classDir / name / "slaves", ec)) {
    stacked = true;
    AddDisksOf(classDir, e.path().filename().string(), out, depth + 1);
  }
  if (!stacked) out.insert(WholeDiskName(classDir.string(), name));
}

bool IsSystemMountPoint(const std::string& point) {
  return point == "/" || point == "/boot" || point == "/boot/efi";
}

}  // namespace

std::string WholeDiskName(const std::string& sysClassBlock, const std::string& name) {
  const fs::path dir = fs::path(sysClassBlock) / name;
  std::error_code ec;
  if (!fs::exists(dir / "partition", ec)) return name;
  const fs::path real = fs::canonical(dir, ec);
  return ec ? name : real.parent_path().filename().string();
}

std::set<std::string> SystemDiskNames(const std::string& mountInfo,
                                      const std::string& sysClassBlock,
                                      const std::string& rootDevice) {
  const fs::path classDir(sysClassBlock);
  std::set<std::string> out;
  if (!rootDevice.empty()) AddDisksOf(classDir, NameOfNumber(classDir, rootDevice), out, 0);
  std::ifstream f(mountInfo);
  std::string line;
  while (std::getline(f, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream in(line);
    std::string id, parent, number, root, point;
    if (!(in >> id >> parent >> number >> root >> point) || !IsSystemMountPoint(point)) continue;
    std::string field, source;
    while (in >> field && field != "-") {}
    std::string type;
    in >> type >> source;
    // Btrfs and other pooled file systems report a number no block device
    // has; their source still names the device.
    std::string name = NameOfNumber(classDir, number);
    if (name.empty()) name = NameOfSource(classDir, source);
    AddDisksOf(classDir, name, out, 0);
  }
  return out;
}

}  // namespace kestrella
