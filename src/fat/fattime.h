// The modification times of FAT directory entries.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrella {

// The time a FAT entry's date and time words name, as seconds since
// 1970-01-01 00:00 UTC. Nothing for a date of 0 (the entry has none) or for
// words no clock writes: month 0 or past 12, day 0 or past the month's end,
// hour past 23, minute past 59, seconds past 58.
//
// FAT keeps the wall-clock time of the camera's (or computer's) own zone,
// with no zone attached, at two-second resolution. The time is read as
// local time of this machine's zone (mktime, its daylight saving decided by
// the date itself): a photo then shows the hour the camera's clock showed,
// which is what the user set it to and expects to see. Reading it as UTC
// would shift every photo by the zone's offset.
std::optional<int64_t> FatTimeToUnix(uint16_t date, uint16_t time);

}  // namespace kestrella
