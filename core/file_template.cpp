#include "core/file_template.h"

#include <cstdio>

#include "text/cp1251.h"

namespace linograf {

namespace {

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

std::string Replacement(std::string_view token, const DateTimeParts& now) {
    if (token == "dd") return TwoDigits(now.day);
    if (token == "mm") return TwoDigits(now.month);
    if (token == "yy") return TwoDigits(now.year);
    if (token == "yyyy") {
        char text[16];
        std::snprintf(text, sizeof text, "%04d", now.year);
        return text;
    }
    if (token == "hh") return TwoDigits(now.hour);
    if (token == "nn") return TwoDigits(now.minute);
    return TwoDigits(now.second);
}

}  // namespace

std::string ExpandFileTemplate(std::string_view file_template, const TClock& clock) {
    std::string name(file_template);
    for (std::string_view token : kFileTemplateTokens) {
        const std::string replacement = Replacement(token, DecodeDateTime(clock()));
        const std::string braced = Cp1251UpperCase("{" + std::string(token) + "}");
        // The replacements are digits, so no replacement can complete another token: each search
        // may start again at the beginning without ever finding what it put there.
        for (;;) {
            const std::string upper = Cp1251UpperCase(name);
            const auto at = upper.find(braced);
            if (at == std::string::npos) break;
            name.replace(at, braced.size(), replacement);
        }
    }
    return name;
}

}  // namespace linograf
