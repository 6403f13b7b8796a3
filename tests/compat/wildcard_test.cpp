// Wildcard masks.
#include <gtest/gtest.h>

#include "compat/wildcard.h"

namespace kestrella {
namespace {

TEST(WildCard, MatchesWholeNames) {
  EXPECT_TRUE(MatchWildCard("photo.JPG", "*.jpg"));
  EXPECT_FALSE(MatchWildCard("photo.JPG", "*.jpg", '?', '*', true));
  EXPECT_TRUE(MatchWildCard("", "*"));
  EXPECT_FALSE(MatchWildCard("a", ""));
  EXPECT_FALSE(MatchWildCard("a", "a**"));
  EXPECT_TRUE(MatchWildCard("ab", "a**"));
  EXPECT_FALSE(MatchWildCard("a", "a?"));
  EXPECT_TRUE(MatchWildCard("img_0001.jpg", "IMG_*.J?G"));
  EXPECT_FALSE(MatchWildCard("\xE4", "\xC4"));  // only a-z fold
  EXPECT_TRUE(MatchWildCard("x.jpg", "%.j#g", '#', '%'));
}

}  // namespace
}  // namespace kestrella
