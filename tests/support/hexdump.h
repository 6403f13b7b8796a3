// Bytes back from a hex dump as `xxd -a` writes it, without the xxd tool:
// the golden hostile cards of tests/data/hostile are kept that way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace kestrella::test {

// Each line is "OFFSET: hex pairs in groups  text"; its bytes go to OFFSET.
// What no line covers (the "*" lines stand for such runs of zeros) is zero,
// as `xxd -r` leaves it. Throws std::runtime_error naming the first line
// that is not of that form.
std::vector<uint8_t> ParseHexDump(std::string_view dump);
std::vector<uint8_t> ReadHexDump(const std::filesystem::path& file);

}  // namespace kestrella::test
