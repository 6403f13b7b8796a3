#include "fat/names.h"

#include <array>

namespace kestrella {

namespace {

constexpr std::array<uint16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

constexpr uint32_t kReplacement = 0xFFFD;

void AppendCp437(std::string& out, uint8_t byte) {
  if (byte < 0x80) {
    out.push_back(static_cast<char>(byte));
  } else {
    AppendUtf8(out, kCp437High[byte - 0x80u]);
  }
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(const uint16_t* units, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && units[i] != 0; ++i) {
    const uint32_t u = units[i];
    if (u == 0xFFFF) {
      // 0xFFFF fills the rest of a name's last entry; where the 0 before it
      // is missing (a damaged entry) the fill ends the name too. Inside a
      // name the noncharacter stands for a character that cannot be shown.
      std::size_t k = i;
      while (k < count && units[k] == 0xFFFF) ++k;
      if (k == count || units[k] == 0) break;
      AppendUtf8(out, kReplacement);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else {
      AppendUtf8(out, u);  // a lone surrogate turns into U+FFFD there
    }
  }
  return out;
}

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  for (char c : bytes) AppendCp437(out, static_cast<uint8_t>(c));
  return out;
}

std::string ShortNameUtf8(const TDirEntry& entry) {
  const bool lowerBase = (entry.raw[12] & 0x08) != 0;
  const bool lowerExt = (entry.raw[12] & 0x10) != 0;
  auto part = [&](int from, int to, bool lower) {
    std::string text;
    for (int i = from; i < to; ++i) {
      uint8_t b = entry.raw[i];
      if (b == ' ') continue;
      if (i == 0 && b == kDeletedMarker) {
        text.push_back('_');
        continue;
      }
      if (i == 0 && b == 0x05) b = kDeletedMarker;  // a name really starting with 0xE5
      if (lower && b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b - 'A' + 'a');
      AppendCp437(text, b);
    }
    return text;
  };
  std::string name = part(0, 8, lowerBase);
  const std::string ext = part(8, 11, lowerExt);
  if (!ext.empty()) name += "." + ext;
  return name;
}

}  // namespace kestrella
