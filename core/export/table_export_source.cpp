#include "core/export/table_export_source.h"

#include <cstdlib>

#include "core/arrival_column.h"
#include "text/cp1251.h"
#include "text/wide_text.h"

namespace linograf {

TTableExportSource::TTableExportSource(TMemTable& table, std::vector<TExportColumn> columns,
                                       std::string font_name, int font_size)
    : table_(table), columns_(std::move(columns)), font_name_(std::move(font_name)), font_size_(font_size) {
    for (TExportColumn& column : columns_) {
        if (column.field_name.empty()) {
            column.kind = TExportKind::ekUnbound;
        } else if (TField* field = table_.Active() ? table_.FindField(column.field_name) : nullptr) {
            switch (field->DataType()) {
                case TFieldType::ftInteger:
                    column.kind = TExportKind::ekInteger;
                    break;
                case TFieldType::ftDateTime:
                    // A real date-time cell, shown as the journal shows it: to the millisecond.
                    column.kind = TExportKind::ekDateTime;
                    if (column.number_format.empty()) column.number_format = kArrivalFormat;
                    break;
                case TFieldType::ftString:
                    column.kind = TExportKind::ekText;
                    break;
            }
        }
    }
}

void TTableExportSource::SaveCursor() {
    fields_.clear();
    saved_ = table_.GetBookmark();
}

void TTableExportSource::RestoreCursor() {
    fields_.clear();
    TBookmark saved = saved_;
    table_.FreeBookmark(saved_);
    if (!saved.Empty()) table_.GotoBookmark(saved);
}

TField& TTableExportSource::Field(int column) const {
    const TExportColumn& bound = Column(column);
    if (fields_layout_ != table_.LayoutVersion()) {
        fields_.clear();
        fields_layout_ = table_.LayoutVersion();
    }
    fields_.resize(columns_.size(), nullptr);
    TField*& field = fields_[static_cast<size_t>(column)];
    if (field == nullptr) field = &table_.FieldByName(bound.field_name);
    return *field;
}

double TTableExportSource::AsFloat(int column) const {
    const TField& field = Field(column);
    if (field.DataType() == TFieldType::ftInteger) return field.AsInteger();
    if (field.DataType() == TFieldType::ftDateTime) return field.AsDateTime();
    return std::strtod(field.AsString().c_str(), nullptr);
}

workbook::TCellVariant TTableExportSource::AsVariant(int column) const {
    const TField& field = Field(column);
    if (field.IsNull()) return workbook::TVariantNull{};
    if (field.DataType() == TFieldType::ftInteger) return field.AsInteger();
    if (field.DataType() == TFieldType::ftDateTime) return field.AsDateTime();
    return Column(column).text_is_utf8 ? workbook::Utf8ToWide(field.AsString())
                                       : Cp1251ToUtf16(field.AsString());
}

std::string TTableExportSource::DisplayText(int column) const {
    return display_text ? display_text(column) : std::string();
}

}  // namespace linograf
