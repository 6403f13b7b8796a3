// Entry times read as local time: the same words give the same wall-clock
// hour in every zone, summer time included.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "fat/fattime.h"

namespace kestrella::test {
namespace {

uint16_t D(int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
uint16_t T(int h, int m, int s) { return static_cast<uint16_t>((h << 11) | (m << 5) | (s / 2)); }

TEST(FatTime, EntryWordsGiveTheWallClockTimeOfThisZone) {
  // POSIX zone rules, so that no zone database is needed.
  const char* utc = "UTC0";
  const char* berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
  const struct { const char* zone; uint16_t date, time; std::optional<int64_t> expected; } cases[] = {
      {utc, D(1980, 1, 1), 0, 315532800},           {utc, D(2021, 6, 15), T(12, 34, 56), 1623760496},
      {utc, D(2020, 2, 29), T(23, 59, 58), 1583020798}, {utc, D(2107, 12, 31), T(23, 59, 58), 4354819198},
      {berlin, D(2021, 6, 15), T(12, 34, 56), 1623760496 - 7200},  // summer time
      {berlin, D(2021, 1, 15), T(12, 34, 56), 1610714096 - 3600},
      // No date, and words no clock writes.
      {utc, 0, T(12, 0, 0), {}},           {utc, D(2021, 0, 15), 0, {}},         {utc, D(2021, 13, 15), 0, {}},
      {utc, D(2021, 6, 0), 0, {}},         {utc, D(2021, 2, 29), 0, {}},         {utc, D(2021, 4, 31), 0, {}},
      {utc, D(2021, 6, 15), T(24, 0, 0), {}}, {utc, D(2021, 6, 15), T(12, 60, 0), {}},
      {utc, D(2021, 6, 15), T(12, 0, 60), {}},
  };
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  for (const auto& c : cases) {
    setenv("TZ", c.zone, 1);
    tzset();
    EXPECT_EQ(FatTimeToUnix(c.date, c.time), c.expected) << c.zone << " " << c.date << " " << c.time;
  }
  if (saved) setenv("TZ", saved->c_str(), 1); else unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace kestrella::test
