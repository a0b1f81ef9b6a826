// Reading .xlsx packages made by hand: the fixed part order and names, cells of every kind,
// styles, names and saved elements, the sound readings of valid files real producers write, and
// the clear errors hostile or broken packages end in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/memory_stream.h"
#include "tests/ooxml/zip_test_support.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/open_xml_model.h"
#include "workbook/model/palette.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kMain = R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";
constexpr const char* kRelNs =
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")";

std::string Xml(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)" + body;
}

std::string WorkbookPart(const std::vector<std::string>& names) {
    std::string sheets;
    for (size_t i = 0; i < names.size(); ++i)
        sheets += "<sheet name=\"" + names[i] + "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" +
                  std::to_string(i + 1) + "\"/>";
    return Xml(std::string("<workbook ") + kMain + " " + kRelNs + "><sheets>" + sheets +
               "</sheets></workbook>");
}

std::string SheetPart(const std::string& rows, const std::string& before = "",
                      const std::string& after = "") {
    return Xml(std::string("<worksheet ") + kMain + " " + kRelNs + ">" + before + "<sheetData>" + rows +
               "</sheetData>" + after + "</worksheet>");
}

std::string SharedStrings(const std::string& items) {
    return Xml(std::string("<sst ") + kMain + ">" + items + "</sst>");
}

// A styles part with the given fonts and cellXfs bodies.
std::string Styles(const std::string& fonts, const std::string& xfs, const std::string& extra = "") {
    return Xml(std::string("<styleSheet ") + kMain + "><fonts>" + fonts +
               "</fonts><fills><fill><patternFill patternType=\"none\"/></fill></fills>"
               "<borders><border/></borders><cellXfs>" +
               xfs + "</cellXfs>" + extra + "</styleSheet>");
}

