#pragma once
// UUCP lock files, the convention serial programs on Linux share (minicom, picocom, cu, gpsd...):
// a file LCK..<device name> in /var/lock or /run/lock holds the owner's process id as ten ASCII
// digits and a newline. A lock of a live process means the port is in use; a lock whose process
// is gone is stale and removed. The port also opens the device exclusively (flock, TIOCEXCL), but
// programs that only look at lock files learn of it here.
#include <sys/types.h>

#include <string>
#include <vector>

namespace linograf::serial {

// The folders to look in and to create the lock in (the first writable one): /var/lock and
// /run/lock, or the colon-separated list in LINOGRAF_LOCK_DIRS (tests).
std::vector<std::string> LockFolders();
inline constexpr const char* kLockFoldersVariable = "LINOGRAF_LOCK_DIRS";

// "LCK..ttyUSB0" for /dev/ttyUSB0 (and for a link to it); a node in a subfolder of /dev has its
// slashes turned into underscores ("LCK..pts_3").
std::string LockFileName(const std::string& device);

class TUucpLock {
  public:
    TUucpLock() = default;
    ~TUucpLock() { Release(); }
    TUucpLock(const TUucpLock&) = delete;
    TUucpLock& operator=(const TUucpLock&) = delete;

    // Takes the device: false when a live process other than this one holds a lock on it
    // (HolderPid and HolderFile tell which). A folder where no lock can be created is no failure:
    // the port is then only held by its exclusive open.
    bool Acquire(const std::string& device, const std::vector<std::string>& folders = LockFolders());
    // Removes the lock this object created, if any.
    void Release();

    pid_t HolderPid() const { return holder_pid_; }
    const std::string& HolderFile() const { return holder_file_; }
    // The lock file this object created ("" when none).
    const std::string& File() const { return file_; }

  private:
    std::string file_;
    pid_t holder_pid_ = 0;
    std::string holder_file_;
};

}  // namespace linograf::serial
