// Reads a whole compound file into a document tree, treating the file as hostile.
//
// Rejected (raised, nothing partial is returned):
//   - a header whose signature, byte order, version, sector sizes or mini stream cutoff are
//     not the format's;
//   - any chain (DIFAT, FAT sectors, directory, mini FAT, mini stream, streams) that leaves the
//     file, reaches a marker instead of a sector, loops, or shares a sector with another chain:
//     every sector and mini sector is claimed by at most one chain, which also bounds the
//     memory taken to the size of the file;
//   - a stream whose size needs more sectors than its chain or the file has;
//   - a directory tree that loops, links an unused entry or a second root, repeats a name
//     within a storage, or nests storages deeper than kMaxDepth.
// Tolerated (what other writers are known to produce):
//   - a last sector cut short by the end of the file (read as zero-filled);
//   - chains longer than their stream needs (the rest is ignored);
//   - garbage in the high half of stream sizes in version 3 files (the format says to ignore it);
//   - DIFAT and directory sector counts in the header that disagree with the chains;
//   - directory entries that no storage links to (dropped).
#include <algorithm>
#include <cstring>

#include "workbook/cfb/compound_document.h"
#include "workbook/cfb/compound_document_format.h"

namespace linograf::workbook {

class TCompoundDocumentReader {
  public:
    TCompoundDocumentReader(const TFileBytes& file, const TLeaveInFile* leave_in_file)
        : file_(file), leave_in_file_(leave_in_file) {}
    TCompoundDocument Read();

  private:
    static constexpr int kMaxDepth = 256;

    [[noreturn]] static void Damaged(const std::string& what) {
        throw ECompoundDocumentError("Damaged compound document: " + what);
    }
    static std::string Hex(std::uint32_t v) {
        static const char digits[] = "0123456789ABCDEF";
        std::string s = "0x";
        for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
        return s;
    }

    void ReadHeader();
    void ReadFat();
    // Follows a FAT chain from `start`. With `needed` set, stops after that many sectors and
    // raises if the chain ends first; otherwise runs to the end-of-chain marker.
    std::vector<std::uint32_t> FollowChain(std::uint32_t start, const std::string& what, std::uint64_t needed,
                                           bool bounded);
    std::string ReadSectors(const std::vector<std::uint32_t>& sectors, std::uint64_t size) const;
    void CopySector(std::uint32_t sector, char* to) const;
    const char* Entry(std::uint32_t id) const {
        return directory_.data() + std::size_t{id} * cfb::kDirectoryEntrySize;
    }
    std::uint64_t EntrySize(const char* e) const {
        std::uint64_t size = cfb::Get64(e + cfb::offset::entry::kSize);
        return major_ == 3 ? (size & 0xFFFFFFFFull) : size;
    }
    std::u16string EntryName(std::uint32_t id) const;
    void LoadMiniStream();
    // The stream's bytes; empty when `leave` takes the stream as it lies in the file.
    std::string ReadStream(std::uint32_t id, const std::u16string& name, const TLeaveInFile* leave);
    TFileExtents Extents(const std::vector<std::uint32_t>& sectors, std::uint64_t size) const;
    void ReadTree(TCompoundStorage& root);

