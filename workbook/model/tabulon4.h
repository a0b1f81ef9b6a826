#pragma once
// TTabulon4: the workbook object of the program. It owns one workbook in memory (the model it
// derives from: sheets, cells, formats, fonts, shared strings) together with the workbook-globals
// record templates of the BIFF8 writer, and reads it from or writes it to one file: `Read`
// chooses the reader by the file name's extension, `Write` the writer by `Version`. Those two are
// defined with the file formats (workbook/workbook_file.cpp, library linograf_workbook); the rest of
// the class is model and is what the formats read and fill.
//
// Some values are shared by every workbook object of the process (GUI thread only): the sheet
// limits set through `Version`, the texts booleans read as, and the colour palette, which every
// construction resets.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/model/extra_objects.h"
#include "workbook/model/open_xml_model.h"
#include "workbook/model/process_values.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/workbook_model.h"
#include "workbook/model/workbook_options.h"
#include "workbook/model/write_cache.h"

namespace linograf::workbook {

class TStream;

enum TTempFileMode : uint8_t { tfmOnDisk = 0, tfmInMemory };

// The text of the locale's paper size setting ("1" letter, "5" legal, "8" A3, "9" A4) as a paper
// size; anything else is A4.
TPaperSize PaperSizeFromLocaleCode(std::string_view code);
// The paper size setting of the user's locale as such a text; empty when there is none.
std::string LocalePaperSizeCode();

class TTabulon4 : public TWorkbookModel {
  public:
    TTabulon4();
    ~TTabulon4() override;

    // Sets the record data limit (2080 below Excel 97, else 8224, also for the shared strings)
    // and the process-wide sheet limits. Never converts data.
    TExcelVersion Version() const { return version_; }
    void SetVersion(TExcelVersion version);
    // The version of the last file read; xvNone after Clear.
    TExcelVersion OrigVersion() const { return orig_version_; }
    const std::u16string& Filename() const { return filename_; }
    void SetFilename(std::u16string_view name) { filename_ = std::u16string(name); }
    int RecordLimit() const { return record_limit_; }

    TWorkbookData& Workbook() { return workbook_data_; }
    TOptionsDialog& OptionsDialog() { return options_dialog_; }

    // Font 0 of the font list, or null when the list is empty; assigning copies all attributes
    // into font 0.
    TXFont* Font();
    void SetFont(const TXFont& font);

    // WRITEACCESS: at most 109 characters are kept; surrounding blanks are dropped when read back.
    std::string UserName() const;
    void SetUserName(std::string_view name);
    bool BookProtected() const { return globals_.U16(rec::WINDOWPROTECT, 0) == 1; }
    void SetBookProtected(bool on) { globals_.SetU16(rec::WINDOWPROTECT, 0, on ? 1 : 0); }
    bool Backup() const { return globals_.U16(rec::BACKUP, 0) != 0; }
    void SetBackup(bool on) { globals_.SetU16(rec::BACKUP, 0, on ? 1 : 0); }
    bool RefreshAll() const { return globals_.U16(rec::REFRESHALL, 0) != 0; }
    void SetRefreshAll(bool on) { globals_.SetU16(rec::REFRESHALL, 0, on ? 1 : 0); }

    // Held as the byte block of the FILESHARING record (written when it has more than one byte).
    bool RecomendReadOnly() const { return read_only_block_.size() > 1 && read_only_block_[0] == 1; }
    void SetRecomendReadOnly(bool on);
    std::vector<uint8_t>& ReadOnlyBlock() { return read_only_block_; }

    const std::u16string& StrTRUE() const { return workbook::StrTRUE(); }
    void SetStrTRUE(std::u16string text) { workbook::SetStrTRUE(std::move(text)); }
    const std::u16string& StrFALSE() const { return workbook::StrFALSE(); }
    void SetStrFALSE(std::u16string text) { workbook::SetStrFALSE(std::move(text)); }

