#include "core/capture_settings.h"

namespace linograf {

bool StoredTimestamp(const TIniFile& ini) {
    return ini.ReadInteger("app", kTimestampKey, 0) != 0;
}

std::string StoredEncoding(const TIniFile& ini) {
    return ini.ReadString("app", kEncodingKey, "");
}

}  // namespace linograf
