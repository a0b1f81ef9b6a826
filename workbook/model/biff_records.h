#pragma once
// Every BIFF record id this program reads, writes or names, in one table: the id, the name the
// file format documents give it, and the size of its data where BIFF8 fixes one. The reader's and
// the writer's constants (rec::BOF, rec::LABELSST, ...), the record dump's names and its size
// check all come from here. The workbook model keeps records it does not interpret as templates
// by these ids, so the table sits with the model rather than with either side of the format.
//
// Older layouts reuse a name with the version as a suffix (FONT34 is FONT of BIFF3 and BIFF4).
// A size of -1 means the data's length varies.
#include <cstdint>
#include <string_view>

namespace linograf::workbook {

#define LINOGRAF_BIFF_RECORDS(X)        \
    X(DIMENSIONS2, 0x0000, -1)          \
    X(INTEGER2, 0x0002, -1)             \
    X(NUMBER2, 0x0003, -1)              \
    X(LABEL2, 0x0004, -1)               \
    X(FORMULA, 0x0006, -1)              \
    X(STRING2, 0x0007, -1)              \
    X(EOF_, 0x000A, 0)                  \
    X(CALCCOUNT, 0x000C, 2)             \
    X(CALCMODE, 0x000D, 2)              \
    X(PRECISION, 0x000E, 2)             \
    X(REFMODE, 0x000F, 2)               \
    X(DELTA, 0x0010, 8)                 \
    X(ITERATION, 0x0011, 2)             \
    X(PROTECT, 0x0012, 2)               \
    X(PASSWORD, 0x0013, 2)              \
    X(HEADER, 0x0014, -1)               \
    X(FOOTER, 0x0015, -1)               \
    X(EXTERNSHEET, 0x0017, -1)          \
    X(NAME, 0x0018, -1)                 \
    X(WINDOWPROTECT, 0x0019, 2)         \
    X(VERTICALPAGEBREAKS, 0x001A, -1)   \
    X(HORIZONTALPAGEBREAKS, 0x001B, -1) \
    X(NOTE, 0x001C, -1)                 \
    X(SELECTION, 0x001D, -1)            \
    X(DATEMODE, 0x0022, 2)              \
    X(EXTERNNAME, 0x0023, -1)           \
    X(LEFTMARGIN, 0x0026, 8)            \
    X(RIGHTMARGIN, 0x0027, 8)           \
    X(TOPMARGIN, 0x0028, 8)             \
    X(BOTTOMMARGIN, 0x0029, 8)          \
    X(PRINTHEADERS, 0x002A, 2)          \
    X(PRINTGRIDLINES, 0x002B, 2)        \
    X(FILEPASS, 0x002F, -1)             \
    X(FONT, 0x0031, -1)                 \
    X(CONTINUE, 0x003C, -1)             \
    X(WINDOW1, 0x003D, 18)              \
    X(BACKUP, 0x0040, 2)                \
    X(PANE, 0x0041, 10)                 \
    X(CODEPAGE, 0x0042, 2)              \
    X(DEFCOLWIDTH, 0x0055, 2)           \
    X(FILESHARING, 0x005B, -1)          \
    X(WRITEACCESS, 0x005C, 112)         \
    X(OBJ, 0x005D, -1)                  \
    X(SAVERECALC, 0x005F, 2)            \
    X(COLINFO, 0x007D, 12)              \
    X(RK2, 0x007E, -1)                  \
    X(GUTS, 0x0080, 8)                  \
    X(WSBOOL, 0x0081, 2)                \
    X(GRIDSET, 0x0082, 2)               \
    X(HCENTER, 0x0083, 2)               \
    X(VCENTER, 0x0084, 2)               \
    X(BOUNDSHEET, 0x0085, -1)           \
    X(COUNTRY, 0x008C, 4)               \
    X(HIDEOBJ, 0x008D, 2)               \
    X(PALETTE, 0x0092, -1)              \
    X(FNGROUPCOUNT, 0x009C, 2)          \
    X(SCL, 0x00A0, 4)                   \
    X(SETUP, 0x00A1, 34)                \
    X(SHRFMLA5, 0x00BC, -1)             \
    X(MULRK, 0x00BD, -1)                \
    X(MULBLANK, 0x00BE, -1)             \
    X(OBPROJ, 0x00D3, 0)                \
    X(RSTRING, 0x00D6, -1)              \
    X(DBCELL, 0x00D7, -1)               \
    X(BOOKBOOL, 0x00DA, 2)              \
    X(XF, 0x00E0, 20)                   \
    X(INTERFACEHDR, 0x00E1, 2)          \
    X(INTERFACEEND, 0x00E2, 0)          \
    X(MERGEDCELLS, 0x00E5, -1)          \
    X(MSODRAWINGGROUP, 0x00EB, -1)      \
    X(MSODRAWING, 0x00EC, -1)           \
    X(MSODRAWINGSELECTION, 0x00ED, -1)  \
    X(SST, 0x00FC, -1)                  \
    X(LABELSST, 0x00FD, 10)             \
    X(EXTSST, 0x00FF, -1)               \
    X(TABID, 0x013D, -1)                \
    X(DSF, 0x0161, 2)                   \
    X(USERBVIEW, 0x01A9, -1)            \
    X(USERSVIEWBEGIN, 0x01AA, -1)       \
    X(USERSVIEWEND, 0x01AB, 2)          \
    X(SUPBOOK, 0x01AE, -1)              \
    X(PROT4REV, 0x01AF, 2)              \
    X(CONDFMT, 0x01B0, -1)              \
    X(CF, 0x01B1, -1)                   \
    X(DVAL, 0x01B2, 18)                 \
    X(TXO, 0x01B6, -1)                  \
    X(REFRESHALL, 0x01B7, 2)            \
    X(HLINK, 0x01B8, -1)                \
    X(PROT4REVPASS, 0x01BC, 2)          \
    X(DV, 0x01BE, -1)                   \
    X(EXCEL9FILE, 0x01C0, 0)            \
    X(RECALCID, 0x01C1, 8)              \
    X(DIMENSIONS, 0x0200, 14)           \
    X(BLANK, 0x0201, 6)                 \
    X(NUMBER, 0x0203, 14)               \
    X(LABEL, 0x0204, -1)                \
    X(BOOLERR, 0x0205, 8)               \
    X(FORMULA3, 0x0206, -1)             \
    X(STRING, 0x0207, -1)               \
    X(ROW, 0x0208, 16)                  \
    X(INDEX, 0x020B, -1)                \
    X(ARRAY, 0x0221, -1)                \
    X(DEFAULTROWHEIGHT, 0x0225, 4)      \
    X(FONT34, 0x0231, -1)               \
    X(TABLE, 0x0236, 16)                \
    X(WINDOW2, 0x023E, -1)              \
    X(XF3, 0x0243, -1)                  \
    X(RK, 0x027E, 10)                   \
    X(STYLE, 0x0293, -1)                \
    X(FORMULA4, 0x0406, -1)             \
    X(FORMAT, 0x041E, -1)               \
    X(XF4, 0x0443, -1)                  \
    X(SHRFMLA, 0x04BC, -1)              \
    X(BOF, 0x0809, 16)                  \
    X(SHEETEXT, 0x0862, -1)             \
    X(BOOKEXT, 0x0863, -1)              \
    X(SHEETPROTECTION, 0x0867, -1)      \
    X(XFCRC, 0x087C, -1)                \
    X(XFEXT, 0x087D, -1)                \
    X(COMPAT12, 0x088C, -1)             \
    X(TABLESTYLES, 0x088E, -1)          \
    X(STYLEEXT, 0x0892, -1)             \
    X(THEME, 0x0896, -1)                \
    X(MTRSETTINGS, 0x089A, -1)          \
    X(COMPRESSPICTURES, 0x089B, -1)     \
    X(HEADERFOOTER, 0x089C, -1)         \
    X(FORCEFULLCALCULATION, 0x08A3, -1)

namespace rec {
#define LINOGRAF_BIFF_RECORD_ID(name, id, size) inline constexpr uint16_t name = id;
LINOGRAF_BIFF_RECORDS(LINOGRAF_BIFF_RECORD_ID)
#undef LINOGRAF_BIFF_RECORD_ID
}  // namespace rec

struct TBiffRecordInfo {
    uint16_t id;
    std::string_view name;  // "EOF" for rec::EOF_, whose name would clash with the C library's
    int size;               // bytes of data in BIFF8; -1 when it varies
};

// The record's entry, or null for an id the table does not hold.
const TBiffRecordInfo* FindBiffRecord(uint16_t id);

}  // namespace linograf::workbook
