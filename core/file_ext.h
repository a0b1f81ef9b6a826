#pragma once
// The extension rule the window applies to file names: the extension is the text from the last
// "." that follows the last "/", so "data.{dd}" has the extension ".{dd}" and "logs.d/data" none.
#include <string>
#include <string_view>

namespace linograf {

// The extension with its leading ".", or empty when the name has none.
std::string_view ExtractFileExt(std::string_view name);

// The name with its extension replaced by `extension` (which brings its own "."); a name without
// an extension gets it appended.
std::string ChangeFileExt(std::string_view name, std::string_view extension);

}  // namespace linograf