    const TFileBytes& file_;
    // The first sector: the header and the first DIFAT entries.
    std::string header_;
    const TLeaveInFile* leave_in_file_ = nullptr;
    int major_ = 3;
    std::uint32_t sector_size_ = 512;
    std::uint32_t sector_count_ = 0;  // sectors present in the file, the last one maybe cut short
    std::uint32_t first_directory_ = 0, first_mini_fat_ = 0, first_difat_ = 0, fat_sectors_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> owner_;  // per sector: 0 free, else the chain that claimed it
    std::uint32_t chains_ = 0;
    std::string directory_;
    std::uint32_t entry_count_ = 0;
    std::vector<std::uint32_t> mini_fat_;
    bool mini_stream_loaded_ = false;
    std::string mini_stream_;
    std::vector<bool> mini_owned_;
};

void TCompoundDocumentReader::ReadHeader() {
    header_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file_.size, cfb::kHeaderSize)));
    if (!header_.empty()) file_.read(0, header_.size(), header_.data());
    if (!TCompoundDocument::IsCompoundDocument(header_))
        throw ECompoundDocumentError("Not a compound document");
    if (file_.size < cfb::kHeaderSize) Damaged("the file is shorter than its header");
    const char* h = header_.data();
    namespace o = cfb::offset;
    if (cfb::Get16(h + o::kByteOrder) != cfb::kByteOrderMark) Damaged("wrong byte order mark");
    major_ = cfb::Get16(h + o::kMajor);
    if (major_ != 3 && major_ != 4)
        throw ECompoundDocumentError("Unsupported compound document version " + std::to_string(major_));
    const std::uint16_t shift = cfb::Get16(h + o::kSectorShift);
    if (shift != 9 && shift != 12) Damaged("invalid sector size (shift " + std::to_string(shift) + ")");
    sector_size_ = 1u << shift;
    if (cfb::Get16(h + o::kMiniSectorShift) != 6) Damaged("invalid mini sector size");
    if (cfb::Get32(h + o::kMiniCutoff) != cfb::kMiniStreamCutoff) Damaged("invalid mini stream cutoff");
    if (file_.size < sector_size_) Damaged("the file is shorter than its header");
    const std::uint64_t sectors = (file_.size - sector_size_ + sector_size_ - 1) / sector_size_;
    sector_count_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, cfb::kMaxRegularSector));
    fat_sectors_ = cfb::Get32(h + o::kFatSectors);
    first_directory_ = cfb::Get32(h + o::kFirstDirectory);
    first_mini_fat_ = cfb::Get32(h + o::kFirstMiniFat);
    first_difat_ = cfb::Get32(h + o::kFirstDifat);
    owner_.assign(sector_count_, 0);
}

void TCompoundDocumentReader::CopySector(std::uint32_t sector, char* to) const {
    const std::uint64_t at = (std::uint64_t{sector} + 1) * sector_size_;
    const std::size_t n =
        at >= file_.size ? 0
                         : static_cast<std::size_t>(std::min<std::uint64_t>(sector_size_, file_.size - at));
    if (n > 0) file_.read(at, n, to);
    std::memset(to + n, 0, sector_size_ - n);
}

void TCompoundDocumentReader::ReadFat() {
    if (fat_sectors_ == 0) Damaged("the file has no FAT");
    if (fat_sectors_ > sector_count_) Damaged("the header counts more FAT sectors than the file holds");
    const std::uint32_t per_sector = sector_size_ / 4;
    std::vector<std::uint32_t> fat_sector_numbers;
    fat_sector_numbers.reserve(fat_sectors_);
    for (std::uint32_t i = 0; i < cfb::kHeaderDifatEntries && fat_sector_numbers.size() < fat_sectors_; ++i)
        fat_sector_numbers.push_back(cfb::Get32(header_.data() + cfb::offset::kDifat + 4 * i));

    // The DIFAT chain is threaded through its own sectors (last number = next sector), not the FAT.
    const std::uint32_t difat_chain = ++chains_;
    std::uint32_t next = first_difat_;
    std::vector<char> buffer(sector_size_);
    while (fat_sector_numbers.size() < fat_sectors_) {
        if (next >= sector_count_)
            Damaged("the DIFAT ends before all " + std::to_string(fat_sectors_) +
                    " FAT sectors are listed (at " + Hex(next) + ")");
        if (owner_[next] != 0) Damaged("the DIFAT chain loops at sector " + std::to_string(next));
        owner_[next] = difat_chain;
        CopySector(next, buffer.data());
        for (std::uint32_t k = 0; k + 1 < per_sector && fat_sector_numbers.size() < fat_sectors_; ++k)
            fat_sector_numbers.push_back(cfb::Get32(buffer.data() + 4 * k));
        next = cfb::Get32(buffer.data() + 4 * (per_sector - 1));
    }

    const std::uint32_t fat_chain = ++chains_;
    fat_.resize(static_cast<std::size_t>(fat_sectors_) * per_sector);
    for (std::size_t i = 0; i < fat_sector_numbers.size(); ++i) {
        const std::uint32_t s = fat_sector_numbers[i];
        if (s >= sector_count_)
            Damaged("FAT sector " + std::to_string(i) + " lies outside the file (" + Hex(s) + ")");
        if (owner_[s] != 0)
            Damaged("FAT sector " + std::to_string(s) + " is listed twice or used by the DIFAT");
        owner_[s] = fat_chain;
        CopySector(s, buffer.data());
        for (std::uint32_t k = 0; k < per_sector; ++k)
            fat_[i * per_sector + k] = cfb::Get32(buffer.data() + 4 * k);
    }
}

