// The line capture fed any bytes under any field sizes (extreme ones included): no crash, one
// journal row per carriage return, stored values trimmed, without NUL and at most 255 bytes, and a
// bounded line buffer.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/format_journal.h"
#include "core/line_capture.h"

namespace {
void Check(bool ok) {
    if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int fields = 1 + data[0] % 6;
    if (size < 1 + 4 * static_cast<std::size_t>(fields)) return 0;
    linograf::TFormatJournal tables;
    for (int i = 0; i < fields; ++i) {
        std::int32_t fsize;
        std::memcpy(&fsize, data + 1 + 4 * i, 4);
        // Mostly small sizes, sometimes any 32-bit value.
        if ((fsize & 0x300) != 0) fsize = static_cast<std::int8_t>(fsize & 0xFF);
        tables.cformat.Append();
        tables.cformat.FieldByName("fsize").SetAsInteger(fsize);
        tables.cformat.Post();
    }
    tables.RebuildJournal();
    linograf::TLineCapture capture(tables.cformat_, tables.cdata);

    const std::size_t start = 1 + 4 * static_cast<std::size_t>(fields);
    linograf::TByteBufferSource source(
        std::string_view(reinterpret_cast<const char*>(data) + start, size - start));
    while (source.Available() > 0) {
        unsigned count =
            static_cast<unsigned>(std::min<std::size_t>(source.Available(), 1 + source.Taken() % 300));
        capture.TriggerAvail(count, source);
        Check(capture.BufferBytes() < 2 * linograf::TLineCapture::kMaxLineBytes);
    }
    Check(static_cast<std::size_t>(tables.cdata.RecordCount()) ==
          static_cast<std::size_t>(std::count(data + start, data + size, '\r')));
    for (int row = 0; row < tables.cdata.RecordCount(); ++row) {
        for (int column = 1; column < tables.cdata.FieldCount(); ++column) {
            const std::string value = tables.cdata.CellText(row, column);
            Check(value.size() <= 255);
            Check(value.find('\0') == std::string::npos);
            Check(value.empty() || static_cast<unsigned char>(value.front()) > 32);
        }
    }
    return 0;
}
