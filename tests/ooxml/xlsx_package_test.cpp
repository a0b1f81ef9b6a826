// The package as the writer lays it out: parts and their order, the texts that pin the format,
// relationships, saved elements and the copy of a source package.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "tests/ooxml/xlsx_test_support.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/cell.h"
#include "workbook/ooxml/xls_write_2007_xml.h"
#include "workbook/ooxml/xls_zip_archive.h"

namespace linograf::workbook::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> Names(const std::string& package) {
    std::vector<std::string> names;
    for (const PackagePart& p : ReadParts(package)) names.push_back(p.name);
    return names;
}

// The text between the end of the root start tag and the root end tag.
std::string Body(const std::string& part, const std::string& root) {
    const size_t open = part.find("<" + root);
    const size_t start = part.find('>', open) + 1;
    const size_t end = part.rfind("</" + root + ">");
    if (open == std::string::npos || end == std::string::npos) return "<no " + root + ">";
    return part.substr(start, end - start);
}

// The element from its start tag to its end tag, both included.
std::string Element(const std::string& part, const std::string& name) {
    const size_t open = part.find("<" + name);
    const size_t end = part.find("</" + name + ">", open);
    if (open == std::string::npos || end == std::string::npos) return "<no " + name + ">";
    return part.substr(open, end + name.size() + 3 - open);
}

TEST(XlsxPackage, NewOneSheetWorkbook) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.Sheet(0).PrintSettings().SetPaperSize(psA4);  // a new sheet's paper follows the locale
    const std::string package = WriteXlsx(book);
    EXPECT_THAT(Names(package),
                ElementsAre("xl/", "xl/_rels/", "xl/_rels/workbook.xml.rels", "xl/workbook.xml", "xl/theme/",
                            "xl/theme/theme1.xml", "xl/styles.xml", "xl/sharedStrings.xml", "xl/worksheets/",
                            "xl/worksheets/sheet1.xml", "xl/worksheets/_rels/",
                            "xl/worksheets/_rels/sheet1.xml.rels", "docProps/", "docProps/core.xml",
                            "docProps/app.xml", "_rels/", "_rels/.rels", "[Content_Types].xml"));
    EXPECT_EQ(Body(PartText(package, "xl/worksheets/sheet1.xml"), "worksheet"),
              R"(<sheetData></sheetData><pageSetup paperSize="9" orientation="portrait" />)");
    EXPECT_EQ(
        Body(PartText(package, "xl/workbook.xml"), "workbook"),
        R"(<fileVersion appName="Tabulon" lastEdited="4" lowestEdited="4" rupBuild="4.00.12" />)"
        R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1" /></sheets><calcPr calcId="0" ></calcPr>)");
    const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    EXPECT_EQ(Body(PartText(package, "xl/_rels/workbook.xml.rels"), "Relationships"),
              R"(<Relationship Id="rId1" Type=")" + rels +
                  R"(worksheet" Target="worksheets/sheet1.xml" ></Relationship>)" +
                  R"(<Relationship Id="rId2" Type=")" + rels +
                  R"(theme" Target="theme/theme1.xml" ></Relationship>)" +
                  R"(<Relationship Id="rId3" Type=")" + rels +
                  R"(styles" Target="styles.xml" ></Relationship>)" + R"(<Relationship Id="rId4" Type=")" +
                  rels + R"(sharedStrings" Target="sharedStrings.xml" ></Relationship>)");
    EXPECT_EQ(Body(PartText(package, "xl/worksheets/_rels/sheet1.xml.rels"), "Relationships"), "");
    EXPECT_EQ(
        PartText(package, "_rels/.rels"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId3" Type=")" +
            rels +
            R"(extended-properties" Target="docProps/app.xml" />)"
            R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/)"
            R"(metadata/core-properties" Target="docProps/core.xml" />)"
            R"(<Relationship Id="rId1" Type=")" +
            rels +
            R"(officeDocument" Target="xl/workbook.xml" />)"
            R"(</Relationships>)");
    const std::string types = PartText(package, "[Content_Types].xml");
    EXPECT_THAT(
        types, HasSubstr(R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType=")"
                         R"(application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml" />)"));
    EXPECT_THAT(PartText(package, "xl/theme/theme1.xml"), HasSubstr(R"(name="Office Theme")"));
    // A new workbook's styles: the default fill pair and border come first (cells without a fill
    // or border refer to entry 0), then the one xf of master format 21.
    const std::string styles = PartText(package, "xl/styles.xml");
    EXPECT_THAT(styles, HasSubstr(R"(<fills count="2"><fill><patternFill patternType="none" /></fill>)"
                                  R"(<fill><patternFill patternType="gray125" /></fill></fills>)"));
    EXPECT_THAT(styles, HasSubstr(R"(<borders count="1"><border><left  /><right  /><top  /><bottom  />)"
                                  R"(<diagonal  /></border></borders>)"));
    EXPECT_THAT(styles, HasSubstr(R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" )"
                                  R"(xfId="0" /></cellXfs>)"));
    EXPECT_THAT(styles, HasSubstr(R"(<fonts count="5"><font><name val="Arial" /><family val="2" />)"
                                  R"(<color indexed="8" /><sz val="10.00" /></font>)"));
    const std::string core = PartText(package, "docProps/core.xml");
    EXPECT_THAT(core, testing::ContainsRegex(
                          R"(<dcterms:created xsi:type="dcterms:W3CDTF">)"
                          R"(20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z<)"));
}

