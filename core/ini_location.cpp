#include "core/ini_location.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace linograf {

std::string IniPathForExecutable(std::string_view executable_path) {
    std::size_t slash = executable_path.rfind('/');
    std::size_t dot = executable_path.rfind('.');
    bool has_extension = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
    std::string path(has_extension ? executable_path.substr(0, dot) : executable_path);
    return path + ".ini";
}

std::string CurrentExecutablePath() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.string();
}

std::optional<std::string> TakeIniOption(std::vector<std::string>& arguments) {
    std::optional<std::string> path;
    for (std::size_t i = 0; i < arguments.size();) {
        if (arguments[i] == "--ini") {
            if (i + 1 >= arguments.size()) throw std::invalid_argument("--ini needs a file path");
            path = arguments[i + 1];
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                            arguments.begin() + static_cast<std::ptrdiff_t>(i + 2));
        } else if (arguments[i].starts_with("--ini=")) {
            path = arguments[i].substr(6);
            if (path->empty()) throw std::invalid_argument("--ini needs a file path");
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return path;
}

IniLocation ResolveIniLocation(const IniLocationInputs& inputs) {
    if (inputs.explicit_path) return {*inputs.explicit_path, false};
    if (!inputs.executable_path.empty()) {
        std::string beside = IniPathForExecutable(inputs.executable_path);
        std::string folder = std::filesystem::path(beside).parent_path().string();
        if (folder.empty()) folder = ".";
        if (inputs.folder_writable && inputs.folder_writable(folder)) return {beside, false};
    }
    std::filesystem::path base;
    if (!inputs.xdg_config_home.empty() && inputs.xdg_config_home.front() == '/') {
        base = inputs.xdg_config_home;
    } else if (!inputs.home.empty()) {
        base = std::filesystem::path(inputs.home) / ".config";
    } else {
        return {"linograf.ini", false};
    }
    return {(base / "linograf" / "linograf.ini").string(), true};
}

std::string ResolveIniPath(std::optional<std::string> explicit_path) {
    IniLocationInputs inputs;
    inputs.explicit_path = std::move(explicit_path);
    inputs.executable_path = CurrentExecutablePath();
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) inputs.xdg_config_home = xdg;
    if (const char* home = std::getenv("HOME")) inputs.home = home;
    inputs.folder_writable = [](const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; };
    IniLocation location = ResolveIniLocation(inputs);
    if (location.in_config_folder) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(location.path).parent_path(), ignored);
    }
    return location.path;
}

}  // namespace linograf
