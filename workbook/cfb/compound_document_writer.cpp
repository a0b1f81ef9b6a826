// Lays a document tree out as a compound file in one pass.
//
// Sector order, chosen so the layout depends only on the tree:
//   the external stream, when there is one (its bytes are already in the file)
//   streams of 4096 bytes or more, each contiguous, in directory order
//   the mini stream (all shorter streams, each rounded up to 64-byte mini sectors)
//   directory, mini FAT, FAT, DIFAT
// Directory entries are numbered depth first, each storage's children in name order and
// consecutive; every sibling tree is a balanced binary search tree with all nodes black, which
// satisfies the format's red-black rules (root black, no two reds in a row) without rotations.
// Time stamps are those the storages carry (zero for new ones), so equal trees give equal bytes.
#include <algorithm>
#include <cstring>

#include "workbook/cfb/compound_document_writer.h"

namespace linograf::workbook {

void TCompoundDocumentWriter::SetExternalStream(std::u16string_view name, std::uint64_t size) {
    external_ = true;
    external_name_ = name;
    external_size_ = size;
}

void TCompoundDocumentWriter::AddChildren(const TCompoundStorage& storage, std::size_t parent) {
    const std::uint32_t first = static_cast<std::uint32_t>(entries_.size());
    bool external_placed = !(external_ && parent == 0);
    for (const TCompoundStorage::Child& c : storage.children_) {
        const int order = external_placed ? -1 : CompareElementNames(c.name, external_name_);
        if (order >= 0 && !external_placed) {
            Entry e;
            e.name = external_name_;
            e.type = cfb::kEntryStream;
            e.external = true;
            e.size = external_size_;
            entries_.push_back(std::move(e));
            external_placed = true;
            if (order == 0) continue;  // the external stream replaces an element of its name
        }
        Entry e;
        e.name = c.name;
        if (c.type == TCompoundElementType::cetStream) {
            e.type = cfb::kEntryStream;
            e.data = c.data.get();
            e.size = c.data->size();
        } else {
            e.type = cfb::kEntryStorage;
            e.storage = c.storage.get();
            e.start = 0;
        }
        entries_.push_back(std::move(e));
    }
    if (!external_placed) {
        Entry e;
        e.name = external_name_;
        e.type = cfb::kEntryStream;
        e.external = true;
        e.size = external_size_;
        entries_.push_back(std::move(e));
    }
    const std::uint32_t count = static_cast<std::uint32_t>(entries_.size()) - first;
    entries_[parent].child = BuildTree(first, count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t id = first + i;
        if (entries_[id].type == cfb::kEntryStorage) AddChildren(*entries_[id].storage, id);
    }
}

std::uint32_t TCompoundDocumentWriter::BuildTree(std::uint32_t first, std::uint32_t count) {
    if (count == 0) return cfb::kNoStream;
    const std::uint32_t middle = first + count / 2;
    entries_[middle].left = BuildTree(first, middle - first);
    entries_[middle].right = BuildTree(middle + 1, first + count - middle - 1);
    return middle;
}

void TCompoundDocumentWriter::WriteEntry(char* p, const Entry& e) const {
    namespace o = cfb::offset::entry;
    for (std::size_t i = 0; i < e.name.size(); ++i) cfb::Put16(p + o::kName + 2 * i, e.name[i]);
    cfb::Put16(p + o::kNameLength, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
    p[o::kType] = static_cast<char>(e.type);
    p[o::kColour] = static_cast<char>(cfb::kBlack);
    cfb::Put32(p + o::kLeft, e.left);
    cfb::Put32(p + o::kRight, e.right);
    cfb::Put32(p + o::kChild, e.child);
    if (e.storage) {
        std::memcpy(p + o::kClassId, e.storage->ClassId().data(), 16);
        cfb::Put32(p + o::kStateBits, e.storage->StateBits());
        cfb::Put64(p + o::kCreated, e.storage->CreationTime());
        cfb::Put64(p + o::kModified, e.storage->ModifiedTime());
    }
    cfb::Put32(p + o::kStart, e.start);
    cfb::Put64(p + o::kSize, e.size);
}

std::string TCompoundDocumentWriter::Write() {
    Entry root;
    root.name = u"Root Entry";
    root.type = cfb::kEntryRoot;
    root.storage = &document_.Root();
    entries_.push_back(std::move(root));
    AddChildren(document_.Root(), 0);

    const std::vector<std::uint32_t> mini_fat = PlaceShortStreams();
    const TLayout layout = LayOut(mini_fat.size());
    out_.assign(static_cast<std::size_t>((layout.total_sectors + 1 - first_written_) * sector_size_), '\0');
    std::vector<std::uint32_t> fat(static_cast<std::size_t>(layout.fat_sectors * PerSector()),
                                   cfb::kFreeSector);
    WriteStreams(fat);
    WriteDirectory(layout, fat);
    WriteMiniFat(layout, mini_fat, fat);
    WriteFat(layout, fat);
    WriteHeader(layout);
    return std::move(out_);
}

// Short streams go to the mini stream, one chain of 64-byte mini sectors each; the result is the
// mini FAT.
std::vector<std::uint32_t> TCompoundDocumentWriter::PlaceShortStreams() {
    std::vector<std::uint32_t> mini_fat;
    for (Entry& e : entries_) {
        if (e.type != cfb::kEntryStream) continue;
        if (document_.MajorVersion() == 3 && e.size > 0xFFFFFFFFull)
            throw ECompoundDocumentError("Stream is too large for a version 3 compound document");
        if (e.size == 0 || e.size >= cfb::kMiniStreamCutoff) continue;
        if (e.external) throw ECompoundDocumentError("A stream written to the file must take whole sectors");
        const auto n = static_cast<std::uint32_t>((e.size + cfb::kMiniSectorSize - 1) / cfb::kMiniSectorSize);
        e.start = static_cast<std::uint32_t>(mini_fat.size());
        for (std::uint32_t i = 1; i < n; ++i) mini_fat.push_back(e.start + i);
        mini_fat.push_back(cfb::kEndOfChain);
    }
    mini_stream_size_ = static_cast<std::uint64_t>(mini_fat.size()) * cfb::kMiniSectorSize;
    return mini_fat;
}

// Gives every stream its first regular sector, in layout order, and places the structures after
// them.
TCompoundDocumentWriter::TLayout TCompoundDocumentWriter::LayOut(std::size_t mini_fat_entries) {
    std::uint64_t next = 0;
    for (Entry& e : entries_) {
        if (!e.external) continue;
        e.start = 0;
        next = SectorsFor(e.size);
        first_written_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, cfb::kMaxRegularSector));
    }
    for (Entry& e : entries_) {
        if (e.type != cfb::kEntryStream || e.size < cfb::kMiniStreamCutoff || e.external) continue;
        e.start = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, cfb::kMaxRegularSector));
        next += SectorsFor(e.size);
    }
    if (mini_stream_size_ > 0) {
        entries_[0].start = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, cfb::kMaxRegularSector));
        entries_[0].size = mini_stream_size_;
        next += SectorsFor(mini_stream_size_);
    }
    TLayout layout;
    layout.directory_start = next;
    layout.directory_sectors = SectorsFor(entries_.size() * cfb::kDirectoryEntrySize);
    next += layout.directory_sectors;
    layout.mini_fat_start = next;
    layout.mini_fat_sectors = SectorsFor(mini_fat_entries * 4);
    next += layout.mini_fat_sectors;
    layout.fat_start = next;
    // The FAT also maps the FAT and DIFAT sectors themselves, so their counts feed each other.
    const std::uint32_t per_sector = PerSector();
    for (;;) {
        const std::uint64_t total = layout.fat_start + layout.fat_sectors + layout.difat_sectors;
        const std::uint64_t fat = (total + per_sector - 1) / per_sector;
        const std::uint64_t difat =
            fat <= cfb::kHeaderDifatEntries
                ? 0
                : (fat - cfb::kHeaderDifatEntries + per_sector - 2) / (per_sector - 1);
        if (fat == layout.fat_sectors && difat == layout.difat_sectors) break;
        layout.fat_sectors = fat;
        layout.difat_sectors = difat;
    }
    layout.difat_start = layout.fat_start + layout.fat_sectors;
    layout.total_sectors = layout.difat_start + layout.difat_sectors;
    if (layout.total_sectors > cfb::kMaxRegularSector)
        throw ECompoundDocumentError("Compound document is too large");
    return layout;
}

