// Workbooks made by other programs, extended by one row the way the live log extends them (read,
// the row after the last used one, written over the file), lose nothing. Each producer
// (python3-openpyxl, python3-xlsxwriter, and package parts written by hand with Python's zipfile
// where no producer here makes the shape) makes its fixture during the test; openpyxl and the
// package's own XML describe the file before and after, and everything but the new row must be
// described the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xml_values.h"

namespace linograf::workbook::test {
namespace {

using linograf::test::PythonHasModule;
using linograf::test::RunPython;

// One line per fact: openpyxl's warnings, the date system, each sheet's name, state and kind,
// each cell's value (formulas as text, array formulas with their range) and cached result, and
// from the worksheet XML each formula's attributes, text, cell metadata and whether a result is
// stored. The cell lines name their row first, so the new row's lines can be told apart.
constexpr const char* kDescribe = R"PY(
import sys, datetime, zipfile, warnings, openpyxl
from xml.etree import ElementTree as ET
path = sys.argv[1]
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter('always')
    wb = openpyxl.load_workbook(path)
    cached = openpyxl.load_workbook(path, data_only=True)
for w in caught: print('warning\t%s' % w.message)
print('epoch\t%s' % wb.epoch.isoformat())
for i, name in enumerate(wb.sheetnames):
    ws = wb[name]
    print('sheet %d\t%s %s %s' % (i, name.encode().hex(), ws.sheet_state, type(ws).__name__))
    if type(ws).__name__ != 'Worksheet': continue
    cws = cached[name]
    for row in ws.iter_rows():
        for c in row:
            if c.value is None: continue
            v = c.value
            if type(v).__name__ == 'ArrayFormula': v = 'array %s %s' % (v.ref, v.text)
            # A date-only ISO cell (t="d") is a date to openpyxl, a serial date a datetime.
            if type(v) is datetime.date: v = datetime.datetime.combine(v, datetime.time())
            print('cell %d %d %s\t%r' % (i, c.row, c.coordinate, v))
            cv = cws[c.coordinate].value
            if type(cv) is datetime.date: cv = datetime.datetime.combine(cv, datetime.time())
            print('cached %d %d %s\t%r' % (i, c.row, c.coordinate, cv))
z = zipfile.ZipFile(path)
M = '{http://schemas.openxmlformats.org/spreadsheetml/2006/main}'
R = '{http://schemas.openxmlformats.org/officeDocument/2006/relationships}id'
rels = ET.fromstring(z.read('xl/_rels/workbook.xml.rels'))
targets = {r.get('Id'): r.get('Target') for r in rels}
for i, s in enumerate(ET.fromstring(z.read('xl/workbook.xml')).find(M + 'sheets')):
    t = targets[s.get(R)]
    part = t[1:] if t.startswith('/') else 'xl/' + t
    if 'worksheets/' not in part: continue
    for c in ET.fromstring(z.read(part)).iter(M + 'c'):
        f = c.find(M + 'f')
        if f is None: continue
        v = c.find(M + 'v')
        attrs = ' '.join('%s=%s' % kv for kv in sorted(f.attrib.items()))
        print('raw %d %s\t%s|%s|%s|%s' % (i, c.get('r'), attrs, f.text or '', c.get('cm') or '',
                                        'no result' if v is None or not v.text else 'result ' + v.text))
)PY";

std::vector<std::string> Describe(const std::string& path) {
    const auto result = RunPython(kDescribe, {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    std::vector<std::string> lines;
    std::istringstream in(result.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lines of the cells of `row` (1-based) of the first sheet.
bool InRow(const std::string& line, int row) {
    const std::string tail = " 0 " + std::to_string(row) + " ";
    return (line.starts_with("cell") && line.compare(4, tail.size(), tail) == 0) ||
           (line.starts_with("cached") && line.compare(6, tail.size(), tail) == 0);
}

class XlsxRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
    }

    void Make(const std::string& script) {
        const auto made = RunPython(script, {path_});
        ASSERT_EQ(made.exit_code, 0) << made.errors;
    }

    // Reads the file, puts a text and a date into the row after the first sheet's last used one
    // and writes it over the file, as the live log does. Returns that row, 1-based.
    int AppendRow() {
        TTabulon4 book;
        book.SetFilename(Utf8ToWide(path_));
        book.Read();
        TSheet& sheet = book.Sheet(0);
        sheet.CalcDimensions();
        const uint32_t row = sheet.LastRow() + 1;
        sheet.SetAsWideString(0, row, u"appended");
        sheet.SetAsDateTime(1, row, EncodeDateTime({2024, 5, 17, 13, 45, 30, 0}));
        book.Write();
        return static_cast<int>(row) + 1;
    }

    // Everything the producer wrote is described the same after the row was appended; the new
    // row holds the text and the date.
    void ExpectKeptWithNewRow(const std::vector<std::string>& before) {
        ASSERT_FALSE(before.empty());
        const int row = AppendRow();
        const std::vector<std::string> after = Describe(path_);
        std::vector<std::string> kept, added;
        for (const std::string& line : after) (InRow(line, row) ? added : kept).push_back(line);
        std::vector<std::string> expected;
        for (const std::string& line : before)
            if (!line.starts_with("warning")) expected.push_back(line);
        for (const std::string& line : kept) EXPECT_FALSE(line.starts_with("warning")) << line;
        std::erase_if(kept, [](const std::string& l) { return l.starts_with("warning"); });
        EXPECT_EQ(kept, expected);
        const std::string at = std::to_string(row);
        EXPECT_EQ(added, (std::vector<std::string>{
                             "cell 0 " + at + " A" + at + "\t'appended'",
                             "cached 0 " + at + " A" + at + "\t'appended'",
                             "cell 0 " + at + " B" + at + "\tdatetime.datetime(2024, 5, 17, 13, 45, 30)",
                             "cached 0 " + at + " B" + at + "\tdatetime.datetime(2024, 5, 17, 13, 45, 30)",
                         }));
    }

    linograf::test::TempDir dir_;
    std::string path_ = dir_.File("book.xlsx");
};

TEST_F(XlsxRoundTrip, OpenpyxlFormulasWithoutResultsNumbersTextsAndSheetStates) {
    Make(R"PY(
import sys, datetime, openpyxl
from openpyxl.chart import BarChart, Reference
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Totals'
ws['A1'] = '  padded  '
ws['B1'] = 'a carriage\rreturn'
ws['A2'] = 0.30000000000000004
ws['B2'] = 123456789.12345678
ws['C2'] = '=A2*2'
ws['D2'] = '=CONCATENATE("a","b")'
ws['E2'] = datetime.datetime(2023, 1, 31, 8, 30)
ws['F2'] = '#N/A'
hidden = wb.create_sheet('Helper')
hidden['A1'] = 'hidden'
hidden.sheet_state = 'hidden'
chart_sheet = wb.create_chartsheet('Chart')
chart = BarChart()
chart.add_data(Reference(ws, min_col=1, min_row=2, max_col=2, max_row=2))
chart_sheet.add_chart(chart)
very = wb.create_sheet('Secret')
very['A1'] = 'very hidden'
very.sheet_state = 'veryHidden'
last = wb.create_sheet('Last')
last['A1'] = '=Totals!A2+1'
wb.save(sys.argv[1])
)PY");
    ExpectKeptWithNewRow(Describe(path_));

    // The document properties list the worksheets and the chart sheet under their own headings,
    // as openpyxl tells the sheets apart.
    const auto parts = RunPython(R"PY(
import sys, zipfile, openpyxl
from xml.etree import ElementTree as ET
wb = openpyxl.load_workbook(sys.argv[1])
print('expected', 'Worksheets', len(wb.worksheets), 'Charts', len(wb.chartsheets),
      *[ws.title for ws in wb.worksheets], *[cs.title for cs in wb.chartsheets])
V = '{http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes}'
P = '{http://schemas.openxmlformats.org/officeDocument/2006/extended-properties}'
app = ET.fromstring(zipfile.ZipFile(sys.argv[1]).read('docProps/app.xml'))
pairs = [v[0].text for v in app.find(P + 'HeadingPairs').iter(V + 'variant')]
titles = [t.text for t in app.find(P + 'TitlesOfParts').iter(V + 'lpstr')]
print('written', *pairs, *titles)
)PY",
                                 {path_});
    ASSERT_EQ(parts.exit_code, 0) << parts.errors;
    std::istringstream lines(parts.output);
    std::string expected, written;
    std::getline(lines, expected);
    std::getline(lines, written);
    EXPECT_EQ(expected, "expected Worksheets 4 Charts 1 Totals Helper Secret Last Chart");
    EXPECT_EQ(written.substr(written.find(' ')), expected.substr(expected.find(' ')));

    // LibreOffice calculates the formulas that have no stored result instead of showing 0.
    const std::string soffice = linograf::test::FindProgram("soffice");
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    const auto converted = linograf::test::RunCommand(
        {soffice, "--headless", "-env:UserInstallation=file://" + dir_.File("profile"), "--convert-to", "csv",
         "--outdir", dir_.File("csv"), path_});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    const std::string csv = linograf::test::ReadFileBytes(dir_.File("csv/book.csv"));
    EXPECT_NE(csv.find("0.6,ab,"), std::string::npos) << csv;
}

TEST_F(XlsxRoundTrip, XlsxwriterArrayFormulasErrorsAndThe1904DateSystem) {
    if (!PythonHasModule("xlsxwriter")) GTEST_SKIP() << "python3-xlsxwriter is not installed";
    Make(R"PY(
import sys, datetime, xlsxwriter
wb = xlsxwriter.Workbook(sys.argv[1], {'date_1904': True})
ws = wb.add_worksheet('Data')
date = wb.add_format({'num_format': 'yyyy-mm-dd hh:mm'})
ws.write_datetime(0, 0, datetime.datetime(2020, 2, 29, 6, 0), date)
ws.write_column(1, 0, [1, 2, 3])
ws.write_column(1, 1, [4, 5, 6])
ws.write_array_formula('C2:C2', '{=SUM(A2:A4*B2:B4)}', None, 32)
ws.write_dynamic_array_formula('D2:D4', '=A2:A4*2', None, 2)
ws.write_formula('E2', '=1/0', None, '#DIV/0!')
ws.write_formula('E3', '=NA()', None, '#N/A')
ws.write_formula('E4', '=A2>0', None, True)
wb.add_worksheet('Hidden').hide()
wb.close()
)PY");
    ExpectKeptWithNewRow(Describe(path_));
}

// Shapes no producer here writes: shared formula groups, ISO 8601 date cells, inline strings with
// blanks and no xml:space (as gnumeric writes them) and _xHHHH_ escapes (as Excel writes them).
TEST_F(XlsxRoundTrip, HandWrittenSharedFormulasDateCellsInlineStringsAndEscapes) {
    Make(R"PY(
import sys, zipfile
M = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
parts = {
'[Content_Types].xml': '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
  '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
  '<Default Extension="xml" ContentType="application/xml"/>'
  '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
  '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
  '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
  '</Types>',
'_rels/.rels': '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
  '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
  '</Relationships>',
'xl/_rels/workbook.xml.rels': '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
  '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
  '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
  '</Relationships>',
'xl/workbook.xml': '<?xml version="1.0"?><workbook xmlns="%s" xmlns:r="%s"><sheets>'
  '<sheet name="Hand" sheetId="1" r:id="rId1"/></sheets></workbook>' % (M, R),
'xl/styles.xml': '<?xml version="1.0"?><styleSheet xmlns="%s">'
  '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
  '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
  '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
  '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
  '<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
  '<xf numFmtId="22" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>'
  '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>'
  '</styleSheet>' % M,
'xl/worksheets/sheet1.xml': '<?xml version="1.0"?><worksheet xmlns="%s"><sheetData>'
  '<row r="1"><c r="A1"><v>1</v></c><c r="B1"><f t="shared" ref="B1:B3" si="0">A1*10</f><v>10</v></c>'
  '<c r="C1" t="inlineStr"><is><t>  two blanks each side  </t></is></c>'
  '<c r="D1" t="inlineStr"><is><t>line_x000D_end _x005F_x0041_</t></is></c></row>'
  '<row r="2"><c r="A2"><v>2</v></c><c r="B2"><f t="shared" si="0"/><v>20</v></c>'
  '<c r="C2" s="1" t="d"><v>2024-03-01T10:30:00</v></c><c r="D2" s="1" t="d"><v>1900-02-28</v></c></row>'
  '<row r="3"><c r="A3"><v>3</v></c><c r="B3"><f t="shared" si="0"/><v>30</v></c>'
  '<c r="C3"><v>0.30000000000000004</v></c><c r="D3"><v>123456789.12345678</v></c></row>'
  '</sheetData></worksheet>' % M,
}
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items(): z.writestr(name, text)
)PY");
    const std::vector<std::string> before = Describe(path_);
    // The peer's view of the producer's file: blanks kept, dates as dates, every digit.
    auto has = [&](const std::string& line) {
        return std::find(before.begin(), before.end(), line) != before.end();
    };
    ASSERT_TRUE(has("cell 0 1 C1\t'  two blanks each side  '"));
    ASSERT_TRUE(has("cell 0 2 C2\tdatetime.datetime(2024, 3, 1, 10, 30)"));
    ASSERT_TRUE(has("cell 0 3 C3\t0.30000000000000004"));
    ASSERT_TRUE(has("cell 0 3 D3\t123456789.12345678"));
    // openpyxl takes inline strings as they are but decodes the _xHHHH_ escapes of shared strings
    // (ECMA-376, ST_Xstring), where the text is after the rewrite: it must decode to the same.
    const std::string escaped = "cell 0 1 D1\t'line_x000D_end _x005F_x0041_'";
    const std::string decoded = "cell 0 1 D1\t'line\\rend _x0041_'";
    ASSERT_TRUE(has(escaped));
    std::vector<std::string> expected = before;
    for (std::string& line : expected) {
        if (line == escaped) line = decoded;
        if (line == "cached" + escaped.substr(4)) line = "cached" + decoded.substr(4);
    }
    ExpectKeptWithNewRow(expected);
}

// A file of our own, new: its one sheet is "Sheet1" and openpyxl reads it without a warning.
TEST_F(XlsxRoundTrip, NewFileHasSheet1AndNoWarnings) {
    {
        TTabulon4 book;
        book.Sheets().Add();
        book.Clear();
        book.Sheet(0).SetAsWideString(0, 0, u"header");
        book.Sheet(0).SetAsDateTime(1, 0, EncodeDateTime({2024, 5, 17, 0, 0, 0, 0}));
        book.SetVersion(xvExcel2007);
        book.SetFilename(Utf8ToWide(path_));
        book.Write();
    }
    const std::vector<std::string> lines = Describe(path_);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "epoch\t1899-12-30T00:00:00",
                         "sheet 0\t" + std::string("536865657431") + " visible Worksheet",
                         "cell 0 1 A1\t'header'",
                         "cached 0 1 A1\t'header'",
                         "cell 0 1 B1\tdatetime.datetime(2024, 5, 17, 0, 0)",
                         "cached 0 1 B1\tdatetime.datetime(2024, 5, 17, 0, 0)",
                     }));
}

