#pragma once
// Lays a document tree out as a compound file (see compound_document_writer.cpp). Internal to
// the compound document code: TCompoundDocument::Save and TCompoundFileWriter use it.
#include <string>
#include <vector>

#include "workbook/cfb/compound_document.h"
#include "workbook/cfb/compound_document_format.h"

namespace linograf::workbook {

class TCompoundDocumentWriter {
  public:
    explicit TCompoundDocumentWriter(const TCompoundDocument& document)
        : document_(document), sector_size_(document.SectorSize()) {}

    // Adds a root stream whose bytes are not in memory: it takes sectors 0 .. n-1 of the file,
    // which the caller fills itself. It must not be shorter than the mini stream cutoff. An
    // element of the same name in the root is left out.
    void SetExternalStream(std::u16string_view name, std::uint64_t size);

    // The header sector followed by every sector from FirstSectorWritten() on: the whole file
    // when there is no external stream.
    std::string Write();
    std::uint32_t FirstSectorWritten() const { return first_written_; }

  private:
    struct Entry {
        std::u16string name;
        std::uint8_t type = cfb::kEntryUnused;
        std::uint32_t left = cfb::kNoStream, right = cfb::kNoStream, child = cfb::kNoStream;
        const TCompoundStorage* storage = nullptr;  // storages and the root
        const std::string* data = nullptr;          // streams in memory
        bool external = false;
        std::uint32_t start = cfb::kEndOfChain;
        std::uint64_t size = 0;
    };

    // Where the structures after the streams lie, in sectors.
    struct TLayout {
        std::uint64_t directory_start = 0;
        std::uint32_t directory_sectors = 0;
        std::uint64_t mini_fat_start = 0;
        std::uint32_t mini_fat_sectors = 0;
        std::uint64_t fat_start = 0, fat_sectors = 0;
        std::uint64_t difat_start = 0, difat_sectors = 0;
        std::uint64_t total_sectors = 0;
    };

    void AddChildren(const TCompoundStorage& storage, std::size_t parent);
    std::uint32_t BuildTree(std::uint32_t first, std::uint32_t count);
    std::uint32_t SectorsFor(std::uint64_t bytes) const {
        return static_cast<std::uint32_t>((bytes + sector_size_ - 1) / sector_size_);
    }
    char* Sector(std::uint32_t n) {
        return out_.data() + (static_cast<std::size_t>(n - first_written_) + 1) * sector_size_;
    }
    void WriteEntry(char* p, const Entry& e) const;
    std::uint32_t PerSector() const { return sector_size_ / 4; }  // sector numbers in one FAT sector
    std::vector<std::uint32_t> PlaceShortStreams();
    TLayout LayOut(std::size_t mini_fat_entries);
    static void Chain(std::vector<std::uint32_t>& fat, std::uint64_t first, std::uint64_t count);
    void WriteStreams(std::vector<std::uint32_t>& fat);
    void WriteDirectory(const TLayout& layout, std::vector<std::uint32_t>& fat);
    void WriteMiniFat(const TLayout& layout, const std::vector<std::uint32_t>& mini_fat,
                      std::vector<std::uint32_t>& fat);
    void WriteFat(const TLayout& layout, std::vector<std::uint32_t>& fat);
    void WriteHeader(const TLayout& layout);

    const TCompoundDocument& document_;
    const std::uint32_t sector_size_;
    bool external_ = false;
    std::u16string external_name_;
    std::uint64_t external_size_ = 0;
    std::uint32_t first_written_ = 0;
    std::uint64_t mini_stream_size_ = 0;
    std::vector<Entry> entries_;
    std::string out_;
};

}  // namespace linograf::workbook
