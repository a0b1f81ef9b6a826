#include "text/device_text.h"

#include "text/cp1251.h"
#include "text/iconv_text.h"

namespace linograf {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

}  // namespace

TDeviceTextDecoder::TDeviceTextDecoder(const std::string& encoding)
    : encoding_(encoding), converter_(std::make_unique<TIconvText>("UTF-8", encoding, kReplacementUtf8)) {
    if (!converter_->Opened())
        throw EUnknownEncoding("unknown encoding \"" + encoding + "\" (\"iconv -l\" lists the names)");
}

TDeviceTextDecoder::~TDeviceTextDecoder() = default;

std::string TDeviceTextDecoder::ToUtf8(std::string_view bytes) {
    return converter_->Convert(bytes);
}

bool IsWindows1251Name(std::string_view encoding) {
    const std::string upper = Cp1251UpperCase(encoding);
    return upper == "WINDOWS-1251" || upper == "CP1251" || upper == "WINDOWS1251" || upper == "MS-CYRL";
}

}  // namespace linograf
