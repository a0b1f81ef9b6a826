#include "workbook/model/tabulon4.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "text/wide_text.h"

namespace linograf::workbook {
namespace {

constexpr size_t kUserNameLimit = 109;

// The folders a temporary copy may go to, best first: the user's own runtime folder (private to
// the user, in memory), then the temporary folder the environment names, then /tmp.
std::vector<std::string> TempFolders() {
    std::vector<std::string> folders;
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* dir = std::getenv(variable);
        if (dir && *dir) folders.emplace_back(dir);
    }
    folders.emplace_back("/tmp");
    return folders;
}

std::string TempFolder() {
    return TempFolders().front();
}

// Temporary source packages of earlier Open XML reads: "XLS" + digits + ".tmp". Only names of
// exactly this form are ours to delete.
bool IsOurTempFileName(std::string_view name) {
    if (name.size() < 8 || name.substr(0, 3) != "XLS" || name.substr(name.size() - 4) != ".tmp") return false;
    const std::string_view digits = name.substr(3, name.size() - 7);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void DeleteLeftoverTempFiles() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder(), error)) {
        // A link of such a name is no copy of ours: it is neither followed nor removed.
        if (entry.symlink_status(error).type() != std::filesystem::file_type::regular) continue;
        if (IsOurTempFileName(entry.path().filename().string())) std::filesystem::remove(entry.path(), error);
    }
}

int16_t CalcModeValue(TCalcMode mode) {
    return mode == cmManual ? 0 : mode == cmAutomatic ? 1 : -1;
}

}  // namespace

TPaperSize PaperSizeFromLocaleCode(std::string_view code) {
    if (code == "1") return psLetter;
    if (code == "5") return psLegal;
    if (code == "8") return psA3;
    return psA4;
}

std::string LocalePaperSizeCode() {
    // LC_PAPER gives the sheet's size in millimetres; the codes are those of the usual sizes.
    locale_t locale = newlocale(LC_PAPER_MASK, "", static_cast<locale_t>(nullptr));
    if (!locale) return {};
    const auto height = static_cast<int>(reinterpret_cast<intptr_t>(nl_langinfo_l(_NL_PAPER_HEIGHT, locale)));
    const auto width = static_cast<int>(reinterpret_cast<intptr_t>(nl_langinfo_l(_NL_PAPER_WIDTH, locale)));
    freelocale(locale);
    struct Size {
        int width, height;
        const char* code;
    };
    static constexpr Size kSizes[] = {{216, 279, "1"}, {216, 356, "5"}, {297, 420, "8"}, {210, 297, "9"}};
    for (const Size& s : kSizes)
        if (s.width == width && s.height == height) return s.code;
    return {};
}

TTabulon4::TTabulon4() : workbook_data_(globals_), options_dialog_(globals_) {
    DeleteLeftoverTempFiles();
    SetDefaultPaperSize(PaperSizeFromLocaleCode(LocalePaperSizeCode()));
    // The model made its first sheet before the paper size was known.
    for (int i = 0; i < Sheets().Count(); ++i) Sheet(i).PrintSettings().SetPaperSize(DefaultPaperSize());
    SetStrTRUE(u"TRUE");
    SetStrFALSE(u"FALSE");
    CopyCalcOptionsFromFirstSheet();
    SetVersion(xvExcel97);
}

TTabulon4::~TTabulon4() = default;

void TTabulon4::SetVersion(TExcelVersion version) {
    version_ = version;
    record_limit_ = version < xvExcel97 ? 2080 : 8224;
    SST().SetRecordLimit(record_limit_);
    SetSheetLimits(version);
}

TXFont* TTabulon4::Font() {
    return Fonts().Count() > 0 ? &Fonts().Items(0) : nullptr;
}

void TTabulon4::SetFont(const TXFont& font) {
    if (Fonts().Count() > 0) Fonts().Items(0).AssignAttributes(font);
}

