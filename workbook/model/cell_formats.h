#pragma once
// The list of cell formats (XFs) of a workbook, shared by all its cells, columns and rows.
// Formats below the boundary (the default set, or everything read from a file) are fixed; the
// ones above it are counted and removed once nothing refers to them, the later ones moving down.
// Changing one attribute of an object's format goes through Change, which reuses an equal format
// or appends a new one.
#include <memory>
#include <string_view>
#include <vector>

#include "workbook/model/cell_format.h"
#include "workbook/model/fonts.h"
#include "workbook/model/number_formats.h"

namespace linograf::workbook {

class TCellFormats {
  public:
    // The master list of a workbook holds the default set from the start; another list (the
    // cell styles of Open XML files) starts empty.
    TCellFormats(TXFonts& fonts, bool master);
    TCellFormats(const TCellFormats&) = delete;
    TCellFormats& operator=(const TCellFormats&) = delete;

    bool IsMaster() const { return master_; }
    TXFonts& Fonts() { return fonts_; }
    TNumberFormats& NumberFormats() { return number_formats_; }

    int Count() const { return static_cast<int>(formats_.size()); }
    TCellFormat& Items(int position) { return *formats_.at(position); }
    const TCellFormat& Items(int position) const { return *formats_.at(position); }
    TCellFormat& ById(XfId id) { return *by_id_[id]; }
    const TCellFormat& ById(XfId id) const { return *by_id_[id]; }
    int PositionOf(XfId id) const { return by_id_[id]->position_; }
    // The handle of the format at a position; positions at or beyond the count give format 15,
    // as cells of a file with a bad XF index get.
    XfId IdAt(int position) const;
    XfId DefaultId() const { return IdAt(kDefaultCellFormat); }

    // Position of the first format with the same 20 bytes, or -1.
    int Find(const TCellFormat& format) const;
    // Appends a format built from nothing (use count 0).
    TCellFormat& Add();

    // Empties the list and, for the master list, rebuilds the number formats and the default set:
    // 21 table formats, one built from nothing, boundary 22.
    void Reset();
    void Clear();
    // The 21 table formats alone (the Open XML reader adds its own after them). Throws
    // "Add default formats when not empty." on a list that has formats.
    void AddDefaultFormats();
    int Boundary() const { return boundary_; }
    void SetFixedBoundary() { boundary_ = Count(); }

    // Use counting for the objects that refer to a format; fixed formats are not counted.
    void Acquire(XfId id);
    void Release(XfId id);

    // Changes one attribute of the format an object refers to: nothing when Has(format) already
    // holds; otherwise Set is applied to a copy, an equal format is reused (or a new one added)
    // and the old one released. Returns the handle the object refers to afterwards.
    template <typename Has, typename Set>
    XfId Change(XfId current, Has has, Set set) {
        const TCellFormat& now = ById(current);
        if (has(now)) return current;
        TCellFormat copy(now);
        set(copy);
        return Replace(current, copy);
    }
    // Changes the object's font: a copy of its font with Set applied is looked up in the font
    // list (or added), then the format's font index changes as above.
    template <typename Set>
    XfId ChangeFont(XfId current, Set set) {
        TXFont copy;
        copy.AssignAttributes(fonts_.Items(ById(current).FontIndex()));
        set(copy);
        return ChangeFontTo(current, copy);
    }

  private:
    XfId Replace(XfId current, const TCellFormat& wanted);
    XfId ChangeFontTo(XfId current, const TXFont& font);
    TCellFormat& Append(std::unique_ptr<TCellFormat> format);
    void Remove(int position);

    TXFonts& fonts_;
    bool master_;
    TNumberFormats number_formats_;
    std::vector<std::unique_ptr<TCellFormat>> formats_;
    std::vector<TCellFormat*> by_id_;
    std::vector<XfId> free_ids_;
    int boundary_ = 0;
};

}  // namespace linograf::workbook
