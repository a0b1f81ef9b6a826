// The XML text writer's exact output forms, escaping, number texts (also under a locale whose
// decimal separator is a comma) and cell references.
#include <clocale>
#include <cstdlib>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "workbook/ooxml/xml_text_writer.h"

namespace linograf::workbook {
namespace {

TEST(XmlTextWriter, TagFormsAreExact) {
    TXLSWriteXML xml;
    xml.XmlDeclaration();
    xml.BeginTag("a");
    xml.AddAttribute(true, "r", "B2");
    xml.AddAttribute(false, "skipped", 1);
    xml.AddAttribute(true, "n", 7);
    xml.AddAttribute(true, "f", true);
    xml.AddAttribute(true, "x", 0.5);
    xml.BeginTag("c");
    xml.EmptyTag("e");
    xml.AddAttribute(true, "k", "v");
    xml.EmptyTag("e");
    xml.EmptyTag("m", R"(ref="A1:A1")");
    xml.EmptyTag("m", "");
    xml.BeginTag("row", R"(r="1")");
    xml.EndTag();
    xml.EndTag();
    xml.TextElement("t", " x ");
    xml.PreserveElement("t", " lead");
    xml.PreserveElement("t", "trail ");
    xml.PreserveElement("t", "in side");
    xml.ValueTrue("b");
    xml.ValueFalse("b");
    xml.ValueText("name", "Arial");
    xml.ValueInt("family", 2);
    xml.ValueFixed("sz", 11);
    xml.ValueFixed("sz", 10.126);
    xml.WriteRaw("<raw/>");
    xml.EndTag();
    EXPECT_EQ(xml.Text(),
              R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
              R"(<a><c r="B2" n="7" f="1" x="0.5" ><e  /><e k="v" /><m ref="A1:A1" /><m  />)"
              R"(<row r="1"></row></c><t> x </t><t xml:space="preserve"> lead</t>)"
              R"(<t xml:space="preserve">trail </t><t>in side</t><b val="true" /><b val="false" />)"
              R"(<name val="Arial" /><family val="2" /><sz val="11.00" /><sz val="10.13" /><raw/></a>)");

    // Clearing empties the text, not the open elements.
    xml.BeginTag("open");
    xml.Clear();
    EXPECT_EQ(xml.Text(), "");
    EXPECT_EQ(xml.OpenCount(), 1);
    xml.EndTag();
    EXPECT_EQ(xml.Text(), "</open>");
}

TEST(XmlTextWriter, FreeingWithOpenElementsNamesThem) {
    try {
        TXLSWriteXML xml;
        xml.BeginTag("worksheet");
        xml.BeginTag("sheetData");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Tag stack not empty: worksheet\nsheetData\n");
        return;
    }
    ADD_FAILURE() << "no error";
}

TEST(XmlTextWriter, EscapingAndEncoding) {
    struct Case {
        std::u16string text;
        bool cell_text;
        std::string expected;
    };
    const Case cases[] = {
        {u"a < b & c", false, "a &lt; b &amp; c"},
        // A character above 0xFF changes nothing about the escaping.
        {u"\u0416 a < b & c", true, "\xD0\x96 a &lt; b &amp; c"},
        {u"\"q\" 'a' >", false, "&quot;q&quot; 'a' &gt;"},
        {u"\u041f\u0440\u0438\u0432\u0435\u0442", false, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {u"\U0001F600", false, "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t(0xD800)) + u"x", false, "\xEF\xBF\xBDx"},
        // Control characters XML cannot hold; tab and LF stay, CR goes as a character reference
        {u"\x01|\x1F|\t\n\r", false, "_x0001_|_x001F_|\t\n&#13;"},
        // A literal escape in a cell text is protected; elsewhere it is left alone.
        {u"_x0041_ and _x00_", true, "_x005F_x0041_ and _x00_"},
        {u"_x0041_", false, "_x0041_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(EscapeXml(c.text, c.cell_text), c.expected);
    }
    EXPECT_EQ(EscapeXml(std::string_view("x<\"&\">")), "x&lt;&quot;&amp;&quot;&gt;");
}

struct NumberCase {
    double value;
    const char* general;
};
const NumberCase kNumbers[] = {
    {0.1, "0.1"},
    {1e20, "1E20"},
    {0.000001, "1E-6"},
    {0.00001, "0.00001"},
    {0, "0"},
    {42, "42"},
    {-2.5, "-2.5"},
    // The digits of the shortest text that reads back as the same double are Python's repr.
    {1.0 / 3, "0.3333333333333333"},
    {0.1 + 0.2, "0.30000000000000004"},
    {123456789.12345678, "123456789.12345678"},
    {1.7976931348623157e308, "1.7976931348623157E308"},
    {5e-324, "5E-324"},
    {123456789012345.0, "123456789012345"},
    {1234567890123456.0, "1.234567890123456E15"},
    {-1.5e-7, "-1.5E-7"},
    {45000.75, "45000.75"},
    {9.765625, "9.765625"},
};

void ExpectNumberTexts() {
    for (const NumberCase& c : kNumbers) {
        SCOPED_TRACE(c.general);
        EXPECT_EQ(GeneralText(c.value), c.general);
    }
    EXPECT_EQ(FixedText(11), "11.00");
    EXPECT_EQ(FixedText(-0.249977), "-0.25");
    TXLSWriteXML xml;
    xml.AddAttribute(true, "width", 12.5);
    xml.EmptyTag("col");
    EXPECT_EQ(xml.Text(), R"(<col width="12.5" />)");
}

TEST(XmlTextWriter, NumbersInGeneralFormat) {
    ExpectNumberTexts();
}

// A locale whose decimal separator is a comma, generated into a temporary folder (the system
// may have none installed).
TEST(XmlTextWriter, NumbersKeepTheirPointUnderACommaLocale) {
    linograf::test::TempDir dir;
    const std::string localedef = linograf::test::FindProgram("localedef");
    if (localedef.empty()) GTEST_SKIP() << "no localedef";
    const auto made = linograf::test::RunCommand(
        {localedef, "--no-archive", "-i", "de_DE", "-f", "UTF-8", dir.File("de_DE.UTF-8")});
    const char* old_path = std::getenv("LOCPATH");
    const std::string saved_path = old_path ? old_path : "";
    setenv("LOCPATH", dir.path().c_str(), 1);
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    const char* set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!set) {
        if (old_path)
            setenv("LOCPATH", saved_path.c_str(), 1);
        else
            unsetenv("LOCPATH");
        GTEST_SKIP() << "comma locale not available: " << made.errors;
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    ExpectNumberTexts();
    std::setlocale(LC_NUMERIC, before.c_str());
    if (old_path)
        setenv("LOCPATH", saved_path.c_str(), 1);
    else
        unsetenv("LOCPATH");
}

TEST(XmlTextWriter, CellReferences) {
    struct Case {
        uint32_t col, row;
        const char* reference;
    };
    const Case cases[] = {
        {0, 0, "A1"},    {25, 9, "Z10"},           {26, 0, "AA1"},
        {701, 1, "ZZ2"}, {702, 65535, "AAA65536"}, {16383, 1048575, "XFD1048576"},
    };
    for (const Case& c : cases) EXPECT_EQ(CellReference(c.col, c.row), c.reference);
}

TEST(XmlTextWriter, ColourElements) {
    TXLSWriteExcelXMLStream xml;
    xml.ColorElement("color", {ckAuto, 0, 0});
    xml.ColorElement("fgColor", TXc12Color::Indexed(10));
    xml.ColorElement("bgColor", {ckRgb, 0xFF00A0B0, 0});
    xml.ColorElement("color", {ckTheme, 4, 0.399975});
    xml.ColorElement("color", {ckNone, 5, 0});
    EXPECT_EQ(xml.Text(), R"(<color auto="true" /><fgColor indexed="10" /><bgColor rgb="FF00A0B0" />)"
                          R"(<color theme="4" tint="0.40" />)");
}

}  // namespace
}  // namespace linograf::workbook
