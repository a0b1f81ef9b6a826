#pragma once
// The text of a device that does not speak Windows-1251: its bytes are converted with iconv, so any
// encoding the C library knows (UTF-8, ISO-8859-1, CP866, KOI8-R, ...) can be named. Fields are
// cut from the bytes first (a record format's sizes count bytes), then each field is converted on
// its own, so a character split by a field boundary, like any invalid sequence, comes out as
// U+FFFD instead of ending the line.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace linograf {

class TIconvText;

// The encoding name is unknown to iconv.
class EUnknownEncoding : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

class TDeviceTextDecoder {
  public:
    // Raises EUnknownEncoding.
    explicit TDeviceTextDecoder(const std::string& encoding);
    ~TDeviceTextDecoder();
    TDeviceTextDecoder(const TDeviceTextDecoder&) = delete;
    TDeviceTextDecoder& operator=(const TDeviceTextDecoder&) = delete;

    const std::string& Encoding() const { return encoding_; }
    // The bytes as UTF-8; a sequence that does not convert becomes U+FFFD and the conversion goes
    // on after it.
    std::string ToUtf8(std::string_view bytes);

  private:
    std::string encoding_;
    std::unique_ptr<TIconvText> converter_;
};

// Windows-1251 under any of the names the settings and the command line accept for it: the journal
// then keeps the device's bytes as they are.
bool IsWindows1251Name(std::string_view encoding);

}  // namespace linograf
