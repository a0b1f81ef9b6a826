#pragma once
// The parts of a text between separators, as the stacked column titles use them ("A|B|C").
#include <string>
#include <string_view>

namespace linograf {

// 0 for an empty text, otherwise the number of separators plus one.
int CountTokens(std::string_view text, char separator);
// Part k (from 1) of the text; empty when the text has fewer than k parts.
std::string GetToken(std::string_view text, char separator, int k);

}  // namespace linograf
