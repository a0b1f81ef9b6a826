#include "workbook/ooxml/norv_zip.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "base/memory_stream.h"
#include "workbook/ooxml/zip_deflate.h"
#include "workbook/ooxml/zip_name.h"

namespace linograf::workbook {
namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxEntries = 65535;  // the end record counts entries in 16 bits
constexpr int kZlibDefaultLevel = -1;       // Z_DEFAULT_COMPRESSION

std::string EntryError(const char* before, const std::string& name, const char* after) {
    return std::string(before) + name + after;
}

}  // namespace

void TNorvZipEntriesEntry::UpdateFromRecords() {
    DateTime = DosToDateTime(central.mod_time, central.mod_date);
    Encrypted = (central.flags & kFlagEncrypted) != 0;
    Folder = (central.external_attributes & kAttrFolder) != 0;
    if (central.method == 8 || central.method == 9) {
        switch ((central.flags >> 1) & 3) {
            case 0:
                CompressionType = TZipCompressionType::ctNormal;
                break;
            case 1:
                CompressionType = TZipCompressionType::ctMaximum;
                break;
            case 2:
                CompressionType = TZipCompressionType::ctFast;
                break;
            default:
                CompressionType = TZipCompressionType::ctSuperFast;
                break;
        }
    } else {
        CompressionType = TZipCompressionType::ctUnknown;
    }
}

// ---------------------------------------------------------------------------------------------
// Opening

TNorvZip::TNorvZip() = default;
TNorvZip::~TNorvZip() {
    Close();
}

void TNorvZip::Open(TStream& stream) {
    Close();
    stream_ = &stream;
    if (FindEndRecord()) {
        if (ReadCentralDirectory()) {
            is_zip_file_ = true;
            ReadLocalHeaders();
        }
    } else {
        is_zip_file_ = RecoverFromLocalHeaders();
    }
    if (!is_zip_file_) {
        Close();
        return;
    }
    dirty_ = true;
    Changed(kZipOpened);
}

void TNorvZip::Close() {
    // An entry still being streamed is dropped; the stream is left as it is.
    deflater_.reset();
    const bool was_open = stream_ != nullptr;
    stream_ = nullptr;
    entries_.Clear();
    end_record_ = TEndOfCentralDir{};
    end_record_position_ = comment_position_ = -1;
    comment_.clear();
    is_zip_file_ = has_bad_entries_ = false;
    dirty_ = true;
    if (was_open) Changed(kZipClosed);
}

// The end record is searched backwards from the last place it can start, in three windows that
// reach about 66 KB back, far enough for a 65535-byte archive comment. A position whose byte is
// not "P" moves back by one; one that starts with "P" but is not the signature moves back by four,
// since none of the signature's other bytes is a "P". Each window starts only where it lies
// within the stream, and no read goes before the stream's start.
bool TNorvZip::FindEndRecord() {
    try {
        const std::int64_t size = stream_->Size();
        if (size <= 21) return false;
        struct Window {
            std::int64_t start, steps;
        };
        const Window windows[] = {
            {size - 22, std::min<std::int64_t>(size, 256)}, {size - 278, 1024}, {size - 1046, 65536}};
        // Everything the windows can touch, read once: the last window may step back four bytes
        // at a time.
        const std::int64_t tail_start = std::max<std::int64_t>(0, size - 1046 - 4 * 65536);
        stream_->SetPosition(tail_start);
        const std::string tail = stream_->ReadBytes(static_cast<std::size_t>(size - tail_start));
        auto at = [&](std::int64_t pos) { return tail.data() + (pos - tail_start); };

        for (const Window& w : windows) {
            std::int64_t pos = w.start;
            for (std::int64_t step = 0; step < w.steps && pos >= 0; ++step) {
                const char* p = at(pos);
                if (p[0] != 'P') {
                    pos -= 1;
                } else if (p[1] == 'K' && p[2] == 5 && p[3] == 6) {
                    end_record_ = TEndOfCentralDir::DecodeFixed(p);
                    end_record_position_ = pos;
                    comment_position_ = pos + 22;
                    const std::int64_t available = size - comment_position_;
                    comment_.assign(at(comment_position_), static_cast<std::size_t>(std::min<std::int64_t>(
                                                               available, end_record_.comment_length)));
                    return true;
                } else {
                    pos -= 4;
                }
            }
        }
    } catch (const EStreamError&) {
    }
    return false;
}

