#pragma once
// A stream on an open file: the output file an .xlsx package is written into, or the input file
// it is read from.
#include <string>
#include <utility>

#include "base/stream.h"

namespace linograf::workbook {

enum class TFileMode {
    fmCreate,         // create or truncate, read and write
    fmOpenRead,       // existing file, read only; other programs may keep it open
    fmOpenReadWrite,  // existing file, read and write
};

class TFileStream : public TStream {
  public:
    // Raises EStreamError "Cannot create file "<name>". <reason>" or "Cannot open file ...".
    TFileStream(const std::string& file_name, TFileMode mode);
    // Takes over `fd`, an open read-write descriptor (a file without a name, say); `file_name` is
    // for messages only.
    TFileStream(int fd, std::string file_name) : file_name_(std::move(file_name)), fd_(fd) {}
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t size) override;

    const std::string& FileName() const { return file_name_; }
    // Forces written data to the disk (before a finished file replaces an older one).
    void Flush();

  private:
    [[noreturn]] void Fail(const char* what);

    std::string file_name_;
    int fd_ = -1;
};

}  // namespace linograf::workbook
