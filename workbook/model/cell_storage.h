#pragma once
// The sparse cell store of a sheet, four levels deep: rows in blocks of 1024 (level 1 by
// Row >> 10, level 2 by Row & 0x3FF), then the columns of a row in blocks of 128 (level 3 by
// Col >> 7, level 4 by Col & 0x7F). Blocks exist only where cells exist, and a row's blocks grow
// only as far as its highest column, so a row of eight cells takes little more than eight cells.
// The last cell found or stored is remembered, which makes repeated access to one cell free.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/model/cell.h"

namespace linograf::workbook {

inline constexpr uint32_t kStoreColumns = 16384;
inline constexpr uint32_t kStoreRows = 1048576;

class TCellStorage {
  public:
    TCellStorage() = default;
    TCellStorage(const TCellStorage&) = delete;
    TCellStorage& operator=(const TCellStorage&) = delete;
    ~TCellStorage();

    // The cell at (col, row), or null; never allocates.
    TCell* Find(uint32_t col, uint32_t row);
    // The position (col, row), its blocks created as needed; its type is ctNone when it held no
    // cell. The reference stays valid until the next Place. Throws std::out_of_range outside
    // column 0..16383 or row 0..1048575.
    TCell& Place(uint32_t col, uint32_t row);
    // Marks a position empty; the caller has released what the cell referred to.
    void Erase(uint32_t col, uint32_t row);
    // Frees every cell (with the formula data they own) and every block.
    void Clear();
    bool Empty() const;

    // Walks the cells as they are; no cell may be placed while an iteration is under way.
    class Iterator {
      public:
        // The next cell in row-major order, or an empty reference at the end.
        TCellRef Next();
        // The cell right after the last one returned, if it is a blank cell in the same row
        // (also across a 128-column block boundary); the iterator then moves past it.
        TCellRef NextBlankInRun();

      private:
        friend class TCellStorage;
        explicit Iterator(TCellStorage& store) : store_(&store) {}
        TCellStorage* store_;
        uint32_t i1_ = 0, i2_ = 0, i3_ = 0, i4_ = 0;
        bool started_ = false;
        // The block of the last cell returned, while the iteration is inside it.
        std::vector<TCell>* block_ = nullptr;
        TCellRef last_;
    };
    Iterator Cells() { return Iterator(*this); }
    // The same walk, beginning with the first cell in row `row` or after it.
    Iterator CellsFrom(uint32_t row);

    // The lowest row whose cells may have changed since `ForgetChanges`: every Place, Erase and
    // Find counts (Find hands out a cell that can be changed), and so does Clear. A new store
    // counts as changed from row 0. A writer that keeps the text of rows it wrote uses this to
    // know they are still what it wrote.
    uint32_t LowestChangedRow() const { return lowest_changed_; }
    void ForgetChanges() { lowest_changed_ = kStoreRows; }

  private:
    using Block = std::vector<TCell>;      // level 4: a row's cells within 128 columns
    using RowBlocks = std::vector<Block>;  // level 3: a row's column blocks
    struct Level2 {
        std::array<RowBlocks, 1024> rows;
    };

    std::array<std::unique_ptr<Level2>, 1024> level1_;
    uint32_t cached_col_ = 0, cached_row_ = 0;
    TCell* cached_ = nullptr;
    // The block of the last cell placed, while no other block has been changed: a row filled
    // left to right places each next cell there without walking the levels again.
    Block* placed_block_ = nullptr;
    uint32_t lowest_changed_ = 0;
};

}  // namespace linograf::workbook