// The central records must lie between the directory offset and the end record; the step fails
// at the first record that does not fit there or lacks its signature.
bool TNorvZip::ReadCentralDirectory() {
    try {
        const std::uint64_t limit = static_cast<std::uint64_t>(end_record_position_);
        std::uint64_t pos = end_record_.central_dir_offset;
        if (pos > limit) return false;
        stream_->SetPosition(static_cast<std::int64_t>(pos));
        const int total = end_record_.entries_this_disk;
        char fixed[TCentralDirectoryFile::kFixedSize];
        for (int i = 0; i < total; ++i) {
            if (pos + sizeof fixed > limit) return false;
            stream_->ReadBuffer(fixed, sizeof fixed);
            TCentralDirectoryFile central = TCentralDirectoryFile::DecodeFixed(fixed);
            if (central.signature != kCentralFileSignature) return false;
            if (pos + central.RecordSize() > limit) return false;
            central.name = stream_->ReadBytes(central.name_length);
            central.extra = stream_->ReadBytes(central.extra_length);
            central.comment = stream_->ReadBytes(central.comment_length);
            pos += central.RecordSize();
            TNorvZipEntriesEntry& entry = entries_.Add();
            entry.central = std::move(central);
            entry.UpdateFromRecords();
            if (OnZipOpen) OnZipOpen(i, total);
        }
        return entries_.Count() == total;
    } catch (const EStreamError&) {
        return false;
    }
}

void TNorvZip::ReadLocalHeaders() {
    const std::int64_t size = stream_->Size();
    const int total = entries_.Count();
    for (int i = 0; i < total; ++i) {
        TNorvZipEntriesEntry& entry = entries_[i];
        entry.local = TLocalFile{};
        entry.local.signature = 0;  // stays so when the header cannot be read
        const std::uint64_t offset = entry.central.local_header_offset;
        try {
            if (offset + TLocalFile::kFixedSize <= static_cast<std::uint64_t>(size)) {
                char fixed[TLocalFile::kFixedSize];
                stream_->SetPosition(static_cast<std::int64_t>(offset));
                stream_->ReadBuffer(fixed, sizeof fixed);
                TLocalFile local = TLocalFile::DecodeFixed(fixed);
                if (local.signature == kLocalFileSignature) {
                    local.name = stream_->ReadBytes(local.name_length);
                    local.extra = stream_->ReadBytes(local.extra_length);
                    entry.local = std::move(local);
                }
            }
        } catch (const EStreamError&) {
        }
        if (entry.local.signature != kLocalFileSignature) has_bad_entries_ = true;
        if (OnZipOpen) OnZipOpen(i, total);
    }
}