class XlsxRead : public ::testing::Test {
  protected:
    // Reads the parts as a package file through the workbook component.
    void Read(const std::vector<Part>& parts) { ReadBytes(BuildArchive(parts)); }
    void ReadBytes(const std::string& bytes) {
        const std::string path = dir_.File("book.xlsx");
        linograf::test::WriteFileBytes(path, bytes);
        book_.SetFilename(Utf8ToWide(path));
        book_.Read();
    }
    std::string ReadError(const std::vector<Part>& parts) {
        try {
            Read(parts);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    }
    std::string Text(int sheet, uint32_t col, uint32_t row) {
        return WideToUtf8(book_.Sheet(sheet).AsString(col, row));
    }

    linograf::test::TempDir dir_;
    TTabulon4 book_;
};

TEST_F(XlsxRead, CellsOfEveryKindWithTheirFormats) {
    Read({{"xl/workbook.xml", WorkbookPart({"Data"})},
          {"xl/sharedStrings.xml", SharedStrings("<si><t>first</t></si><si><t>second</t></si>")},
          {"xl/styles.xml", Styles("<font><sz val=\"11\"/><name val=\"Calibri\"/></font>",
                                   "<xf/><xf/><xf/><xf/><xf numFmtId=\"14\"/>")},
          {"xl/worksheets/sheet1.xml",
           SheetPart("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\"><v>2.5</v></c>"
                     "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#DIV/0!</v></c>"
                     "<c r=\"E1\" t=\"n\"><v>-1E-3</v></c><c r=\"F1\"><v>nan</v></c>"
                     "<c r=\"G1\"><v>1e999</v></c><c r=\"H1\"><v>12abc</v></c></row>"
                     "<row r=\"2\"><c r=\"B2\" s=\"4\"/><c r=\"C2\" t=\"b\"><v>0</v></c></row>"
                     "<row r=\"1048576\"><c r=\"XFD1048576\" t=\"s\"><v>0</v></c></row>")}});
    TSheet& s = book_.Sheet(0);
    EXPECT_EQ(WideToUtf8(s.Name()), "Data");
    EXPECT_EQ(s.CellType(0, 0), ctString);
    EXPECT_EQ(Text(0, 0, 0), "second");
    EXPECT_EQ(s.AsFloat(1, 0), 2.5);
    EXPECT_EQ(s.CellType(2, 0), ctBoolean);
    EXPECT_EQ(s.Cells().Find(2, 0)->small, 1);
    EXPECT_EQ(s.Cells().Find(2, 1)->small, 0);
    EXPECT_EQ(s.CellType(3, 0), ctError);
    EXPECT_EQ(s.Cells().Find(3, 0)->small, ceDiv0);
    EXPECT_EQ(s.AsFloat(4, 0), -0.001);
    // What is no finite number reads as 0.
    for (uint32_t col : {5u, 6u, 7u}) {
        EXPECT_EQ(s.CellType(col, 0), ctFloat) << col;
        EXPECT_EQ(s.AsFloat(col, 0), 0) << col;
    }
    // B2: s = 4 and no v is a blank cell with master format 25.
    ASSERT_EQ(s.CellType(1, 1), ctBlank);
    EXPECT_EQ(s.CellFormatIndex(*s.Cells().Find(1, 1)), 25);
    EXPECT_EQ(book_.Formats().Items(25).NumberFormatIndex(), 14);
    EXPECT_EQ(Text(0, 16383, 1048575), "first");
    EXPECT_EQ(book_.Version(), xvExcel2007);
}

TEST_F(XlsxRead, ACellGivenTwiceLeavesTheFormatsInPlace) {
    Read({{"xl/workbook.xml", WorkbookPart({"D"})},
          {"xl/styles.xml",
           Styles("<font/>", "<xf/><xf numFmtId=\"1\"/><xf numFmtId=\"2\"/><xf numFmtId=\"3\"/>")},
          {"xl/worksheets/sheet1.xml",
           SheetPart("<row r=\"1\"><c r=\"A1\" s=\"1\"><v>1</v></c><c r=\"A1\" s=\"2\"><v>2</v></c>"
                     "<c r=\"B1\" s=\"3\"><v>3</v></c></row>")}});
    TSheet& s = book_.Sheet(0);
    EXPECT_EQ(s.AsFloat(0, 0), 2);
    // B1 keeps cellXfs entry 3 although the format given to A1 first went out of use.
    EXPECT_EQ(s.CellFormatIndex(*s.Cells().Find(1, 0)), 24);
    EXPECT_EQ(book_.Formats().Items(24).NumberFormatIndex(), 3);
}

TEST_F(XlsxRead, WorksheetsGoByFixedNamesUpToTheFirstMissingOne) {
    const std::string one_cell = SheetPart("<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>");
    // Three sheet elements; parts sheet1 and sheet3: the search stops at the missing sheet2.
    Read({{"xl/workbook.xml", WorkbookPart({"A", "B", "C"})},
          {"xl/worksheets/sheet1.xml", one_cell},
          {"xl/worksheets/sheet3.xml", one_cell}});
    ASSERT_EQ(book_.Sheets().Count(), 3);
    EXPECT_EQ(book_.Sheet(0).AsFloat(0, 0), 7);
    EXPECT_EQ(book_.Sheet(2).CellType(0, 0), ctNone);

    // Three sheet elements, two parts: the third sheet stays empty.
    Read({{"xl/workbook.xml", WorkbookPart({"A", "B", "C"})},
          {"xl/worksheets/sheet1.xml", one_cell},
          {"xl/worksheets/sheet2.xml", one_cell}});
    ASSERT_EQ(book_.Sheets().Count(), 3);
    EXPECT_EQ(WideToUtf8(book_.Sheet(2).Name()), "C");
    EXPECT_EQ(book_.Sheet(1).AsFloat(0, 0), 7);
    EXPECT_TRUE(book_.Sheet(2).Cells().Empty());
}

TEST_F(XlsxRead, WorksheetPartsNamedOtherwiseAreFoundThroughTheRelationships) {
    const std::string rels = Xml(
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/first.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/other/second.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/>)"
        R"(<Relationship Id="rId9" Type="http://schemas.microsoft.com/office/2017/10/relationships/person" Target="persons/person.xml"/>)"
        "</Relationships>");
    const std::string sheet_rels = Xml(
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="https://example.org/" TargetMode="External"/>)"
        "</Relationships>");
    Read({{"xl/workbook.xml", WorkbookPart({"A", "B"})},
          {"xl/_rels/workbook.xml.rels", rels},
          {"xl/worksheets/first.xml", SheetPart("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")},
          {"xl/worksheets/_rels/first.xml.rels", sheet_rels},
          {"xl/other/second.xml", SheetPart("<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>")}});
    EXPECT_EQ(book_.Sheet(0).AsFloat(0, 0), 1);
    EXPECT_EQ(book_.Sheet(1).AsFloat(0, 0), 2);
    // Worksheet relationships are the writer's own; the others are kept, the unknown type whole.
    TXMLRelations& wr = book_.OpenXml().Relations();
    ASSERT_EQ(wr.Count(), 2);
    EXPECT_EQ(wr.Items(0).type, "theme");
    EXPECT_EQ(wr.Items(0).prefix, rpOfficeDocument);
    EXPECT_EQ(wr.Items(0).number, 3);
    EXPECT_EQ(wr.Items(1).type, "http://schemas.microsoft.com/office/2017/10/relationships/person");
    EXPECT_TRUE(wr.Sorted());
    TXMLRelations& sr = book_.OpenXml().Sheet(0).relations;
    ASSERT_EQ(sr.Count(), 1);
    EXPECT_EQ(sr.Items(0).type, "hyperlink");
    EXPECT_EQ(sr.Items(0).target_mode, tmExternal);
    EXPECT_EQ(sr.Items(0).target, "https://example.org/");
}

TEST_F(XlsxRead, TextsAreDecodedOnceFromUtf8AndReferences) {
    Read({{"xl/workbook.xml", WorkbookPart({"&#1051;&#x438;&#x0441;&#1090;"})},
          {"xl/sharedStrings.xml",
           SharedStrings("<si><t>a &amp;lt; b</t></si>"
                         "<si><t>Привет, мир</t></si>"
                         "<si><t>&#128512; &#x1F600;&#65;&#x42;&quot;&apos;&gt;</t></si>"
                         "<si><t xml:space=\"preserve\">  padded  </t></si>"
                         "<si><t>  trimmed\t</t></si>"
                         "<si/>"
                         "<si><t>after empty</t></si>")},
          {"xl/worksheets/sheet1.xml",
           SheetPart("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                     "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c>"
                     "<c r=\"E1\" t=\"s\"><v>4</v></c><c r=\"F1\" t=\"s\"><v>6</v></c></row>")}});
    EXPECT_EQ(WideToUtf8(book_.Sheet(0).Name()), "Лист");
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "a &lt; b"},
        {1, "Привет, мир"},
        {2, "\U0001F600 \U0001F600AB\"'>"},
        // XML keeps element text as written: blanks without xml:space stay, as other readers
        // keep them.
        {3, "  padded  "},
        {4, "  trimmed\t"},
        {5, "after empty"},
    };
    for (const auto& [col, text] : cases) EXPECT_EQ(Text(0, col, 0), text) << col;
    EXPECT_EQ(book_.Sheet(0).AsString(2, 0).size(), 10u);  // two surrogate pairs
}

