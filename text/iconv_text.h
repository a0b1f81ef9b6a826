#pragma once
// One iconv conversion with the replacement rule every reader of foreign text here keeps: a byte
// sequence the source encoding does not define, or a character the end of the input cuts short,
// becomes a replacement character and the conversion goes on, so no text is cut short or lost.
#include <string>
#include <string_view>

namespace linograf {

class TIconvText {
  public:
    // `to` and `from` are iconv encoding names; `replacement` is U+FFFD encoded as `to` encodes it.
    // Opened() tells whether iconv knows the pair.
    TIconvText(const char* to, const std::string& from, std::string_view replacement);
    ~TIconvText();
    TIconvText(const TIconvText&) = delete;
    TIconvText& operator=(const TIconvText&) = delete;

    bool Opened() const { return descriptor_ != nullptr; }
    // The bytes in the target encoding, from a fresh shift state; an unopened converter gives
    // nothing. Not for concurrent use of one object: the iconv state is shared.
    std::string Convert(std::string_view bytes) const;

  private:
    std::string replacement_;
    void* descriptor_ = nullptr;  // iconv_t
};

}  // namespace linograf
