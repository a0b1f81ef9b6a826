#pragma once
// A ZIP archive on a seekable stream (`TNorvZip`). Every change is applied to the stream at once,
// so the stream always holds a complete archive: an added entry is written where the central
// directory stood, followed by the whole central directory and the end record; a removed entry's
// bytes are cut out by moving the rest of the archive down.
//
// What a hostile or damaged file can do is bounded: every offset and length read from the stream
// is checked against the stream before it is used or anything is allocated for it, and
// extraction refuses entries that announce more than 1 GiB or expand more than 1000-fold, and
// verifies the size and CRC-32 of what it produces.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "base/stream.h"
#include "workbook/ooxml/zip_error.h"
#include "workbook/ooxml/zip_records.h"

namespace linograf::workbook {

class TRawDeflater;

// An entry being streamed, as it stood at a point where its compressed data ends on a byte
// boundary (see TNorvZip::CheckpointEntry): the compressed bytes up to there, the deflater that
// continues them, and the CRC-32 and length of the text they hold. A later entry can start from
// it (TNorvZip::ResumeEntry) and deflate only the text that follows.
struct TZipEntryCheckpoint {
    TZipEntryCheckpoint();
    ~TZipEntryCheckpoint();
    TZipEntryCheckpoint(const TZipEntryCheckpoint&) = delete;
    TZipEntryCheckpoint& operator=(const TZipEntryCheckpoint&) = delete;

    std::string compressed;
    std::unique_ptr<TRawDeflater> deflater;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

enum class TZipSaveMethod { FastSave, RebuildAll };
enum class TZipCompressionType { ctNormal, ctMaximum, ctFast, ctSuperFast, ctNone, ctUnknown };

// Change codes passed to `OnZipChange`.
inline constexpr int kZipClosed = 0;
inline constexpr int kZipOpened = 1;
inline constexpr int kZipEntryAdded = 2;
inline constexpr int kZipEntryRemoved = 3;

// Bounds of what extraction accepts (no zip bombs).
inline constexpr std::uint64_t kMaxEntrySize = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kMaxCompressionRatio = 1000;

class TNorvZipEntriesEntry {
  public:
    TCentralDirectoryFile central;
    TLocalFile local;  // fixed part, name and extra field; the data stays in the stream
    TDateTime DateTime = 0;
    bool Encrypted = false;
    bool Folder = false;
    TZipCompressionType CompressionType = TZipCompressionType::ctUnknown;
    bool Selected = false;

    const std::string& FileName() const { return central.name; }
    // Derives date-time, encrypted, folder and compression type from the central record.
    void UpdateFromRecords();
    std::uint64_t CentralSize() const { return central.RecordSize(); }
};

// The entries in central directory order.
class TNorvZipEntries {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TNorvZipEntriesEntry& operator[](int index) { return items_.at(static_cast<std::size_t>(index)); }
    const TNorvZipEntriesEntry& operator[](int index) const {
        return items_.at(static_cast<std::size_t>(index));
    }
    TNorvZipEntriesEntry& Add() { return items_.emplace_back(); }
    void Delete(int index) { items_.erase(items_.begin() + index); }
    void Clear() { items_.clear(); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<TNorvZipEntriesEntry> items_;
};

class TNorvZip {
  public:
    TNorvZip();
    TNorvZip(const TNorvZip&) = delete;
    TNorvZip& operator=(const TNorvZip&) = delete;
    ~TNorvZip();

    // Opens the archive held in `stream`; the stream stays the caller's and must outlive the
    // archive or the next `Close`. A stream that holds no archive leaves the archive closed
    // (`IsZipFile` false); nothing in the stream is changed by opening.
    void Open(TStream& stream);
    void Close();

    bool IsZipFile() const { return is_zip_file_; }
    // Set when a local header is missing or the entries were rebuilt from local headers alone.
    bool HasBadEntries() const { return has_bad_entries_; }
    TStream* Stream() const { return stream_; }

    TNorvZipEntries& Entries() { return entries_; }
    const TNorvZipEntries& Entries() const { return entries_; }
    // Entry names in Windows path form ("\" for "/").
    const std::vector<std::string>& FileNames();
    // The archive comment as stored after the end record.
    const std::string& Comment() const { return comment_; }

    // Index of the entry whose normalised name equals the normalised `name` without regard to
    // letter case, or -1; a leading "/" of the searched name is ignored.
    int IndexOf(std::string_view name) const;

    // Adds everything from the source's position to its end as entry `name` (folder entries
    // first, see `StoreFolders`); an entry of the same name is replaced. `attributes` are the
    // external attributes (32 for a file, 16 for a folder).
    void AddStream(std::string_view name, TStream& source, std::uint32_t attributes = kAttrArchive);
    // Same, from bytes in memory.
    void AddBytes(std::string_view name, std::string_view data, std::uint32_t attributes = kAttrArchive);
    // Writes entry `name` a piece at a time (folder entries first, as `AddStream`): `BeginEntry`
    // writes its local header where the central directory stood, every `WriteEntryData` goes
    // through the deflater straight into the stream behind it, and `EndEntry` fills in the
    // header's CRC-32 and sizes and writes the central directory and end record again. So an entry
    // of any size costs no copy of its text, compressed or not. An entry of the same name is
    // removed at `BeginEntry`. Until `EndEntry` the stream holds no complete archive and nothing
    // else may change the archive; a failure in `WriteEntryData` or `EndEntry`, or
    // `CancelEntry`, drops the entry and leaves the archive as it was after the removal.
    void BeginEntry(std::string_view name, std::uint32_t attributes = kAttrArchive);
    void WriteEntryData(std::string_view data);
    void EndEntry();
    void CancelEntry();
    bool EntryOpen() const { return deflater_ != nullptr; }
    // Right after `BeginEntry`: the entry's compressed bytes from now on are also kept, to be
    // handed out by `CheckpointEntry`. With `from`, the entry first gets the bytes of `from` and
    // goes on with a copy of its deflater, so the text `from` holds is not deflated again; `from`
    // is taken over (its bytes are moved, not copied, into the next checkpoint).
    void ResumeEntry(std::unique_ptr<TZipEntryCheckpoint> from);
    // Flushes the deflater to a byte boundary and returns the entry as it stands (see
    // TZipEntryCheckpoint); the entry goes on afterwards, but its bytes are no longer kept.
    std::unique_ptr<TZipEntryCheckpoint> CheckpointEntry();

