#include "text/iconv_text.h"

#include <iconv.h>

#include <cerrno>

namespace linograf {

namespace {

iconv_t Handle(void* descriptor) {
    return static_cast<iconv_t>(descriptor);
}

}  // namespace

TIconvText::TIconvText(const char* to, const std::string& from, std::string_view replacement)
    : replacement_(replacement) {
    const iconv_t cd = ::iconv_open(to, from.c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) descriptor_ = cd;
}

TIconvText::~TIconvText() {
    if (descriptor_) ::iconv_close(Handle(descriptor_));
}

std::string TIconvText::Convert(std::string_view bytes) const {
    std::string out;
    if (!descriptor_) return out;
    const iconv_t cd = Handle(descriptor_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state for every text
    out.reserve(bytes.size());
    char buffer[1024];
    // iconv takes a non-const input pointer although it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    bool flushed = false;
    while (!flushed) {
        char* to = buffer;
        std::size_t to_left = sizeof buffer;
        const bool at_end = in_left == 0;
        // At the end a stateful encoding may still owe the bytes that return to its initial state.
        const std::size_t result =
            at_end ? ::iconv(cd, nullptr, nullptr, &to, &to_left) : ::iconv(cd, &in, &in_left, &to, &to_left);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        out.append(buffer, static_cast<std::size_t>(to - buffer));
        if (error == E2BIG) continue;
        if (error == EINVAL) {
            // A character the end cut short: one replacement character for what is left of it, as
            // Python's decoders give with errors replaced.
            out.append(replacement_);
            in += in_left;
            in_left = 0;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (error == EILSEQ) {
            // An undefined byte: a replacement character for it, then on with the next.
            out.append(replacement_);
            ++in;
            --in_left;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (error != 0) {
            // Nothing else is expected from iconv; the loss is kept visible, not passed over.
            out.append(replacement_);
            break;
        }
        if (at_end) flushed = true;
    }
    return out;
}

}  // namespace linograf
