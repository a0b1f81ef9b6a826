#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "text/cp1251.h"
#include "text/integer_text.h"

namespace linograf {
namespace {

// A line longer than this is read only up to here: no real key or value is that long, and a
// damaged file cannot make a read hold more than this in memory.
constexpr std::size_t kMaxReadLine = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads a line and its terminator ("\n", "\r\n" or none at the end of the file). Only the first
// `keep` bytes of the line's text are stored; the rest is skipped.
bool NextLine(std::FILE* f, std::size_t keep, std::string& text, std::string& terminator) {
    text.clear();
    terminator.clear();
    int c = std::getc(f);
    if (c == EOF) return false;
    for (; c != EOF; c = std::getc(f)) {
        if (c == '\n') {
            terminator = "\n";
            break;
        }
        if (text.size() < keep) text += static_cast<char>(c);
    }
    // CR LF ends a line as LF does; so does a CR at the very end of the file.
    if (!text.empty() && text.back() == '\r' && text.size() < keep) {
        text.pop_back();
        terminator = terminator.empty() ? "\r" : "\r\n";
    }
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// What one line of the file is, for matching.
struct ParsedLine {
    enum Kind { kOther, kSection, kKey } kind = kOther;
    std::string_view name;   // section or key name
    std::string_view value;  // for keys
};

ParsedLine Parse(std::string_view text) {
    ParsedLine line;
    std::string_view t = TrimBlanks(text);
    if (!t.empty() && t.front() == '[') {
        t.remove_prefix(1);
        std::size_t close = t.find(']');
        line.kind = ParsedLine::kSection;
        line.name = TrimBlanks(t.substr(0, close));
        return line;
    }
    std::size_t eq = t.find('=');
    if (eq != std::string_view::npos) {
        line.kind = ParsedLine::kKey;
        line.name = TrimBlanks(t.substr(0, eq));
        line.value = TrimBlanks(t.substr(eq + 1));
    }
    return line;
}

struct RawLine {
    std::string text;
    std::string terminator;
};

std::string_view OneLine(std::string_view value) {
    return value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
}

}  // namespace

TIniFile::TIniFile(std::string file_name) : file_name_(std::move(file_name)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view default_value) const {
    FilePtr f(std::fopen(file_name_.c_str(), "rb"));
    if (!f) return std::string(default_value);
    std::string text, terminator;
    bool in_section = false;
    bool seen_section = false;
    while (NextLine(f.get(), kMaxReadLine, text, terminator)) {
        ParsedLine line = Parse(text);
        if (line.kind == ParsedLine::kSection) {
            // Only the first section of the name counts; a later duplicate is not read.
            if (in_section) break;
            in_section = !seen_section && Cp1251EqualsIgnoreCase(line.name, section);
            seen_section = seen_section || in_section;
        } else if (in_section && line.kind == ParsedLine::kKey && Cp1251EqualsIgnoreCase(line.name, key)) {
            return std::string(line.value.substr(0, kMaxValueLength));
        }
    }
    return std::string(default_value);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t default_value) const {
    std::string text = ReadString(section, key, {});
    return ParseIntegerText(text).value_or(default_value);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::vector<RawLine> lines;
    if (FilePtr f{std::fopen(file_name_.c_str(), "rb")}) {
        RawLine line;
        while (NextLine(f.get(), SIZE_MAX, line.text, line.terminator)) lines.push_back(line);
        if (std::ferror(f.get())) FailWrite();
    } else if (errno != ENOENT) {
        FailWrite();
    }
    const std::string eol = !lines.empty() && lines.front().terminator == "\r\n" ? "\r\n" : "\n";
    std::string new_line = std::string(key) + "=" + std::string(OneLine(value));

    // Position of the first matching section, of the key in it, and of the line after the
    // section's last non-blank line (where a new key goes).
    std::size_t section_at = SIZE_MAX, key_at = SIZE_MAX, insert_at = SIZE_MAX;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParsedLine line = Parse(lines[i].text);
        if (line.kind == ParsedLine::kSection) {
            if (section_at != SIZE_MAX) break;
            if (Cp1251EqualsIgnoreCase(line.name, section)) section_at = insert_at = i + 1;
        } else if (section_at != SIZE_MAX) {
            if (line.kind == ParsedLine::kKey && Cp1251EqualsIgnoreCase(line.name, key)) {
                key_at = i;
                break;
            }
            if (!TrimBlanks(lines[i].text).empty()) insert_at = i + 1;
        }
    }
    if (key_at != SIZE_MAX) {
        lines[key_at].text = new_line;
        if (!lines[key_at].terminator.ends_with('\n')) lines[key_at].terminator = eol;
    } else {
        if (section_at == SIZE_MAX) {
            if (!lines.empty() && !lines.back().terminator.ends_with('\n')) lines.back().terminator = eol;
            lines.push_back({"[" + std::string(section) + "]", eol});
            insert_at = lines.size();
        }
        // A last line without terminator gets one before anything follows it.
        if (insert_at > 0 && !lines[insert_at - 1].terminator.ends_with('\n')) {
            lines[insert_at - 1].terminator = eol;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), RawLine{new_line, eol});
    }
    std::string content;
    for (const RawLine& line : lines) content += line.text + line.terminator;
    ReplaceFile(content);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(std::string_view section) {
    std::string content;
    if (FilePtr f{std::fopen(file_name_.c_str(), "rb")}) {
        RawLine line;
        bool erasing = false;
        while (NextLine(f.get(), SIZE_MAX, line.text, line.terminator)) {
            ParsedLine parsed = Parse(line.text);
            if (parsed.kind == ParsedLine::kSection) erasing = Cp1251EqualsIgnoreCase(parsed.name, section);
            if (!erasing) content += line.text + line.terminator;
        }
        if (std::ferror(f.get())) FailWrite();
    } else if (errno != ENOENT) {
        FailWrite();
    }
    ReplaceFile(content);
}

void TIniFile::FailWrite() const {
    throw EIniFileException("Unable to write to " + file_name_);
}

void TIniFile::ReplaceFile(const std::string& content) const {
    // Through a symbolic link the file it points at is replaced, not the link.
    std::string target = file_name_;
    if (char* real = ::realpath(file_name_.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // A read-only file stays unwritten, as on Windows, even for a user (root) whom the
        // permission bits would not stop, and even though renaming over it would succeed.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) FailWrite();
        mode = st.st_mode & 07777;
    }
    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";

    int fd = ::mkstemp(temp.data());
    if (fd < 0) FailWrite();
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < content.size();) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        FailWrite();
    }
    // The rename itself is on disk only once the folder is flushed.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace linograf
