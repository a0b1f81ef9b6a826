#include "workbook/model/record_storage.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace linograf::workbook {
namespace {

std::string HexMessage(const char* format, uint16_t id) {
    char message[96];
    std::snprintf(message, sizeof message, format, static_cast<unsigned>(id));
    return message;
}

// Builds record data field by field.
class Bytes {
  public:
    Bytes& U8(uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    Bytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Bytes& F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return U32(static_cast<uint32_t>(bits)).U32(static_cast<uint32_t>(bits >> 32));
    }
    std::vector<uint8_t> Take() { return std::move(data_); }

  private:
    std::vector<uint8_t> data_;
};

void CheckField(const TRawRecord& r, size_t offset, size_t size) {
    if (offset + size > r.data.size())
        throw std::out_of_range(HexMessage("Field beyond the data of record %.4X", r.id));
}

}  // namespace

void TBaseRecordStorage::AddRaw(uint16_t id, std::span<const uint8_t> data) {
    auto r = std::make_unique<TRawRecord>();
    r->id = id;
    r->data.assign(data.begin(), data.end());
    main_.push_back(std::move(r));
}

void TDefaultRecordStorage::Reset() {
    main_.clear();
    defaults_.clear();
    refs_.clear();
    copied_ = false;
    BuildDefaults();
}

void TDefaultRecordStorage::AddDefault(uint16_t id, std::vector<uint8_t> data) {
    auto r = std::make_unique<TRawRecord>();
    r->id = id;
    r->data = std::move(data);
    refs_.push_back({id, r.get()});
    defaults_.push_back(std::move(r));
}

TDefaultRecordStorage::NamedRef* TDefaultRecordStorage::FindRef(uint16_t id) {
    for (NamedRef& ref : refs_)
        if (ref.id == id) return &ref;
    return nullptr;
}

const TDefaultRecordStorage::NamedRef* TDefaultRecordStorage::FindRef(uint16_t id) const {
    for (const NamedRef& ref : refs_)
        if (ref.id == id) return &ref;
    return nullptr;
}

void TDefaultRecordStorage::SetDefault(uint16_t id, std::span<const uint8_t> data) {
    copied_ = true;
    for (auto& r : main_) {
        if (r->id != id) continue;
        // Only entries that came from the default list are views; raw records of the same id
        // are not overwritten.
        NamedRef* ref = FindRef(id);
        if (!ref || ref->record != r.get()) continue;
        if (data.empty()) return;
        if (data.size() != r->data.size()) throw std::runtime_error("Size missmatch on default record");
        r->data.assign(data.begin(), data.end());
        return;
    }
    size_t found = defaults_.size();
    for (size_t i = 0; i < defaults_.size(); ++i) {
        if (defaults_[i] && defaults_[i]->id == id) {
            found = i;
            break;
        }
    }
    if (found == defaults_.size())
        throw std::runtime_error(HexMessage("Excpected default record %.4X not found.", id));
    if (!FindRef(id)) throw std::runtime_error(HexMessage("[int] Unknown default record %.4X", id));
    for (size_t i = 0; i <= found; ++i) {
        if (!defaults_[i]) continue;
        main_.push_back(std::move(defaults_[i]));
    }
    main_.back()->data.assign(data.begin(), data.end());
}

void TDefaultRecordStorage::CopyDefaults() {
    main_.clear();
    for (auto& d : defaults_) {
        if (!d) continue;
        auto copy = std::make_unique<TRawRecord>(*d);
        for (NamedRef& ref : refs_)
            if (ref.record == d.get()) ref.record = copy.get();
        main_.push_back(std::move(copy));
    }
    copied_ = true;
}

TRawRecord& TDefaultRecordStorage::Named(uint16_t id) {
    NamedRef* ref = FindRef(id);
    if (!ref) throw std::runtime_error(HexMessage("[int] Unknown default record %.4X", id));
    return *ref->record;
}

const TRawRecord& TDefaultRecordStorage::Named(uint16_t id) const {
    const NamedRef* ref = FindRef(id);
    if (!ref) throw std::runtime_error(HexMessage("[int] Unknown default record %.4X", id));
    return *ref->record;
}

uint16_t TDefaultRecordStorage::U16(uint16_t id, size_t offset) const {
    const TRawRecord& r = Named(id);
    CheckField(r, offset, 2);
    return static_cast<uint16_t>(r.data[offset] | (r.data[offset + 1] << 8));
}