TEST(XlsxPackage, SheetsAreWrittenLastToFirst) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.Sheets().Add().SetName(u"Второй");
    book.Sheets().Add().SetName(u"Third & <last>");
    const std::string package = WriteXlsx(book);
    std::vector<std::string> sheets;
    for (const std::string& n : Names(package))
        if (n.rfind("xl/worksheets/", 0) == 0 && n.back() != '/') sheets.push_back(n);
    EXPECT_THAT(sheets, ElementsAre("xl/worksheets/sheet3.xml", "xl/worksheets/_rels/sheet3.xml.rels",
                                    "xl/worksheets/sheet2.xml", "xl/worksheets/_rels/sheet2.xml.rels",
                                    "xl/worksheets/sheet1.xml", "xl/worksheets/_rels/sheet1.xml.rels"));
    EXPECT_THAT(
        PartText(package, "xl/workbook.xml"),
        HasSubstr(
            R"(<sheet name="Sheet1" sheetId="1" r:id="rId1" />)"
            "<sheet name=\"\xD0\x92\xD1\x82\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB9\" sheetId=\"2\" r:id=\"rId2\" />"
            R"(<sheet name="Third &amp; &lt;last&gt;" sheetId="3" r:id="rId3" />)"));
    EXPECT_THAT(
        PartText(package, "docProps/app.xml"),
        HasSubstr(
            R"(<vt:i4>3</vt:i4>)"
            R"(</vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size="3" baseType="lpstr">)"
            "<vt:lpstr>Sheet1</vt:lpstr>"));
    // rId1..3 sheets, then theme, styles, shared strings.
    const std::string rels = PartText(package, "xl/_rels/workbook.xml.rels");
    EXPECT_THAT(
        rels,
        HasSubstr(
            R"(Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme")"));
    EXPECT_THAT(
        rels,
        HasSubstr(
            R"(Id="rId6" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings")"));
}

TEST(XlsxPackage, CellsAndSharedStrings) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    s.SetAsWideString(0, 0, u"a < b & c");
    s.SetAsWideString(1, 0, u" leading blank");
    s.SetAsWideString(2, 0, u"a < b & c");
    s.SetAsFloat(26, 1, 0.1);
    s.SetAsFloat(701, 1, 1e20);
    s.SetAsFloat(702, 1, 0.000001);
    s.SetAsInteger(16383, 1, -7);
    s.SetAsBoolean(0, 3, true);
    s.SetError(1, 3, kDefaultCellFormat, ceDiv0);
    s.SetBlank(2, 3, kDefaultCellFormat);
    const std::string package = WriteXlsx(book);
    const std::string sst = PartText(package, "xl/sharedStrings.xml");
    EXPECT_THAT(sst, HasSubstr(R"(count="3" uniqueCount="2">)"));
    EXPECT_THAT(sst, HasSubstr("<si><t>a &lt; b &amp; c</t></si>"));
    // Blanks at the ends of element text are kept only under xml:space="preserve" by consumers
    // that strip layout blanks.
    EXPECT_THAT(sst, HasSubstr(R"(<si><t xml:space="preserve"> leading blank</t></si>)"));
    const std::string a1 = sst.find("<t>a &lt;") < sst.find("> leading") ? "0" : "1";
    const std::string b1 = a1 == "0" ? "1" : "0";
    EXPECT_EQ(
        Element(PartText(package, "xl/worksheets/sheet1.xml"), "sheetData"),
        R"(<sheetData><row r="1"><c r="A1" t="s" ><v>)" + a1 + R"(</v></c><c r="B1" t="s" ><v>)" + b1 +
            R"(</v></c><c r="C1" t="s" ><v>)" + a1 + R"(</v></c></row>)" +
            R"(<row r="2"><c r="AA2" ><v>0.1</v></c><c r="ZZ2" ><v>1E20</v></c><c r="AAA2" ><v>1E-6</v></c>)"
            R"(<c r="XFD2" ><v>-7</v></c></row>)"
            R"(<row r="4"><c r="A4" t="b" ><v>1</v></c><c r="B4" t="e" ><v>#DIV/0!</v></c>)"
            R"(<c r="C4" ></c></row></sheetData>)");
}

