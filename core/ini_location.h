#pragma once
// Where the settings file lives. As on Windows it sits beside the executable and is named after it
// ("linograf" -> "linograf.ini"). On Linux an installed copy's folder (/usr/bin) is not writable,
// so then the file moves to the user's configuration folder; "--ini PATH" names it outright.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linograf {

// The executable's full path with its extension replaced by ".ini": the extension is the text
// from the last "." after the last "/"; a name without one gets ".ini" appended.
std::string IniPathForExecutable(std::string_view executable_path);

// Full path of the running executable (/proc/self/exe), or empty when it cannot be told.
std::string CurrentExecutablePath();

// Removes "--ini PATH" or "--ini=PATH" from the arguments (argv[0] excluded) and returns PATH.
// The last one given wins. Throws std::invalid_argument "--ini needs a file path" when the
// option has no value.
std::optional<std::string> TakeIniOption(std::vector<std::string>& arguments);

struct IniLocationInputs {
    std::optional<std::string> explicit_path;  // from --ini
    std::string executable_path;
    std::string xdg_config_home;  // $XDG_CONFIG_HOME, empty when unset
    std::string home;             // $HOME
    // Whether a folder may be written by this process; tests replace it.
    std::function<bool(const std::string& folder)> folder_writable;
};

struct IniLocation {
    std::string path;
    bool in_config_folder = false;  // true for the XDG fallback
};

// The rule, in order: the explicit path as given; the path beside the executable when the
// executable is known and its folder writable; otherwise $XDG_CONFIG_HOME/linograf/linograf.ini,
// or $HOME/.config/linograf/linograf.ini when XDG_CONFIG_HOME is unset or not absolute (the XDG
// base directory rule), or linograf.ini in the working folder when neither is known.
IniLocation ResolveIniLocation(const IniLocationInputs& inputs);

// The rule with the inputs of this process: its executable, its environment and the real
// writability of the folder. The program's start-up and the command line call it. When the
// configuration folder is chosen and missing it is created, so the first write can succeed
// there; a failure to create it is left for that write to report.
std::string ResolveIniPath(std::optional<std::string> explicit_path);

}  // namespace linograf
