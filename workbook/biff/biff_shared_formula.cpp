#include "workbook/biff/biff_shared_formula.h"

namespace linograf::workbook {
namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Bytes after the token byte of the fixed-size BIFF8 tokens; -1 for tokens of variable or
// unknown size. The class bits (0x20, 0x40) of operand tokens do not change the size.
int FixedSize(uint8_t ptg) {
    if (ptg >= 0x03 && ptg <= 0x16) return 0;  // operators, parentheses, missing argument
    switch (ptg) {
        case 0x01:
        case 0x02:
            return 4;  // ptgExp, ptgTbl
        case 0x1C:
        case 0x1D:
            return 1;  // ptgErr, ptgBool
        case 0x1E:
            return 2;  // ptgInt
        case 0x1F:
            return 8;  // ptgNum
        default:
            break;
    }
    if (ptg < 0x20 || ptg > 0x7F) return -1;
    switch (ptg & 0x1F) {
        case 0x00:
            return 7;  // ptgArray: its values follow the tokens, the same for every cell
        case 0x01:
            return 2;  // ptgFunc
        case 0x02:
            return 3;  // ptgFuncVar
        case 0x03:
            return 4;  // ptgName
        case 0x04:
            return 4;  // ptgRef
        case 0x05:
            return 8;  // ptgArea
        case 0x06:
        case 0x07:
        case 0x08:
            return 6;  // ptgMemArea, ptgMemErr, ptgMemNoMem
        case 0x09:
            return 2;  // ptgMemFunc
        case 0x0A:
            return 4;  // ptgRefErr
        case 0x0B:
            return 8;  // ptgAreaErr
        case 0x0C:
            return 4;  // ptgRefN
        case 0x0D:
            return 8;  // ptgAreaN
        case 0x19:
            return 6;  // ptgNameX
        case 0x1A:
        case 0x1C:
            return 6;  // ptgRef3d, ptgRefErr3d
        case 0x1B:
        case 0x1D:
            return 10;  // ptgArea3d, ptgAreaErr3d
        default:
            return -1;
    }
}

// One relative row or column made plain: the row field is a signed 16-bit offset, the column a
// signed 8-bit offset in the low byte, each only where its relative flag is set.
void Resolve(uint8_t* rw, uint8_t* colfield, uint32_t col, uint32_t row) {
    const uint16_t field = Get16(colfield);
    if (field & 0x8000) Put16(rw, (row + static_cast<uint32_t>(static_cast<int16_t>(Get16(rw)))) & 0xFFFF);
    if (field & 0x4000) {
        const uint32_t c = (col + static_cast<uint32_t>(static_cast<int8_t>(field & 0xFF))) & 0xFF;
        Put16(colfield, (field & 0xC000) | c);
    }
}

}  // namespace

std::optional<std::vector<uint8_t>> SharedFormulaForCell(std::span<const uint8_t> tokens, uint32_t col,
                                                         uint32_t row) {
    std::vector<uint8_t> out(tokens.begin(), tokens.end());
    size_t at = 0;
    while (at < out.size()) {
        const uint8_t ptg = out[at];
        size_t size;
        if (ptg == 0x17) {  // ptgStr: character count, option byte, characters
            if (at + 3 > out.size()) return std::nullopt;
            size = 2 + static_cast<size_t>(out[at + 1]) * ((out[at + 2] & 1) ? 2 : 1);
        } else if (ptg == 0x19) {  // ptgAttr: kind, u16; a choose also has its jump table
            if (at + 4 > out.size()) return std::nullopt;
            size = 3;
            if (out[at + 1] & 0x04) size += (static_cast<size_t>(Get16(&out[at + 2])) + 1) * 2;
        } else {
            const int fixed = FixedSize(ptg);
            if (fixed < 0) return std::nullopt;
            size = static_cast<size_t>(fixed);
        }
        if (at + 1 + size > out.size()) return std::nullopt;
        uint8_t* p = &out[at + 1];
        switch (ptg & 0x1F) {
            case 0x0C:  // ptgRefN -> ptgRef
                if (ptg >= 0x20) {
                    Resolve(p, p + 2, col, row);
                    out[at] = static_cast<uint8_t>(ptg - 0x08);
                }
                break;
            case 0x0D:  // ptgAreaN -> ptgArea
                if (ptg >= 0x20) {
                    Resolve(p, p + 4, col, row);
                    Resolve(p + 2, p + 6, col, row);
                    out[at] = static_cast<uint8_t>(ptg - 0x08);
                }
                break;
            case 0x1A:  // ptgRef3d: relative fields are offsets here too
                if (ptg >= 0x20) Resolve(p + 2, p + 4, col, row);
                break;
            case 0x1B:  // ptgArea3d
                if (ptg >= 0x20) {
                    Resolve(p + 2, p + 6, col, row);
                    Resolve(p + 4, p + 8, col, row);
                }
                break;
            default:
                break;
        }
        at += 1 + size;
    }
    return out;
}

}  // namespace linograf::workbook
