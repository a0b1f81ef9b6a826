#pragma once
// The settings file: a profile file of "[section]" lines and "key=value" lines in Windows-1251,
// read and written with the semantics of the Windows profile functions the file was first made
// with, so a file written by the Windows program reads the same here and the other way round.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace linograf {

class EIniFileException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// No cache: every read looks at the file as it is now, and every write or erase has replaced the
// file on disk when it returns. A write never leaves a half-written file behind: the new content
// goes to a temporary file in the same folder, is flushed, and is renamed over the old one.
//
// Section and key names match without regard to letter case (Windows-1251 letters included); the
// first matching section and, in it, the first matching key count. A key is the text before the
// first "=" of its line and its value the text after it, both without surrounding blanks and tabs.
// Bytes are kept as they are: no conversion from or to any other code page happens here.
class TIniFile {
  public:
    // Values are read back cut to this many bytes.
    static constexpr std::size_t kMaxValueLength = 2047;

    explicit TIniFile(std::string file_name);

    const std::string& FileName() const { return file_name_; }

    // Missing file, section or key give the default.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view default_value) const;
    // The stored text by ParseIntegerText; missing or unreadable text gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t default_value) const;

    // Create the file, the section and the key as needed and replace an existing value. A value
    // is one line: it is cut at its first line break or NUL, which would otherwise start a line of
    // its own (a forged key or section) or be lost on reading.
    // Throws EIniFileException "Unable to write to <file name>" when the file cannot be replaced
    // (read-only file, missing or read-only folder, full disk).
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    // Removes every section of that name with all its lines; the file is rewritten (and created)
    // even when there is no such section, so a refused write is reported here as well.
    void EraseSection(std::string_view section);

  private:
    [[noreturn]] void FailWrite() const;
    void ReplaceFile(const std::string& content) const;

    std::string file_name_;
};

}  // namespace linograf
