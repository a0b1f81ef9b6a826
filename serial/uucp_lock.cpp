#include "serial/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace linograf::serial {

namespace fs = std::filesystem;

namespace {

// The process id a lock file names, or 0 when it names none. Besides the ten-digit text, old
// programs wrote the id as a binary int.
pid_t ReadLockPid(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char buffer[64] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n == static_cast<ssize_t>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, buffer, sizeof binary);
        if (binary > 0 && (buffer[0] < '0' || buffer[0] > '9') && buffer[0] != ' ') return binary;
    }
    if (n <= 0) return 0;
    char* end = nullptr;
    const long pid = std::strtol(buffer, &end, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool Alive(pid_t pid) {
    // EPERM: the process exists and belongs to another user.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::vector<std::string> LockFolders() {
    const char* list = std::getenv(kLockFoldersVariable);
    if (list == nullptr || *list == '\0') return {"/var/lock", "/run/lock"};
    std::vector<std::string> folders;
    std::string rest = list;
    for (std::size_t start = 0; start <= rest.size();) {
        const std::size_t colon = std::min(rest.find(':', start), rest.size());
        if (colon > start) folders.push_back(rest.substr(start, colon - start));
        start = colon + 1;
    }
    return folders;
}

std::string LockFileName(const std::string& device) {
    std::error_code error;
    fs::path node = fs::canonical(device, error);
    if (error) node = device;
    std::string name = node.string();
    if (name.starts_with("/dev/")) {
        name.erase(0, 5);
    } else {
        name = node.filename().string();
    }
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

bool TUucpLock::Acquire(const std::string& device, const std::vector<std::string>& folders) {
    Release();
    holder_pid_ = 0;
    holder_file_.clear();
    const std::string name = LockFileName(device);
    // /var/lock is usually a link to /run/lock: each real folder once.
    std::vector<fs::path> unique;
    for (const std::string& folder : folders) {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        if (error) continue;
        if (std::find(unique.begin(), unique.end(), real) == unique.end()) unique.push_back(real);
    }
    for (const fs::path& folder : unique) {
        const std::string file = (folder / name).string();
        const pid_t pid = ReadLockPid(file);
        // None, or one that names no process (another program may be writing it this moment).
        if (pid == 0) continue;
        if (pid != ::getpid() && Alive(pid)) {
            holder_pid_ = pid;
            holder_file_ = file;
            return false;
        }
        if (pid != ::getpid()) ::unlink(file.c_str());  // stale
    }
    for (const fs::path& folder : unique) {
        const std::string file = (folder / name).string();
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST) {
                // Someone was quicker (or an unreadable lock is there): respect it when it names a
                // live process, otherwise go without a lock file.
                const pid_t pid = ReadLockPid(file);
                if (pid != 0 && pid != ::getpid() && Alive(pid)) {
                    holder_pid_ = pid;
                    holder_file_ = file;
                    return false;
                }
                return true;
            }
            continue;  // not writable here: the next folder
        }
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
        const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
        ::close(fd);
        if (!written) {
            ::unlink(file.c_str());
            continue;
        }
        file_ = file;
        return true;
    }
    return true;
}

void TUucpLock::Release() {
    if (file_.empty()) return;
    // Only a lock that is still ours.
    if (ReadLockPid(file_) == ::getpid()) ::unlink(file_.c_str());
    file_.clear();
}

}  // namespace linograf::serial
