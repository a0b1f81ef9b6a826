#include "serial/open_result.h"

#include <grp.h>
#include <sys/stat.h>
#include <cstring>
#include <vector>

#include "serial/platform_error.h"

namespace linograf::serial {

int32_t MapOpenResult(int32_t code) {
    switch (code) {
        case -kErrorAccessDenied:
            return ecAlreadyOpen;
        case -kErrorFileNotFound:
        case -kErrorPathNotFound:
            return ecBadId;
        default:
            return code;
    }
}

namespace {

std::string GroupOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return {};
    return found->gr_name;
}

}  // namespace

std::string PermissionProblemText(const std::string& device_path, int open_errno) {
    char buffer[256];
    const char* reason = strerror_r(open_errno, buffer, sizeof buffer);  // GNU variant
    std::string text = "Cannot open the serial device " + device_path + ": " + reason +
                       ". The user needs read and write access to it";
    if (const std::string group = GroupOf(device_path); !group.empty() && group != "root") {
        text += " (membership of the group \"" + group + "\")";
    }
    return text;
}

int32_t CheckOpenResult(const ErrorOwner* owner, int32_t code, const std::string& failure_text) {
    if (code < 0 && !failure_text.empty() && (owner == nullptr || !owner->IsLoading())) {
        throw EInOutError(failure_text, -code);
    }
    return CheckError(owner, code);
}

}  // namespace linograf::serial
