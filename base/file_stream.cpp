#include "base/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace linograf::workbook {

TFileStream::TFileStream(const std::string& file_name, TFileMode mode) : file_name_(file_name) {
    switch (mode) {
        case TFileMode::fmCreate:
            fd_ = ::open(file_name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd_ < 0) Fail("Cannot create file");
            break;
        case TFileMode::fmOpenRead:
            fd_ = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) Fail("Cannot open file");
            break;
        case TFileMode::fmOpenReadWrite:
            fd_ = ::open(file_name.c_str(), O_RDWR | O_CLOEXEC);
            if (fd_ < 0) Fail("Cannot open file");
            break;
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Fail(const char* what) {
    throw EStreamError(std::string(what) + " \"" + file_name_ + "\". " + std::strerror(errno));
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) Fail("Cannot read file");
    }
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::write(fd_, buffer, count);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) Fail("Cannot write file");
    }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (at < 0) throw EStreamError("Stream seek error");
    return at;
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("Cannot read file");
    return st.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
    if (size < 0) throw EStreamError("Stream seek error");
    const std::int64_t position = Position();
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("Cannot write file");
    if (position > size) SetPosition(size);
}

void TFileStream::Flush() {
    if (::fsync(fd_) != 0) Fail("Cannot write file");
}

}  // namespace linograf::workbook
