#pragma once
// Record template lists. A workbook and each of its sheets carry the BIFF8 records to write, in
// file order: a new workbook's lists hold default records, a workbook read from a file holds the
// file's records. Model properties such as a sheet's zoom or paper size are views into these
// records, reached through one named reference per known record id; placeholder entries (ids
// 0x8001-0x8005 in the globals, 0x8101-0x8106 in a sheet, no data) mark where the writer
// generates records from the model.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/model/biff_records.h"

namespace linograf::workbook {

struct TRawRecord {
    uint16_t id = 0;
    std::vector<uint8_t> data;
};

// Placeholder ids.
inline constexpr uint16_t kPlaceholderFormats = 0x8001;  // FONT, FORMAT, XF, STYLE, PALETTE
inline constexpr uint16_t kPlaceholderBoundsheets = 0x8002;
inline constexpr uint16_t kPlaceholderNames = 0x8003;  // SUPBOOK, EXTERNSHEET, NAME
inline constexpr uint16_t kPlaceholderDrawingGroup = 0x8004;
inline constexpr uint16_t kPlaceholderSST = 0x8005;
inline constexpr uint16_t kPlaceholderPageBreaks = 0x8101;
inline constexpr uint16_t kPlaceholderHeaderFooter = 0x8102;
inline constexpr uint16_t kPlaceholderMargins = 0x8103;
inline constexpr uint16_t kPlaceholderColInfo = 0x8104;
inline constexpr uint16_t kPlaceholderCells = 0x8105;         // ROW records and cells
inline constexpr uint16_t kPlaceholderSheetObjects = 0x8106;  // drawings, pane, merged cells, ...

class TBaseRecordStorage {
  public:
    virtual ~TBaseRecordStorage() = default;

    // The list the writer walks.
    int Count() const { return static_cast<int>(main_.size()); }
    const TRawRecord& Items(int index) const { return *main_.at(index); }
    // Appends a record the model does not interpret, to be written back unchanged.
    void AddRaw(uint16_t id, std::span<const uint8_t> data);

  protected:
    std::vector<std::unique_ptr<TRawRecord>> main_;
};

class TDefaultRecordStorage : public TBaseRecordStorage {
  public:
    // Both lists emptied, the default list rebuilt, the named references pointing into it.
    void Reset();
    // Readers, for each known record: overwrites the data of an entry already moved to the
    // main list, else moves the default entries up to and including this id to the main list.
    void SetDefault(uint16_t id, std::span<const uint8_t> data);
    // The main list becomes a copy of the default list; the named references follow the copies.
    void CopyDefaults();
    // True once the main list was filled (by CopyDefaults or a reader); cleared by Reset.
    bool DefaultsCopied() const { return copied_; }

    // The record a named reference points at. Throws "[int] Unknown default record %.4X".
    TRawRecord& Named(uint16_t id);
    // Whether the list has a named reference for the id.
    bool HasNamed(uint16_t id) const { return FindRef(id) != nullptr; }
    const TRawRecord& Named(uint16_t id) const;

    // Little-endian field access in a named record; out-of-range offsets throw.
    uint16_t U16(uint16_t id, size_t offset) const;
    void SetU16(uint16_t id, size_t offset, uint16_t value);
    uint32_t U32(uint16_t id, size_t offset) const;
    void SetU32(uint16_t id, size_t offset, uint32_t value);
    double Double(uint16_t id, size_t offset) const;
    void SetDouble(uint16_t id, size_t offset, double value);

    int DefaultCount() const { return static_cast<int>(defaults_.size()); }

  protected:
    // Appends one default record (and its named reference).
    void AddDefault(uint16_t id, std::vector<uint8_t> data);
    virtual void BuildDefaults() = 0;

  private:
    struct NamedRef {
        uint16_t id;
        TRawRecord* record;
    };
    NamedRef* FindRef(uint16_t id);
    const NamedRef* FindRef(uint16_t id) const;

    // Entries moved to the main list leave a null slot behind.
    std::vector<std::unique_ptr<TRawRecord>> defaults_;
    std::vector<NamedRef> refs_;
    bool copied_ = false;
};

class TRecordStorageGlobals : public TDefaultRecordStorage {
  public:
    TRecordStorageGlobals() { Reset(); }

  protected:
    void BuildDefaults() override;
};

class TRecordStorageSheet : public TDefaultRecordStorage {
  public:
    TRecordStorageSheet() { Reset(); }

  protected:
    void BuildDefaults() override;
};

}  // namespace linograf::workbook