std::vector<std::uint32_t> TCompoundDocumentReader::FollowChain(std::uint32_t start, const std::string& what,
                                                                std::uint64_t needed, bool bounded) {
    const std::uint32_t chain = ++chains_;
    std::vector<std::uint32_t> sectors;
    if (bounded) sectors.reserve(static_cast<std::size_t>(needed));  // callers check needed against the file
    std::uint32_t s = start;
    while (!bounded || sectors.size() < needed) {
        if (s == cfb::kEndOfChain) {
            if (bounded) Damaged(what + " is shorter than its size");
            break;
        }
        if (s >= sector_count_) Damaged(what + " runs outside the file (sector " + Hex(s) + ")");
        if (s >= fat_.size())
            Damaged(what + " reaches sector " + std::to_string(s) + ", which the FAT does not map");
        if (owner_[s] == chain) Damaged(what + " loops at sector " + std::to_string(s));
        if (owner_[s] != 0) Damaged(what + " shares sector " + std::to_string(s) + " with another chain");
        owner_[s] = chain;
        sectors.push_back(s);
        s = fat_[s];
    }
    return sectors;
}

std::string TCompoundDocumentReader::ReadSectors(const std::vector<std::uint32_t>& sectors,
                                                 std::uint64_t size) const {
    std::string out(sectors.size() * sector_size_, '\0');
    for (std::size_t i = 0; i < sectors.size(); ++i) CopySector(sectors[i], out.data() + i * sector_size_);
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, out.size())));
    return out;
}

std::u16string TCompoundDocumentReader::EntryName(std::uint32_t id) const {
    const char* e = Entry(id);
    const std::uint16_t bytes = cfb::Get16(e + cfb::offset::entry::kNameLength);
    if (bytes < 4 || bytes > 64 || bytes % 2 != 0)
        Damaged("directory entry " + std::to_string(id) + " has an invalid name length " +
                std::to_string(bytes));
    std::u16string name(bytes / 2 - 1, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i) name[i] = cfb::Get16(e + cfb::offset::entry::kName + 2 * i);
    return name;
}

void TCompoundDocumentReader::LoadMiniStream() {
    if (mini_stream_loaded_) return;
    mini_stream_loaded_ = true;
    const char* root = Entry(0);
    const std::uint64_t size = EntrySize(root);
    if (size > std::uint64_t{sector_count_} * sector_size_)
        Damaged("the mini stream is larger than the file");
    const std::uint64_t needed = (size + sector_size_ - 1) / sector_size_;
    mini_stream_ = ReadSectors(
        FollowChain(cfb::Get32(root + cfb::offset::entry::kStart), "the mini stream", needed, true), size);
    mini_owned_.assign((mini_stream_.size() + cfb::kMiniSectorSize - 1) / cfb::kMiniSectorSize, false);

    if (first_mini_fat_ != cfb::kEndOfChain && first_mini_fat_ != cfb::kFreeSector) {
        const std::vector<std::uint32_t> sectors = FollowChain(first_mini_fat_, "the mini FAT", 0, false);
        const std::string bytes = ReadSectors(sectors, std::uint64_t{sectors.size()} * sector_size_);
        mini_fat_.resize(bytes.size() / 4);
        for (std::size_t i = 0; i < mini_fat_.size(); ++i) mini_fat_[i] = cfb::Get32(bytes.data() + 4 * i);
    }
}