// Without an end record the entries are rebuilt from the local headers, front to back. The scan
// ends at the first position without a local header, at a header or data that runs past the end
// of the stream, and at an entry whose sizes follow its data (general purpose bit 3): where that
// entry ends is unknown without inflating it.
bool TNorvZip::RecoverFromLocalHeaders() {
    std::uint64_t pos = 0;
    std::uint64_t central_size = 0;
    try {
        const auto size = static_cast<std::uint64_t>(stream_->Size());
        char fixed[TLocalFile::kFixedSize];
        while (pos + sizeof fixed <= size && pos <= kMax32 &&
               static_cast<std::size_t>(entries_.Count()) < kMaxEntries) {
            stream_->SetPosition(static_cast<std::int64_t>(pos));
            stream_->ReadBuffer(fixed, sizeof fixed);
            TLocalFile local = TLocalFile::DecodeFixed(fixed);
            if (local.signature != kLocalFileSignature || (local.flags & kFlagDataDescriptor) != 0) break;
            const std::uint64_t data_end = pos + local.HeaderSize() + local.compressed_size;
            if (data_end > size) break;
            local.name = stream_->ReadBytes(local.name_length);
            local.extra = stream_->ReadBytes(local.extra_length);

            TNorvZipEntriesEntry& entry = entries_.Add();
            TCentralDirectoryFile& c = entry.central;
            c.version_made_by = kZipVersion;
            c.version_needed = local.version_needed;
            c.flags = local.flags;
            c.method = local.method;
            c.mod_time = local.mod_time;
            c.mod_date = local.mod_date;
            c.crc32 = local.crc32;
            c.compressed_size = local.compressed_size;
            c.uncompressed_size = local.uncompressed_size;
            c.name_length = local.name_length;
            c.extra_length = local.extra_length;
            c.external_attributes =
                !local.name.empty() && local.name.back() == '/' ? kAttrFolder : kAttrArchive;
            c.local_header_offset = static_cast<std::uint32_t>(pos);
            c.name = local.name;
            c.extra = local.extra;
            entry.local = std::move(local);
            entry.UpdateFromRecords();
            central_size += c.RecordSize();
            if (OnZipOpen) OnZipOpen(entries_.Count() - 1, entries_.Count());
            pos = data_end;
        }
    } catch (const EStreamError&) {
    }
    if (entries_.Count() == 0 || pos > kMax32 || central_size > kMax32) {
        entries_.Clear();
        return false;
    }
    end_record_ = TEndOfCentralDir{};
    end_record_.entries_this_disk = end_record_.entries_total = static_cast<std::uint16_t>(entries_.Count());
    end_record_.central_dir_size = static_cast<std::uint32_t>(central_size);
    end_record_.central_dir_offset = static_cast<std::uint32_t>(pos);
    end_record_position_ = static_cast<std::int64_t>(pos + central_size);
    comment_position_ = end_record_position_ + 22;
    comment_.clear();
    has_bad_entries_ = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Lookup

int TNorvZip::IndexOf(std::string_view name) const {
    std::string wanted = ToZipName(name);
    if (wanted.empty()) return -1;
    if (wanted.front() == '/') wanted.erase(0, 1);
    if (wanted.empty()) return -1;
    for (int i = 0; i < entries_.Count(); ++i) {
        // Stored names with a leading "/" (APPNOTE forbids it, some writers do it) are found too.
        const std::string stored = ToZipName(entries_[i].central.name);
        const std::size_t skip = !stored.empty() && stored.front() == '/' ? 1 : 0;
        if (ZipNamesEqual(std::string_view(stored).substr(skip), wanted)) return i;
    }
    return -1;
}

const std::vector<std::string>& TNorvZip::FileNames() {
    if (dirty_) {
        file_names_.clear();
        for (const TNorvZipEntriesEntry& entry : entries_) {
            std::string name = entry.central.name;
            std::replace(name.begin(), name.end(), '/', '\\');
            file_names_.push_back(std::move(name));
        }
        dirty_ = false;
    }
    return file_names_;
}

// ---------------------------------------------------------------------------------------------
// Adding

void TNorvZip::AddStream(std::string_view name, TStream& source, std::uint32_t attributes) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&source)) {
        // Parts are built in memory streams; no need to copy them once more.
        const std::int64_t from = std::min(memory->Position(), memory->Size());
        AddBytes(name, memory->View().substr(static_cast<std::size_t>(from)), attributes);
        memory->Seek(0, TSeekOrigin::soEnd);
        return;
    }
    const std::string data = source.ReadRest();
    AddBytes(name, data, attributes);
}

void TNorvZip::AddBytes(std::string_view name, std::string_view data, std::uint32_t attributes) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    CheckNotStreaming();
    if (store_folders_ && store_relative_path_) AddFolderEntries(name);
    AddEntry(name, data, attributes);
    if (save_method_ == TZipSaveMethod::RebuildAll) RebuildArchive();
}

void TNorvZip::AddFolderEntries(std::string_view name) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    CheckNotStreaming();
    const std::string normal = ToZipName(name);
    for (std::size_t slash = normal.find('/'); slash != std::string::npos;
         slash = normal.find('/', slash + 1)) {
        const std::string folder = normal.substr(0, slash + 1);
        if (folder == "/") continue;  // a leading "/" names no folder
        if (IndexOf(folder) < 0) AddEntry(folder, {}, kAttrFolder);
    }
}

void TNorvZip::CheckNotStreaming() const {
    if (deflater_) throw EZipError("ZIP entry " + streamed_local_.name + " is still being written");
}

std::string TNorvZip::StoredName(std::string_view name) const {
    std::string n(name);
    if (!store_relative_path_) {
        const std::size_t cut = n.find_last_of("/\\");
        if (cut != std::string::npos) n.erase(0, cut + 1);
    }
    // No leading "/" (APPNOTE 4.4.17), so the entry is found again by the name it was given.
    n = ToZipName(n);
    const std::size_t first = n.find_first_not_of('/');
    n.erase(0, first == std::string::npos ? n.size() : first);
    if (n.empty()) throw EZipError("Invalid file name for ZIP: " + std::string(name));
    if (n.size() > std::numeric_limits<std::uint16_t>::max())
        throw EZipError("File name too long for ZIP: " + n);
    return n;
}

