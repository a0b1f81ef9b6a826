#pragma once
// Shared formulas of BIFF8 sheets: a SHRFMLA record holds one token list for a block of cells,
// with references relative to the cell (ptgRefN, ptgAreaN). A cell of the block gets its own
// copy with those references made plain for its position, so it can be written back as an
// ordinary formula.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace linograf::workbook {

// The shared tokens as the formula of the cell at (col, row). Empty when the list holds a token
// this walk does not know the size of (the caller then keeps the cell's value instead).
std::optional<std::vector<uint8_t>> SharedFormulaForCell(std::span<const uint8_t> tokens, uint32_t col,
                                                         uint32_t row);

}  // namespace linograf::workbook