// WRITEACCESS: character count (u16), 0 (8-bit characters), the characters, spaces up to 112.
std::string TTabulon4::UserName() const {
    const TRawRecord& r = globals_.Named(rec::WRITEACCESS);
    if (r.data.size() < 3) return {};
    const size_t count = std::min<size_t>(r.data[0] | (r.data[1] << 8), r.data.size() - 3);
    std::string name(r.data.begin() + 3, r.data.begin() + 3 + static_cast<std::ptrdiff_t>(count));
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

void TTabulon4::SetUserName(std::string_view name) {
    TRawRecord& r = globals_.Named(rec::WRITEACCESS);
    name = name.substr(0, kUserNameLimit);
    r.data.assign(3 + kUserNameLimit, 0x20);
    r.data[0] = static_cast<uint8_t>(name.size());
    r.data[1] = 0;
    r.data[2] = 0;
    std::copy(name.begin(), name.end(), r.data.begin() + 3);
}

void TTabulon4::SetRecomendReadOnly(bool on) {
    if (on) {
        if (read_only_block_.size() < 2) read_only_block_.assign(6, 0);
        read_only_block_[0] = 1;
        return;
    }
    if (read_only_block_.size() <= 1) return;
    read_only_block_[0] = 0;
    if (std::all_of(read_only_block_.begin(), read_only_block_.end(), [](uint8_t b) { return b == 0; }))
        read_only_block_.clear();
}

bool TTabulon4::IsWorksheet(int index) {
    if (Sheet(index).Kind() != 0) return false;
    return index >= open_xml_.SheetCount() || open_xml_.Sheet(index).chart_relation_id.empty();
}

void TTabulon4::SetAppendWrites(bool on) {
    append_writes_ = on;
    if (!on) write_cache_.reset();
}

void TTabulon4::Clear() {
    write_cache_.reset();
    globals_.Reset();
    ooxml_records_.clear();
    open_xml_.Clear();
    own_styles_ = false;
    ClearModel();
    StyleFormats().Clear();
    named_styles_.clear();
    extra_objects_.Clear();
    FreeTempStream();
    orig_version_ = xvNone;
    read_only_block_.clear();
}

void TTabulon4::FreeTempStream() {
    temp_stream_.reset();
    if (!temp_file_name_.empty()) ::unlink(temp_file_name_.c_str());
    temp_file_name_.clear();
}

void TTabulon4::CreateTempStream() {
    FreeTempStream();
    if (temp_file_mode_ == tfmInMemory) {
        temp_stream_ = std::make_unique<TMemoryStream>();
        return;
    }
    // The copy never takes an entry someone else made (a planted link would send the package's
    // bytes wherever it points): a file without a name where the file system has them, else a
    // name of our own made with O_EXCL and unlinked at once, so that nothing is left behind when
    // the program is killed.
    int error = ENOENT;
    std::string last_folder;
    for (const std::string& folder : TempFolders()) {
        last_folder = folder;
        int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            temp_stream_ = std::make_unique<TFileStream>(fd, folder + "/(temporary copy)");
            return;
        }
        error = errno;
        const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        for (long long n = ticks; n < ticks + 1000; ++n) {
            const std::string name = folder + "/XLS" + std::to_string(n) + ".tmp";
            fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::unlink(name.c_str());
                temp_stream_ = std::make_unique<TFileStream>(fd, name);
                return;
            }
            error = errno;
            if (error != EEXIST) break;  // this folder cannot be used: try the next one
        }
    }
    throw EStreamError("Cannot create file \"" + last_folder + "/XLS*.tmp\". " + std::strerror(error));
}

void TTabulon4::CopyCalcOptionsFromFirstSheet() {
    if (Sheets().Count() == 0) return;
    TRecordStorageSheet& r = Sheet(0).Records();
    switch (static_cast<int16_t>(r.U16(rec::CALCMODE, 0))) {
        case 0:
            options_dialog_.SetCalcMode(cmManual);
            break;
        case 1:
            options_dialog_.SetCalcMode(cmAutomatic);
            break;
        case -1:
            options_dialog_.SetCalcMode(cmAutoExTables);
            break;
        default:
            break;
    }
    options_dialog_.SetCalcCount(r.U16(rec::CALCCOUNT, 0));
    options_dialog_.SetDelta(r.Double(rec::DELTA, 0));
    options_dialog_.SetR1C1Mode(r.U16(rec::REFMODE, 0) == 0);
    options_dialog_.SetIteration(r.U16(rec::ITERATION, 0) == 1);
    options_dialog_.SetSaveRecalc(r.U16(rec::SAVERECALC, 0) == 1);
}

void TTabulon4::CopyCalcOptionsToSheets() {
    for (int i = 0; i < Sheets().Count(); ++i) {
        TRecordStorageSheet& r = Sheet(i).Records();
        r.SetU16(rec::CALCMODE, 0, static_cast<uint16_t>(CalcModeValue(options_dialog_.CalcMode())));
        r.SetU16(rec::CALCCOUNT, 0, options_dialog_.CalcCount());
        r.SetU16(rec::REFMODE, 0, options_dialog_.R1C1Mode() ? 0 : 1);
        r.SetU16(rec::ITERATION, 0, options_dialog_.Iteration() ? 1 : 0);
        r.SetU16(rec::SAVERECALC, 0, options_dialog_.SaveRecalc() ? 1 : 0);
    }
}

void TTabulon4::PrepareProgress() {
    progress_total_ = 0;
    progress_count_ = 0;
    for (int i = 0; i < Sheets().Count(); ++i) {
        TRecordStorageSheet& r = Sheet(i).Records();
        progress_total_ += r.Count() > 0 ? r.Count() : r.DefaultCount();
    }
}

void TTabulon4::ProgressStep() {
    progress_count_ += 100;
    if (!OnProgress || progress_total_ <= 0) return;
    const long now = std::lround(progress_count_ * 100.0 / progress_total_);
    const long before = std::lround((progress_count_ - 100) * 100.0 / progress_total_);
    if (now != before) OnProgress(static_cast<int>(now));
}

}  // namespace linograf::workbook
