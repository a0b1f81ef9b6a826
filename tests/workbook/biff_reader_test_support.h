#pragma once
// Building BIFF record streams by hand for the reader's tests, and looking at what a workbook
// read holds.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tests/support/temp_dir.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/sheet.h"

namespace linograf::workbook::biffreadtest {

// Record data, field by field (little-endian).
class Bytes {
  public:
    Bytes& U8(uint32_t v) {
        s_.push_back(static_cast<char>(v & 0xFF));
        return *this;
    }
    Bytes& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    Bytes& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    Bytes& F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return U32(static_cast<uint32_t>(bits)).U32(static_cast<uint32_t>(bits >> 32));
    }
    Bytes& Raw(std::string_view bytes) {
        s_ += bytes;
        return *this;
    }
    Bytes& Fill(size_t count, uint8_t v) {
        s_.append(count, static_cast<char>(v));
        return *this;
    }
    // A BIFF8 string: u16 count, option byte 0 (8-bit characters), the characters.
    Bytes& Str8(std::string_view latin) { return U16(static_cast<uint32_t>(latin.size())).U8(0).Raw(latin); }
    operator std::string() const { return s_; }
    const std::string& str() const { return s_; }

  private:
    std::string s_;
};

// A record stream: header and data per record.
class Records {
  public:
    Records& Add(uint16_t id, const std::string& data) {
        bytes_ += Bytes().U16(id).U16(static_cast<uint32_t>(data.size())).str() + data;
        return *this;
    }
    // A header announcing `length` bytes, whatever follows.
    Records& Header(uint16_t id, uint32_t length) {
        bytes_ += Bytes().U16(id).U16(length).str();
        return *this;
    }
    Records& Raw(std::string_view bytes) {
        bytes_ += bytes;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

  private:
    std::string bytes_;
};

inline std::string BofData(uint16_t type) {
    return Bytes().U16(0x0600).U16(type).U16(0x0DBB).U16(0x07CC).U32(0x000080C9).U32(0x00000206);
}

// The globals of a small BIFF8 workbook: BOF, five fonts, 16 style XFs and one cell XF, and a
// BOUNDSHEET per name.
inline Records MinimalGlobals(std::initializer_list<std::string_view> sheets) {
    Records r;
    r.Add(0x0809, BofData(0x0005));
    for (int i = 0; i < 5; ++i)
        r.Add(0x0031, Bytes()
                          .U16(200 + 20 * i)
                          .U16(0)
                          .U16(0x7FFF)
                          .U16(400)
                          .U16(0)
                          .U8(0)
                          .U8(0)
                          .U8(0)
                          .U8(0)
                          .U8(5)
                          .U8(0)
                          .Raw("Arial"));
    for (int i = 0; i < 17; ++i)
        r.Add(0x00E0, Bytes()
                          .U16(0)
                          .U16(0)
                          .U16(i < 16 ? 0xFFF5 : 0x0001)
                          .U8(0x20)
                          .U8(0)
                          .U8(0)
                          .U8(0)
                          .U32(0)
                          .U32(0)
                          .U16(0x20C0));
    for (std::string_view name : sheets)
        r.Add(0x0085, Bytes().U32(0).U8(0).U8(0).U8(static_cast<uint32_t>(name.size())).U8(0).Raw(name));
    return r;
}

// The stream in a compound document of its own, as a file.
inline void WriteXls(const std::string& path, const std::string& stream,
                     std::u16string_view name = u"Workbook") {
    TCompoundDocument document;
    document.Root().CreateStream(name, stream);
    test::WriteFileBytes(path, document.Save());
}

inline std::u16string CellText(TSheet& sheet, uint32_t col, uint32_t row) {
    const TCell* c = sheet.Cells().Find(col, row);
    if (!c || c->type != ctString || !c->value.entry) return u"<no text>";
    return TSST2::Text(c->value.entry);
}

}  // namespace linograf::workbook::biffreadtest

#include <cstdio>

#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook::biffreadtest {

inline std::string Hex(const uint8_t* p, size_t n) {
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        out += b;
    }
    return out;
}