void TNorvZip::AddEntry(std::string_view name, std::string_view data, std::uint32_t attributes) {
    const std::string n = StoredName(name);
    if (data.size() > kMax32) throw EZipError(EntryError("File ", n, " is too large for ZIP"));

    // Compressed before anything changes, so a failure leaves the archive as it was.
    TLocalFile local;
    local.flags = IsNonAsciiUtf8(n) ? kFlagUtf8Name : 0;
    if (!data.empty()) {
        local.method = kMethodDeflated;
        local.crc32 = Crc32(data);
    }
    const std::string compressed = data.empty() ? std::string() : DeflateRaw(data, DeflateLevel());
    if (compressed.size() > kMax32) throw EZipError(EntryError("File ", n, " is too large for ZIP"));
    const std::uint32_t dos = DateTimeToDos(NewEntryDateTime());
    local.mod_time = static_cast<std::uint16_t>(dos & 0xFFFF);
    local.mod_date = static_cast<std::uint16_t>(dos >> 16);
    local.compressed_size = static_cast<std::uint32_t>(compressed.size());
    local.uncompressed_size = static_cast<std::uint32_t>(data.size());
    local.name_length = static_cast<std::uint16_t>(n.size());
    local.name = n;

    // Offsets and counts must fit the record fields; checked before the old entry goes.
    const int existing = IndexOf(n);
    std::uint64_t central_size = TCentralDirectoryFile::kFixedSize + n.size();
    for (const TNorvZipEntriesEntry& entry : entries_) central_size += entry.CentralSize();
    const std::uint64_t offset = end_record_.central_dir_offset;
    if (offset + local.HeaderSize() + compressed.size() + central_size > kMax32)
        throw EZipError(EntryError("File ", n, " does not fit into the ZIP archive"));
    if (existing < 0 && static_cast<std::size_t>(entries_.Count()) >= kMaxEntries)
        throw EZipError("Too many files in ZIP archive");

    if (existing >= 0) RemoveEntryForReplacement(existing);

    const std::uint64_t local_offset = end_record_.central_dir_offset;
    AddEntryRecords(local, attributes, local_offset);

    stream_->SetPosition(static_cast<std::int64_t>(local_offset));
    stream_->WriteBytes(local.Encode());
    stream_->WriteBytes(compressed);
    WriteDirectoryAndEnd(local_offset + local.HeaderSize() + compressed.size());

    dirty_ = true;
    Changed(kZipEntryAdded);
    if (OnAddItem) OnAddItem(n);
}

// The directory entry of a local header just written at `offset`.
void TNorvZip::AddEntryRecords(const TLocalFile& local, std::uint32_t attributes, std::uint64_t offset) {
    TNorvZipEntriesEntry& entry = entries_.Add();
    TCentralDirectoryFile& c = entry.central;
    c.flags = local.flags;
    c.method = local.method;
    c.mod_time = local.mod_time;
    c.mod_date = local.mod_date;
    c.crc32 = local.crc32;
    c.compressed_size = local.compressed_size;
    c.uncompressed_size = local.uncompressed_size;
    c.name_length = local.name_length;
    c.external_attributes = attributes;
    c.local_header_offset = static_cast<std::uint32_t>(offset);
    c.name = local.name;
    entry.local = local;
    entry.UpdateFromRecords();
}

// Removes the entry a new one of the same name replaces, in batch mode: the directory is written
// once, with the new entry.
void TNorvZip::RemoveEntryForReplacement(int index) {
    const bool batch = batch_mode_;
    batch_mode_ = true;
    try {
        RemoveEntry(index);
    } catch (...) {
        batch_mode_ = batch;
        throw;
    }
    batch_mode_ = batch;
}

