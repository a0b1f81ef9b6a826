#include "core/file_template_setting.h"

#include "text/cp1251.h"

namespace linograf {

std::string ReadFileTemplate(const TIniFile& ini) {
    const std::string narrow = ini.ReadString("app", "filename", "");
    const std::string whole = ini.ReadString("app", kFileTemplateUtf8Key, "");
    if (!whole.empty() && Utf8ToCp1251(whole) == narrow) return whole;
    return Cp1251ToUtf8(narrow);
}

void WriteFileTemplate(TIniFile& ini, const std::string& file_template) {
    const std::string narrow = Utf8ToCp1251(file_template);
    ini.WriteString("app", "filename", narrow);
    ini.WriteString("app", kFileTemplateUtf8Key, Cp1251ToUtf8(narrow) == file_template ? "" : file_template);
}

}  // namespace linograf
