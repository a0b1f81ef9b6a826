#include "workbook/model/cell_formats.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "workbook/model/format_changes.h"
#include "workbook/model/palette.h"

namespace linograf::workbook {
namespace {

class CellFormatsTest : public ::testing::Test {
  protected:
    TXFonts fonts;
    TCellFormats formats{fonts, true};
    XfId Default() { return formats.DefaultId(); }
};

TEST_F(CellFormatsTest, NewListHoldsTheDefaultSet) {
    EXPECT_EQ(formats.Count(), 22);
    EXPECT_EQ(formats.Boundary(), 22);
    EXPECT_EQ(fonts.Count(), 5);
    EXPECT_EQ(fonts.Boundary(), 5);
    for (int i = 0; i < fonts.Count(); ++i) {
        EXPECT_EQ(fonts.Items(i).name, u"Arial");
        EXPECT_EQ(fonts.Items(i).height, 200u);
    }

    // Only the formats the style XFs use are marked for FORMAT records.
    std::vector<int> written;
    TNumberFormats& numbers = formats.NumberFormats();
    for (int i = 1; i < numbers.Count(); ++i)
        if (numbers.Items(i).UseCount() >= 0) written.push_back(numbers.Items(i).Id());
    EXPECT_EQ(written, (std::vector<int>{9, 42, 43, 44, 45}));
    EXPECT_EQ(numbers.ById(0).Text(), u"General");
    EXPECT_EQ(numbers.ById(43).Text(), u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)");
}

TEST_F(CellFormatsTest, DefaultFormatsMatchTheTable) {
    struct Row {
        int position;
        uint16_t font, number_format, protection, word3;
    };
    const Row rows[] = {
        {0, 0, 0, 0xFFF5, 0x0000},  {1, 1, 0, 0xFFF5, 0xF400},  {4, 2, 0, 0xFFF5, 0xF400},
        {14, 0, 0, 0xFFF5, 0xF400}, {15, 0, 0, 0x0001, 0x0000}, {16, 0, 42, 0xFFF5, 0x0000},
        {20, 0, 9, 0xFFF5, 0x0000},
    };
    for (const Row& r : rows) {
        const TCellFormat& f = formats.Items(r.position);
        SCOPED_TRACE(r.position);
        EXPECT_EQ(f.FontIndex(), r.font);
        EXPECT_EQ(f.NumberFormatIndex(), r.number_format);
        EXPECT_EQ(f.ProtectionWord(), r.protection);
        EXPECT_EQ(f.UsedAttributesWord(), r.word3);
        EXPECT_EQ(f.AlignmentWord(), 0x0020);
        EXPECT_EQ(f.Bytes()[18], 0xC0);
        EXPECT_EQ(f.Bytes()[19], 0x20);
    }
    // Position 21 is a format built from nothing: automatic border colours.
    const std::array<uint8_t, 20> from_nothing = {0, 0, 0,    0,    1,    0,    0x20, 0, 0,    0,
                                                  0, 0, 0x40, 0x20, 0x40, 0x20, 0x10, 0, 0xC0, 0x20};
    EXPECT_EQ(formats.Items(21).Bytes(), from_nothing);
    EXPECT_TRUE(TCellFormat().SameBytes(formats.Items(21)));
}

TEST_F(CellFormatsTest, CentreThenGeneralKeepsTheAlignmentUsedBitAndFreesTheCentredFormat) {
    XfId centred = WithHorizAlignment(formats, Default(), haCenter);
    EXPECT_EQ(formats.PositionOf(centred), 22);
    EXPECT_EQ(formats.ById(centred).UseCount(), 1);
    TCellFormat centred_copy(formats.ById(centred));

    XfId general = WithHorizAlignment(formats, centred, haGeneral);
    EXPECT_EQ(formats.Count(), 23);
    EXPECT_EQ(formats.Find(centred_copy), -1);
    EXPECT_EQ(formats.PositionOf(general), 22);
    // Differs from format 15 only in bit 12 of word 3: the bottom alignment is not "top".
    const auto& a = formats.ById(general).Bytes();
    const auto& b = formats.Items(15).Bytes();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(a[i], i == 9 ? (b[i] | 0x10) : b[i]) << "byte " << i;
}

TEST_F(CellFormatsTest, UnchangedAttributeKeepsTheFormat) {
    EXPECT_EQ(WithHorizAlignment(formats, Default(), haGeneral), Default());
    EXPECT_EQ(WithFontSize(formats, Default(), 0), Default());
    EXPECT_EQ(WithFontSize(formats, Default(), -4), Default());
    EXPECT_EQ(formats.Count(), 22);
    EXPECT_EQ(fonts.Count(), 5);
}

TEST_F(CellFormatsTest, TwoBoldObjectsShareOneNewFontAndOneNewFormat) {
    XfId a = WithFontStyle(formats, Default(), {xfsBold});
    XfId b = WithFontStyle(formats, Default(), {xfsBold});
    EXPECT_EQ(a, b);
    EXPECT_EQ(fonts.Count(), 6);
    EXPECT_EQ(formats.Count(), 23);
    EXPECT_EQ(formats.ById(a).UseCount(), 2);
    const TXFont& bold = fonts.Items(formats.ById(a).FontIndex());
    EXPECT_EQ(bold.Position(), 5);
    EXPECT_TRUE(bold.style.Contains(xfsBold));
    EXPECT_EQ(bold.name, u"Arial");
    EXPECT_EQ(bold.height, 200u);
}

TEST_F(CellFormatsTest, RemovingAFontRenumbersTheFormatsOfLaterFonts) {
    XfId bold = WithFontStyle(formats, Default(), {xfsBold});      // font 5, format 22
    XfId italic = WithFontStyle(formats, Default(), {xfsItalic});  // font 6, format 23
    XfId plain = WithFontStyle(formats, bold, {});                 // back to font 0: format 22 and font 5 go
    EXPECT_EQ(formats.PositionOf(plain), 15);
    EXPECT_EQ(fonts.Count(), 6);
    EXPECT_EQ(formats.PositionOf(italic), 22);
    const TXFont& f = fonts.Items(formats.ById(italic).FontIndex());
    EXPECT_TRUE(f.style.Contains(xfsItalic));
    EXPECT_FALSE(f.style.Contains(xfsBold));
}

TEST_F(CellFormatsTest, AFontStaysWhileAnotherObjectStillShowsIt) {
    // A column made bold; a cell takes the column's format; then the column turns italic. The
    // cell's format still names the bold font, so that font must survive.
    XfId column = WithFontStyle(formats, Default(), {xfsBold});
    XfId cell = column;
    formats.Acquire(cell);
    column = WithFontStyle(formats, column, {xfsItalic});
    const TXFont& shown = fonts.Items(formats.ById(cell).FontIndex());
    EXPECT_TRUE(shown.style.Contains(xfsBold));
    EXPECT_FALSE(shown.style.Contains(xfsItalic));
    EXPECT_NE(formats.ById(column).FontIndex(), formats.ById(cell).FontIndex());
}

TEST_F(CellFormatsTest, CustomNumberFormatsGetIdsFrom164AndAreReused) {
    TNumberFormats& numbers = formats.NumberFormats();
    EXPECT_EQ(numbers.FindOrAdd(u"0.000"), 164);
    EXPECT_EQ(numbers.FindOrAdd(u"0.000"), 164);
    EXPECT_EQ(numbers.ById(164).UseCount(), 2);
    EXPECT_EQ(numbers.FindOrAdd(u"0.0000"), 165);
    EXPECT_EQ(numbers.FindOrAdd(u"0.00"), 2);
    EXPECT_EQ(numbers.FindOrAdd(u""), 0);
    // Case matters in format codes.
    EXPECT_EQ(numbers.FindOrAdd(u"H:MM"), 166);

    numbers.Release(164);
    EXPECT_NE(numbers.FindById(164), nullptr);
    numbers.Release(164);
    EXPECT_EQ(numbers.FindById(164), nullptr);
    numbers.Release(2);
    EXPECT_NE(numbers.FindById(2), nullptr);
    EXPECT_THROW(
        try { numbers.ById(164); } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Can not find number format# 164");
            throw;
        },
        std::runtime_error);
}

TEST_F(CellFormatsTest, NumberFormatsFromRecords) {
    TNumberFormats& numbers = formats.NumberFormats();
    numbers.AddFromRecord(170, u"0.0\" kg\"", 1);
    numbers.AddFromRecord(164, u"dd/mm", 1);
    numbers.AddFromRecord(9, u"0.0%", 1);  // a built-in id takes the file's text
    EXPECT_EQ(numbers.ById(164).Text(), u"dd/mm");
    EXPECT_EQ(numbers.ById(9).Text(), u"0.0%");
    EXPECT_EQ(numbers.ById(9).UseCount(), 2);  // used by the style formats, +1
    EXPECT_EQ(numbers.ById(14).UseCount(), -1);
    numbers.AddFromRecord(14, u"d.m.yy", 3);
    EXPECT_EQ(numbers.ById(14).UseCount(), 3);
    // Sorted by id for lookups; new codes continue above the highest id read.
    EXPECT_LT(numbers.Items(numbers.Count() - 2).Id(), numbers.Items(numbers.Count() - 1).Id());
    EXPECT_EQ(numbers.FindOrAdd(u"#,##0.000"), 171);
}

TEST_F(CellFormatsTest, NumberFormatOnAFormatOutsideAnyList) {
    TCellFormat loose;
    loose.SetNumberFormat(u"");
    EXPECT_EQ(loose.NumberFormatIndex(), 0);
    try {
        loose.SetNumberFormat(u"0.0");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "CellFormat has no parent");
    }
    XfId x = WithNumberFormat(formats, Default(), u"0.0");
    EXPECT_EQ(formats.ById(x).NumberFormatIndex(), 164);
}

