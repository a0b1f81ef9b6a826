#pragma once
// The workbook the Open XML benchmarks write and read: rows of eight short texts, all distinct,
// "r<row>c<column>", as a live log of unique readings would hold.
#include <cstdint>
#include <cstdio>
#include <string>

#include "workbook/model/sheet.h"
#include "workbook/model/tabulon4.h"

namespace linograf::bench {

inline void FillDistinctTexts(workbook::TTabulon4& book, int rows) {
    workbook::TSheet& sheet = book.Sheet(0);
    char text[32];
    std::u16string wide;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 8; ++col) {
            const int n = std::snprintf(text, sizeof text, "r%dc%d", row, col);
            wide.assign(text, text + n);
            sheet.SetAsWideString(static_cast<uint32_t>(col), static_cast<uint32_t>(row), wide);
        }
    }
}

}  // namespace linograf::bench
