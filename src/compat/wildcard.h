// Wildcard matching of names, '?' for one character and '*' for any run of
// them, as the original file masks were written.
#pragma once

#include <string_view>

namespace kestrella {

bool MatchWildCard(std::string_view source, std::string_view mask, char anyChar = '?',
                   char multiChar = '*', bool caseSensitive = false);

}  // namespace kestrella
