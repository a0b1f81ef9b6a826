#pragma once
// Base of columns and rows: an object with a cell format of its own whose attribute setters go
// through the shared-format changes, and which tells its owner when its format changed so the
// owner can pass the new format on to the cells it covers.
#include <cstdint>
#include <string_view>

#include "workbook/model/format_changes.h"

namespace linograf::workbook {

class TFormattedObject {
  public:
    virtual ~TFormattedObject() = default;
    TFormattedObject(const TFormattedObject&) = delete;
    TFormattedObject& operator=(const TFormattedObject&) = delete;

    XfId Format() const { return xf_; }
    int FormatIndex() const { return formats_->PositionOf(xf_); }
    const TCellFormat& CellFormat() const { return formats_->ById(xf_); }

    void SetBorderStyle(TBorderSide side, TCellBorderStyle style) {
        Apply(WithBorderStyle(*formats_, xf_, side, style));
    }
    void SetBorderColor(TBorderSide side, uint8_t color) {
        Apply(WithBorderColor(*formats_, xf_, side, color));
    }
    void SetHorizAlignment(THorizAlignment value) { Apply(WithHorizAlignment(*formats_, xf_, value)); }
    void SetVertAlignment(TVertAlignment value) { Apply(WithVertAlignment(*formats_, xf_, value)); }
    void SetTextFlags(TTextFlags flags) { Apply(WithTextFlags(*formats_, xf_, flags)); }
    void SetFillColor(uint8_t color) { Apply(WithFillColor(*formats_, xf_, color)); }
    void SetNumberFormat(std::u16string_view text) { Apply(WithNumberFormat(*formats_, xf_, text)); }
    void SetFontName(std::u16string_view name) { Apply(WithFontName(*formats_, xf_, name)); }
    void SetFontSize(int points) { Apply(WithFontSize(*formats_, xf_, points)); }
    void SetFontStyle(TXFontStyles style) { Apply(WithFontStyle(*formats_, xf_, style)); }
    void SetFontColor(uint8_t palette_index) { Apply(WithFontColor(*formats_, xf_, palette_index)); }

  protected:
    explicit TFormattedObject(TCellFormats& formats) : formats_(&formats), xf_(formats.DefaultId()) {}
    // A format given directly (a record of a file): counted like any other reference.
    void AssignFormat(XfId xf) {
        formats_->Acquire(xf);
        formats_->Release(xf_);
        xf_ = xf;
    }
    void ReleaseFormat() { formats_->Release(xf_); }
    virtual void FormatChanged() {}
    TCellFormats& Formats() const { return *formats_; }

  private:
    void Apply(XfId next) {
        if (next == xf_) return;
        xf_ = next;
        FormatChanged();
    }

    TCellFormats* formats_;
    XfId xf_;
};

// Receives the format changes of columns and rows: the sheet, which applies them to its cells.
class TFormatChangeListener {
  public:
    virtual void ColumnFormatChanged(uint32_t col, XfId xf) = 0;
    virtual void RowFormatChanged(uint32_t row, XfId xf) = 0;

  protected:
    ~TFormatChangeListener() = default;
};

}  // namespace linograf::workbook
