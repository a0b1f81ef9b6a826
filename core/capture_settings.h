#pragma once
// Settings of the capture that the Windows program did not have, in section "app" of the settings
// file: whether rows start with their arrival time, and the device's text encoding. A file from
// the Windows program lacks both keys and reads as before: no arrival time, Windows-1251.
#include <string>

#include "core/ini_file.h"

namespace linograf {

inline constexpr const char* kTimestampKey = "timestamp";  // 1 or 0
inline constexpr const char* kEncodingKey = "encoding";    // an iconv name; empty: Windows-1251

bool StoredTimestamp(const TIniFile& ini);
std::string StoredEncoding(const TIniFile& ini);

}  // namespace linograf
