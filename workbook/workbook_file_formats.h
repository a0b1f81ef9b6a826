#pragma once
// The readers and the Open XML writer the workbook component hands a file to. Each is one
// function, defined by the file format's own code (workbook/read/ for BIFF8, workbook/ooxml/ for
// Open XML); until a format's code is part of the library, workbook_file_formats_pending.cpp
// defines its function to raise "... files are not supported yet".
#include <string>

namespace linograf::workbook {

class TTabulon4;
class TStream;

// Reads the BIFF workbook named by book.Filename() (or, when source is given, the compound
// document in that stream). Called after the workbook was cleared and its sheets, fonts and cell
// formats emptied and its number formats reset to the built-in ones.
void ReadBiffWorkbook(TTabulon4& book, TStream* source);

// Reads an Open XML package from the open input file; when temp is given, the whole input is
// copied into it as the source package of the next write. Called after the workbook was cleared
// and holds only the 21 built-in cell formats and no fonts.
void ReadOpenXmlWorkbook(TTabulon4& book, TStream& input, TStream* temp);

// Writes the workbook as an Open XML package into output (an empty file), with the source
// package kept from the last Open XML read, if any.
void WriteOpenXmlWorkbook(TTabulon4& book, TStream& output, TStream* source_package);

}  // namespace linograf::workbook