// Everything of a workbook the reader fills, one line per item, for comparing two workbooks.
inline std::string DumpModel(TTabulon4& book) {
    std::string out;
    char line[256];
    for (int i = 0; i < book.Fonts().Count(); ++i) {
        if (i == 4) continue;
        const TXFont& f = book.Fonts().Items(i);
        std::snprintf(line, sizeof line, "font %d %s h%u c%u s%u u%u\n", i, WideToUtf8(f.name).c_str(),
                      f.height, f.color, static_cast<unsigned>(f.style.Mask()),
                      static_cast<unsigned>(f.underline));
        out += line;
    }
    TNumberFormats& numbers = book.Formats().NumberFormats();
    for (int i = 0; i < numbers.Count(); ++i)
        if (numbers.Items(i).UseCount() >= 0)
            out += "numfmt " + std::to_string(numbers.Items(i).Id()) + " " +
                   WideToUtf8(numbers.Items(i).Text()) + "\n";
    for (int i = 0; i < book.Formats().Count(); ++i)
        out += "xf " + Hex(book.Formats().Items(i).Bytes().data(), 20) + "\n";
    for (int s = 0; s < book.Sheets().Count(); ++s) {
        TSheet& sheet = book.Sheet(s);
        out += "sheet " + WideToUtf8(sheet.Name()) + " hidden " + std::to_string(sheet.Hidden()) + "\n";
        auto it = sheet.Cells().Cells();
        for (TCellRef c = it.Next(); c; c = it.Next()) {
            const TCell& cell = *c.cell;
            // Whole numbers made as integers read back as numbers.
            const int type = cell.type == ctInteger ? ctFloat : cell.type;
            std::snprintf(line, sizeof line, "cell %u %u t%d xf%d ", c.col, c.row, type,
                          sheet.CellFormatIndex(cell));
            out += line;
            switch (cell.type) {
                case ctInteger:
                    std::snprintf(line, sizeof line, "%.17g", static_cast<double>(cell.value.integer));
                    out += line;
                    break;
                case ctFloat:
                    std::snprintf(line, sizeof line, "%.17g", cell.value.number);
                    out += line;
                    break;
                case ctString:
                    out += WideToUtf8(TSST2::Text(cell.value.entry));
                    break;
                case ctBoolean:
                case ctError:
                    out += std::to_string(cell.small);
                    break;
                default:
                    if (IsFormulaCell(cell.type)) {
                        const TFormulaData& f = *cell.value.formula;
                        std::snprintf(line, sizeof line, "%.17g|%u|", f.number, f.boolean_or_error);
                        out +=
                            Hex(f.tokens.data(), f.tokens.size()) + "|" + line + WideToUtf8(f.string_result);
                    }
                    break;
            }
            out += "\n";
        }
        for (int m = 0; m < sheet.MergedCells().Count(); ++m) {
            const TMergedArea& a = sheet.MergedCells().Items(m);
            std::snprintf(line, sizeof line, "merged %d %d %d %d\n", a.col1, a.row1, a.col2, a.row2);
            out += line;
        }
        for (int col = 0; col < 256; ++col)
            if (const TXLSColumn* c = sheet.Columns().Items(col))
                out += "column " + std::to_string(col) + " width " + std::to_string(c->Width()) + " xf " +
                       std::to_string(c->FormatIndex()) + "\n";
        const TPrintSettings& p = sheet.PrintSettings();
        std::snprintf(line, sizeof line, "margins %g %g %g %g\n", p.margin_left, p.margin_right, p.margin_top,
                      p.margin_bottom);
        out += "header " + WideToUtf8(p.header) + "\nfooter " + WideToUtf8(p.footer) + "\n" + line;
        for (const TPageBreak& b : p.horiz_pagebreaks)
            out += "hbreak " + std::to_string(b.position) + " " + std::to_string(b.first) + " " +
                   std::to_string(b.last) + "\n";
        for (const TPageBreak& b : p.vert_pagebreaks)
            out += "vbreak " + std::to_string(b.position) + " " + std::to_string(b.first) + " " +
                   std::to_string(b.last) + "\n";
    }
    return out;
}

}  // namespace linograf::workbook::biffreadtest

#include <gtest/gtest.h>
#include <sstream>

namespace linograf::workbook::biffreadtest {

// Compares two dumps line by line, reporting only the lines that differ.
inline void ExpectSameLines(const std::string& actual, const std::string& expected) {
    std::istringstream a(actual), e(expected);
    std::string la, le;
    int line = 0, differences = 0;
    while (true) {
        const bool more_a = static_cast<bool>(std::getline(a, la)),
                   more_e = static_cast<bool>(std::getline(e, le));
        if (!more_a && !more_e) break;
        ++line;
        if (!more_a) la = "<end>";
        if (!more_e) le = "<end>";
        if (la != le && ++differences <= 10)
            ADD_FAILURE() << "line " << line << ": got \"" << la << "\", want \"" << le << "\"";
    }
    EXPECT_EQ(differences, 0);
}

}  // namespace linograf::workbook::biffreadtest
