#pragma once
// Tables and the settings file hold Windows-1251 bytes, Qt holds UTF-16: the windows convert at
// this one boundary.
#include <QString>
#include <string>
#include <string_view>

#include "text/cp1251.h"

namespace linograf {

inline QString FromCp1251(std::string_view text) {
    return QString::fromStdU16String(Cp1251ToUtf16(text));
}

inline std::string ToCp1251(const QString& text) {
    return Utf16ToCp1251(text.toStdU16String());
}

}  // namespace linograf