void TCompoundDocumentWriter::Chain(std::vector<std::uint32_t>& fat, std::uint64_t first,
                                    std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i)
        fat[first + i] = i + 1 < count ? static_cast<std::uint32_t>(first + i + 1) : cfb::kEndOfChain;
}

// The contents of the long streams, then the mini stream, which is contiguous, so one copy per
// short stream.
void TCompoundDocumentWriter::WriteStreams(std::vector<std::uint32_t>& fat) {
    for (const Entry& e : entries_) {
        if (e.type != cfb::kEntryStream || e.size < cfb::kMiniStreamCutoff) continue;
        Chain(fat, e.start, SectorsFor(e.size));
        if (!e.external) std::memcpy(Sector(e.start), e.data->data(), e.data->size());
    }
    if (mini_stream_size_ == 0) return;
    Chain(fat, entries_[0].start, SectorsFor(mini_stream_size_));
    char* mini_stream = Sector(entries_[0].start);
    for (const Entry& e : entries_)
        if (e.type == cfb::kEntryStream && e.size > 0 && e.size < cfb::kMiniStreamCutoff)
            std::memcpy(mini_stream + static_cast<std::size_t>(e.start) * cfb::kMiniSectorSize,
                        e.data->data(), e.data->size());
}

// Unused slots of the directory's last sector are empty entries with no links.
void TCompoundDocumentWriter::WriteDirectory(const TLayout& layout, std::vector<std::uint32_t>& fat) {
    Chain(fat, layout.directory_start, layout.directory_sectors);
    char* directory = Sector(static_cast<std::uint32_t>(layout.directory_start));
    const std::size_t slots =
        static_cast<std::size_t>(layout.directory_sectors) * sector_size_ / cfb::kDirectoryEntrySize;
    for (std::size_t i = 0; i < slots; ++i) {
        char* p = directory + i * cfb::kDirectoryEntrySize;
        if (i < entries_.size()) {
            WriteEntry(p, entries_[i]);
        } else {
            cfb::Put32(p + cfb::offset::entry::kLeft, cfb::kNoStream);
            cfb::Put32(p + cfb::offset::entry::kRight, cfb::kNoStream);
            cfb::Put32(p + cfb::offset::entry::kChild, cfb::kNoStream);
        }
    }
}