TEST_F(CellFormatsTest, DefaultFormatsOnlyIntoAnEmptyList) {
    try {
        formats.AddDefaultFormats();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Add default formats when not empty.");
    }
    TCellFormats styles(fonts, false);
    EXPECT_EQ(styles.Count(), 0);
    styles.AddDefaultFormats();
    EXPECT_EQ(styles.Count(), 21);
}

TEST_F(CellFormatsTest, FormatsAtOrAboveTheBoundaryAreCountedOthersNot) {
    formats.Release(formats.IdAt(16));
    formats.Release(formats.IdAt(21));
    EXPECT_EQ(formats.Count(), 22);
    XfId x = WithFillColor(formats, Default(), xcRed);
    formats.SetFixedBoundary();  // as after reading a file: everything is fixed now
    formats.Release(x);
    EXPECT_EQ(formats.Count(), 23);
}

TEST(CellFormat, UsedAttributeBitsFollowTheSetters) {
    TCellFormat f;
    f.SetBorderStyle(bsTop, cbsThin);
    EXPECT_TRUE(f.UsedAttributesWord() & 0x2000);
    f.SetBorderStyle(bsTop, cbsNone);
    EXPECT_FALSE(f.UsedAttributesWord() & 0x2000);
    f.SetDiagonalStyle(cbsDouble);
    EXPECT_TRUE(f.UsedAttributesWord() & 0x2000);
    f.SetBorderColor(bsBottom, 10);  // colours leave the bit alone
    EXPECT_TRUE(f.UsedAttributesWord() & 0x2000);
    EXPECT_EQ(f.BorderColor(bsBottom), 10);
    EXPECT_EQ(f.BorderColor(bsTop), 64);

    TCellFormat g;
    g.SetVertAlignment(vaTop);
    EXPECT_FALSE(g.UsedAttributesWord() & 0x1000);
    g.SetTextFlags({tfWrapText});
    EXPECT_TRUE(g.UsedAttributesWord() & 0x1000);
    g.SetVertAlignment(vaCenter);
    g.SetTextFlags({tfShrinkToFit});  // wrap off, horizontal general: vertical does not count here
    EXPECT_FALSE(g.UsedAttributesWord() & 0x1000);
    EXPECT_TRUE(g.UsedAttributesWord() & 0x0010);
    EXPECT_EQ(g.TextFlags(), TTextFlags{tfShrinkToFit});

    TCellFormat h;
    h.SetFillColor(xcYellow);
    EXPECT_EQ(h.FillPattern(), 1);
    EXPECT_EQ(h.FillBackColor(), 9);
    EXPECT_EQ(h.FillColor(), xcYellow);
    EXPECT_TRUE(h.UsedAttributesWord() & 0x4000);
    h.SetFillPattern(0);
    EXPECT_FALSE(h.UsedAttributesWord() & 0x4000);
}

