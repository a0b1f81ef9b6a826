#include "text/device_text.h"

#include <iconv.h>

#include <cerrno>

#include "text/cp1251.h"

namespace linograf {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

iconv_t Handle(void* descriptor) {
    return static_cast<iconv_t>(descriptor);
}

}  // namespace

TDeviceTextDecoder::TDeviceTextDecoder(const std::string& encoding) : encoding_(encoding) {
    iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw EUnknownEncoding("unknown encoding \"" + encoding + "\" (\"iconv -l\" lists the names)");
    descriptor_ = cd;
}

TDeviceTextDecoder::~TDeviceTextDecoder() {
    ::iconv_close(Handle(descriptor_));
}

std::string TDeviceTextDecoder::ToUtf8(std::string_view bytes) {
    iconv_t cd = Handle(descriptor_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state for every field
    std::string out;
    char buffer[1024];
    // iconv takes a non-const input pointer although it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    bool flushed = false;
    while (!flushed) {
        char* to = buffer;
        std::size_t to_left = sizeof buffer;
        const bool at_end = in_left == 0;
        const std::size_t result =
            at_end ? ::iconv(cd, nullptr, nullptr, &to, &to_left) : ::iconv(cd, &in, &in_left, &to, &to_left);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        out.append(buffer, static_cast<std::size_t>(to - buffer));
        if (error == E2BIG) continue;
        if (error == EINVAL) {
            // A character the field's end cut short: one replacement character for what is left
            // of it, as a decoder that replaces errors gives.
            out.append(kReplacementUtf8);
            in += in_left;
            in_left = 0;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (error == EILSEQ) {
            // An invalid byte: a replacement character for it, then on with the next.
            out.append(kReplacementUtf8);
            ++in;
            --in_left;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (error != 0) {
            // Nothing else is expected from iconv; what is left is kept visible, not dropped.
            out.append(kReplacementUtf8);
            break;
        }
        if (at_end) flushed = true;
    }
    return out;
}

bool IsWindows1251Name(std::string_view encoding) {
    const std::string upper = Cp1251UpperCase(encoding);
    return upper == "WINDOWS-1251" || upper == "CP1251" || upper == "WINDOWS1251" || upper == "MS-CYRL";
}

}  // namespace linograf
