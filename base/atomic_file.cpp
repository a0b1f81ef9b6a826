#include "base/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

TAtomicFileWriter::TAtomicFileWriter(const std::string& target) : target_(target) {
    if (target.empty() || target.back() == '/') Fail("Cannot create file", target, ENOENT);
    const std::string folder = FolderOf(target);
    const std::string prefix = (folder == "/" ? "" : folder) + "/." + BaseNameOf(target) + ".";
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0;; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
        name += ".tmp";
        // O_EXCL: never reuse or follow a name someone else made; the mode is subject to umask as
        // for any new file.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST && attempt < 100) continue;
            Fail("Cannot create file", target, errno);
        }
        ::close(fd);
        temp_name_ = std::move(name);
        break;
    }
    try {
        stream_ = std::make_unique<TFileStream>(temp_name_, TFileMode::fmOpenReadWrite);
    } catch (...) {
        ::unlink(temp_name_.c_str());
        throw;
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
    if (committed_ || !stream_) throw EStreamError("Cannot create file \"" + target_ + "\". Already committed");
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
