#pragma once
// The ZIP archive as the Open XML writer and reader use it: part names are 16-bit strings and
// entries go in and out through streams.
#include <string>
#include <string_view>

#include "base/stream.h"
#include "workbook/ooxml/norv_zip.h"

namespace linograf::workbook {

class TXLSZipArchive {
  public:
    // Writes an empty archive (an end record alone) at the stream's position and opens it. Used
    // on a freshly created output file.
    void CreateNew(TStream& stream);
    // Opens the archive in the caller's stream, which stays the caller's. A stream that holds no
    // archive leaves the archive closed with no entries (see `IsZipFile`).
    void Open(TStream& stream);
    void Close() { zip_.Close(); }
    bool IsZipFile() const { return zip_.IsZipFile(); }

    int EntryCount() const { return zip_.Entries().Count(); }
    // The stored name, as written in the central directory.
    std::u16string EntryName(int index) const;
    int IndexOf(std::u16string_view name) const;
    // Appends the entry's bytes to the stream and rewinds it to position 0. Raises
    // "Can not find file <name> in ZIP" for a missing entry, and an EZipError for entries that
    // cannot be read back intact.
    void ExtractToStream(std::u16string_view name, TStream& stream);
    // Adds the stream's whole content as entry folder + name (folder empty or ending with "/");
    // an entry of that name is replaced.
    void AddStream(std::u16string_view folder, std::u16string_view name, TStream& stream);

    // Streams entry folder + name a piece at a time (see TNorvZip::BeginEntry); an entry of that
    // name is replaced.
    void BeginEntry(std::u16string_view folder, std::u16string_view name);
    void WriteEntryData(std::string_view data) { zip_.WriteEntryData(data); }
    void EndEntry() { zip_.EndEntry(); }
    void CancelEntry() { zip_.CancelEntry(); }

    // The archive itself, for its settings (entry time stamps, compression).
    TNorvZip& Zip() { return zip_; }
    const TNorvZip& Zip() const { return zip_; }

  private:
    TNorvZip zip_;
};

}  // namespace linograf::workbook