TEST(XlsxPackage, FormatIndexGivesTheStyleAttribute) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    s.SetFloat(0, 0, 21, 1);
    s.SetFloat(1, 0, 22 < book.Formats().Count() ? 22 : 21, 2);
    s.SetFloat(2, 0, kDefaultCellFormat, 3);
    // A format of its own at position 22.
    TCell* cell = s.Cells().Find(1, 0);
    cell->xf = book.Formats().Change(
        cell->xf, [](const TCellFormat& f) { return f.HorizAlignment() == haCenter; },
        [](TCellFormat& f) { f.SetHorizAlignment(haCenter); });
    ASSERT_EQ(s.CellFormatIndex(*cell), 22);
    const std::string package = WriteXlsx(book);
    const std::string sheet = PartText(package, "xl/worksheets/sheet1.xml");
    EXPECT_THAT(sheet,
                HasSubstr(R"(<c r="A1" ><v>1</v></c><c r="B1" s="1" ><v>2</v></c><c r="C1" ><v>3</v></c>)"));
    // The centred format carries its alignment; format 21, aligned as the default, stays an
    // empty xf.
    const std::string styles = PartText(package, "xl/styles.xml");
    EXPECT_THAT(styles, HasSubstr(R"( xfId="0" applyAlignment="1" ><alignment horizontal="center" /></xf>)"
                                  R"(</cellXfs>)"));
    EXPECT_THAT(styles, testing::ContainsRegex(R"(<cellXfs count="2"><xf [^>]* xfId="0" /><xf )"));
}

TEST(XlsxPackage, BadWorkbookRelationshipIdStopsTheWriteAndKeepsTheFile) {
    linograf::test::TempDir dir;
    const std::string path = dir.File("book.xlsx");
    linograf::test::WriteFileBytes(path, "old content");
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.SetFilename(Utf8ToWide(path));
    book.OpenXml().Relations().Add(
        {"r5", 5, rpOfficeDocument, "customXml", "../customXml/item1.xml", tmNone});
    try {
        book.Write();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unknown Id in workbook relationship");
    }
    EXPECT_EQ(linograf::test::ReadFileBytes(path), "old content");
}

// The live log writes the same workbook again after every line.
TEST(XlsxPackage, WritingTwiceGivesTheSameParts) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.Sheets().Add();
    book.Sheet(0).SetAsWideString(0, 0, u"one");
    book.OpenXml().Relations().Add(
        {"rId5", 5, rpOfficeDocument, "customXml", "../customXml/item1.xml", tmNone});
    const std::vector<PackagePart> first = ReadParts(WriteXlsx(book));
    const std::vector<PackagePart> second = ReadParts(WriteXlsx(book));
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].name, second[i].name);
        if (first[i].name != "docProps/core.xml") {
            EXPECT_EQ(first[i].text, second[i].text) << first[i].name;
        }
    }
    EXPECT_EQ(book.OpenXml().Relations().Count(), 6);
}