void TDefaultRecordStorage::SetU16(uint16_t id, size_t offset, uint16_t value) {
    TRawRecord& r = Named(id);
    CheckField(r, offset, 2);
    r.data[offset] = static_cast<uint8_t>(value);
    r.data[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t TDefaultRecordStorage::U32(uint16_t id, size_t offset) const {
    return U16(id, offset) | (uint32_t{U16(id, offset + 2)} << 16);
}

void TDefaultRecordStorage::SetU32(uint16_t id, size_t offset, uint32_t value) {
    CheckField(Named(id), offset, 4);
    SetU16(id, offset, static_cast<uint16_t>(value));
    SetU16(id, offset + 2, static_cast<uint16_t>(value >> 16));
}

double TDefaultRecordStorage::Double(uint16_t id, size_t offset) const {
    const TRawRecord& r = Named(id);
    CheckField(r, offset, 8);
    double v;
    std::memcpy(&v, r.data.data() + offset, 8);
    return v;
}

void TDefaultRecordStorage::SetDouble(uint16_t id, size_t offset, double value) {
    TRawRecord& r = Named(id);
    CheckField(r, offset, 8);
    std::memcpy(r.data.data() + offset, &value, 8);
}

void TRecordStorageGlobals::BuildDefaults() {
    using namespace rec;
    AddDefault(
        BOF, Bytes().U16(0x0600).U16(0x0005).U16(0x1002).U16(0x07CD).U32(0x000080C9).U32(0x00000106).Take());
    Bytes access;
    access.U8(0).U16(0);
    for (int i = 0; i < 109; ++i) access.U8(0x20);
    AddDefault(WRITEACCESS, access.Take());
    AddDefault(CODEPAGE, Bytes().U16(1200).Take());
    AddDefault(DSF, Bytes().U16(0).Take());
    AddDefault(TABID, {});
    AddDefault(FNGROUPCOUNT, Bytes().U16(14).Take());
    AddDefault(WINDOWPROTECT, Bytes().U16(0).Take());
    AddDefault(PROTECT, Bytes().U16(0).Take());
    AddDefault(PASSWORD, Bytes().U16(0).Take());
    AddDefault(PROT4REV, Bytes().U16(0).Take());
    AddDefault(
        WINDOW1,
        Bytes().U16(100).U16(100).U16(10000).U16(7000).U16(0x0038).U16(0).U16(0).U16(1).U16(600).Take());
    AddDefault(BACKUP, Bytes().U16(0).Take());
    AddDefault(HIDEOBJ, Bytes().U16(0).Take());
    AddDefault(DATEMODE, Bytes().U16(0).Take());
    AddDefault(PRECISION, Bytes().U16(1).Take());
    AddDefault(REFRESHALL, Bytes().U16(0).Take());
    AddDefault(BOOKBOOL, Bytes().U16(0).Take());
    AddDefault(kPlaceholderFormats, {});
    AddDefault(kPlaceholderBoundsheets, {});
    AddDefault(COUNTRY, Bytes().U16(1).U16(46).Take());
    AddDefault(RECALCID, Bytes().U16(0x01C1).U16(0).U32(0x00FFFFFF).Take());
    AddDefault(kPlaceholderNames, {});
    AddDefault(kPlaceholderDrawingGroup, {});
    AddDefault(kPlaceholderSST, {});
    AddDefault(EOF_, {});
}

void TRecordStorageSheet::BuildDefaults() {
    using namespace rec;
    AddDefault(BOF,
               Bytes().U16(0x0600).U16(0x0010).U16(6319).U16(0x07CD).U32(0x000080C9).U32(0x00000106).Take());
    AddDefault(CALCMODE, Bytes().U16(1).Take());
    AddDefault(CALCCOUNT, Bytes().U16(100).Take());
    AddDefault(REFMODE, Bytes().U16(1).Take());
    AddDefault(ITERATION, Bytes().U16(0).Take());
    AddDefault(DELTA, Bytes().F64(0.001).Take());
    AddDefault(SAVERECALC, Bytes().U16(1).Take());
    AddDefault(PRINTGRIDLINES, Bytes().U16(0).Take());
    AddDefault(PRINTHEADERS, Bytes().U16(0).Take());
    AddDefault(GRIDSET, Bytes().U16(1).Take());
    AddDefault(GUTS, Bytes().U16(0).U16(0).U16(0).U16(0).Take());
    AddDefault(DEFAULTROWHEIGHT, Bytes().U16(0).U16(255).Take());
    AddDefault(WSBOOL, Bytes().U16(0x04C1).Take());
    AddDefault(kPlaceholderPageBreaks, {});
    AddDefault(kPlaceholderHeaderFooter, {});
    AddDefault(kPlaceholderMargins, {});
    AddDefault(HCENTER, Bytes().U16(0).Take());
    AddDefault(VCENTER, Bytes().U16(0).Take());
    AddDefault(SETUP, Bytes()
                          .U16(0)
                          .U16(100)
                          .U16(1)
                          .U16(1)
                          .U16(1)
                          .U16(0x06B6)
                          .U16(600)
                          .U16(600)
                          .F64(0.5)
                          .F64(0.5)
                          .U16(0)
                          .Take());
    AddDefault(PROTECT, Bytes().U16(0).Take());
    AddDefault(DEFCOLWIDTH, Bytes().U16(8).Take());
    AddDefault(DIMENSIONS, Bytes().U32(0).U32(0).U16(0).U16(0).U16(0).Take());
    AddDefault(kPlaceholderColInfo, {});
    AddDefault(kPlaceholderCells, {});
    AddDefault(WINDOW2, Bytes().U16(0x04B6).U16(0).U16(0).U32(64).U16(0).U16(0).U32(0).Take());
    AddDefault(kPlaceholderSheetObjects, {});
    AddDefault(SELECTION, Bytes().U8(3).U16(1).U16(1).U16(0).U16(1).U16(1).U16(1).U8(1).U8(1).Take());
    AddDefault(EOF_, {});
}

}  // namespace linograf::workbook