TEST_F(XlsxRead, InlineStringsPlainStringsPrefixedElementsAndCellsWithoutReferences) {
    Read(
        {{"xl/workbook.xml", WorkbookPart({"S"})},
         {"xl/worksheets/sheet1.xml",
          Xml(R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
              R"(<x:sheetData><x:row r="3"><x:c r="A3" t="inlineStr"><x:is><x:t>inline</x:t></x:is></x:c>)"
              R"(<x:c r="B3" t="inlineStr"><x:is><x:r><x:t>ri</x:t></x:r><x:r><x:t>ch</x:t></x:r></x:is></x:c>)"
              R"(<x:c r="C3" t="str"><x:v>plain</x:v></x:c></x:row>)"
              R"(<x:row><x:c><x:v>1</x:v></x:c><x:c t="str"><x:v>next</x:v></x:c></x:row>)"
              R"(</x:sheetData><other:c xmlns:other="urn:elsewhere" r="Z9"><other:v>5</other:v></other:c>)"
              R"(</x:worksheet>)")}});
    TSheet& s = book_.Sheet(0);
    EXPECT_EQ(Text(0, 0, 2), "inline");
    EXPECT_EQ(Text(0, 1, 2), "rich");
    EXPECT_EQ(Text(0, 2, 2), "plain");
    EXPECT_EQ(s.CellType(2, 2), ctString);
    // A row without r follows row 3; its cells without r follow each other from column A.
    EXPECT_EQ(s.AsFloat(0, 3), 1);
    EXPECT_EQ(Text(0, 1, 3), "next");
    // An element of another namespace is not a cell, whatever its local name.
    EXPECT_EQ(s.CellType(25, 8), ctNone);
}

TEST_F(XlsxRead, FormulaCellsWithAndWithoutCachedResults) {
    Read({{"xl/workbook.xml", WorkbookPart({"F"})},
          {"xl/worksheets/sheet1.xml",
           SheetPart("<row r=\"1\"><c r=\"A1\"><f>SUM(B1:C1)</f><v>3</v></c>"
                     "<c r=\"B1\" t=\"str\"><f ca=\"1\">\"a\"&amp;\"b\"</f><v>ab</v></c>"
                     "<c r=\"C1\" t=\"b\"><f>TRUE()</f><v>1</v></c>"
                     "<c r=\"D1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                     "<c r=\"E1\"><f>A1*2</f><v/></c>"
                     "<c r=\"F1\"><f t=\"shared\" ref=\"F1:F2\" si=\"0\">A1</f><v>3</v></c></row>")}});
    TSheet& s = book_.Sheet(0);
    auto formula = [&](uint32_t col) { return s.Cells().Find(col, 0)->value.formula; };
    ASSERT_EQ(s.CellType(0, 0), ctNumberFormula);
    EXPECT_EQ(WideToUtf8(formula(0)->text), "SUM(B1:C1)");
    EXPECT_EQ(formula(0)->number, 3);
    ASSERT_EQ(s.CellType(1, 0), ctStringFormula);
    EXPECT_EQ(WideToUtf8(formula(1)->text), "\"a\"&\"b\"");
    EXPECT_EQ(WideToUtf8(formula(1)->string_result), "ab");
    EXPECT_EQ(formula(1)->options, 0x04);
    ASSERT_EQ(s.CellType(2, 0), ctBooleanFormula);
    EXPECT_EQ(formula(2)->boolean_or_error, 1);
    ASSERT_EQ(s.CellType(3, 0), ctErrorFormula);
    EXPECT_EQ(formula(3)->boolean_or_error, ceDiv0);
    // No cached result: a number formula with result 0, not an error.
    ASSERT_EQ(s.CellType(4, 0), ctNumberFormula);
    EXPECT_EQ(formula(4)->number, 0);
    EXPECT_EQ(ReadError({{"xl/workbook.xml", WorkbookPart({"F"})},
                         {"xl/worksheets/sheet1.xml",
                          SheetPart("<row r=\"1\"><c r=\"A1\" t=\"s\"><f>A2</f><v>0</v></c></row>")}}),
              "Unknown Excel XML formula type");
}