// Empty ranges when a sector the stream needs is cut short by the end of the file.
TFileExtents TCompoundDocumentReader::Extents(const std::vector<std::uint32_t>& sectors,
                                              std::uint64_t size) const {
    TFileExtents extents;
    extents.size = size;
    std::uint64_t left = size;
    for (const std::uint32_t s : sectors) {
        if (left == 0) break;
        const std::uint64_t at = (std::uint64_t{s} + 1) * sector_size_;
        const std::uint64_t have = std::min<std::uint64_t>(sector_size_, left);
        if (at >= file_.size || file_.size - at < have) return {{}, size};
        left -= have;
        auto& ranges = extents.ranges;
        if (!ranges.empty() && ranges.back().first + ranges.back().second == at)
            ranges.back().second += have;
        else
            ranges.push_back({at, have});
    }
    return extents;
}

std::string TCompoundDocumentReader::ReadStream(std::uint32_t id, const std::u16string& name,
                                                const TLeaveInFile* leave) {
    const char* e = Entry(id);
    const std::uint64_t size = EntrySize(e);
    const std::uint32_t start = cfb::Get32(e + cfb::offset::entry::kStart);
    if (size == 0) return {};
    std::string stream = "stream \"";
    for (char16_t c : name) stream += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    stream += '"';
    const std::string label = "the chain of " + stream;
    if (size >= cfb::kMiniStreamCutoff) {
        if (size > std::uint64_t{sector_count_} * sector_size_) Damaged(stream + " is larger than the file");
        const std::vector<std::uint32_t> sectors =
            FollowChain(start, label, (size + sector_size_ - 1) / sector_size_, true);
        if (leave && *leave) {
            const TFileExtents extents = Extents(sectors, size);
            if (!extents.ranges.empty() && (*leave)(name, extents)) return {};
        }
        return ReadSectors(sectors, size);
    }

    LoadMiniStream();
    const std::size_t needed =
        static_cast<std::size_t>((size + cfb::kMiniSectorSize - 1) / cfb::kMiniSectorSize);
    std::string out;
    out.reserve(needed * cfb::kMiniSectorSize);
    std::vector<std::uint32_t> mine;  // to tell a loop from a sector shared with another stream
    std::uint32_t s = start;
    for (std::size_t i = 0; i < needed; ++i) {
        if (s == cfb::kEndOfChain) Damaged(label + " (mini stream) is shorter than its size");
        if (s >= mini_owned_.size() || s >= mini_fat_.size())
            Damaged(label + " runs outside the mini stream (mini sector " + Hex(s) + ")");
        if (mini_owned_[s]) {
            if (std::find(mine.begin(), mine.end(), s) != mine.end())
                Damaged(label + " loops at mini sector " + std::to_string(s));
            Damaged(label + " shares mini sector " + std::to_string(s) + " with another stream");
        }
        mini_owned_[s] = true;
        mine.push_back(s);
        const std::size_t at = std::size_t{s} * cfb::kMiniSectorSize;
        const std::size_t n = std::min<std::size_t>(cfb::kMiniSectorSize, mini_stream_.size() - at);
        out.append(mini_stream_, at, n);
        out.append(cfb::kMiniSectorSize - n, '\0');
        s = mini_fat_[s];
    }
    out.resize(static_cast<std::size_t>(size));
    return out;
}

