#pragma once
// One cell of the store: 16 bytes holding its kind, its cell format and its value. The column
// and row are where the store keeps it, not in the cell, so a full row of numbers costs little
// more than the numbers themselves.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workbook/model/cell_format.h"

namespace linograf::workbook {

class TSSTEntry;

// The type codes the writers switch on; 0 is "no cell".
enum TCellType : uint8_t {
    ctNone = 0,
    ctBlank = 1,
    ctInteger = 3,
    ctFloat = 4,
    ctString = 5,
    ctBoolean = 6,
    ctError = 7,
    ctNumberFormula = 8,
    ctStringFormula = 9,
    ctBooleanFormula = 10,
    ctErrorFormula = 11,
    ctArrayFormula = 12,
    ctStringArrayFormula = 13,
};

inline bool IsFormulaCell(TCellType t) {
    return t >= ctNumberFormula && t <= ctStringArrayFormula;
}

// Error codes 1..7 and their texts.
enum TCellError : uint8_t {
    ceNull = 1,
    ceDiv0,
    ceValue,
    ceRef,
    ceName,
    ceNum,
    ceNA,
};
const char16_t* CellErrorText(uint8_t code);

// What a formula cell holds besides its kind: the token bytes and the cached result. The
// formula handler that makes and evaluates these is not part of the model; readers keep them so
// a workbook read from a file is written back with its formulas.
struct TFormulaData {
    std::vector<uint8_t> tokens;
    std::u16string text;  // the formula as text, shown instead of the result when asked
    double number = 0;
    std::u16string string_result;
    uint8_t boolean_or_error = 0;
    uint16_t options = 0;
    bool in_shared_group = false;
    // BIFF8 only, written back as read: the data after the tokens (the values of array
    // constants), and the ARRAY or TABLE record of the range this cell heads (id 0 for none).
    std::vector<uint8_t> extra;
    uint16_t group_record_id = 0;
    std::vector<uint8_t> group_record;
    // False for a formula saved without a result (producers that do not calculate): no result
    // is written for it, so whoever opens the file calculates it.
    bool result_known = true;
    // Open XML only: the formula element's own attributes other than the option bits (t, ref,
    // si: shared groups, array and data-table formulas) and the cell's metadata attributes (cm,
    // vm: dynamic arrays), as read, with a leading blank each; written back unchanged.
    std::string xml_formula_attributes;
    std::string xml_cell_attributes;
};

struct TCell {
    TCellType type = ctNone;
    uint8_t small = 0;  // boolean value or error code
    uint16_t reserved = 0;
    XfId xf = 0;
    union {
        double number;
        int32_t integer;
        TSSTEntry* entry;
        TFormulaData* formula;
    } value{0.0};
};
static_assert(sizeof(TCell) == 16);

// A cell together with its address, as iteration and lookups hand it out.
struct TCellRef {
    uint32_t col = 0;
    uint32_t row = 0;
    TCell* cell = nullptr;
    explicit operator bool() const { return cell != nullptr; }
};

}  // namespace linograf::workbook
