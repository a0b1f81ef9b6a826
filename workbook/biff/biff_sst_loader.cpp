// TBiffReader: the shared string table, read from the SST record and the CONTINUE records its
// strings run on into.
#include <algorithm>

#include "workbook/biff/biff_reader.h"
#include "workbook/biff/biff_string.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (uint32_t{Get16(p + 2)} << 16);
}

}  // namespace

void TBiffReader::Sst() {
    consumed_ = true;
    Place(kPlaceholderSST);
    TSST2& sst = book_.SST();
    TBiffStringSource source(data_, length_, 0, [this](TBiffStringSource& s) {
        uint16_t id, length;
        if (!input_.ReadHeader(id, length) || id != rec::CONTINUE)
            throw std::runtime_error("CONTINUE record is missing in SST");
        if (length > limit_) throw std::runtime_error("Bad record in file");
        s.data = input_.Take(length);
        s.length = length;
        s.pos = 0;
    });
    uint8_t head[8];
    source.Read(head, sizeof head);
    const uint32_t total = Get32(head), unique = Get32(head + 4);
    // Each string takes at least its 3-byte head, so the count is believed only as far as the
    // stream could hold it. A false count ends at the file's end.
    sst.ReserveLoaded(std::min<uint64_t>(unique, (source.Left() + input_.Size() - input_.Position()) / 3));
    TBiffString s;
    for (uint32_t n = 0; n < unique; ++n) {
        ReadBiffString(source, s);
        const std::span<const uint8_t> runs = s.Runs();
        for (uint16_t r = 0; r < s.run_count; ++r) {
            const uint16_t font = Get16(runs.data() + 4 * r + 2);
            if (font < book_.Fonts().Count()) book_.Fonts().Acquire(font);
        }
        sst.AddLoaded(sst.AddStored(s.block, s.chars, s.wide, s.run_count, s.extended));
    }
    sst.SetRefTotal(total);
}

}  // namespace linograf::workbook
