// The device's text through iconv, against what python's codecs make of the same bytes with
// errors replaced.
#include "text/device_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/run_command.h"

namespace linograf {
namespace {

std::string Hex(std::string_view bytes) {
    std::string hex;
    for (const unsigned char byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

TEST(DeviceText, ConvertsAsPythonCodecsDoWithErrorsReplaced) {
    struct Case {
        const char* iconv_name;
        const char* python_name;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"UTF-8", "utf-8", "plain ASCII 123"},
        {"UTF-8", "utf-8", "\xD0\x92\xD0\xB5\xD1\x81 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"UTF-8", "utf-8", "bad \xFF byte"},
        {"UTF-8", "utf-8", "cut \xE2\x82"},  // a character the field's end split
        {"UTF-8", "utf-8", "\x81\x82tail"},  // its other half at the next field's start
        {"ISO-8859-1", "latin-1", "caf\xE9 na\xEFve \xB5\xFF"},
        {"CP866", "cp866", "\x82\xA5\xE1 \xAA\xA3"},
        {"KOI8-R", "koi8-r", "\xF7\xC5\xD3 \xCB\xC7"},
        {"UTF-16LE", "utf-16-le", std::string("A\0\x16\x04", 4)},
        {"UTF-16LE", "utf-16-le", std::string("A\0B", 3)},  // an odd last byte
    };
    std::vector<std::string> arguments;
    for (const Case& c : cases) {
        arguments.push_back(c.python_name);
        arguments.push_back(Hex(c.bytes));
    }
    const test::CommandResult python = test::RunPython(R"(
import sys
args = sys.argv[1:]
for name, hex_bytes in zip(args[0::2], args[1::2]):
    print(bytes.fromhex(hex_bytes).decode(name, 'replace').encode('utf-8').hex())
)",
                                                       arguments);
    ASSERT_EQ(python.exit_code, 0) << python.errors;
    std::istringstream expected(python.output);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.iconv_name) + " " + Hex(c.bytes));
        std::string line;
        ASSERT_TRUE(std::getline(expected, line));
        TDeviceTextDecoder decoder(c.iconv_name);
        EXPECT_EQ(Hex(decoder.ToUtf8(c.bytes)), line);
    }
}

TEST(DeviceText, UnknownNamesAreRefusedAndWindows1251IsRecognised) {
    EXPECT_THROW(TDeviceTextDecoder("NO-SUCH-ENCODING"), EUnknownEncoding);
    for (const char* name : {"windows-1251", "CP1251", "cp1251", "WINDOWS-1251"})
        EXPECT_TRUE(IsWindows1251Name(name)) << name;
    for (const char* name : {"UTF-8", "KOI8-R", "", "1251"}) EXPECT_FALSE(IsWindows1251Name(name)) << name;
}

}  // namespace
}  // namespace linograf