TEST_F(XlsxRead, FontsFillsBordersAndCellFormats) {
    const std::string fonts =
        "<font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
        "<font><b/><i val=\"true\"/><u/><sz val=\"14\"/><color rgb=\"FFFF0000\"/><name val=\"Arial\"/>"
        "<family val=\"2\"/><charset val=\"204\"/><scheme val=\"Minor\"/></font>"
        "<font><b val=\"0\"/><u val=\"doubleAccounting\"/><vertAlign val=\"superscript\"/><strike/>"
        "<color theme=\"1\"/><name val=\"Times New Roman\"/></font>"
        "<font><b val=\"1\"/><u val=\"double\"/><color indexed=\"12\"/><name val=\"Courier\"/></font>";
    const std::string extra =
        "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
        "borderId=\"0\"/></cellStyleXfs>"
        "<cellStyles><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
        "<dxfs count=\"1\"><dxf><font><b/></font></dxf></dxfs><tableStyles count=\"0\"/>";
    std::string styles = Xml(
        std::string("<styleSheet ") + kMain +
        "><numFmts count=\"1\"><numFmt numFmtId=\"164\" "
        "formatCode=\"0.00&quot;р.&quot;\"/></numFmts><fonts>" +
        fonts +
        "</fonts><fills><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
        "patternType=\"gray125\"/></fill>"
        "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFFF00\"/><bgColor "
        "indexed=\"64\"/></patternFill></fill>"
        "<fill><gradientFill degree=\"90\"><stop position=\"0\"><color rgb=\"FF0000FF\"/></stop>"
        "<stop position=\"1\"><color theme=\"0\"/></stop></gradientFill></fill></fills>"
        "<borders><border/><border diagonalUp=\"1\"><left style=\"thin\"><color rgb=\"FF000000\"/></left>"
        "<right style=\"double\"/><top/><bottom style=\"slantedDashDot\"><color indexed=\"10\"/></bottom>"
        "<diagonal style=\"hair\"/></border></borders>" +
        extra.substr(0, extra.find("<cellStyles>")) +
        "<cellXfs><xf/><xf fontId=\"1\" fillId=\"2\" borderId=\"1\" numFmtId=\"164\" applyFont=\"1\" "
        "applyFill=\"1\">"
        "<alignment horizontal=\"center\" vertical=\"top\" wrapText=\"1\" textRotation=\"45\" indent=\"2\"/>"
        "<protection locked=\"0\" hidden=\"1\"/></xf><xf fontId=\"2\" fillId=\"3\"/><xf "
        "fontId=\"3\"/></cellXfs>" +
        extra.substr(extra.find("<cellStyles>")) + "</styleSheet>");
    Read({{"xl/workbook.xml", WorkbookPart({"S"})}, {"xl/styles.xml", styles}});

    TXFonts& f = book_.Fonts();
    ASSERT_EQ(f.Count(), 4);
    EXPECT_EQ(WideToUtf8(f.Items(1).name), "Arial");
    EXPECT_EQ(f.Items(1).height, 280u);
    EXPECT_TRUE(f.Items(1).style.Contains(xfsBold));
    EXPECT_TRUE(f.Items(1).style.Contains(xfsItalic));
    EXPECT_EQ(f.Items(1).underline, xulSingle);
    EXPECT_EQ(f.Items(1).charset, 204);
    EXPECT_EQ(f.Items(1).color, xcRed);
    EXPECT_EQ(book_.OpenXml().Fonts()[1].scheme, 1);
    EXPECT_EQ(book_.OpenXml().Fonts()[1].color, (TXc12Color{ckRgb, 0xFFFF0000, 0}));
    EXPECT_FALSE(f.Items(2).style.Contains(xfsBold));
    EXPECT_TRUE(f.Items(2).style.Contains(xfsStrikeOut));
    EXPECT_EQ(f.Items(2).underline, xulDoubleAccount);
    EXPECT_EQ(f.Items(2).sub_superscript, xssSuperscript);
    EXPECT_EQ(f.Items(2).height, 160u);    // no sz: 8 points
    EXPECT_EQ(f.Items(2).color, xcBlack);  // theme 1, the dark text colour
    EXPECT_TRUE(f.Items(3).style.Contains(xfsBold));
    EXPECT_EQ(f.Items(3).underline, xulDouble);
    EXPECT_EQ(f.Items(3).color, xcBlue);
    EXPECT_EQ(f.Items(0).underline, xulNone);

    EXPECT_EQ(WideToUtf8(book_.Formats().NumberFormats().ById(164).Text()), "0.00\"р.\"");
    TOpenXmlBook& ox = book_.OpenXml();
    ASSERT_EQ(ox.Fills().size(), 4u);
    EXPECT_EQ(ox.Fills()[1].pattern, 17);
    EXPECT_EQ(ox.Fills()[2].pattern, 1);
    EXPECT_EQ(ox.Fills()[2].foreground, (TXc12Color{ckRgb, 0xFFFFFF00, 0}));
    EXPECT_EQ(ox.Fills()[2].background, (TXc12Color{ckIndexed, 64, 0}));
    EXPECT_EQ(ox.Fills()[3].kind, fkGradient);
    EXPECT_EQ(ox.Fills()[3].degree, 90);
    ASSERT_EQ(ox.Fills()[3].stops.size(), 2u);
    EXPECT_EQ(ox.Fills()[3].stops[1].color, (TXc12Color{ckTheme, 0, 0}));
    ASSERT_EQ(ox.Borders().size(), 2u);
    EXPECT_EQ(ox.Borders()[1].options, kBorderDiagonalUp);
    EXPECT_EQ(ox.Borders()[1].lines[blLeft].style, 1);
    EXPECT_EQ(ox.Borders()[1].lines[blRight].style, 6);
    EXPECT_EQ(ox.Borders()[1].lines[blBottom].style, 13);
    EXPECT_EQ(ox.Borders()[1].lines[blBottom].color, (TXc12Color{ckIndexed, 10, 0}));

    // cellXfs entry k is master format 21 + k; its BIFF attributes follow the xf.
    ASSERT_EQ(book_.Formats().Count(), 25);
    const TCellFormat& x = book_.Formats().Items(22);
    EXPECT_EQ(x.FontIndex(), 1);
    EXPECT_EQ(x.NumberFormatIndex(), 164);
    EXPECT_EQ(x.HorizAlignment(), haCenter);
    EXPECT_EQ(x.VertAlignment(), vaTop);
    EXPECT_TRUE(x.TextFlags().Contains(tfWrapText));
    EXPECT_EQ(x.RotationByte(), 45);
    EXPECT_EQ(x.Indent(), 2);
    EXPECT_EQ(x.Protection(), TCellProtections{cpHidden});
    EXPECT_EQ(x.FillPattern(), 1);
    EXPECT_EQ(x.FillColor(), xcYellow);
    EXPECT_EQ(x.BorderStyle(bsLeft), cbsThin);
    EXPECT_EQ(x.BorderStyle(bsRight), cbsDouble);
    EXPECT_EQ(x.BorderStyle(bsBottom), cbsSlantedDashDot);
    EXPECT_EQ(x.BorderColor(bsBottom), xcRed);
    EXPECT_EQ(x.DiagonalStyle(), cbsHair);
    EXPECT_EQ(x.DiagonalLines(), TDiagonalLines{dlUp});
    const TCellFormatEx12& ex = ox.MasterFormats().at(x.Id());
    EXPECT_EQ(ex.fill, 2);
    EXPECT_EQ(ex.border, 1);
    EXPECT_EQ(ex.apply, kApplyFont | kApplyFill);
    EXPECT_EQ(ex.protection, 2);
    EXPECT_EQ(ox.MasterFormats().at(book_.Formats().Items(23).Id()).fill, 3);

    ASSERT_EQ(book_.StyleFormats().Count(), 1);
    ASSERT_EQ(ox.CellStyles().size(), 1u);
    EXPECT_EQ(WideToUtf8(ox.CellStyles()[0].name), "Normal");
    EXPECT_EQ(ox.CellStyles()[0].builtin_id, 0);
    EXPECT_THAT(ox.Dxfs(), HasSubstr("<dxf><font><b/>"));
    EXPECT_THAT(ox.TableStyles(), HasSubstr("<tableStyles count=\"0\" />"));
}

