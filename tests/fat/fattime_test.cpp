// Entry times read as this machine's local time: the same words give the
// same wall-clock hour in every zone, summer time included.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "fat/fattime.h"

namespace kestrella::test {
namespace {

// Sets the process's time zone for the life of the object.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (old_) setenv("TZ", old_->c_str(), 1); else unsetenv("TZ");
    tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::optional<std::string> old_;
};

uint16_t Date(int year, int month, int day) { return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day); }
uint16_t Time(int hour, int minute, int second) { return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2)); }

TEST(FatTime, EntryWordsGiveTheWallClockTimeOfThisZone) {
  // POSIX zone rules, so that no zone database is needed.
  constexpr const char* kUtc = "UTC0";
  constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
  struct Case {
    const char* zone;
    uint16_t date, time;
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {kUtc, Date(1980, 1, 1), 0, 315532800},
      {kUtc, Date(2021, 6, 15), Time(12, 34, 56), 1623760496},
      {kUtc, Date(2020, 2, 29), Time(23, 59, 58), 1583020798},
      {kUtc, Date(2107, 12, 31), Time(23, 59, 58), 4354819198},
      {kBerlin, Date(2021, 6, 15), Time(12, 34, 56), 1623760496 - 7200},  // summer time
      {kBerlin, Date(2021, 1, 15), Time(12, 34, 56), 1610714096 - 3600},
      // No date, and words no clock writes.
      {kUtc, 0, Time(12, 0, 0), std::nullopt},
      {kUtc, Date(2021, 0, 15), 0, std::nullopt},
      {kUtc, Date(2021, 13, 15), 0, std::nullopt},
      {kUtc, Date(2021, 6, 0), 0, std::nullopt},
      {kUtc, Date(2021, 2, 29), 0, std::nullopt},
      {kUtc, Date(2021, 4, 31), 0, std::nullopt},
      {kUtc, Date(2021, 6, 15), Time(24, 0, 0), std::nullopt},
      {kUtc, Date(2021, 6, 15), Time(12, 60, 0), std::nullopt},
      {kUtc, Date(2021, 6, 15), Time(12, 0, 60), std::nullopt},
  };
  for (const Case& c : cases) {
    ZoneScope zone(c.zone);
    EXPECT_EQ(FatTimeToUnix(c.date, c.time), c.expected) << c.zone << " " << c.date << " " << c.time;
  }
}

}  // namespace
}  // namespace kestrella::test
