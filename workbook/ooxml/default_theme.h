#pragma once
// The theme part of a new package: the default theme of ECMA-376 ("Office Theme", with the colour,
// font and format schemes named "Office"), without the XML declaration.
#include <string_view>

namespace linograf::workbook {

std::string_view DefaultThemeXml();

}  // namespace linograf::workbook
