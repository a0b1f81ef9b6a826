#include "serial/open_result.h"

#include <cstring>

#include "serial/platform_error.h"
#include "serial/port_discovery.h"

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

std::string PermissionProblemText(const std::string& device_path, int open_errno) {
    char buffer[256];
    const char* reason = strerror_r(open_errno, buffer, sizeof buffer);  // GNU variant
    // The hint names the device's group and the fix; group membership only counts after a new
    // login, which is what users most often miss.
    return "Cannot open the serial device " + device_path + ": " + reason + ". " +
           PermissionHint(device_path);
}

int32_t CheckOpenResult(const ErrorOwner* owner, int32_t code, const std::string& failure_text) {
    if (code < 0 && !failure_text.empty() && (owner == nullptr || !owner->IsLoading())) {
        throw EInOutError(failure_text, -code);
    }
    return CheckError(owner, code);
}

}  // namespace linograf::serial
