#include "core/export/export_tokens.h"

#include <algorithm>

namespace linograf {

int CountTokens(std::string_view text, char separator) {
    if (text.empty()) return 0;
    return static_cast<int>(std::count(text.begin(), text.end(), separator)) + 1;
}

std::string GetToken(std::string_view text, char separator, int k) {
    if (k < 1) return {};
    size_t begin = 0;
    for (int part = 1; part < k; ++part) {
        const size_t next = text.find(separator, begin);
        if (next == std::string_view::npos) return {};
        begin = next + 1;
    }
    const size_t end = text.find(separator, begin);
    return std::string(
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
}

}  // namespace linograf
