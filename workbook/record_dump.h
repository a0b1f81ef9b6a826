#pragma once
// The BIFF records of an .xls file, one line each, so a format problem can be seen and two files
// compared with diff: what `linograf cat --records FILE` prints.
#include <string>

namespace linograf::workbook {

// The records of the file's workbook stream ("Workbook", or "Book" in BIFF5 files) as
// DumpBiffRecords lists them. Raises when the file is no compound document or has no workbook
// stream; a record cut off by the stream's end ends the listing and is described in *error.
std::string DumpWorkbookFileRecords(const std::string& path, std::string* error);

}  // namespace linograf::workbook