    bool IsMac() const { return is_mac_; }
    void SetIsMac(bool on) { is_mac_ = on; }
    bool PreserveMacros() const { return preserve_macros_; }
    void SetPreserveMacros(bool on) { preserve_macros_ = on; }
    std::string ComponentVersion() const { return "4.00.12a"; }
    void SetComponentVersion(std::string_view) {}
    // Encrypted files are not written; a password makes Write fail rather than write a file
    // readers would take for unprotected.
    const std::u16string& Password() const { return password_; }
    void SetPassword(std::u16string_view password) { password_ = std::u16string(password); }
    TTempFileMode TempFileMode() const { return temp_file_mode_; }
    void SetTempFileMode(TTempFileMode mode) { temp_file_mode_ = mode; }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    // Fired with 0 before and 100 after a write, and with the percentage of the cells written.
    std::function<void(int)> OnProgress;

    // Empties the workbook: one new empty sheet, the default fonts, formats and records.
    void Clear();
    // Loads Filename: ".xlsx", ".xlsm" and ".zip" (in any case) through the Open XML reader,
    // anything else as a BIFF file.
    void Read();
    // Saves to Filename in the format of Version. The file is replaced only by a complete new one:
    // after any failure a file that was there is unchanged.
    void Write();

    // A log that only ever appends rows turns this on: a write then keeps what it needs to write
    // the next one without making again the text of the rows already in the file (Open XML only;
    // a workbook changed in any other way is written whole). Off by default.
    bool AppendWrites() const { return append_writes_; }
    void SetAppendWrites(bool on);
    // True when the last successful write took the rows already in the file from the cache.
    bool LastWriteAppended() const { return last_write_appended_; }
    void SetLastWriteAppended(bool on) { last_write_appended_ = on; }
    // What the last successful write kept for the next one (see TWriteCache), or null.
    std::unique_ptr<TWriteCache>& WriteCache() { return write_cache_; }

    // The BIFF8 writer's view.
    TRecordStorageGlobals& Globals() { return globals_; }
    // STYLE records kept from a read file; without styles of its own the writer writes the six
    // built-in ones.
    std::vector<TRawRecord>& NamedStyles() { return named_styles_; }
    bool HasOwnStyles() const { return own_styles_; }
    void SetHasOwnStyles(bool on) { own_styles_ = on; }
    // Records of an Open XML file that have no BIFF meaning, kept for the Open XML writer.
    std::vector<TRawRecord>& OpenXmlOnlyRecords() { return ooxml_records_; }
    // Styles, saved elements, relationships and names of the Open XML format that the BIFF model
    // has no room for: filled by the Open XML reader, read by the Open XML writer.
    TOpenXmlBook& OpenXml() { return open_xml_; }
    // False for a chart sheet, whether read from a BIFF file (its kind) or from an Open XML package
    // (the model keeps only its relationship there, with kind 0), and for a macro or module sheet.
    bool IsWorksheet(int index);
    // The other elements (summary information and the like) of the compound document last read;
    // the next BIFF8 file written gets them back.
    TExtraObjects& ExtraObjects() { return extra_objects_; }
    // The source package kept from the last Open XML read, or null.
    TStream* TempStream() { return temp_stream_.get(); }
    // The folder of the last file read, for external references.
    const std::u16string& ReadFolder() const { return read_folder_; }

    // Cell writers call this after every 100 cells while OnProgress is assigned.
    void ProgressStep();

  private:
    void CopyCalcOptionsFromFirstSheet();
    void CopyCalcOptionsToSheets();
    void CreateTempStream();
    void FreeTempStream();
    void PrepareProgress();

    TRecordStorageGlobals globals_;
    std::vector<TRawRecord> ooxml_records_;
    TOpenXmlBook open_xml_;
    TWorkbookData workbook_data_;
    TOptionsDialog options_dialog_;
    std::vector<TRawRecord> named_styles_;
    bool own_styles_ = false;
    TExtraObjects extra_objects_;
    std::vector<uint8_t> read_only_block_;

    TExcelVersion version_ = xvExcel97;
    TExcelVersion orig_version_ = xvNone;
    int record_limit_ = 8224;
    std::u16string filename_;
    std::u16string read_folder_;
    std::u16string password_;
    bool is_mac_ = false;
    bool preserve_macros_ = true;
    TTempFileMode temp_file_mode_ = tfmOnDisk;
    int tag_ = 0;
    std::unique_ptr<TStream> temp_stream_;
    std::string temp_file_name_;
    bool append_writes_ = false;
    bool last_write_appended_ = false;
    std::unique_ptr<TWriteCache> write_cache_;

    int progress_total_ = 0;
    int progress_count_ = 0;
};

}  // namespace linograf::workbook