void TCompoundDocumentWriter::WriteMiniFat(const TLayout& layout, const std::vector<std::uint32_t>& mini_fat,
                                           std::vector<std::uint32_t>& fat) {
    Chain(fat, layout.mini_fat_start, layout.mini_fat_sectors);
    if (layout.mini_fat_sectors == 0) return;
    char* p = Sector(static_cast<std::uint32_t>(layout.mini_fat_start));
    const std::size_t slots = static_cast<std::size_t>(layout.mini_fat_sectors) * PerSector();
    for (std::size_t i = 0; i < slots; ++i)
        cfb::Put32(p + 4 * i, i < mini_fat.size() ? mini_fat[i] : cfb::kFreeSector);
}

void TCompoundDocumentWriter::WriteFat(const TLayout& layout, std::vector<std::uint32_t>& fat) {
    const std::uint32_t per_sector = PerSector();
    for (std::uint64_t i = 0; i < layout.fat_sectors; ++i) fat[layout.fat_start + i] = cfb::kFatSector;
    for (std::uint64_t i = 0; i < layout.difat_sectors; ++i) fat[layout.difat_start + i] = cfb::kDifatSector;
    for (std::uint64_t i = 0; i < layout.fat_sectors; ++i) {
        char* p = Sector(static_cast<std::uint32_t>(layout.fat_start + i));
        for (std::uint32_t k = 0; k < per_sector; ++k) cfb::Put32(p + 4 * k, fat[i * per_sector + k]);
    }
}

// The header and the DIFAT: 109 FAT sector numbers in the header, the rest in chained sectors.
void TCompoundDocumentWriter::WriteHeader(const TLayout& layout) {
    char* h = out_.data();
    std::memcpy(h, cfb::kSignature, sizeof cfb::kSignature);
    namespace o = cfb::offset;
    cfb::Put16(h + o::kMinor, cfb::kMinorVersion);
    cfb::Put16(h + o::kMajor, static_cast<std::uint16_t>(document_.MajorVersion()));
    cfb::Put16(h + o::kByteOrder, cfb::kByteOrderMark);
    cfb::Put16(h + o::kSectorShift, sector_size_ == 4096 ? 12 : 9);
    cfb::Put16(h + o::kMiniSectorShift, 6);
    cfb::Put32(h + o::kDirectorySectors, document_.MajorVersion() == 4 ? layout.directory_sectors : 0);
    cfb::Put32(h + o::kFatSectors, static_cast<std::uint32_t>(layout.fat_sectors));
    cfb::Put32(h + o::kFirstDirectory, static_cast<std::uint32_t>(layout.directory_start));
    cfb::Put32(h + o::kMiniCutoff, cfb::kMiniStreamCutoff);
    cfb::Put32(h + o::kFirstMiniFat, layout.mini_fat_sectors > 0
                                         ? static_cast<std::uint32_t>(layout.mini_fat_start)
                                         : cfb::kEndOfChain);
    cfb::Put32(h + o::kMiniFatSectors, layout.mini_fat_sectors);
    cfb::Put32(h + o::kFirstDifat,
               layout.difat_sectors > 0 ? static_cast<std::uint32_t>(layout.difat_start) : cfb::kEndOfChain);
    cfb::Put32(h + o::kDifatSectors, static_cast<std::uint32_t>(layout.difat_sectors));
    const auto fat_sector = [&layout](std::uint64_t index) {
        return index < layout.fat_sectors ? static_cast<std::uint32_t>(layout.fat_start + index)
                                          : cfb::kFreeSector;
    };
    std::uint64_t fat_index = 0;
    for (std::uint32_t i = 0; i < cfb::kHeaderDifatEntries; ++i, ++fat_index)
        cfb::Put32(h + o::kDifat + 4 * i, fat_sector(fat_index));
    const std::uint32_t per_sector = PerSector();
    for (std::uint64_t d = 0; d < layout.difat_sectors; ++d) {
        char* p = Sector(static_cast<std::uint32_t>(layout.difat_start + d));
        for (std::uint32_t k = 0; k + 1 < per_sector; ++k, ++fat_index)
            cfb::Put32(p + 4 * k, fat_sector(fat_index));
        cfb::Put32(p + 4 * (per_sector - 1), d + 1 < layout.difat_sectors
                                                 ? static_cast<std::uint32_t>(layout.difat_start + d + 1)
                                                 : cfb::kEndOfChain);
    }
}

std::string TCompoundDocument::Save() const {
    return TCompoundDocumentWriter(*this).Write();
}

}  // namespace linograf::workbook