TEST_F(XlsxRead, RichTextRunsFindOrAddTheirFonts) {
    Read({{"xl/workbook.xml", WorkbookPart({"R"})},
          {"xl/styles.xml", Styles("<font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
                                   "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font>",
                                   "<xf/>")},
          {"xl/sharedStrings.xml",
           SharedStrings("<si><r><t xml:space=\"preserve\">plain </t></r><r><rPr><b/><sz val=\"11\"/><rFont "
                         "val=\"calibri\"/></rPr>"
                         "<t>bold</t></r><r><rPr><i/><sz val=\"20\"/><rFont val=\"Arial\"/></rPr><t "
                         "xml:space=\"preserve\"> big</t></r>"
                         "<rPh sb=\"0\" eb=\"1\"><t>ignored</t></rPh></si>")},
          {"xl/worksheets/sheet1.xml", SheetPart("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")}});
    const TCell* cell = book_.Sheet(0).Cells().Find(0, 0);
    ASSERT_NE(cell, nullptr);
    const TSSTEntry* e = cell->value.entry;
    EXPECT_EQ(WideToUtf8(TSST2::Text(e)), "plain bold big");
    ASSERT_EQ(e->RunCount(), 3);
    EXPECT_EQ(e->Run(0).position, 0);
    EXPECT_EQ(e->Run(0).font, 0);
    EXPECT_EQ(e->Run(1).position, 6);
    EXPECT_EQ(e->Run(1).font, 1);  // equal to the styles part's bold font (names ignore case)
    EXPECT_EQ(e->Run(2).position, 10);
    ASSERT_EQ(book_.Fonts().Count(), 3);  // the 20-point Arial joined the list
    EXPECT_EQ(e->Run(2).font, 2);
    EXPECT_EQ(book_.Fonts().Items(2).height, 400u);
}