    // Adds an entry without data for each folder of `name` that is not yet in the archive.
    void AddFolderEntries(std::string_view name);
    void RemoveEntry(int index);
    // Rewrites the archive from its entries' local parts; used when the last entry goes and by
    // `RebuildAll`.
    void RebuildArchive();

    // Writes the entry's uncompressed bytes at the target's position.
    void ExtractToStream(int index, TStream& target);
    std::string ExtractToString(int index);
    // Hands the entry's uncompressed bytes to `piece` a block at a time. The size and CRC are
    // checked over all of it even when `piece` throws; their errors come first, and otherwise
    // what `piece` threw is raised at the end.
    void ExtractInPieces(int index, const std::function<void(std::string_view)>& piece);

    TZipSaveMethod SaveMethod() const { return save_method_; }
    void SetSaveMethod(TZipSaveMethod method) { save_method_ = method; }
    bool StoreRelativePath() const { return store_relative_path_; }
    void SetStoreRelativePath(bool on) { store_relative_path_ = on; }
    bool StoreFolders() const { return store_folders_; }
    void SetStoreFolders(bool on) { store_folders_ = on; }
    TZipCompressionType CompressionType() const { return compression_type_; }
    void SetCompressionType(TZipCompressionType type) {
        compression_type_ = type == TZipCompressionType::ctUnknown ? TZipCompressionType::ctNormal : type;
    }
    // Time stamp of new entries. Unset (the default), each entry gets the current local time;
    // set, every entry gets this value, so the same content gives the same bytes.
    const std::optional<TDateTime>& EntryDateTime() const { return entry_date_time_; }
    void SetEntryDateTime(std::optional<TDateTime> value) { entry_date_time_ = value; }
    static constexpr const char* ComponentVersion() { return "2.0"; }

    // While on, `OnZipChange` is not fired.
    bool BatchMode() const { return batch_mode_; }
    void SetBatchMode(bool on) { batch_mode_ = on; }

    std::function<void(int index, int total)> OnZipOpen;
    std::function<void(int change)> OnZipChange;
    std::function<void(const std::string& name)> OnAddItem;
    std::function<void()> OnRemoveItems;
    std::function<void()> OnRebuildZip;

  private:
    // Checks an entry for extraction and reads its stored bytes.
    std::string ReadEntryData(const TNorvZipEntriesEntry& entry, std::string& size_error);
    bool FindEndRecord();
    bool ReadCentralDirectory();
    void ReadLocalHeaders();
    bool RecoverFromLocalHeaders();
    std::uint64_t LocalPartSize(const TNorvZipEntriesEntry& entry);
    void CheckRange(std::uint64_t offset, std::uint64_t length, const std::string& name);
    std::string CentralDirectoryBytes() const;
    void WriteDirectoryAndEnd(std::uint64_t offset);
    void AddEntry(std::string_view name, std::string_view data, std::uint32_t attributes);
    // The name as stored (no leading "/", only the file name without relative paths); raises for
    // names ZIP cannot carry.
    std::string StoredName(std::string_view name) const;
    void CheckNotStreaming() const;
    // The deflater's output of the streamed entry: into the stream behind what came before.
    void WriteDeflated(std::string_view packed);
    void RemoveEntryForReplacement(int index);
    void AddEntryRecords(const TLocalFile& local, std::uint32_t attributes, std::uint64_t offset);
    int DeflateLevel() const;
    TDateTime NewEntryDateTime() const;
    void Changed(int change);

    TStream* stream_ = nullptr;
    TNorvZipEntries entries_;
    TEndOfCentralDir end_record_;
    std::int64_t end_record_position_ = -1;
    std::int64_t comment_position_ = -1;
    std::string comment_;
    bool is_zip_file_ = false;
    bool has_bad_entries_ = false;
    bool dirty_ = true;
    bool batch_mode_ = false;
    std::vector<std::string> file_names_;

    TZipSaveMethod save_method_ = TZipSaveMethod::FastSave;
    bool store_relative_path_ = true;
    bool store_folders_ = true;
    TZipCompressionType compression_type_ = TZipCompressionType::ctFast;
    std::optional<TDateTime> entry_date_time_;

    // The entry being streamed (see `BeginEntry`).
    std::unique_ptr<TRawDeflater> deflater_;
    TLocalFile streamed_local_;
    std::uint32_t streamed_attributes_ = 0;
    std::uint64_t streamed_offset_ = 0;  // its local header
    std::uint64_t streamed_end_ = 0;     // where the next compressed byte goes
    std::uint64_t streamed_size_ = 0;    // uncompressed bytes so far
    std::uint32_t streamed_crc_ = 0;
    // Set between ResumeEntry and CheckpointEntry: the entry's compressed bytes so far.
    std::unique_ptr<TZipEntryCheckpoint> recording_;
};

}  // namespace linograf::workbook