void TNorvZip::BeginEntry(std::string_view name, std::uint32_t attributes) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    CheckNotStreaming();
    if (store_folders_ && store_relative_path_) AddFolderEntries(name);
    const std::string n = StoredName(name);

    TLocalFile local;
    local.flags = IsNonAsciiUtf8(n) ? kFlagUtf8Name : 0;
    local.method = kMethodDeflated;
    const std::uint32_t dos = DateTimeToDos(NewEntryDateTime());
    local.mod_time = static_cast<std::uint16_t>(dos & 0xFFFF);
    local.mod_date = static_cast<std::uint16_t>(dos >> 16);
    local.name_length = static_cast<std::uint16_t>(n.size());
    local.name = n;

    const int existing = IndexOf(n);
    if (existing < 0 && static_cast<std::size_t>(entries_.Count()) >= kMaxEntries)
        throw EZipError("Too many files in ZIP archive");
    if (existing >= 0) RemoveEntryForReplacement(existing);

    // The header goes out now with CRC and sizes 0 and is written again once they are known:
    // the stream is seekable, so no data descriptor (general purpose bit 3) is needed, which
    // some readers, and the recovery from local headers, do not follow.
    streamed_offset_ = end_record_.central_dir_offset;
    streamed_end_ = streamed_offset_ + local.HeaderSize();
    if (streamed_end_ > kMax32) throw EZipError(EntryError("File ", n, " does not fit into the ZIP archive"));
    streamed_local_ = local;
    streamed_attributes_ = attributes;
    streamed_size_ = 0;
    streamed_crc_ = Crc32({});
    deflater_ = std::make_unique<TRawDeflater>(DeflateLevel(),
                                               [this](std::string_view packed) { WriteDeflated(packed); });
    try {
        stream_->SetPosition(static_cast<std::int64_t>(streamed_offset_));
        stream_->WriteBytes(local.Encode());
    } catch (...) {
        CancelEntry();
        throw;
    }
}

void TNorvZip::WriteEntryData(std::string_view data) {
    if (!deflater_) throw EZipError("No ZIP entry is being written");
    try {
        if (streamed_size_ + data.size() > kMax32)
            throw EZipError(EntryError("File ", streamed_local_.name, " is too large for ZIP"));
        streamed_crc_ = Crc32(data, streamed_crc_);
        streamed_size_ += data.size();
        deflater_->Write(data);
    } catch (...) {
        CancelEntry();
        throw;
    }
}

void TNorvZip::EndEntry() {
    if (!deflater_) throw EZipError("No ZIP entry is being written");
    TLocalFile& local = streamed_local_;
    const std::uint64_t data_start = streamed_offset_ + local.HeaderSize();
    try {
        deflater_->Finish();
        // An empty entry is stored without data, as `AddBytes` stores it.
        if (streamed_size_ == 0) {
            local.method = kMethodStored;
            streamed_end_ = data_start;
        } else {
            local.crc32 = streamed_crc_;
        }
        local.compressed_size = static_cast<std::uint32_t>(streamed_end_ - data_start);
        local.uncompressed_size = static_cast<std::uint32_t>(streamed_size_);
        std::uint64_t central_size = TCentralDirectoryFile::kFixedSize + local.name.size();
        for (const TNorvZipEntriesEntry& entry : entries_) central_size += entry.CentralSize();
        if (streamed_end_ + central_size > kMax32)
            throw EZipError(EntryError("File ", local.name, " does not fit into the ZIP archive"));
        stream_->SetPosition(static_cast<std::int64_t>(streamed_offset_));
        stream_->WriteBytes(local.Encode());
    } catch (...) {
        CancelEntry();
        throw;
    }
    deflater_.reset();
    recording_.reset();

    AddEntryRecords(local, streamed_attributes_, streamed_offset_);
    WriteDirectoryAndEnd(streamed_end_);

    dirty_ = true;
    Changed(kZipEntryAdded);
    if (OnAddItem) OnAddItem(local.name);
    if (save_method_ == TZipSaveMethod::RebuildAll) RebuildArchive();
}

void TNorvZip::WriteDeflated(std::string_view packed) {
    if (streamed_end_ + packed.size() > kMax32)
        throw EZipError(EntryError("File ", streamed_local_.name, " does not fit into the ZIP archive"));
    stream_->SetPosition(static_cast<std::int64_t>(streamed_end_));
    stream_->WriteBuffer(packed.data(), packed.size());
    streamed_end_ += packed.size();
    if (recording_) recording_->compressed += packed;
}

TZipEntryCheckpoint::TZipEntryCheckpoint() = default;
TZipEntryCheckpoint::~TZipEntryCheckpoint() = default;

