// Numbers and FAT time stamps as text.
#include <gtest/gtest.h>

#include <string>

#include "util/helpers.h"

namespace kestrella {
namespace {

TEST(HelpersNumbers, DecimalText) {
  EXPECT_EQ(LongWordToStr(4294967295u), "4294967295");
}

TEST(HelpersTimeStamps, FormatsDayMonthYearHourMinute) {
  EXPECT_EQ(fsTimeDate2Str(0x71A0, 0x2F87), "07.12.2003 14:13");
  EXPECT_EQ(fsTimeDate2Str(0xFFFF, 0xFFFF), "31.15.2107 31:63");
}

}  // namespace
}  // namespace kestrella
