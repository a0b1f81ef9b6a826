#include "core/line_capture.h"

#include <charconv>

#include "core/arrival_column.h"

namespace linograf {

std::string_view CutField(std::string_view line, std::int64_t start, std::int64_t length) {
    if (start < 1) start = 1;
    const auto size = static_cast<std::int64_t>(line.size());
    if (length <= 0 || start > size) return {};
    if (length > size - start + 1) length = size - start + 1;
    return line.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length));
}

namespace {

// At most `limit` bytes of UTF-8 text, cut before a character rather than inside one, so the
// journal's length limit never leaves half a character.
std::string_view Utf8Prefix(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string_view TrimControls(std::string_view value) {
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= 32) value.remove_prefix(1);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32) value.remove_suffix(1);
    return value;
}

void TLineCapture::DropOldBytes() {
    buffer_.erase(0, buffer_.size() - kMaxLineBytes);
}

void TLineCapture::FinishLine() {
    const std::string_view line = Line();
    // 64-bit positions: sizes are any 32-bit values, negative ones included, and a format of many
    // wide fields must not wrap the position around.
    std::int64_t position = static_cast<std::int64_t>(line.size()) + 1;

    journal_.Append();
    // The carriage return was just taken: this is when the line ended.
    if (TField* arrival = journal_.FindField(kArrivalField)) arrival->SetAsDateTime(Clock());
    format_.Last();
    TField& id = format_.FieldByName("id");
    TField& fsize = format_.FieldByName("fsize");
    while (!format_.Bof()) {
        char digits[16];
        auto [end, ignored] = std::to_chars(digits, digits + sizeof digits, id.AsInteger());
        field_name_.assign("field");
        field_name_.append(digits, end);
        // A field the operator added during capture has no journal column until the parameters
        // are confirmed: it takes no bytes meanwhile, so the line is still cut as the journal's
        // columns were built and no line is lost for it.
        if (TField* column = journal_.FindField(field_name_)) {
            const std::int64_t size = fsize.AsInteger();
            position -= size;
            std::string_view value = CutField(line, position, size);
            if (decoder_ != nullptr) {
                // Converted before trimming: in UTF-8 the bytes up to 32 are the blanks and control
                // characters themselves, never part of another character.
                decoded_ = decoder_->ToUtf8(value);
                value = decoded_;
            }
            value = TrimControls(value);
            if (decoder_ != nullptr) value = Utf8Prefix(value, static_cast<std::size_t>(column->Size()));
            column->SetAsString(value);
        }
        format_.Prior();
    }
    journal_.Post();
    buffer_.clear();
}

}  // namespace linograf