void TNorvZip::ResumeEntry(std::unique_ptr<TZipEntryCheckpoint> from) {
    if (!deflater_ || streamed_size_ != 0 || recording_) throw EZipError("No ZIP entry is being written");
    if (!from) {
        recording_ = std::make_unique<TZipEntryCheckpoint>();
        return;
    }
    try {
        if (streamed_end_ + from->compressed.size() > kMax32 || from->size > kMax32)
            throw EZipError(EntryError("File ", streamed_local_.name, " does not fit into the ZIP archive"));
        stream_->SetPosition(static_cast<std::int64_t>(streamed_end_));
        stream_->WriteBuffer(from->compressed.data(), from->compressed.size());
        streamed_end_ += from->compressed.size();
        streamed_crc_ = from->crc;
        streamed_size_ = from->size;
        deflater_ = std::make_unique<TRawDeflater>(
            *from->deflater, [this](std::string_view packed) { WriteDeflated(packed); });
        from->deflater.reset();
        recording_ = std::move(from);
    } catch (...) {
        CancelEntry();
        throw;
    }
}

std::unique_ptr<TZipEntryCheckpoint> TNorvZip::CheckpointEntry() {
    if (!deflater_ || !recording_) throw EZipError("No ZIP entry is being written");
    try {
        deflater_->SyncFlush();
        std::unique_ptr<TZipEntryCheckpoint> point = std::move(recording_);
        point->deflater = std::make_unique<TRawDeflater>(*deflater_, nullptr);
        point->crc = streamed_crc_;
        point->size = streamed_size_;
        return point;
    } catch (...) {
        CancelEntry();
        throw;
    }
}

void TNorvZip::CancelEntry() {
    recording_.reset();
    if (!deflater_) return;
    deflater_.reset();
    // The directory goes back where the entry's header began, which cuts the entry off.
    WriteDirectoryAndEnd(streamed_offset_);
}

std::string TNorvZip::CentralDirectoryBytes() const {
    std::string out;
    for (const TNorvZipEntriesEntry& entry : entries_) out += entry.central.Encode();
    return out;
}

// Writes all central records, the end record and the archive comment at `offset` and cuts the
// stream after them.
void TNorvZip::WriteDirectoryAndEnd(std::uint64_t offset) {
    std::string tail = CentralDirectoryBytes();
    end_record_.disk_number = end_record_.central_dir_disk = 0;
    end_record_.entries_this_disk = end_record_.entries_total = static_cast<std::uint16_t>(entries_.Count());
    end_record_.central_dir_size = static_cast<std::uint32_t>(tail.size());
    end_record_.central_dir_offset = static_cast<std::uint32_t>(offset);
    end_record_.comment_length = static_cast<std::uint16_t>(comment_.size());
    end_record_position_ = static_cast<std::int64_t>(offset + tail.size());
    comment_position_ = end_record_position_ + 22;
    tail += end_record_.Encode();
    tail += comment_;
    stream_->SetPosition(static_cast<std::int64_t>(offset));
    stream_->WriteBytes(tail);
    stream_->SetSize(static_cast<std::int64_t>(offset + tail.size()));
}

int TNorvZip::DeflateLevel() const {
    switch (compression_type_) {
        case TZipCompressionType::ctMaximum:
            return 9;
        case TZipCompressionType::ctFast:
        case TZipCompressionType::ctSuperFast:
            return 1;
        case TZipCompressionType::ctNone:
            return 0;
        default:
            return kZlibDefaultLevel;
    }
}

TDateTime TNorvZip::NewEntryDateTime() const {
    return entry_date_time_ ? *entry_date_time_ : DateTimeNow();
}

void TNorvZip::Changed(int change) {
    if (!batch_mode_ && OnZipChange) OnZipChange(change);
}

// ---------------------------------------------------------------------------------------------
// Removing