TEST_F(XlsxRead, ColumnsRowsMergesNamesAndSavedElements) {
    const std::string workbook =
        Xml(std::string("<workbook ") + kMain + " " + kRelNs +
            "><fileVersion appName=\"xl\"/><workbookPr date1904=\"false\"/><bookViews><workbookView "
            "xWindow=\"0\"/>"
            "</bookViews><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets><definedNames>"
            "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\" hidden=\"1\">A!$A$1:$B$2</definedName>"
            "<definedName name=\"Rate\" comment=\"x &amp; y\">0.2</definedName></definedNames>"
            "<calcPr calcId=\"191029\"/><unknownElement/></workbook>");
    const std::string sheet = SheetPart(
        "<row r=\"2\" ht=\"30\" customHeight=\"1\" hidden=\"1\"><c r=\"A2\"><v>1</v></c></row>"
        "<row r=\"5\" outlineLevel=\"2\" collapsed=\"1\"/>",
        "<sheetPr><tabColor rgb=\"FF00FF00\"/></sheetPr><dimension ref=\"A2:C4\"/>"
        "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\" x14ac:custom=\"7\" "
        "xmlns:x14ac=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac\"><selection "
        "activeCell=\"B2\" "
        "sqref=\"B2\"/></sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\" x15:dy=\"0.25\"/>"
        "<cols><col min=\"2\" max=\"3\" width=\"20.5\" customWidth=\"1\" bestFit=\"1\"/>"
        "<col min=\"5\" max=\"5\" hidden=\"1\"/></cols>",
        "<mergeCells count=\"2\"><mergeCell ref=\"A1:B2\"/><mergeCell ref=\"D4\"/></mergeCells>"
        "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>"
        "<headerFooter><oddHeader>&amp;CPage &amp;P</oddHeader></headerFooter>");
    // The sheetFormatPr prefix x15 is bound on the root element, which the writer replaces.
    std::string sheet_with_x15 = sheet;
    sheet_with_x15.replace(sheet_with_x15.find("<worksheet ") + 11, 0,
                           "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\" ");
    Read({{"xl/workbook.xml", workbook}, {"xl/worksheets/sheet1.xml", sheet_with_x15}});

    TOpenXmlBook& ox = book_.OpenXml();
    EXPECT_EQ(ox.CalcId(), 191029);
    ASSERT_EQ(ox.DefinedNames().size(), 2u);
    EXPECT_EQ(WideToUtf8(ox.DefinedNames()[0].name), "_xlnm.Print_Area");
    EXPECT_EQ(WideToUtf8(ox.DefinedNames()[0].definition), "A!$A$1:$B$2");
    EXPECT_EQ(ox.DefinedNames()[0].options, kNameHidden);
    EXPECT_EQ(WideToUtf8(ox.DefinedNames()[1].comment), "x & y");

    std::vector<int> workbook_tags;
    for (const TXLSSavedTag& t : ox.SavedTags()) workbook_tags.push_back(t.element);
    EXPECT_EQ(workbook_tags,
              (std::vector<int>{XmlElementNumber("fileVersion"), XmlElementNumber("workbookPr"),
                                XmlElementNumber("bookViews"), kXmlSheets, kXmlDefinedNames}));
    // Unknown attributes stay in saved XML (date1904 is not in the attribute table).
    EXPECT_THAT(ox.SavedTags()[1].xml, HasSubstr("date1904=\"false\""));

    TSheet& s = book_.Sheet(0);
    const TOpenXmlSheet& sd = ox.Sheet(0);
    std::vector<int> sheet_tags;
    for (const TXLSSavedTag& t : sd.saved_tags) sheet_tags.push_back(t.element);
    EXPECT_EQ(sheet_tags,
              (std::vector<int>{XmlElementNumber("sheetPr"), kXmlDimension, XmlElementNumber("sheetViews"),
                                XmlElementNumber("sheetFormatPr"), kXmlCols, kXmlSheetData, kXmlMergeCells,
                                XmlElementNumber("pageMargins"), XmlElementNumber("headerFooter")}));
    const std::string& views = sd.saved_tags[2].xml;
    EXPECT_THAT(views, HasSubstr("x14ac:custom=\"7\""));
    EXPECT_THAT(views, HasSubstr("<selection activeCell=\"B2\" sqref=\"B2\" />"));
    // A prefix declared above the saved element is declared on it.
    EXPECT_THAT(sd.saved_tags[3].xml,
                HasSubstr("xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\""));
    EXPECT_THAT(sd.saved_tags[8].xml, HasSubstr("<oddHeader>&amp;CPage &amp;P</oddHeader>"));

    EXPECT_EQ(s.FirstCol(), 0u);
    EXPECT_EQ(s.FirstRow(), 1u);
    EXPECT_EQ(s.LastCol(), 2u);
    EXPECT_EQ(s.LastRow(), 3u);
    ASSERT_NE(s.Columns().Items(1), nullptr);
    EXPECT_EQ(s.Columns().Items(1)->Width(), 5248);
    EXPECT_EQ(s.Columns().Items(2)->Width(), 5248);
    EXPECT_TRUE(s.Columns().Items(2)->UserSet());
    EXPECT_EQ(s.Columns().Items(3), nullptr);
    EXPECT_TRUE(s.Columns().Items(4)->Hidden());
    EXPECT_TRUE(sd.columns.at(1).best_fit);
    TXLSRow* row2 = s.Rows().Find(1);
    ASSERT_NE(row2, nullptr);
    EXPECT_EQ(row2->Height(), 600);
    EXPECT_TRUE(row2->Hidden());
    TXLSRow* row5 = s.Rows().Find(4);
    ASSERT_NE(row5, nullptr);
    EXPECT_EQ(row5->OutlineLevel(), 2);
    EXPECT_TRUE(row5->Collapsed());
    ASSERT_EQ(s.MergedCells().Count(), 2);
    EXPECT_EQ(s.MergedCells().Items(0).col2, 1);
    EXPECT_EQ(s.MergedCells().Items(0).row2, 1);
    EXPECT_EQ(s.MergedCells().Items(1).col1, 3);
    EXPECT_EQ(s.MergedCells().Items(1).row1, 3);
}

