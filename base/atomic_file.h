#pragma once
// Replacing a file only with a complete new version. The new content goes into a temporary file
// in the target's folder (same file system, so the final rename is atomic); only after it has
// been written and forced to disk does it take the target's name. Until then, and whenever
// anything fails, the old file stays exactly as it was and the temporary file is removed. A
// program killed half-way leaves at most a hidden ".<name>.*.tmp" file beside the target.
#include <memory>
#include <string>
#include <string_view>

#include "base/file_stream.h"

namespace linograf::workbook {

class TAtomicFileWriter {
  public:
    // Creates the temporary file. Raises EStreamError "Cannot create file "<target>". <reason>"
    // (for an empty name, a missing or read-only folder, ...).
    explicit TAtomicFileWriter(const std::string& target);
    // Without Commit, the temporary file is removed and the target left alone.
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    // The temporary file, open for reading and writing; seekable, so a writer may patch what it
    // wrote earlier.
    TStream& Stream() { return *stream_; }
    const std::string& TempName() const { return temp_name_; }
    const std::string& Target() const { return target_; }

    // Forces the data to disk, gives the file the old file's permissions (or the usual ones for
    // a new file) and renames it over the target. Raises EStreamError on failure, after which
    // the target is unchanged and the temporary file gone.
    void Commit();

  private:
    void Discard() noexcept;

    std::string target_;
    std::string temp_name_;
    std::unique_ptr<TFileStream> stream_;
    bool committed_ = false;
};

// Removes the temporaries that writes of `target` cut short by a kill left in its folder: regular
// files named ".<name>.<8 letters or digits>.tmp" that no process holds open (as far as this
// process can see other processes' open files). Nothing else is touched. Returns the number
// removed.
int RemoveStaleTempFiles(const std::string& target);

// The whole new content at once.
void WriteFileAtomically(const std::string& target, std::string_view bytes);

}  // namespace linograf::workbook
