#include "workbook/model/record_storage.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace linograf::workbook {
namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

std::vector<uint16_t> MainIds(const TBaseRecordStorage& s) {
    std::vector<uint16_t> ids;
    for (int i = 0; i < s.Count(); ++i) ids.push_back(s.Items(i).id);
    return ids;
}

TEST(RecordStorage, GlobalsDefaultsInFileOrder) {
    TRecordStorageGlobals g;
    EXPECT_EQ(g.Count(), 0);
    EXPECT_FALSE(g.DefaultsCopied());
    g.CopyDefaults();
    const std::vector<uint16_t> expected = {
        0x0809, 0x005C, 0x0042, 0x0161, 0x013D, 0x009C, 0x0019, 0x0012, 0x0013,
        0x01AF, 0x003D, 0x0040, 0x008D, 0x0022, 0x000E, 0x01B7, 0x00DA, 0x8001,
        0x8002, 0x008C, 0x01C1, 0x8003, 0x8004, 0x8005, 0x000A,
    };
    EXPECT_EQ(MainIds(g), expected);
    EXPECT_EQ(g.Named(rec::WRITEACCESS).data.size(), 112u);
    EXPECT_EQ(g.Named(rec::WRITEACCESS).data[3], 0x20);
    EXPECT_EQ(g.U16(rec::WINDOW1, 4), 10000);
    EXPECT_EQ(g.U16(rec::WINDOW1, 8), 0x0038);
    EXPECT_EQ(g.U32(rec::RECALCID, 4), 0x00FFFFFFu);
    EXPECT_EQ(g.U16(rec::BOF, 4), 0x1002);
}

TEST(RecordStorage, SheetDefaultsInFileOrder) {
    TRecordStorageSheet s;
    s.CopyDefaults();
    const std::vector<uint16_t> expected = {
        0x0809, 0x000D, 0x000C, 0x000F, 0x0011, 0x0010, 0x005F, 0x002B, 0x002A, 0x0082,
        0x0080, 0x0225, 0x0081, 0x8101, 0x8102, 0x8103, 0x0083, 0x0084, 0x00A1, 0x0012,
        0x0055, 0x0200, 0x8104, 0x8105, 0x023E, 0x8106, 0x001D, 0x000A,
    };
    EXPECT_EQ(MainIds(s), expected);
    const std::pair<uint16_t, size_t> sizes[] = {{0x0809, 16}, {0x0010, 8},  {0x0225, 4},  {0x00A1, 34},
                                                 {0x0200, 14}, {0x023E, 18}, {0x001D, 15}, {0x8105, 0}};
    for (auto [id, size] : sizes) EXPECT_EQ(s.Named(id).data.size(), size) << std::hex << id;
    EXPECT_DOUBLE_EQ(s.Double(rec::DELTA, 0), 0.001);
    EXPECT_EQ(s.U16(rec::SETUP, 10), 0x06B6);
    EXPECT_EQ(s.U32(rec::WINDOW2, 6), 64u);
}

TEST(RecordStorage, ViewsFollowTheirEntryIntoTheMainList) {
    TRecordStorageSheet s;
    s.SetU16(rec::DEFCOLWIDTH, 0, 10);  // in the default list
    s.CopyDefaults();
    s.SetU16(rec::DEFCOLWIDTH, 0, 11);  // now in the copy that is written
    const TRawRecord* written = nullptr;
    for (int i = 0; i < s.Count(); ++i)
        if (s.Items(i).id == rec::DEFCOLWIDTH) written = &s.Items(i);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->data[0], 11);
    EXPECT_EQ(Message([&] { s.U16(0x1234, 0); }), "[int] Unknown default record 1234");
    EXPECT_THROW(s.U16(rec::DEFCOLWIDTH, 1), std::out_of_range);
}

TEST(RecordStorage, ReadersFillTheMainListInFileOrder) {
    TRecordStorageSheet s;
    const uint8_t bof[16] = {0, 6, 0x10, 0};
    s.SetDefault(rec::BOF, bof);
    const uint8_t note[] = {1, 2, 3};
    s.AddRaw(0x001C, note);  // a record the model does not interpret
    const uint8_t width[] = {12, 0};
    s.SetDefault(rec::DEFCOLWIDTH, width);  // moves every default entry up to it
    EXPECT_TRUE(s.DefaultsCopied());
    std::vector<uint16_t> ids = MainIds(s);
    ASSERT_EQ(ids.size(), 22u);
    EXPECT_EQ(ids[0], rec::BOF);
    EXPECT_EQ(ids[1], 0x001C);
    EXPECT_EQ(ids[2], rec::CALCMODE);
    EXPECT_EQ(ids.back(), rec::DEFCOLWIDTH);
    EXPECT_EQ(s.U16(rec::DEFCOLWIDTH, 0), 12);
    EXPECT_EQ(s.U16(rec::CALCCOUNT, 0), 100);  // moved with its default data

    // A second record of a moved id overwrites it in place; its size must match.
    const uint8_t calc[] = {0, 0};
    s.SetDefault(rec::CALCMODE, calc);
    EXPECT_EQ(s.U16(rec::CALCMODE, 0), 0);
    EXPECT_EQ(s.Count(), 22);
    const uint8_t wrong[] = {1, 2, 3};
    EXPECT_EQ(Message([&] { s.SetDefault(rec::CALCMODE, wrong); }), "Size missmatch on default record");
    s.SetDefault(kPlaceholderColInfo, {});
    s.SetDefault(kPlaceholderColInfo, {});
    EXPECT_EQ(s.Count(), 24);  // DIMENSIONS and the placeholder, once
    EXPECT_EQ(Message([&] { s.SetDefault(0x0862, note); }), "Excpected default record 0862 not found.");

    s.Reset();
    EXPECT_EQ(s.Count(), 0);
    EXPECT_FALSE(s.DefaultsCopied());
    EXPECT_EQ(s.U16(rec::DEFCOLWIDTH, 0), 8);
}

}  // namespace
}  // namespace linograf::workbook