// An empty workbook in place of a file that is none would show nothing and report nothing.
TEST_F(XlsxRead, NoPackageOrNoWorkbookPartIsAnError) {
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        {"this is not a zip archive at all", "not a ZIP archive"},
        // An encrypted workbook is a compound document holding the encrypted package.
        {std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'), "encrypted"},
        {BuildArchive({{"docProps/app.xml", "<Properties/>"}}), "no workbook part"},
    };
    for (const auto& c : cases) {
        try {
            ReadBytes(c.bytes);
            ADD_FAILURE() << c.message << ": read without an error";
        } catch (const std::exception& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
    }
}

// An external reference names its relationship by Id, whatever type that relationship has; the
// write renumbers every relationship, and the reference must still find its own afterwards.
TEST_F(XlsxRead, AnExternalReferenceFollowsItsRelationshipThroughAWriteWhateverItsType) {
    const std::string rels = Xml(
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId7" Type="http://example.org/relationships/link" Target="links/l1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLink" Target="externalLinks/externalLink1.xml"/>)"
        "</Relationships>");
    const std::string workbook = Xml(
        std::string("<workbook ") + kMain + " " + kRelNs +
        R"(><sheets><sheet name="A" sheetId="1" r:id="rId2"/></sheets><externalReferences>)"
        R"(<externalReference r:id="rId7"/><externalReference r:id="rId3"/></externalReferences></workbook>)");
    const std::string link = Xml(std::string("<externalLink ") + kMain + "/>");
    Read({{"xl/workbook.xml", workbook},
          {"xl/_rels/workbook.xml.rels", rels},
          {"xl/worksheets/sheet1.xml", SheetPart("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")},
          {"xl/links/l1.xml", link},
          {"xl/externalLinks/externalLink1.xml", link}});
    const std::string copy = dir_.File("copy.xlsx");
    book_.SetFilename(Utf8ToWide(copy));
    book_.Write();

    TTabulon4 again;
    again.SetFilename(Utf8ToWide(copy));
    again.Read();
    std::vector<std::string> targets;
    for (const TXMLRelation& reference : again.OpenXml().ExternalLinks().All()) {
        const TXMLRelation* relation = again.OpenXml().Relations().Find(reference.id);
        ASSERT_NE(relation, nullptr) << reference.id;
        targets.push_back(relation->target);
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"links/l1.xml", "externalLinks/externalLink1.xml"}));
    EXPECT_EQ(again.Sheet(0).AsFloat(0, 0), 1);
}

// Relationship Ids are any XML name (packaging libraries make ones like "R7f3a"). The write
// renumbers the workbook relationships it keeps as "rId" and an integer and refuses any other Id;
// a workbook holding one is refused when it is read, not at every write of the log after it. The
// relationships of the parts every write makes anew may have any Id.
TEST_F(XlsxRead, AKeptRelationshipWhoseIdTheWriteCannotRenumberIsRefusedAtTheRead) {
    const struct {
        const char* sheet_id;
        const char* theme_id;
        bool reads;
    } cases[] = {
        {"rId1", "rId2", true},
        {"Rsheet", "rId2", true},
        {"rId1", "R7f3a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sheet_id) + " " + c.theme_id);
        const std::string rels = Xml(
            std::string(
                R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)") +
            R"(<Relationship Id=")" + c.sheet_id +
            R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
            R"(<Relationship Id=")" +
            c.theme_id +
            R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/>)"
            "</Relationships>");
        const std::string workbook =
            Xml(std::string("<workbook ") + kMain + " " + kRelNs +
                R"(><sheets><sheet name="A" sheetId="1" r:id=")" + c.sheet_id + R"("/></sheets></workbook>)");
        const std::vector<Part> parts = {
            {"xl/workbook.xml", workbook},
            {"xl/_rels/workbook.xml.rels", rels},
            {"xl/worksheets/sheet1.xml", SheetPart("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")},
            {"xl/theme/theme1.xml",
             Xml("<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"/>")}};
        if (!c.reads) {
            EXPECT_THAT(ReadError(parts), HasSubstr("Unknown Id in workbook relationship"));
            continue;
        }
        Read(parts);
        ASSERT_NO_THROW(book_.Write());
        TTabulon4 again;
        again.SetFilename(book_.Filename());
        again.Read();
        EXPECT_EQ(again.Sheet(0).AsFloat(0, 0), 1);
    }
}

TEST_F(XlsxRead, TheSourcePackageIsKeptForTheNextWrite) {
    const std::string package = BuildArchive({{"xl/workbook.xml", WorkbookPart({"K"})}});
    ReadBytes(package);
    ASSERT_NE(book_.TempStream(), nullptr);
    book_.TempStream()->SetPosition(0);
    EXPECT_EQ(book_.TempStream()->ReadRest(), package);
}

// A package whose worksheet part is damaged after its shared strings were read: the error path
// lets go of the strings no cell took, and must not touch them after.
TEST_F(XlsxRead, ADamagedPartAfterTheSharedStringsEndsCleanly) {
    const std::string package =
        linograf::test::ReadFileBytes(std::string(LINOGRAF_OOXML_FIXTURES) + "/xlsx-use-after-free.xlsx");
    try {
        ReadBytes(package);
        ADD_FAILURE() << "the damaged package was read";
    } catch (const std::exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("ZLib decompress error"));
    }
    // Whatever the read left holds only strings its cells use, and goes on as a workbook.
    size_t cells_with_text = 0;
    for (int i = 0; i < book_.Sheets().Count(); ++i)
        for (uint32_t row = 0; row < 100; ++row)
            for (uint32_t col = 0; col < 30; ++col)
                if (book_.Sheet(i).CellType(col, row) == ctString) ++cells_with_text;
    EXPECT_LE(book_.SST().Count(), cells_with_text);
    book_.Clear();
    EXPECT_EQ(book_.SST().Count(), 0u);
}

