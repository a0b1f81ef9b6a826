#include "workbook/biff/biff_record_list.h"

#include <cstdio>
#include <stdexcept>

namespace linograf::workbook {

std::vector<TBiffRecordView> ListBiffRecords(std::string_view stream) {
    std::vector<TBiffRecordView> records;
    size_t at = 0;
    while (at < stream.size()) {
        if (stream.size() - at < 4) throw std::runtime_error("Record at offset " + std::to_string(at) + " is cut off");
        const auto byte = [&](size_t i) { return static_cast<uint8_t>(stream[at + i]); };
        const uint16_t id = static_cast<uint16_t>(byte(0) | (byte(1) << 8));
        const size_t length = byte(2) | (byte(3) << 8);
        if (stream.size() - at - 4 < length)
            throw std::runtime_error("Record at offset " + std::to_string(at) + " is cut off");
        records.push_back({at, id, stream.substr(at + 4, length)});
        at += 4 + length;
    }
    return records;
}

std::string_view BiffRecordName(uint16_t id) {
    struct Name {
        uint16_t id;
        const char* name;
    };
    static constexpr Name kNames[] = {
        {0x0006, "FORMULA"},        {0x000A, "EOF"},          {0x000C, "CALCCOUNT"},     {0x000D, "CALCMODE"},
        {0x000E, "PRECISION"},      {0x000F, "REFMODE"},      {0x0010, "DELTA"},         {0x0011, "ITERATION"},
        {0x0012, "PROTECT"},        {0x0013, "PASSWORD"},     {0x0014, "HEADER"},        {0x0015, "FOOTER"},
        {0x0019, "WINDOWPROTECT"},  {0x001A, "VERTICALPAGEBREAKS"}, {0x001B, "HORIZONTALPAGEBREAKS"},
        {0x001D, "SELECTION"},      {0x0022, "DATEMODE"},     {0x0026, "LEFTMARGIN"},    {0x0027, "RIGHTMARGIN"},
        {0x0028, "TOPMARGIN"},      {0x0029, "BOTTOMMARGIN"}, {0x002A, "PRINTHEADERS"},  {0x002B, "PRINTGRIDLINES"},
        {0x0031, "FONT"},           {0x003C, "CONTINUE"},     {0x003D, "WINDOW1"},       {0x0040, "BACKUP"},
        {0x0042, "CODEPAGE"},       {0x0055, "DEFCOLWIDTH"},  {0x005B, "FILESHARING"},   {0x005C, "WRITEACCESS"},
        {0x005F, "SAVERECALC"},     {0x007D, "COLINFO"},      {0x0080, "GUTS"},          {0x0081, "WSBOOL"},
        {0x0082, "GRIDSET"},        {0x0083, "HCENTER"},      {0x0084, "VCENTER"},       {0x0085, "BOUNDSHEET"},
        {0x008C, "COUNTRY"},        {0x008D, "HIDEOBJ"},      {0x0092, "PALETTE"},       {0x009C, "FNGROUPCOUNT"},
        {0x00A0, "SCL"},            {0x00A1, "SETUP"},        {0x00BD, "MULRK"},         {0x00BE, "MULBLANK"},
        {0x00D3, "OBPROJ"},         {0x00DA, "BOOKBOOL"},     {0x00E0, "XF"},            {0x00E5, "MERGEDCELLS"},
        {0x00FC, "SST"},            {0x00FD, "LABELSST"},     {0x00FF, "EXTSST"},        {0x013D, "TABID"},
        {0x0161, "DSF"},            {0x01AF, "PROT4REV"},     {0x01B7, "REFRESHALL"},    {0x01C1, "RECALCID"},
        {0x0200, "DIMENSIONS"},     {0x0201, "BLANK"},        {0x0203, "NUMBER"},        {0x0205, "BOOLERR"},
        {0x0207, "STRING"},         {0x0208, "ROW"},          {0x0221, "ARRAY"},         {0x0225, "DEFAULTROWHEIGHT"},
        {0x023E, "WINDOW2"},        {0x027E, "RK"},           {0x0293, "STYLE"},         {0x041E, "FORMAT"},
        {0x0809, "BOF"},            {0x0867, "SHEETPROTECTION"},
    };
    for (const Name& n : kNames)
        if (n.id == id) return n.name;
    return {};
}

std::string DumpBiffRecords(std::string_view stream) {
    std::string out;
    char line[160];
    for (const TBiffRecordView& r : ListBiffRecords(stream)) {
        const std::string_view name = BiffRecordName(r.id);
        std::snprintf(line, sizeof line, "%08llx %-20s %04X %5zu ", static_cast<unsigned long long>(r.offset),
                      name.empty() ? "?" : std::string(name).c_str(), r.id, r.data.size());
        out += line;
        for (size_t i = 0; i < r.data.size() && i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", static_cast<uint8_t>(r.data[i]));
            out += line;
        }
        if (r.data.size() > 16) out += "...";
        out += '\n';
    }
    return out;
}

}  // namespace linograf::workbook
