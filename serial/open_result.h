#pragma once
// What opening a port tells the operator. The dispatcher reports a failed open as the negated
// platform error number; the component turns the two that have a meaning of their own into the
// port's codes and raises the result.
#include <cstdint>
#include <string>

#include "serial/port_errors.h"

namespace linograf::serial {

// -5 (the device is held by another program) becomes -2008 "ie_Open - device already open";
// -2 and -3 (no such device) become -2001 "ie_BadId - Specified comport doesn't exist"; any other
// code stays.
int32_t MapOpenResult(int32_t code);

// The message for a device that exists but may not be opened by this user: it names the device,
// the system's reason, the device's group and the fix ("add yourself to the dialout group and
// log in again").
std::string PermissionProblemText(const std::string& device_path, int open_errno);

// The component's check of an open: `code` as MapOpenResult gives it. A failure that came with a
// text of its own (the dispatcher's OpenFailureText, a permission problem) raises the runtime's
// I/O error with that text instead of the bare platform text; anything else goes to CheckError.
int32_t CheckOpenResult(const ErrorOwner* owner, int32_t code, const std::string& failure_text);

}  // namespace linograf::serial
