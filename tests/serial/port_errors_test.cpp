#include "serial/port_errors.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "serial/open_result.h"
#include "serial/platform_error.h"

namespace linograf::serial {
namespace {

struct ProducedCode {
    int32_t code;
    const char* message;
    bool (*is_class)(const std::exception&);
};

template <class T>
bool Is(const std::exception& e) {
    return dynamic_cast<const T*>(&e) != nullptr;
}

// The codes this system raises, with their leaf class, family and text.
TEST(PortErrors, ProducedCodesRaiseTheirClassWithTheirText) {
    const ProducedCode cases[] = {
        {-1002, "Bad argument passed to function",
         [](const std::exception& e) { return Is<EBadArgument>(e) && Is<EGeneral>(e); }},
        {-2001, "ie_BadId - Specified comport doesn't exist",
         [](const std::exception& e) { return Is<EBadId>(e) && Is<EOpenComm>(e); }},
        {-2007, "ie_NOpen - device not open", [](const std::exception& e) { return Is<ECommNotOpen>(e); }},
        {-2008, "ie_Open - device already open", [](const std::exception& e) { return Is<EAlreadyOpen>(e); }},
        {-2011, "The ComNumber property of the TNlkComPort has not been set",
         [](const std::exception& e) { return Is<ENoPortSelected>(e); }},
        {-2012, "Comport was not opened by Tapi",
         [](const std::exception& e) { return Is<ENotOpenedByTapi>(e); }},
        {-3001, "No device layer specified",
         [](const std::exception& e) { return Is<ENullApi>(e) && Is<ESerialIO>(e); }},
        {-3007, "Buffer is empty",
         [](const std::exception& e) { return Is<EBufferIsEmpty>(e) && Is<ESerialIO>(e); }},
        {-13868, "No memory", [](const std::exception& e) { return Is<ETapiNoMem>(e) && Is<ETapi>(e); }},
    };
    for (const auto& c : cases) {
        try {
            CheckError(c.code);
            ADD_FAILURE() << c.code << " raised nothing";
        } catch (const ENLKException& e) {
            EXPECT_STREQ(e.what(), c.message) << c.code;
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_TRUE(c.is_class(e)) << c.code;
        }
    }
}

// The family of a mapped code follows from its range: the thousands name the family, the few
// internal errors of the INI range belong to the general family, and telephony codes end where
// the one remote-access code starts.
using FamilyCheck = std::function<bool(const std::exception&)>;
FamilyCheck FamilyOf(int32_t code) {
    const int32_t n = -code;
    if (n == 7003 || n == 7006 || n == 7012) return Is<EInternal>;
    if (n == 13980) return Is<ERas>;
    if (n >= 13800) return Is<ETapi>;
    switch (n / 1000) {
        case 1:
            return Is<EGeneral>;
        case 2:
            return Is<EOpenComm>;
        case 3:
            return Is<ESerialIO>;
        case 4:
            return Is<EModem>;
        case 5:
            return Is<ETrigger>;
        case 6:
            return Is<EProtocol>;
        case 7:
            return Is<EINI>;
        case 8:
            return Is<EFax>;
        default:
            return nullptr;
    }
}

TEST(PortErrors, EveryMappedCodeRaisesItsFamilyCarryingTheCode) {
    int mapped = 0;
    for (int32_t code = -1; code >= -14000; --code) {
        if (!IsMappedCode(code)) continue;
        ++mapped;
        const FamilyCheck family = FamilyOf(code);
        ASSERT_TRUE(family) << code << " lies outside every family's range";
        try {
            CheckError(code);
            ADD_FAILURE() << code;
        } catch (const ENLKException& e) {
            EXPECT_EQ(e.ErrorCode(), code);
            EXPECT_TRUE(family(e)) << code << " raised a class of another family";
            EXPECT_NE(std::strlen(e.what()), 0u) << code;
        }
    }
    EXPECT_EQ(mapped, 166);
    EXPECT_EQ(MappedCodeCount(), 166);
    // Codes inside the families' ranges that have no class of their own stay unmapped.
    for (int32_t code : {-1001, -2000, -3002, -6001, -7009, -13804, -13849, -13979})
        EXPECT_FALSE(IsMappedCode(code)) << code;
}

TEST(PortErrors, OpenFailuresMapToThePortCodes) {
    const std::pair<int32_t, int32_t> cases[] = {
        {-5, ecAlreadyOpen}, {-2, ecBadId}, {-3, ecBadId}, {-13, -13}, {-87, -87}, {-8, -8}, {0, 0},
    };
    for (const auto& [code, mapped] : cases) EXPECT_EQ(MapOpenResult(code), mapped) << code;
    // A text of its own replaces the bare platform text; without one the code's own class applies.
    try {
        CheckOpenResult(nullptr, -13, "Cannot open the serial device /dev/ttyS3: Permission denied");
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Cannot open the serial device /dev/ttyS3: Permission denied");
        EXPECT_EQ(e.ErrorCode(), 13);
    }
    EXPECT_THROW(CheckOpenResult(nullptr, ecAlreadyOpen, ""), EAlreadyOpen);
    EXPECT_EQ(CheckOpenResult(nullptr, 0, "unused"), 0);
}

TEST(PortErrors, RuntimeRangeAndUnmappedCodes) {
    try {
        CheckError(-5);
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File access denied");
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    EXPECT_THROW(CheckError(-8), EOutOfMemory);
    // A number without a table text takes the platform's text of the errno it stands for: the
    // Windows-style numbers this layer makes up from an errno go back to that errno (87 is EINVAL
    // here, whatever errno 87 means), every other number is an errno passed through. The number
    // itself stays the error code.
    const struct {
        int32_t code;
        int error;
    } kPlatformTexts[] = {{-87, EINVAL},       {-13, EACCES}, {-995, ECANCELED},
                          {-997, EINPROGRESS}, {-28, ENOSPC}, {-110, ETIMEDOUT}};
    for (const auto& c : kPlatformTexts) {
        SCOPED_TRACE(c.code);
        try {
            CheckError(c.code);
            ADD_FAILURE();
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), std::string(std::strerror(c.error)));
            EXPECT_EQ(e.ErrorCode(), -c.code);
        } catch (const std::exception& e) {
            // Beyond -162 a number is no runtime I/O error; its text is still the platform's.
            EXPECT_LT(c.code, -162) << e.what();
            EXPECT_EQ(ErrorMessage(c.code), std::string(std::strerror(c.error)));
        }
    }
    // An errno that equals one of those numbers does not pass through as that number.
    EXPECT_NE(PlatformErrorFromErrno(EUSERS), kErrorInvalidParameter);
    try {
        CheckError(-3002);
        ADD_FAILURE();
    } catch (const ENLKException& e) {
        EXPECT_STREQ(e.what(), "Nelk exception");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
}

struct Loading : ErrorOwner {
    bool loading = true;
    bool IsLoading() const override { return loading; }
};

TEST(PortErrors, NonNegativeCodesAndLoadingOwnersRaiseNothing) {
    EXPECT_EQ(CheckError(0), 0);
    EXPECT_EQ(CheckError(42), 42);
    Loading owner;
    EXPECT_EQ(CheckError(&owner, -2001), -2001);
    owner.loading = false;
    EXPECT_THROW(CheckError(&owner, -2001), EBadId);
}

TEST(PortErrors, SystemMessagesAreCleanedOfLineBreaksAndDoubleSpaces) {
    const std::pair<const char*, const char*> cases[] = {
        {"The parameter is incorrect.\r\n", "The parameter is incorrect. "},
        {"a\tb  c\x01\x1f d", "a b c d"},
        {"   ", " "},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& [raw, clean] : cases) EXPECT_EQ(CleanSystemMessage(raw), clean) << raw;
}

TEST(PortErrors, MessageTableHoldsDispatchLogNames) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "OK"},         {161, "Device read error"}, {15001, "No event"}, {15003, "Trigger"},
        {15021, "Script"}, {15101, "ReadCom"},         {15105, "Avail"},    {15116, "Avail"},
        {15117, "Window"}, {15119, "Method"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(ErrorMessage(code), text) << code;
    EXPECT_EQ(ErrorMessage(-2001), ErrorMessage(2001));
    EXPECT_EQ(ErrorMessage(999999), "");
}

}  // namespace
}  // namespace linograf::serial
