#pragma once
// The names SpreadsheetML gives fill patterns, border lines and alignments, indexed by the BIFF
// code of each: the reader and the writer of styles share them, so the two can never disagree.
#include <array>
#include <string_view>

namespace linograf::workbook {

inline constexpr std::array<std::string_view, 19> kPatternNames = {
    "none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
    "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
    "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
    "lightGrid",      "lightTrellis",    "gray125",       "gray0625",
};
inline constexpr std::array<std::string_view, 14> kLineStyleNames = {
    "none",
    "thin",
    "medium",
    "dashed",
    "dotted",
    "thick",
    "double",
    "hair",
    "mediumDashed",
    "dashDot",
    "mediumDashDot",
    "dashDotDot",
    "mediumDashDotDot",
    "slantedDashDot",
};
inline constexpr std::array<std::string_view, 8> kHorizontalNames = {
    "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed",
};
inline constexpr std::array<std::string_view, 5> kVerticalNames = {"top", "center", "bottom", "justify",
                                                                   "distributed"};

}  // namespace linograf::workbook