TEST(CellFormat, RotationIsStoredInTheFormatsRange) {
    const std::pair<int, int> cases[] = {{0, 0},   {45, 45},  {90, 90},   {-1, 91},   {-90, 180},
                                         {91, 90}, {254, 90}, {255, 255}, {1000, 255}};
    for (auto [degrees, stored] : cases) {
        TCellFormat f;
        f.SetRotation(degrees);
        EXPECT_EQ(f.RotationByte(), stored) << degrees;
        EXPECT_EQ(f.AlignmentWord() & 0xFF, 0x20) << degrees;
    }
}

TEST(Fonts, LoadFromRecordReadsEveryField) {
    // Height 240, italic + strike-out, colour 10, bold, subscript, double underline, family 2,
    // charset 204, name "Tahoma" in 16-bit characters.
    std::vector<uint8_t> body = {0xF0, 0, 0x0A, 0, 10, 0, 0xBC, 0x02, 2, 0, 2, 2, 204, 0, 6, 1};
    for (char c : std::string("Tahoma")) {
        body.push_back(static_cast<uint8_t>(c));
        body.push_back(0);
    }
    TXFont f;
    f.LoadFromRecord(body);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.style, (TXFontStyles{xfsBold, xfsItalic, xfsStrikeOut}));
    EXPECT_EQ(f.color, 10);
    EXPECT_EQ(f.sub_superscript, xssSubscript);
    EXPECT_EQ(f.underline, xulDouble);
    EXPECT_EQ(f.charset, 204);
    EXPECT_EQ(f.name, u"Tahoma");

    body.pop_back();  // the name is one byte short
    EXPECT_THROW(f.LoadFromRecord(body), std::runtime_error);
    EXPECT_THROW(f.LoadFromRecord(std::span<const uint8_t>(body.data(), 10)), std::runtime_error);
}

