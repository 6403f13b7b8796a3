#include "support/hexdump.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "support/testsupport.h"

namespace kestrella::test {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::vector<uint8_t> ParseHexDump(std::string_view dump) {
  std::vector<uint8_t> bytes;
  size_t lineNumber = 0;
  while (!dump.empty()) {
    const size_t end = dump.find('\n');
    const std::string_view line = dump.substr(0, end);
    dump.remove_prefix(end == std::string_view::npos ? dump.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line == "*") continue;
    auto bad = [&] { return std::runtime_error("hex dump line " + std::to_string(lineNumber) + ": " + std::string(line)); };
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 16) throw bad();
    uint64_t offset = 0;
    for (char c : line.substr(0, colon)) {
      if (HexValue(c) < 0) throw bad();
      offset = offset * 16 + static_cast<uint64_t>(HexValue(c));
    }
    // The hex part ends at two spaces in a row, where the text column
    // begins; a short last line is padded up to it.
    std::vector<uint8_t> data;
    size_t i = colon + 1;
    while (i < line.size()) {
      if (line[i] == ' ') {
        if (i + 1 < line.size() && line[i + 1] == ' ') break;
        ++i;
        continue;
      }
      if (i + 1 >= line.size() || HexValue(line[i]) < 0 || HexValue(line[i + 1]) < 0) throw bad();
      data.push_back(static_cast<uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1])));
      i += 2;
    }
    // Not more than a whole card: a wrong offset must not ask for gigabytes.
    if (offset + data.size() > (uint64_t{1} << 30)) throw bad();
    if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size(), 0);
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return bytes;
}

std::vector<uint8_t> ReadHexDump(const std::filesystem::path& file) {
  const std::vector<uint8_t> text = ReadFileBytes(file);
  if (text.empty()) throw std::runtime_error("no hex dump at " + file.string());
  return ParseHexDump(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

}  // namespace kestrella::test
