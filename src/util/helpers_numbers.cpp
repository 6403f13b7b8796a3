// Numbers and FAT time stamps as text.
#include <cstdio>
#include <string>

#include "util/helpers.h"

namespace kestrella {

std::string LongWordToStr(uint32_t v) { return std::to_string(v); }

std::string fsTimeDate2Str(uint16_t fatTime, uint16_t fatDate) {
  const unsigned day = fatDate & 0x1F;
  const unsigned month = (fatDate >> 5) & 0x0F;
  const unsigned year = 1980u + (fatDate >> 9);
  const unsigned hour = fatTime >> 11;
  const unsigned minute = (fatTime >> 5) & 0x3F;
  char text[32];
  std::snprintf(text, sizeof text, "%02u.%02u.%04u %02u:%02u", day, month, year, hour, minute);
  return text;
}

}  // namespace kestrella
