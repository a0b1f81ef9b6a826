#include "core/live_log.h"

#include <sys/stat.h>

#include <exception>

#include "text/cp1251.h"
#include "core/file_ext.h"
#include "text/wide_text.h"

namespace linograf {

namespace {

constexpr int kLastRowExcel97 = 65535;
constexpr int kLastRowExcel2007 = 1048575;

// Any directory entry counts, a folder or a dangling link too: the log must not make a file where
// something of that name is.
bool EntryExists(const std::string& utf8_path) {
    struct stat info;
    return ::lstat(utf8_path.c_str(), &info) == 0;
}

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return Utf8ToCp1251(e.what());
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

void TLiveLog::CaptureStarting(TLogVersionChoice version) {
    LeaveFile();
    if (version == TLogVersionChoice::kExcel97) book_.SetVersion(workbook::xvExcel97);
    if (version == TLogVersionChoice::kExcel2007) book_.SetVersion(workbook::xvExcel2007);
    book_.SetFilename(u"");
    expanded_name_.clear();
}

int TLiveLog::LastRowIndex() const {
    return book_.Version() == workbook::xvExcel2007 ? kLastRowExcel2007 : kLastRowExcel97;
}

std::string TLiveLog::SiblingName(const std::string& name, int n) {
    if (n <= 1) return name;
    const std::string_view extension = ExtractFileExt(name);
    std::string sibling = name.substr(0, name.size() - extension.size());
    sibling += " (" + std::to_string(n) + ")";
    sibling += extension;
    return sibling;
}

std::string TLiveLog::LockFileName(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + ".~lock." + file + "#";
}

void TLiveLog::Status(const std::string& text) {
    if (OnStatusText) OnStatusText(text);
}

void TLiveLog::cdataAfterPost(TMemTable& journal) {
    const std::string name = ExpandFileTemplate(FileTemplate ? FileTemplate() : std::string(), Clock);
    // An empty Filename is the mark of a capture start (the window may clear it itself).
    if (book_.Filename().empty() || name != expanded_name_) SelectFile(name, 1, std::string());
    if (book_.Tag() > LastRowIndex()) {
        SelectFile(expanded_name_, sibling_ + 1,
                   Utf8ToCp1251("файл ") + file_name_ + Utf8ToCp1251(" заполнен (последняя строка ") +
                       std::to_string(LastRowIndex()) + ")");
    }
    PutRow(journal);
    try {
        WriteFile();
    } catch (const std::exception& error) {
        if (lost_.empty()) throw;
        const std::string message = lost_ + "; " + error.what();
        lost_.clear();
        throw ELiveLogError(message);
    }
    if (!lost_.empty()) {
        const std::string message = std::move(lost_);
        lost_.clear();
        throw ELiveLogError(message);
    }
}

void TLiveLog::Flush() {
    if (unwritten_rows_ > 0) WriteFile();
}

void TLiveLog::LeaveFile() {
    if (unwritten_rows_ == 0 || file_name_.empty()) return;
    try {
        WriteFile();
    } catch (const std::exception& error) {
        if (!lost_.empty()) lost_ += "; ";
        lost_ += std::to_string(unwritten_rows_) + " rows could not be written to \"" +
                 Cp1251ToUtf8(file_name_) + "\": " + error.what();
    }
    unwritten_rows_ = 0;
}

void TLiveLog::SelectFile(const std::string& name, int first, std::string why) {
    LeaveFile();
    Status(Utf8ToCp1251("Выгрузка в файл ") + name);
    expanded_name_ = name;
    for (int n = first;; ++n) {
        if (n > kMaxSiblings) {
            // Nothing can be logged for this name; the next row tries again from the start.
            book_.SetFilename(u"");
            throw ELiveLogError("No file name is left for the log: \"" + Cp1251ToUtf8(name) + "\" and " +
                                std::to_string(kMaxSiblings - 1) + " siblings are in use");
        }
        const std::string candidate = SiblingName(name, n);
        file_name_ = candidate;
        sibling_ = n;
        book_.SetFilename(Cp1251ToUtf16(candidate));
        if (!EntryExists(Cp1251ToUtf8(candidate))) {
            StartNewFile();
            break;
        }
        try {
            book_.Read();
        } catch (...) {
            // The file is left exactly as it is: it holds something this log cannot account for.
            if (!why.empty()) why += "; ";
            why += Utf8ToCp1251("файл ") + candidate + Utf8ToCp1251(" не удалось прочитать (") +
                   ErrorText(std::current_exception()) + ")";
            continue;
        }
        // A file in which the reader found no cell at all may be no workbook (an empty or a text
        // file that a lenient reader took for an empty package): it is not replaced either.
        bool any_cell = false;
        for (int i = 0; i < book_.Sheets().Count() && !any_cell; ++i)
            any_cell = !book_.Sheet(i).Cells().Empty();
        if (!any_cell) {
            if (!why.empty()) why += "; ";
            why += Utf8ToCp1251("файл ") + candidate + Utf8ToCp1251(" не содержит ни одной ячейки");
            continue;
        }
        workbook::TSheet& sheet = book_.Sheet(0);
        if (sheet.Cells().Empty()) {
            PutHeader();
            book_.SetTag(1);
            break;
        }
        // After the last used row, whatever the rows before it hold: a file with gaps or one made
        // by another program keeps all its cells.
        sheet.CalcDimensions();
        const long long next = static_cast<long long>(sheet.LastRow()) + 1;
        if (next > LastRowIndex()) {
            if (!why.empty()) why += "; ";
            why += Utf8ToCp1251("файл ") + candidate + Utf8ToCp1251(" заполнен (последняя строка ") +
                   std::to_string(LastRowIndex()) + ")";
            continue;
        }
        book_.SetTag(static_cast<int>(next));
        break;
    }
    if (file_name_ != name || !why.empty()) {
        Status(Utf8ToCp1251("Выгрузка в файл ") + file_name_);
        if (OnNotice) OnNotice(Utf8ToCp1251("Запись идёт в файл ") + file_name_ + ": " + why);
    }
}

void TLiveLog::StartNewFile() {
    // Nothing of an earlier file stays: the content a new workbook object has. Version, Filename
    // and Tag are the log's and survive the clearing.
    book_.Clear();
    PutHeader();
    // The header is written together with the first row: a header-only file would be replaced
    // at once, and a failed write of it must not make the rows start anywhere but row 1.
    book_.SetTag(1);
}

void TLiveLog::PutHeader() {
    workbook::TSheet& sheet = book_.Sheet(0);
    const int count = columns_.ColumnCount();
    sheet.Columns().AddIfNone(0, count + 2);
    sheet.Rows().AddIfNone(0);
    for (int i = 0; i < count; ++i) {
        sheet.SetAsWideString(i, 0, Cp1251ToUtf16(columns_.ColumnTitle(i)));
        workbook::TXLSColumn* column = sheet.Columns().Items(i);
        if (column == nullptr) continue;
        try {
            column->SetPixelWidth(columns_.ColumnPixelWidth(i));
        } catch (...) {
            column->SetPixelWidth(kFallbackColumnWidth);
        }
    }
}

void TLiveLog::PutRow(TMemTable& journal) {
    workbook::TSheet& sheet = book_.Sheet(0);
    const int row = book_.Tag();
    sheet.Rows().AddIfNone(static_cast<uint32_t>(row));
    // Column 0 of the journal is its id, which is not logged.
    for (int j = 1; j < journal.FieldCount(); ++j)
        sheet.SetAsWideString(j - 1, row, Cp1251ToUtf16(journal.Fields(j).AsString()));
    book_.SetTag(row + 1);
    ++unwritten_rows_;
}

void TLiveLog::WriteFile() {
    // The window clears Filename at a capture start; rows left from before still belong here.
    book_.SetFilename(Cp1251ToUtf16(file_name_));
    const std::string path = Cp1251ToUtf8(file_name_);
    const std::string lock = LockFileName(path);
    if (EntryExists(lock)) {
        throw ELiveLogError("Cannot write \"" + path + "\": it is open for editing in another program (\"" +
                            lock + "\" exists); the rows wait in memory for the next write");
    }
    book_.Write();
    unwritten_rows_ = 0;
}

}  // namespace linograf
