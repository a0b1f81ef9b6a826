#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace linograf::workbook {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& name, int error) {
    throw EStreamError(std::string(what) + " \"" + name + "\". " + std::strerror(error));
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A crash between rename and the folder reaching the disk could otherwise bring the old name
// back after a power loss.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

constexpr char kTempDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTempRandomLength = 8;

// ".<base>." + 8 of kTempDigits + ".tmp": the name TAtomicFileWriter gives its temporary.
bool IsTempNameOf(const std::string& entry, const std::string& base) {
    const std::string prefix = "." + base + ".";
    const std::string suffix = ".tmp";
    if (entry.size() != prefix.size() + kTempRandomLength + suffix.size()) return false;
    if (entry.compare(0, prefix.size(), prefix) != 0) return false;
    if (entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    for (size_t i = prefix.size(); i < prefix.size() + kTempRandomLength; ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

using TFileId = std::pair<dev_t, ino_t>;

// Every file some process holds open, as far as this process may look (other users' descriptors
// are hidden from it).
std::set<TFileId> OpenFileIds() {
    std::set<TFileId> ids;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return ids;
    while (const dirent* process = ::readdir(proc)) {
        const char* p = process->d_name;
        if (*p < '0' || *p > '9') continue;
        const std::string fd_folder = std::string("/proc/") + p + "/fd";
        DIR* fds = ::opendir(fd_folder.c_str());
        if (fds == nullptr) continue;
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            struct stat info {};
            if (::stat((fd_folder + "/" + fd->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                ids.insert({info.st_dev, info.st_ino});
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return ids;
}

}  // namespace

int RemoveStaleTempFiles(const std::string& target) {
    if (target.empty() || target.back() == '/') return 0;
    const std::string folder = FolderOf(target);
    const std::string base = BaseNameOf(target);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::vector<std::pair<std::string, TFileId>> candidates;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTempNameOf(name, base)) continue;
        const std::string path = (folder == "/" ? "" : folder) + "/" + name;
        struct stat info {};
        // A link or a folder of that name is nobody's temporary write.
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        candidates.push_back({path, {info.st_dev, info.st_ino}});
    }
    ::closedir(dir);
    if (candidates.empty()) return 0;
    const std::set<TFileId> open = OpenFileIds();
    int removed = 0;
    for (const auto& [path, id] : candidates) {
        if (open.count(id) != 0) continue;  // a write in progress, in this process or another
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

TAtomicFileWriter::TAtomicFileWriter(const std::string& target) : target_(target) {
    if (target.empty() || target.back() == '/') Fail("Cannot create file", target, ENOENT);
    const std::string folder = FolderOf(target);
    const std::string prefix = (folder == "/" ? "" : folder) + "/." + BaseNameOf(target) + ".";
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0;; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < kTempRandomLength; ++i) name += kTempDigits[random() % 36];
        name += ".tmp";
        // O_EXCL: never reuse or follow a name someone else made; the mode is subject to umask as
        // for any new file.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST && attempt < 100) continue;
            Fail("Cannot create file", target, errno);
        }
        temp_name_ = std::move(name);
        // Held open until the stream has it too: a stale-temporary sweep by another process
        // (RemoveStaleTempFiles) must never see it unopened.
        try {
            stream_ = std::make_unique<TFileStream>(temp_name_, TFileMode::fmOpenReadWrite);
        } catch (...) {
            ::close(fd);
            ::unlink(temp_name_.c_str());
            throw;
        }
        ::close(fd);
        break;
    }
}

TAtomicFileWriter::~TAtomicFileWriter() {
    if (!committed_) Discard();
}

void TAtomicFileWriter::Discard() noexcept {
    stream_.reset();
    if (!temp_name_.empty()) ::unlink(temp_name_.c_str());
    temp_name_.clear();
}

void TAtomicFileWriter::Commit() {
    if (committed_ || !stream_)
        throw EStreamError("Cannot create file \"" + target_ + "\". Already committed");
    try {
        stream_->Flush();
        struct stat old {};
        if (::stat(target_.c_str(), &old) == 0) {
            if (S_ISDIR(old.st_mode)) Fail("Cannot create file", target_, EISDIR);
            ::chmod(temp_name_.c_str(), old.st_mode & 07777);
        }
        stream_.reset();
        if (::rename(temp_name_.c_str(), target_.c_str()) != 0) Fail("Cannot create file", target_, errno);
    } catch (...) {
        Discard();
        throw;
    }
    committed_ = true;
    SyncFolder(FolderOf(target_));
}

void WriteFileAtomically(const std::string& target, std::string_view bytes) {
    TAtomicFileWriter file(target);
    file.Stream().WriteBuffer(bytes.data(), bytes.size());
    file.Commit();
}

}  // namespace linograf::workbook