// An entry's local part: header, name, extra field, data and, with general purpose bit 3, the
// data descriptor, which is 16 bytes with its optional signature and 12 without.
std::uint64_t TNorvZip::LocalPartSize(const TNorvZipEntriesEntry& entry) {
    std::uint64_t size = entry.local.HeaderSize() + entry.central.compressed_size;
    if (((entry.central.flags | entry.local.flags) & kFlagDataDescriptor) != 0) {
        size += 16;
        const std::uint64_t at = entry.central.local_header_offset + size - 16;
        try {
            if (at + 4 <= static_cast<std::uint64_t>(stream_->Size())) {
                char sig[4];
                stream_->SetPosition(static_cast<std::int64_t>(at));
                stream_->ReadBuffer(sig, 4);
                const std::uint32_t value =
                    static_cast<unsigned char>(sig[0]) | (static_cast<unsigned char>(sig[1]) << 8) |
                    (static_cast<unsigned char>(sig[2]) << 16) |
                    (static_cast<std::uint32_t>(static_cast<unsigned char>(sig[3])) << 24);
                if (value != kDataDescriptorSignature) size -= 4;
            }
        } catch (const EStreamError&) {
        }
    }
    return size;
}

void TNorvZip::RemoveEntry(int index) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    CheckNotStreaming();
    if (index < 0 || index >= entries_.Count()) throw EZipError("ZIP entry index out of bounds");
    const TNorvZipEntriesEntry removed = entries_[index];
    entries_.Delete(index);

    const std::uint64_t start = removed.central.local_header_offset;
    const std::uint64_t span = removed.local.signature == kLocalFileSignature ? LocalPartSize(removed) : 0;
    const std::uint64_t directory = end_record_.central_dir_offset;
    if (save_method_ == TZipSaveMethod::RebuildAll || entries_.Count() == 0 || span == 0 ||
        start + span > directory) {
        // Also when the removed local part cannot be located: cutting blind would damage the rest.
        RebuildArchive();
    } else {
        // Move everything between the removed part and the central directory down over the gap;
        // the directory and end record are written afresh behind it.
        std::vector<char> chunk(1 << 20);
        std::uint64_t from = start + span;
        std::uint64_t to = start;
        while (from < directory) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), directory - from));
            stream_->SetPosition(static_cast<std::int64_t>(from));
            stream_->ReadBuffer(chunk.data(), n);
            stream_->SetPosition(static_cast<std::int64_t>(to));
            stream_->WriteBuffer(chunk.data(), n);
            from += n;
            to += n;
        }
        for (TNorvZipEntriesEntry& entry : entries_)
            if (entry.central.local_header_offset > start)
                entry.central.local_header_offset -= static_cast<std::uint32_t>(span);
        WriteDirectoryAndEnd(directory - span);
    }
    dirty_ = true;
    Changed(kZipEntryRemoved);
    if (OnRemoveItems) OnRemoveItems();
}

void TNorvZip::RebuildArchive() {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    CheckNotStreaming();
    if (OnRebuildZip) OnRebuildZip();
    TMemoryStream fresh;
    std::vector<std::uint32_t> offsets;
    for (const TNorvZipEntriesEntry& entry : entries_) {
        if (entry.local.signature != kLocalFileSignature)
            throw EZipError(EntryError("Bad local header of file ", entry.central.name, " in ZIP"));
        const std::uint64_t size = LocalPartSize(entry);
        CheckRange(entry.central.local_header_offset, size, entry.central.name);
        if (static_cast<std::uint64_t>(fresh.Size()) + size > kMax32)
            throw EZipError("ZIP archive too large");
        offsets.push_back(static_cast<std::uint32_t>(fresh.Size()));
        stream_->SetPosition(entry.central.local_header_offset);
        fresh.CopyFrom(*stream_, static_cast<std::int64_t>(size));
    }
    for (int i = 0; i < entries_.Count(); ++i)
        entries_[i].central.local_header_offset = offsets[static_cast<std::size_t>(i)];
    TStream* target = stream_;
    stream_ = &fresh;
    WriteDirectoryAndEnd(static_cast<std::uint64_t>(fresh.Size()));
    stream_ = target;
    stream_->SetPosition(0);
    stream_->WriteBytes(fresh.Bytes());
    stream_->SetSize(fresh.Size());
    has_bad_entries_ = false;
    dirty_ = true;
}

// ---------------------------------------------------------------------------------------------
// Extraction

void TNorvZip::CheckRange(std::uint64_t offset, std::uint64_t length, const std::string& name) {
    if (offset + length > static_cast<std::uint64_t>(stream_->Size()))
        throw EZipError(EntryError("Data of file ", name, " lies beyond the end of the ZIP"));
}

