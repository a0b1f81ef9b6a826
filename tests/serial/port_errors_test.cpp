#include "serial/port_errors.h"

#include <cstring>
#include <gtest/gtest.h>

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
        {-1002, "Bad argument passed to function", [](const std::exception& e) { return Is<EBadArgument>(e) && Is<EGeneral>(e); }},
        {-2001, "ie_BadId - Specified comport doesn't exist", [](const std::exception& e) { return Is<EBadId>(e) && Is<EOpenComm>(e); }},
        {-2007, "ie_NOpen - device not open", [](const std::exception& e) { return Is<ECommNotOpen>(e); }},
        {-2008, "ie_Open - device already open", [](const std::exception& e) { return Is<EAlreadyOpen>(e); }},
        {-2011, "The ComNumber property of the TNlkComPort has not been set", [](const std::exception& e) { return Is<ENoPortSelected>(e); }},
        {-2012, "Comport was not opened by Tapi", [](const std::exception& e) { return Is<ENotOpenedByTapi>(e); }},
        {-3001, "No device layer specified", [](const std::exception& e) { return Is<ENullApi>(e) && Is<ESerialIO>(e); }},
        {-3007, "Buffer is empty", [](const std::exception& e) { return Is<EBufferIsEmpty>(e) && Is<ESerialIO>(e); }},
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

TEST(PortErrors, EveryMappedCodeRaisesAnNlkExceptionCarryingIt) {
    int mapped = 0;
    for (int32_t code = -1; code >= -14000; --code) {
        if (!IsMappedCode(code)) continue;
        ++mapped;
        try {
            CheckError(code);
            ADD_FAILURE() << code;
        } catch (const ENLKException& e) {
            EXPECT_EQ(e.ErrorCode(), code);
            EXPECT_NE(std::strlen(e.what()), 0u) << code;
        }
    }
    EXPECT_EQ(mapped, 166);
    EXPECT_EQ(MappedCodeCount(), 166);
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
    try {  // a number without a table text takes the platform's text
        CheckError(-87);
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), std::string(std::strerror(87)));
        EXPECT_EQ(e.ErrorCode(), 87);
    }
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

TEST(PortErrors, MessageTableHoldsDispatchLogNames) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "OK"}, {161, "Device read error"}, {15001, "No event"}, {15003, "Trigger"}, {15021, "Script"},
        {15101, "ReadCom"}, {15105, "Avail"}, {15116, "Avail"}, {15117, "Window"}, {15119, "Method"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(ErrorMessage(code), text) << code;
    EXPECT_EQ(ErrorMessage(-2001), ErrorMessage(2001));
    EXPECT_EQ(ErrorMessage(999999), "");
}

}  // namespace
}  // namespace linograf::serial
