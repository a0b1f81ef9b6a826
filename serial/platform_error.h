#pragma once
// Platform error numbers as the port logic tests them. The dispatcher's rules speak of "file not
// found", "access denied" (the port is held elsewhere), "invalid handle" and so on; on Linux these
// arrive as errno values, and several errno numbers coincide with runtime I/O error numbers that
// mean something else (errno 5 is EIO, I/O error 5 is "File access denied"). All translation
// happens here, once, so the rest of the layer only sees the numbers below or an errno value that
// has no conflicting meaning.
namespace linograf::serial {

inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorTooManyOpenFiles = 4;
inline constexpr int kErrorAccessDenied = 5;   // the device is held by another program
inline constexpr int kErrorInvalidHandle = 6;  // the device was closed under a thread
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorPermissionDenied = 13;  // the device exists, this user may not open it
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorDeviceWrite = 160;
inline constexpr int kErrorDeviceRead = 161;
inline constexpr int kErrorGeneralFailure = 162;
inline constexpr int kErrorOperationAborted = 995;
inline constexpr int kErrorIoPending = 997;

// Translates errno from opening a serial device: missing devices (ENOENT, ENODEV, ENXIO, and EIO,
// which Linux gives for a ttyS node without a UART) become 2 or 3; a device held elsewhere
// (EBUSY from TIOCEXCL, EWOULDBLOCK from the advisory lock) becomes 5; a permission problem (EACCES,
// EPERM) becomes 13, so that it is reported as what it is, not as "already open".
int PlatformErrorFromOpenErrno(int error);

// Translates errno from any other device call.
int PlatformErrorFromErrno(int error);

// The runtime I/O error number for a failed file operation (trace and log files): 2 file not
// found, 3 path not found, 4 too many open files, 5 access denied, 101 disk full, 150 write
// protected, 162 anything else of that table's range.
int IoErrorFromErrno(int error);

}  // namespace linograf::serial