void TNorvZip::ExtractToStream(int index, TStream& target) {
    std::string bytes = ExtractToString(index);
    auto* memory = dynamic_cast<TMemoryStream*>(&target);
    if (memory != nullptr && memory->Size() == 0) {
        // The usual case: a fresh part buffer takes the bytes without another copy.
        *memory = TMemoryStream(std::move(bytes));
        memory->Seek(0, TSeekOrigin::soEnd);
    } else {
        target.WriteBytes(bytes);
    }
}

// The central directory's sizes and CRC rule, also when a data descriptor follows the data.
std::string TNorvZip::ReadEntryData(const TNorvZipEntriesEntry& entry, std::string& size_error) {
    const TCentralDirectoryFile& c = entry.central;
    const std::string& name = c.name;
    if ((c.method != kMethodStored && c.method != kMethodDeflated) || entry.Encrypted)
        throw EZipError(EntryError("Cannot process this file: ", name, " "));

    // The local header is read again: its name and extra field decide where the data starts.
    const std::uint64_t offset = c.local_header_offset;
    char fixed[TLocalFile::kFixedSize];
    CheckRange(offset, sizeof fixed, name);
    stream_->SetPosition(static_cast<std::int64_t>(offset));
    stream_->ReadBuffer(fixed, sizeof fixed);
    const TLocalFile local = TLocalFile::DecodeFixed(fixed);
    if (local.signature != kLocalFileSignature)
        throw EZipError(EntryError("Bad local header of file ", name, " in ZIP"));

    const std::uint64_t packed = c.compressed_size;
    const std::uint64_t size = c.uncompressed_size;
    if (size > kMaxEntrySize) throw EZipError(EntryError("File ", name, " in ZIP is too large"));
    if (c.method == kMethodDeflated && size > packed * kMaxCompressionRatio)
        throw EZipError(EntryError("File ", name, " in ZIP expands more than 1000 times"));
    size_error = EntryError("Size mismatch in file ", name, " in ZIP");
    if (c.method == kMethodStored && packed != size) throw EZipError(size_error);
    const std::uint64_t data_start = offset + local.HeaderSize();
    CheckRange(data_start, packed, name);
    stream_->SetPosition(static_cast<std::int64_t>(data_start));
    return stream_->ReadBytes(static_cast<std::size_t>(packed));
}

std::string TNorvZip::ExtractToString(int index) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    if (index < 0 || index >= entries_.Count()) throw EZipError("ZIP entry index out of bounds");
    const TNorvZipEntriesEntry& entry = entries_[index];
    const TCentralDirectoryFile& c = entry.central;
    std::string size_error;
    std::string data = ReadEntryData(entry, size_error);
    std::string out =
        c.method == kMethodStored ? std::move(data) : InflateRaw(data, c.uncompressed_size, size_error);
    if (Crc32(out) != c.crc32) throw EZipError(EntryError("CRC error in file ", c.name, " in ZIP"));
    return out;
}

void TNorvZip::ExtractInPieces(int index, const std::function<void(std::string_view)>& piece) {
    if (stream_ == nullptr || !is_zip_file_) throw EZipError("ZIP archive is not open");
    if (index < 0 || index >= entries_.Count()) throw EZipError("ZIP entry index out of bounds");
    const TNorvZipEntriesEntry& entry = entries_[index];
    const TCentralDirectoryFile& c = entry.central;
    std::string size_error;
    const std::string data = ReadEntryData(entry, size_error);
    std::uint32_t crc = Crc32({});
    // A consumer that gives up (bad XML, say) must not hide a damaged entry, whose error is the
    // one to report, so the rest is still inflated and checked.
    std::exception_ptr failed;
    auto deliver = [&](std::string_view bytes) {
        crc = Crc32(bytes, crc);
        if (failed) return;
        try {
            piece(bytes);
        } catch (...) {
            failed = std::current_exception();
        }
    };
    if (c.method == kMethodStored) {
        constexpr std::size_t kPiece = std::size_t{1} << 17;
        for (std::size_t at = 0; at < data.size(); at += kPiece)
            deliver(std::string_view(data).substr(at, kPiece));
    } else {
        InflateRawInPieces(data, c.uncompressed_size, size_error, deliver);
    }
    if (crc != c.crc32) throw EZipError(EntryError("CRC error in file ", c.name, " in ZIP"));
    if (failed) std::rethrow_exception(failed);
}

}  // namespace linograf::workbook