void TCompoundDocumentReader::ReadTree(TCompoundStorage& root) {
    std::vector<bool> visited(entry_count_, false);
    visited[0] = true;
    struct Pending {
        std::uint32_t child;  // root of a sibling tree
        TCompoundStorage* storage;
        int depth;
    };
    std::vector<Pending> storages{{cfb::Get32(Entry(0) + cfb::offset::entry::kChild), &root, 0}};
    std::vector<std::uint32_t> siblings;
    while (!storages.empty()) {
        Pending p = storages.back();
        storages.pop_back();
        if (p.depth > kMaxDepth)
            Damaged("storages are nested more than " + std::to_string(kMaxDepth) + " deep");
        siblings.assign(1, p.child);
        while (!siblings.empty()) {
            const std::uint32_t id = siblings.back();
            siblings.pop_back();
            if (id == cfb::kNoStream) continue;
            if (id >= entry_count_) Damaged("a directory link points past the directory (" + Hex(id) + ")");
            if (visited[id]) Damaged("the directory tree loops at entry " + std::to_string(id));
            visited[id] = true;
            const char* e = Entry(id);
            const std::uint8_t type = static_cast<std::uint8_t>(e[cfb::offset::entry::kType]);
            if (type != cfb::kEntryStorage && type != cfb::kEntryStream)
                Damaged("directory entry " + std::to_string(id) + " is linked but has type " +
                        std::to_string(type));
            const std::u16string name = EntryName(id);
            if (p.storage->Find(name))
                Damaged("a storage holds two elements named alike (entry " + std::to_string(id) + ")");
            if (type == cfb::kEntryStream) {
                std::string data = ReadStream(id, name, p.depth == 0 ? leave_in_file_ : nullptr);
                *p.storage->Insert(name, TCompoundElementType::cetStream).data = std::move(data);
            } else {
                TCompoundStorage& s = *p.storage->Insert(name, TCompoundElementType::cetStorage).storage;
                TClassId clsid;
                std::memcpy(clsid.data(), e + cfb::offset::entry::kClassId, clsid.size());
                s.SetClassId(clsid);
                s.SetStateBits(cfb::Get32(e + cfb::offset::entry::kStateBits));
                s.SetTimes(cfb::Get64(e + cfb::offset::entry::kCreated),
                           cfb::Get64(e + cfb::offset::entry::kModified));
                storages.push_back({cfb::Get32(e + cfb::offset::entry::kChild), &s, p.depth + 1});
            }
            siblings.push_back(cfb::Get32(e + cfb::offset::entry::kLeft));
            siblings.push_back(cfb::Get32(e + cfb::offset::entry::kRight));
        }
    }
}

TCompoundDocument TCompoundDocumentReader::Read() {
    ReadHeader();
    ReadFat();
    const std::vector<std::uint32_t> sectors = FollowChain(first_directory_, "the directory chain", 0, false);
    if (sectors.empty()) Damaged("the file has no directory");
    directory_ = ReadSectors(sectors, std::uint64_t{sectors.size()} * sector_size_);
    entry_count_ = static_cast<std::uint32_t>(directory_.size() / cfb::kDirectoryEntrySize);
    if (static_cast<std::uint8_t>(Entry(0)[cfb::offset::entry::kType]) != cfb::kEntryRoot)
        Damaged("the first directory entry is not the root");

    TCompoundDocument document(major_);
    TCompoundStorage& root = document.Root();
    TClassId clsid;
    std::memcpy(clsid.data(), Entry(0) + cfb::offset::entry::kClassId, clsid.size());
    root.SetClassId(clsid);
    root.SetStateBits(cfb::Get32(Entry(0) + cfb::offset::entry::kStateBits));
    root.SetTimes(cfb::Get64(Entry(0) + cfb::offset::entry::kCreated),
                  cfb::Get64(Entry(0) + cfb::offset::entry::kModified));
    ReadTree(root);
    return document;
}

namespace {

TFileBytes InMemory(std::string_view bytes) {
    return {bytes.size(), [bytes](std::uint64_t at, std::size_t count, char* to) {
                std::memcpy(to, bytes.data() + at, count);
            }};
}

}  // namespace

TCompoundDocument TCompoundDocument::Load(std::string_view bytes) {
    const TFileBytes file = InMemory(bytes);
    return TCompoundDocumentReader(file, nullptr).Read();
}

TCompoundDocument TCompoundDocument::Load(std::string_view bytes, const TLeaveInFile& leave_in_file) {
    const TFileBytes file = InMemory(bytes);
    return TCompoundDocumentReader(file, &leave_in_file).Read();
}

TCompoundDocument TCompoundDocument::Load(const TFileBytes& file, const TLeaveInFile& leave_in_file) {
    return TCompoundDocumentReader(file, &leave_in_file).Read();
}

}  // namespace linograf::workbook