TEST(XlsxPackage, KeptRelationshipsAreOrderedAndSheetsFollowTheirIds) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.Sheets().Add();
    TOpenXmlBook& ox = book.OpenXml();
    ox.Relations().Add(
        {"rId9", 9, rpOfficeDocument, "externalLink", "externalLinks/externalLink1.xml", tmNone});
    ox.Relations().Add({"rId7", 7, rpOfficeDocument, "customXml", "../customXml/item1.xml", tmNone});
    ox.Relations().Add({"rId8", 8, rpOfficeDocument, "theme", "theme/theme1.xml", tmNone});
    ox.ExternalLinks().Add(
        {"rId9", 9, rpOfficeDocument, "externalLink", "externalLinks/externalLink1.xml", tmNone});
    ox.Relations().SetSorted(true);
    const std::string package = WriteXlsx(book);
    // Weights: customXml 0 + 7, worksheets 1000 + n, externalLink 3000 + 9, theme 4000 + 8 (kept,
    // none added), styles 5000 + 3, shared strings 6000 + 4.
    const std::string rels = PartText(package, "xl/_rels/workbook.xml.rels");
    std::vector<std::string> order;
    for (size_t at = rels.find("Id=\""); at != std::string::npos; at = rels.find("Id=\"", at + 1))
        order.push_back(rels.substr(at, rels.find(" Target", at) - at));
    const std::string p = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    EXPECT_THAT(
        order,
        ElementsAre("Id=\"rId1\" Type=\"" + p + "customXml\"", "Id=\"rId2\" Type=\"" + p + "worksheet\"",
                    "Id=\"rId3\" Type=\"" + p + "worksheet\"", "Id=\"rId4\" Type=\"" + p + "externalLink\"",
                    "Id=\"rId5\" Type=\"" + p + "theme\"", "Id=\"rId6\" Type=\"" + p + "styles\"",
                    "Id=\"rId7\" Type=\"" + p + "sharedStrings\""));
    const std::string workbook = PartText(package, "xl/workbook.xml");
    EXPECT_THAT(
        workbook,
        HasSubstr(
            R"(<sheet name="Sheet1" sheetId="1" r:id="rId2" /><sheet name="Sheet2" sheetId="2" r:id="rId3" />)"));
    EXPECT_THAT(workbook,
                HasSubstr(R"(<externalReferences><externalReference r:id="rId4" /></externalReferences>)"));
}

TEST(XlsxPackage, SavedElementsComeBackInTheirPlaces) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    s.SetAsInteger(0, 0, 1);
    s.SetAsInteger(1, 2, 2);
    s.MergedCells().Add(0, 0, 1, 0);
    TOpenXmlBook& ox = book.OpenXml();
    ox.SavedTags() = {
        {XmlElementNumber("workbookPr"), "<workbookPr date1904=\"0\" />\r"},
        {XmlElementNumber("bookViews"), "<bookViews><workbookView activeTab=\"0\" /></bookViews>\r"},
        {kXmlSheets, SavedTagPlaceholder(kXmlSheets)},
        {kXmlDefinedNames, SavedTagPlaceholder(kXmlDefinedNames)},
    };
    TDefinedName print_area;
    print_area.name = u"_xlnm.Print_Area";
    print_area.local = true;
    print_area.options = kNameHidden;
    print_area.definition = u"Sheet1!$A$1:$B$3";
    ox.DefinedNames().push_back(print_area);
    TDefinedName global;
    global.name = u"Total";
    global.comment = u"sum \"all\"";
    global.definition = u"SUM(Sheet1!$A:$A)>0";
    ox.DefinedNames().push_back(global);
    ox.Sheet(0).saved_tags = {
        {XmlElementNumber("sheetPr"), "  <sheetPr><tabColor rgb=\"FFFF0000\" /></sheetPr>\r\n"},
        {kXmlDimension, SavedTagPlaceholder(kXmlDimension, "ref=\"A1\"")},
        {XmlElementNumber("sheetViews"), "<sheetViews><sheetView workbookViewId=\"0\" /></sheetViews>\r"},
        {kXmlCols, SavedTagPlaceholder(kXmlCols)},
        {kXmlSheetData, SavedTagPlaceholder(kXmlSheetData)},
        {kXmlMergeCells, SavedTagPlaceholder(kXmlMergeCells)},
        {XmlElementNumber("pageMargins"),
         "<pageMargins left=\"0.5\" right=\"0.5\" top=\"1\" bottom=\"1\" header=\"0.3\" footer=\"0.3\" />\r"},
        // The file's own page setup comes back as it was, not the print settings (portrait).
        {XmlElementNumber("pageSetup"), "<pageSetup orientation=\"landscape\" />\r"},
    };
    const std::string package = WriteXlsx(book);
    EXPECT_EQ(Body(PartText(package, "xl/workbook.xml"), "workbook"),
              "<workbookPr date1904=\"0\" />\r<bookViews><workbookView activeTab=\"0\" /></bookViews>\r"
              R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1" /></sheets>)"
              R"(<definedNames><definedName name="_xlnm.Print_Area" localSheetId="0" hidden="1" >)"
              R"(Sheet1!$A$1:$B$3</definedName><definedName name="Total" comment="sum &quot;all&quot;" >)"
              R"(SUM(Sheet1!$A:$A)&gt;0</definedName>)"
              R"(</definedNames><calcPr calcId="0" ></calcPr>)");
    EXPECT_EQ(
        Body(PartText(package, "xl/worksheets/sheet1.xml"), "worksheet"),
        R"(<sheetPr><tabColor rgb="FFFF0000" /></sheetPr><dimension ref="A1:B3" />)"
        R"(<sheetViews><sheetView workbookViewId="0" /></sheetViews>)"
        R"(<sheetData><row r="1"><c r="A1" ><v>1</v></c></row><row r="3"><c r="B3" ><v>2</v></c></row></sheetData>)"
        R"(<mergeCells count="1"><mergeCell ref="A1:B1" /></mergeCells>)"
        R"(<pageMargins left="0.5" right="0.5" top="1" bottom="1" header="0.3" footer="0.3" />)"
        R"(<pageSetup orientation="landscape" />)");
}

