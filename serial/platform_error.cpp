#include "serial/platform_error.h"

#include <cerrno>

namespace linograf::serial {

int PlatformErrorFromOpenErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
            return kErrorFileNotFound;
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
            return kErrorPathNotFound;
        case EBUSY:
        case EWOULDBLOCK:
            return kErrorAccessDenied;
        case EACCES:
        case EPERM:
            return kErrorPermissionDenied;
        default:
            return PlatformErrorFromErrno(error);
    }
}

int PlatformErrorFromErrno(int error) {
    switch (error) {
        case EBADF:
            return kErrorInvalidHandle;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EINVAL:
            return kErrorInvalidParameter;
        // errno numbers that collide with runtime I/O error texts of another meaning
        case EIO:
            return kErrorGeneralFailure;  // 5 would read "File access denied"
        case ENXIO:
            return kErrorFileNotFound;  // 6 would read "Invalid file handle"
        case ENOEXEC:
        case ENOTBLK:
        case EXDEV:
        // errno numbers equal to a Windows-style number this layer gives a meaning of its own
        case EUSERS:  // 87, kErrorInvalidParameter
            return kErrorGeneralFailure;
        default:
            return error;
    }
}

int IoErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return 2;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ETXTBSY:
            return 5;
        case EBADF:
            return 6;
        case ENOMEM:
            return 8;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return 101;
        case EROFS:
            return 150;
        default:
            return kErrorGeneralFailure;
    }
}

}  // namespace linograf::serial
