#include "workbook/model/cell_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace linograf::workbook {
namespace {

void PutNumber(TCellStorage& store, uint32_t col, uint32_t row, double v) {
    TCell& c = store.Place(col, row);
    c.type = ctFloat;
    c.value.number = v;
}

TEST(CellStorage, LookupsOutsideStoredBlocksFindNothing) {
    TCellStorage store;
    EXPECT_EQ(store.Find(0, 0), nullptr);
    EXPECT_EQ(store.Find(5000, 70000), nullptr);
    PutNumber(store, 3, 2, 1.0);
    EXPECT_EQ(store.Find(4, 2), nullptr);     // same block, past its end
    EXPECT_EQ(store.Find(200, 2), nullptr);   // same row, another column block
    EXPECT_EQ(store.Find(3, 1025), nullptr);  // another row block
    EXPECT_EQ(store.Find(16384, 0), nullptr);
    EXPECT_EQ(store.Find(0, 1048576), nullptr);
    auto it = store.Cells();
    TCellRef only = it.Next();
    EXPECT_EQ(only.col, 3u);
    EXPECT_EQ(only.row, 2u);
    EXPECT_FALSE(it.Next());
}

TEST(CellStorage, CellsBeyondTheOldFileLimitsAreKept) {
    TCellStorage store;
    const std::pair<uint32_t, uint32_t> far[] = {
        {300, 0}, {0, 70000}, {16383, 1048575}, {127, 128}, {128, 1023}};
    double v = 1;
    for (auto [col, row] : far) PutNumber(store, col, row, v++);
    v = 1;
    for (auto [col, row] : far) {
        TCell* c = store.Find(col, row);
        ASSERT_NE(c, nullptr) << col << ":" << row;
        EXPECT_EQ(c->value.number, v++);
    }
    EXPECT_THROW(store.Place(16384, 0), std::out_of_range);
    EXPECT_THROW(store.Place(0, 1048576), std::out_of_range);
}

TEST(CellStorage, IterationIsRowMajorWhateverTheOrderOfStoring) {
    std::vector<std::pair<uint32_t, uint32_t>> positions;  // (row, col)
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) positions.push_back({random() % 5000, random() % 700});
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<std::pair<uint32_t, uint32_t>> shuffled = positions;
    std::shuffle(shuffled.begin(), shuffled.end(), random);

    TCellStorage store;
    for (auto [row, col] : shuffled) PutNumber(store, col, row, row * 1000.0 + col);
    std::vector<std::pair<uint32_t, uint32_t>> visited;
    auto it = store.Cells();
    for (TCellRef r = it.Next(); r; r = it.Next()) {
        EXPECT_EQ(r.cell->value.number, r.row * 1000.0 + r.col);
        visited.push_back({r.row, r.col});
    }
    EXPECT_EQ(visited, positions);
}

TEST(CellStorage, BlankRunsContinueAcrossColumnBlocks) {
    TCellStorage store;
    for (uint32_t col = 126; col <= 129; ++col) store.Place(col, 3).type = ctBlank;
    PutNumber(store, 130, 3, 5);
    store.Place(131, 3).type = ctBlank;
    store.Place(0, 4).type = ctBlank;

    auto it = store.Cells();
    TCellRef first = it.Next();
    EXPECT_EQ(first.col, 126u);
    std::vector<uint32_t> run;
    for (TCellRef r = it.NextBlankInRun(); r; r = it.NextBlankInRun()) run.push_back(r.col);
    EXPECT_EQ(run, (std::vector<uint32_t>{127, 128, 129}));
    TCellRef number = it.Next();
    EXPECT_EQ(number.col, 130u);
    EXPECT_FALSE(it.NextBlankInRun().cell == nullptr);  // 131 is blank and follows 130
    TCellRef next_row = it.Next();
    EXPECT_EQ(next_row.row, 4u);
    EXPECT_FALSE(it.NextBlankInRun());  // the run stops at the end of the row
    EXPECT_FALSE(it.Next());
}

// Rows are mostly filled left to right, which takes a shortcut past the levels; lookups,
// erasures and other rows in between must never send a cell into the wrong block.
TEST(CellStorage, CellsPlacedColumnAfterColumnLandWhereTheyBelong) {
    std::map<std::pair<uint32_t, uint32_t>, double> expected;  // (row, col)
    TCellStorage store;
    std::mt19937 random(11);
    uint32_t row = 0, col = 0;
    for (int i = 0; i < 20000; ++i) {
        switch (random() % 8) {
            case 0:  // somewhere else
                row = random() % 300;
                col = random() % 400;
                break;
            case 1: {  // a lookup elsewhere, then on from the cell found
                const uint32_t r = random() % 300, c = random() % 400;
                store.Find(c, r);
                if (expected.count({r, c})) {
                    row = r;
                    col = c + 1;
                }
                break;
            }
            case 2:  // an erasure elsewhere
                if (!expected.empty()) {
                    auto it = std::next(expected.begin(), static_cast<long>(random() % expected.size()));
                    store.Erase(it->first.second, it->first.first);
                    expected.erase(it);
                }
                break;
            default:
                ++col;
                break;
        }
        if (col >= 400) col = 0;
        const double v = i;
        PutNumber(store, col, row, v);
        expected[{row, col}] = v;
    }
    for (const auto& [at, v] : expected) {
        const TCell* c = store.Find(at.second, at.first);
        ASSERT_NE(c, nullptr) << at.first << "," << at.second;
        EXPECT_EQ(c->value.number, v);
    }
    size_t visited = 0;
    auto it = store.Cells();
    for (TCellRef r = it.Next(); r; r = it.Next()) {
        if (r.cell->type == ctNone) continue;
        ASSERT_TRUE(expected.count({r.row, r.col})) << r.row << "," << r.col;
        EXPECT_EQ(r.cell->value.number, (expected[{r.row, r.col}]));
        ++visited;
    }
    EXPECT_EQ(visited, expected.size());
}

TEST(CellStorage, ErasedCellsAreGoneEvenFromTheCache) {
    TCellStorage store;
    PutNumber(store, 1, 1, 2.5);
    ASSERT_NE(store.Find(1, 1), nullptr);
    store.Erase(1, 1);
    EXPECT_EQ(store.Find(1, 1), nullptr);
    EXPECT_TRUE(store.Empty());
    PutNumber(store, 1, 1, 3.5);
    store.Clear();
    EXPECT_EQ(store.Find(1, 1), nullptr);
    EXPECT_FALSE(store.Cells().Next());
}

}  // namespace
}  // namespace linograf::workbook