// ISO 8601 cell values as serial dates: openpyxl's own conversion is the expectation.
TEST_F(XlsxRoundTrip, IsoDatesAsSerialDatesOfEitherSystem) {
    const std::vector<std::string> texts = {
        "2024-03-01T10:30:00.5Z",   "1900-02-28", "1900-01-01", "1900-03-01", "1999-12-31T23:59:59", "12:00",
        "2020-02-29T06:00:00+03:00"};
    std::vector<std::string> argv = {linograf::test::kPython, "-c", R"PY(
import sys, datetime
from openpyxl.utils.datetime import to_excel, CALENDAR_MAC_1904
for text in sys.argv[1:]:
    t = text.replace('Z', '')
    if 'T' in t and t[-6] in '+-': t = t[:-6]
    if ':' in t and '-' not in t:
        v = datetime.time.fromisoformat(t); print('%.17g %.17g' % (to_excel(v), to_excel(v))); continue
    v = datetime.datetime.fromisoformat(t if 'T' in t else t + 'T00:00')
    print('%.17g %.17g' % (to_excel(v), to_excel(v, CALENDAR_MAC_1904)))
)PY"};
    argv.insert(argv.end(), texts.begin(), texts.end());
    const auto expected = linograf::test::RunCommand(argv);
    ASSERT_EQ(expected.exit_code, 0) << expected.errors;
    std::istringstream in(expected.output);
    for (const std::string& text : texts) {
        double in1900 = 0, in1904 = 0, ours1900 = -1, ours1904 = -1;
        in >> in1900 >> in1904;
        ASSERT_TRUE(XmlIsoDateToSerial(text, false, ours1900)) << text;
        ASSERT_TRUE(XmlIsoDateToSerial(text, true, ours1904)) << text;
        EXPECT_NEAR(ours1900, in1900, 1e-9) << text;
        EXPECT_NEAR(ours1904, in1904, 1e-9) << text;
    }
    for (const char* bad : {"2024-13-01", "yesterday", "2024-03-01T10", "10:30 pm"}) {
        double serial = 0;
        EXPECT_FALSE(XmlIsoDateToSerial(bad, false, serial)) << bad;
    }
}

}  // namespace
}  // namespace linograf::workbook::test