TEST(Fonts, ComparisonIgnoresTheCaseOfTheName) {
    TXFont a, b;
    b.name = u"ARIAL";
    EXPECT_TRUE(a.SameAs(b));
    b.height = 220;
    EXPECT_FALSE(a.SameAs(b));
}

TEST(Palette, ColourMatching) {
    ResetPalette();
    struct Case {
        uint32_t rgb;
        uint8_t screen, nearest;
    };
    const Case cases[] = {
        {PaletteRgb(0x80, 0x80, 0x80), 55, 23},  // grey: fixed entry, not the nearest
        {PaletteRgb(0, 0x80, 0x80), 49, 21},     // teal
        {PaletteRgb(0, 0, 0x80), 18, 18},        // navy is also entry 32: the lower index wins
        {PaletteRgb(0xFE, 0x01, 0x02), 10, 10},  // nearly red
        {PaletteRgb(0x34, 0x34, 0x34), 63, 63},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScreenColorToPaletteIndex(c.rgb), c.screen) << std::hex << c.rgb;
        EXPECT_EQ(NearestPaletteIndex(c.rgb), c.nearest) << std::hex << c.rgb;
    }
    EXPECT_FALSE(PaletteIsCustom());
    Palette()[20] = PaletteRgb(1, 2, 3);
    EXPECT_TRUE(PaletteIsCustom());
    EXPECT_EQ(NearestPaletteIndex(PaletteRgb(1, 2, 3)), 20);
    ResetPalette();
    EXPECT_FALSE(PaletteIsCustom());
}

TEST(Fonts, ScreenFontConversions) {
    TXFont f;
    f.height = 230;
    f.style = {xfsBold};
    f.underline = xulDoubleAccount;
    f.color = xcAutomatic;
    TScreenFont s = f.ToScreenFont();
    EXPECT_EQ(s.size, 11);
    EXPECT_TRUE(s.bold);
    EXPECT_TRUE(s.underline);
    EXPECT_EQ(s.color, 0u);

    s.color = PaletteRgb(0x80, 0x80, 0x80);
    TXFont back;
    back.FromScreenFont(s);
    EXPECT_EQ(back.color, 55);
    EXPECT_EQ(back.height, 220u);
    EXPECT_EQ(back.underline, xulSingle);
}

}  // namespace
}  // namespace linograf::workbook
