#include "core/file_ext.h"

namespace linograf {

namespace {
std::string_view::size_type ExtensionStart(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return name.size();
    const auto slash = name.rfind('/');
    if (slash != std::string_view::npos && slash > dot) return name.size();
    return dot;
}
}  // namespace

std::string_view ExtractFileExt(std::string_view name) {
    return name.substr(ExtensionStart(name));
}

std::string ChangeFileExt(std::string_view name, std::string_view extension) {
    std::string result(name.substr(0, ExtensionStart(name)));
    result += extension;
    return result;
}

}  // namespace linograf
