#include "workbook/cfb/compound_file_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "workbook/cfb/compound_document_format.h"
#include "workbook/cfb/compound_document_writer.h"

namespace linograf::workbook {

TCompoundFileWriter::TCompoundFileWriter(const std::string& path, std::u16string_view stream_name,
                                         int major_version)
    : path_(path), document_(major_version), name_(stream_name), sector_size_(document_.SectorSize()) {
    // The name is checked by the same rules as any element before the file is touched.
    TCompoundDocument().Root().CreateStream(stream_name);
    if (path.empty()) throw ECompoundDocumentError("Filename is missing");
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw ECompoundDocumentError("Cannot create \"" + path + "\": " + std::strerror(errno));
    buffer_.reserve(kBufferSize);
}

TCompoundFileWriter::~TCompoundFileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void TCompoundFileWriter::CheckOpen() const {
    if (fd_ < 0) throw ECompoundDocumentError("Stream is not open");
}

void TCompoundFileWriter::Fail(const std::string& what, int error) {
    ::close(fd_);
    fd_ = -1;
    throw ECompoundDocumentError(what + " \"" + path_ + "\": " + std::strerror(error));
}

void TCompoundFileWriter::WriteAt(const char* data, std::size_t count, std::uint64_t offset) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd_, data, count, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot write", errno);
        }
        if (n == 0) Fail("Cannot write", EIO);
        data += n;
        count -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    // The disk starts on what is written while the rest is still being made, so forcing the
    // finished file to disk waits only for the last part. A hint: failures are not errors.
    if (offset >= writeback_from_ + kWritebackStep) {
        ::sync_file_range(fd_, static_cast<off_t>(writeback_from_),
                          static_cast<off_t>(offset - writeback_from_), SYNC_FILE_RANGE_WRITE);
        writeback_from_ = offset;
    }
}

void TCompoundFileWriter::Flush() {
    if (buffer_.empty()) return;
    WriteAt(buffer_.data(), buffer_.size(), sector_size_ + buffer_start_);
    written_size_ = std::max<std::uint64_t>(written_size_, buffer_start_ + buffer_.size());
    buffer_.clear();
}

std::uint64_t TCompoundFileWriter::Size() const {
    return buffer_.empty() ? written_size_
                           : std::max<std::uint64_t>(written_size_, buffer_start_ + buffer_.size());
}

std::size_t TCompoundFileWriter::Write(const void* data, std::size_t count) {
    CheckOpen();
    if (count == 0) return 0;
    if (position_ > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - sector_size_ - count)
        throw ECompoundDocumentError("Stream is too large");
    // The buffer holds one contiguous range; a write elsewhere, or one that would overfill it,
    // sends it to the disk first.
    if (!buffer_.empty() && (position_ < buffer_start_ || position_ > buffer_start_ + buffer_.size() ||
                             position_ - buffer_start_ + count > kBufferSize))
        Flush();
    if (count >= kDirectWrite) {
        // Large writes gain nothing from another copy; what is buffered goes first, since it
        // may overlap.
        Flush();
        WriteAt(static_cast<const char*>(data), count, sector_size_ + position_);
        position_ += count;
        written_size_ = std::max(written_size_, position_);
        return count;
    }
    if (buffer_.empty()) buffer_start_ = position_;
    const std::size_t at = static_cast<std::size_t>(position_ - buffer_start_);
    if (buffer_.size() < at + count) buffer_.resize(at + count);
    std::memcpy(buffer_.data() + at, data, count);
    position_ += count;
    return count;
}

std::uint64_t TCompoundFileWriter::Seek(std::int64_t offset, TSeekOrigin origin) {
    CheckOpen();
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = static_cast<std::int64_t>(position_);
    if (origin == TSeekOrigin::soEnd) base = static_cast<std::int64_t>(Size());
    if ((offset < 0 && base + offset < 0) ||
        (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset))
        throw ECompoundDocumentError("Seek to an invalid stream position");
    position_ = static_cast<std::uint64_t>(base + offset);
    return position_;
}

void TCompoundFileWriter::Close() {
    CheckOpen();
    Flush();
    const std::uint64_t size = written_size_;
    std::string file;
    std::uint64_t tail_offset = 0;
    if (size < cfb::kMiniStreamCutoff) {
        // Too short for sectors of its own: read it back and lay the file out from scratch.
        std::string bytes(static_cast<std::size_t>(size), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, sector_size_ + done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("Cannot read", n < 0 ? errno : EIO);
            done += static_cast<std::size_t>(n);
        }
        document_.Root().CreateStream(name_).Write(bytes);
        file = document_.Save();
        WriteAt(file.data(), file.size(), 0);
        tail_offset = file.size();
    } else {
        TCompoundDocumentWriter writer(document_);
        writer.SetExternalStream(name_, size);
        file = writer.Write();
        const std::uint64_t first = writer.FirstSectorWritten();
        WriteAt(file.data(), sector_size_, 0);
        WriteAt(file.data() + sector_size_, file.size() - sector_size_, (first + 1) * sector_size_);
        tail_offset = (first + 1) * sector_size_ + file.size() - sector_size_;
    }
    if (::ftruncate(fd_, static_cast<off_t>(tail_offset)) != 0) Fail("Cannot write", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw ECompoundDocumentError("Cannot write \"" + path_ + "\": " + std::strerror(errno));
}

}  // namespace linograf::workbook