// A package read from .xlsx: its parts are copied, the generated ones replace theirs, and its
// content types stay (with overrides for parts it did not know).
TEST(XlsxPackage, SourcePackagePartsAreCarriedOver) {
    TTabulon4 source_book;
    source_book.SetVersion(xvExcel2007);
    std::string source = WriteXlsx(source_book);
    {
        TMemoryStream stream(source);
        TXLSZipArchive zip;
        zip.Open(stream);
        TMemoryStream bin(std::string("\x01\x02printer", 9));
        zip.AddStream(u"xl/printerSettings/", u"printerSettings1.bin", bin);
        TMemoryStream calc(std::string(R"(<calcChain><c r="A1" i="1"/></calcChain>)"));
        zip.AddStream(u"xl/", u"calcChain.xml", calc);
        TMemoryStream types(std::string(
            R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
            R"(<Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" )"
            R"(ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>)"));
        zip.AddStream(u"", u"[Content_Types].xml", types);
        TMemoryStream old_sheet(std::string("<worksheet>old</worksheet>"));
        zip.AddStream(u"xl/worksheets/", u"sheet1.xml", old_sheet);
        zip.Close();
        source = stream.Release();
    }
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    book.Sheet(0).SetAsWideString(0, 0, u"new");
    book.Sheets().Add();
    const std::string package = WriteXlsx(book, source);
    EXPECT_EQ(PartText(package, "xl/printerSettings/printerSettings1.bin"),
              std::string("\x01\x02printer", 9));
    EXPECT_EQ(PartText(package, "xl/calcChain.xml"), R"(<calcChain><c r="A1" i="1"/></calcChain>)");
    EXPECT_THAT(PartText(package, "xl/worksheets/sheet1.xml"), HasSubstr("<c r=\"A1\" t=\"s\" >"));
    const std::string types = PartText(package, "[Content_Types].xml");
    EXPECT_THAT(
        types,
        HasSubstr(
            R"(<Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" )"));
    EXPECT_THAT(
        types,
        HasSubstr(
            R"(<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml" />)"));
    EXPECT_THAT(types, HasSubstr(R"(<Override PartName="/xl/sharedStrings.xml")"));
    EXPECT_THAT(types, HasSubstr(R"(<Override PartName="/xl/calcChain.xml")"));
    EXPECT_THAT(
        types,
        Not(HasSubstr(
            R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" />)")));
    // Each name once, the package ends with the generated parts in their order.
    std::vector<std::string> names = Names(package);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(names.back(), "[Content_Types].xml");
}

}  // namespace
}  // namespace linograf::workbook::test
