#pragma once
// The file name template in the settings file. Its key app/filename is Windows-1251, as the
// Windows program reads it; a Linux folder name often has characters that code page lacks ("é",
// "ü", CJK), so such a template is also kept whole, in UTF-8, in a key of its own. The whole form
// is used only while the Windows-1251 key still says the same (the Windows program, which knows
// only that key, may have changed it since).
#include <string>
#include <string_view>

#include "core/ini_file.h"

namespace linograf {

inline constexpr std::string_view kFileTemplateUtf8Key = "filename_utf8";

// UTF-8.
std::string ReadFileTemplate(const TIniFile& ini);
// `file_template` is UTF-8. Stops at the first refused write (EIniFileException).
void WriteFileTemplate(TIniFile& ini, const std::string& file_template);

}  // namespace linograf
