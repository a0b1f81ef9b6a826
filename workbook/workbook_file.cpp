// TTabulon4's Read and Write: the one place where the workbook meets its file formats. The class
// itself, with everything else it holds, belongs to the model (workbook/model/tabulon4.h); the
// formats work on the model, so only these two functions need all of them.
#include <stdexcept>
#include <string>

#include "base/atomic_file.h"
#include "base/file_stream.h"
#include "text/wide_text.h"
#include "workbook/biff/biff_reader.h"
#include "workbook/biff/biff_writer.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_read_2007_xml.h"
#include "workbook/ooxml/xls_write_2007_xml.h"

namespace linograf::workbook {
namespace {

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

}  // namespace

void TTabulon4::Read() {
    const std::string path = WideToUtf8(filename_);
    const std::string ext = LowerExtension(path);
    try {
        if (ext == ".xlsx" || ext == ".xlsm" || ext == ".zip") {
            // Opened first: a file that cannot be read leaves the workbook as it was.
            TFileStream input(path, TFileMode::fmOpenRead);
            Clear();
            Fonts().Clear();
            Formats().Clear();
            Formats().AddDefaultFormats();
            StyleFormats().Clear();
            CreateTempStream();
            ReadOpenXmlWorkbook(*this, input, temp_stream_.get());
            if (temp_stream_) CheckSourcePackageCopies(*this, *temp_stream_);
            CheckWorkbookRelationIds(*this);
            SetVersion(xvExcel2007);
        } else {
            Clear();
            Sheets().Clear();
            Fonts().Clear();
            Formats().Clear();
            Formats().NumberFormats().Reset();
            StyleFormats().Clear();
            ReadBiffWorkbook(*this, nullptr);
        }
    } catch (...) {
        if (Sheets().Count() == 0) Clear();
        throw;
    }
    if (Sheets().Count() == 0) Clear();

    const size_t slash = filename_.rfind(u'/');
    read_folder_ = slash == std::u16string::npos ? std::u16string() : filename_.substr(0, slash + 1);
    Formats().SetFixedBoundary();
    Fonts().SetFixedBoundary();
    CopyCalcOptionsFromFirstSheet();
    for (int i = 0; i < Sheets().Count(); ++i) Sheet(i).Rows().Sort();
    orig_version_ = version_;
}

void TTabulon4::Write() {
    if (version_ == xvExcel21 || version_ == xvExcel30)
        throw std::runtime_error("Can not write Excel 2.1/3.0 files");
    if (version_ != xvExcel97 && version_ != xvExcel2007)
        throw std::runtime_error("Can not write Excel 4.0/5.0 files");
    if (!password_.empty()) throw std::runtime_error("Can not write encrypted files");
    if (OnProgress) {
        OnProgress(0);
        PrepareProgress();
    }
    CopyCalcOptionsToSheets();
    if (version_ == xvExcel2007) {
        last_write_appended_ = false;
        try {
            TAtomicFileWriter file(WideToUtf8(filename_));
            WriteOpenXmlWorkbook(*this, file.Stream(), temp_stream_.get());
            file.Commit();
        } catch (...) {
            // What the writer kept may describe a file that never reached the disk.
            write_cache_.reset();
            last_write_appended_ = false;
            throw;
        }
    } else {
        write_cache_.reset();
        TBiffWriter(*this).Write(nullptr);
    }
    if (OnProgress) OnProgress(100);
}

}  // namespace linograf::workbook