TEST_F(XlsxRead, HostileAndBrokenPackagesEndInClearErrors) {
    const std::string laughs = Xml(
        "<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
        "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
        "<sst "
        "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>&lol3;</t></si></sst>");
    const std::string external = Xml(
        "<!DOCTYPE sst [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>&x;</t></si></sst>");
    std::string deep = Xml(std::string("<worksheet ") + kMain + ">");
    for (int i = 0; i < 10000; ++i) deep += "<a>";
    const std::string good_sheet = SheetPart("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    const std::string wb = WorkbookPart({"A"});
    auto sheet = [&](const std::string& rows) {
        return std::vector<Part>{{"xl/workbook.xml", wb}, {"xl/worksheets/sheet1.xml", SheetPart(rows)}};
    };
    struct Case {
        const char* what;
        std::vector<Part> parts;
        const char* message;
    };
    const Case cases[] = {
        {"billion laughs",
         {{"xl/workbook.xml", wb}, {"xl/sharedStrings.xml", laughs}},
         "document type declarations"},
        {"external entity",
         {{"xl/workbook.xml", wb}, {"xl/sharedStrings.xml", external}},
         "document type declarations"},
        {"nesting", {{"xl/workbook.xml", wb}, {"xl/worksheets/sheet1.xml", deep}}, "nested too deeply"},
        {"truncated part",
         {{"xl/workbook.xml", wb}, {"xl/worksheets/sheet1.xml", good_sheet.substr(0, 150)}},
         "XML error"},
        {"end tags", {{"xl/workbook.xml", wb + "</workbook>"}}, "XML error"},
        {"column beyond XFD", sheet("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"),
         "Invalid cell reference: XFE1"},
        {"row beyond the last", sheet("<row r=\"1\"><c r=\"A1048577\"><v>1</v></c></row>"),
         "Invalid cell reference"},
        {"no row digits", sheet("<row r=\"1\"><c r=\"AB\"><v>1</v></c></row>"), "Invalid cell reference: AB"},
        {"row zero", sheet("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>"), "Invalid cell reference: A0"},
        {"shared string index", sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>5</v></c></row>"),
         "No shared string 5"},
        {"negative string index", sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>-1</v></c></row>"),
         "Invalid shared string index"},
        {"cell type", sheet("<row r=\"1\"><c r=\"A1\" t=\"q\"><v>1</v></c></row>"),
         "Unknown Excel XML cell type"},
        {"merge without ref", sheet("</sheetData><mergeCells><mergeCell/></mergeCells><sheetData>"),
         "Required value missing: ref"},
        {"duplicate r:id",
         {{"xl/workbook.xml",
           Xml(std::string("<workbook ") + kMain +
               " xmlns:a=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
               " xmlns:b=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
               "<sheets><sheet name=\"A\" a:id=\"rId1\" b:id=\"rId2\"/></sheets></workbook>")}},
         "Duplicate tag value: b:id; Doc=xl/workbook.xml; Tag=sheet"},
        {"sheet without name",
         {{"xl/workbook.xml",
           Xml(std::string("<workbook ") + kMain + "><sheets><sheet sheetId=\"1\"/></sheets></workbook>")}},
         "Required value missing: name"},
        {"unknown target mode",
         {{"xl/_rels/workbook.xml.rels",
           Xml("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
               "<Relationship Id=\"rId1\" Type=\"http://x/y/theme\" Target=\"t.xml\" "
               "TargetMode=\"Sideways\"/>"
               "</Relationships>")}},
         "Unknown Relation TargetMode"},
        {"external reference without relationship",
         {{"xl/workbook.xml",
           Xml(std::string("<workbook ") + kMain + " " + kRelNs +
               "><externalReferences><externalReference r:id=\"rId7\"/></externalReferences></workbook>")}},
         "Required relationship missing: rId7"},
        {"font index",
         {{"xl/styles.xml", Styles("<font/>", "<xf fontId=\"3\"/>")}},
         "Style index out of range: fontId 3"},
        {"fill kind",
         {{"xl/styles.xml",
           Xml(std::string("<styleSheet ") + kMain + "><fills><fill/></fills></styleSheet>")}},
         "Unknown fill type"},
        {"child of fonts",
         {{"xl/styles.xml",
           Xml(std::string("<styleSheet ") + kMain + "><fonts><fill/></fonts></styleSheet>")}},
         "Unexpected tag 57, fill"},
        {"run without t",
         {{"xl/sharedStrings.xml", SharedStrings("<si><r><rPr><rFont val=\"A\"/></rPr></r></si>")}},
         "Excepcted tag missing: \"T\""},
        {"run font without name",
         {{"xl/sharedStrings.xml", SharedStrings("<si><r><rPr><b/></rPr><t>x</t></r></si>")}},
         "Tag value rFont:val missing"},
    };
    for (const Case& c : cases) EXPECT_THAT(ReadError(c.parts), HasSubstr(c.message)) << c.what;
}

}  // namespace
}  // namespace linograf::workbook::test
