// Trace (NELK.TRC) and dispatch log (NELK.LOG): the text layouts against golden texts, and the
// files the port component writes for bytes received on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "serial/com_port.h"
#include "serial/port_device_map.h"
#include "serial/posix_dispatcher.h"
#include "serial/trace_format.h"
#include "serial/trace_log_types.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

using linograf::test::ReadFileBytes;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Repeat(const std::string& item, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += item;
    return out;
}

TEST(TraceText, RunsOfOneKindWrapPast78Columns) {
    std::vector<std::pair<char, uint8_t>> entries(20, {'R', 200});
    entries.push_back({'T', 'x'});
    entries.push_back({'Z', 'y'});
    // 19 items of width 4 fill 76 columns; the 20th starts a new line.
    const std::string expected =
        "Receive: \n" + Repeat("[C8]", 19) + "\n[C8]\n\nTransmit: \nx\n\nSpecial-Z: \ny";
    EXPECT_EQ(FormatTrace(entries, true, false), expected);
    // Items of width 1 up to 78 on a line.
    const std::vector<std::pair<char, uint8_t>> letters(79, {'R', 'a'});
    EXPECT_EQ(FormatTrace(letters, false, false), "Receive: \n" + std::string(78, 'a') + "\na");
    // Decimal items are 3, 4 or 5 wide.
    EXPECT_EQ(FormatTrace({{'R', 7}, {'R', 31}, {'R', 127}}, false, false), "Receive: \n[7][31][127]");
}

TEST(LogText, PrefixIs44CharactersAndItemsWrapAfterIt) {
    const LogEntryView entry{ltTrigger, lsAvail, 12345, 12, {}};
    const std::string prefix = LogPrefix(entry);
    EXPECT_EQ(prefix, "0012.345  Trigger   Avail         0000000C  ");
    EXPECT_EQ(prefix.size(), 44u);

    LogHeader header{"GCC", "Linux", "\\\\.\\COM7", "01/02/26, 03:04:05"};
    const LogEntryView bytes{ltDispatch, lsReadCom, 7, 20, std::vector<uint8_t>(20, 200)};
    const auto lines = Lines(FormatLog(header, {bytes, entry}, true, false));
    const std::vector<std::string> expected = {
        "NELK v4.07",
        "Compiler : GCC",
        "Operating System : Linux",
        "Device: \\\\.\\COM7",
        "Date/time: 01/02/26, 03:04:05",
        "Time      Type      SubType       Data      OtherData",
        "--------  --------  ------------  --------  ---------",
        "0000.007  Dispatch  ReadCom       00000014  " + Repeat("[C8]", 8),
        std::string(44, ' ') + Repeat("[C8]", 8),
        std::string(44, ' ') + Repeat("[C8]", 4),
        prefix,
    };
    EXPECT_EQ(lines, expected);
}

TEST(LogText, StatusKindsAndModemBitsByName) {
    LogHeader header{"c", "o", "d", "t"};
    const LogEntryView kind{5, 15, 0, 0, {2}};
    const LogEntryView modem{ltDispatch, lsModemStatus, 0, 0x31, {1}};
    const auto lines = Lines(FormatLog(header, {kind, modem}, false, false));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[7].substr(44), "(Line status)");
    EXPECT_EQ(lines[8].substr(44), "[1](DCTS CTS DSR)");
}

TEST(DispatchLog, ALimitOf100KeepsTwoEntriesOf60Bytes) {
    linograf::test::TempDir dir;
    PlainGuiThread gui;
    TNlkPosixDispatcher dispatcher(gui, nullptr);
    dispatcher.StartLog(100);
    const std::vector<uint8_t> data(60, 'd');
    for (uint32_t i = 1; i <= 5; ++i) dispatcher.AddLogEntry(ltUser, 0, data.data(), 60, i);
    ASSERT_EQ(dispatcher.WriteLog(dir.File("x.log"), false, false, false), 0);
    std::vector<std::string> entries;
    for (const auto& line : Lines(ReadFileBytes(dir.File("x.log")))) {
        // The time column widens once the clock passes 9999.999 s, so the columns are found
        // from the type name rather than at fixed places.
        const size_t type = line.find("  User");
        if (line[0] != ' ' && type != std::string::npos && type >= 8 && line.size() >= type + 34)
            entries.push_back(line.substr(type + 2 + 24, 8));
    }
    EXPECT_EQ(entries, (std::vector<std::string>{"00000004", "00000005"}));
    // The entries were taken out by the write: a second write has nothing and touches no file.
    EXPECT_EQ(dispatcher.WriteLog(dir.File("y.log"), false, false, false), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("y.log")));
}

// The component on a pseudo-terminal, writing its files into a folder of its own.
class TraceFilesOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv(kPortFolderVariable, ports.path().c_str(), 1);
        std::filesystem::create_symlink(pty.slave_path(), ports.path() / "com7");
        previous_dir = std::filesystem::current_path();
        std::filesystem::current_path(work.path());
        LoadNlkComPort1(port);
        port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
            for (uint16_t i = 0; i < count; ++i) received.push_back(static_cast<char>(cp.GetChar()));
        });
    }
    void TearDown() override {
        port.SetOpen(false);
        std::filesystem::current_path(previous_dir);
    }
    void Receive(const std::string& bytes) {
        const size_t before = received.size();
        pty.Write(bytes);
        ASSERT_TRUE(gui.PumpUntil([&] { return received.size() == before + bytes.size(); }));
    }
    std::string File(const char* name) { return ReadFileBytes(work.File(name)); }

    linograf::test::TempDir ports, work;
    std::filesystem::path previous_dir;
    test::PtyPair pty;
    PlainGuiThread gui;
    TNlkComPort port{gui};
    std::string received;
};

TEST_F(TraceFilesOnPty, ReceivedBytesInTheThreeNumberFormats) {
    struct Case {
        bool hex, all_hex;
        const char* expected;
    };
    const Case cases[] = {
        {false, false, "Receive: \nA [13][10][200]"},
        {true, false, "Receive: \nA[20][0D][0A][C8]"},
        {false, true, "Receive: \n[41][20][0D][0A][C8]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        port.SetTraceHex(c.hex);
        port.SetTraceAllHex(c.all_hex);
        port.SetTracing(tlOn);
        port.SetOpen(true);
        Receive("A \r\n\xC8");
        port.SetTracing(tlDump);
        EXPECT_EQ(port.Tracing(), tlOff);
        EXPECT_FALSE(port.Dispatcher()->Tracing()) << "nothing records once the property reads tlOff";
        EXPECT_EQ(File("NELK.TRC"), c.expected);
        port.SetOpen(false);
    }
}

TEST_F(TraceFilesOnPty, ASmallRingKeepsTheLastBytesAndTheCloseWritesIt) {
    port.SetTraceSize(3);
    port.SetTracing(tlOn);
    port.SetOpen(true);
    Receive("12345");
    port.SetOpen(false);
    EXPECT_EQ(File("NELK.TRC"), "Receive: \n345");
}

TEST_F(TraceFilesOnPty, NothingRecordedWritesNoFile) {
    port.SetTracing(tlOn);
    port.SetOpen(true);
    port.SetTracing(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    port.SetTracing(tlOn);
    port.SetOpen(false);
    EXPECT_FALSE(std::filesystem::exists(work.File("NELK.TRC")));
}

TEST_F(TraceFilesOnPty, PauseClearAppendAndContinue) {
    port.SetTracing(tlOn);
    port.SetOpen(true);
    Receive("ab");
    port.SetTracing(tlPause);
    EXPECT_EQ(port.Tracing(), tlPause);
    Receive("--");  // not recorded while paused
    port.SetTracing(tlOn);
    Receive("c");
    port.SetTracing(tlAppendAndContinue);
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_EQ(File("NELK.TRC"), "Receive: \nabc");
    Receive("de");
    port.SetTracing(tlClear);
    EXPECT_EQ(port.Tracing(), tlOn);
    Receive("f");
    port.SetTracing(tlAppend);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(File("NELK.TRC"), "Receive: \nabcReceive: \nf");
}

TEST_F(TraceFilesOnPty, AChangeOfTraceSizeRestartsInTheSameState) {
    port.SetTracing(tlOn);
    port.SetOpen(true);
    Receive("lost");
    port.SetTracing(tlPause);
    port.SetTraceSize(2);
    EXPECT_EQ(port.Tracing(), tlPause);
    EXPECT_FALSE(port.Dispatcher()->Tracing()) << "started again, then paused";
    port.SetTracing(tlOn);
    Receive("xyz");
    port.SetTracing(tlDump);
    EXPECT_EQ(File("NELK.TRC"), "Receive: \nyz");
}

TEST_F(TraceFilesOnPty, AFileThatCannotBeWrittenIsReportedAfterThePortClosed) {
    port.SetTraceName(work.File("no-such-folder/NELK.TRC"));
    port.SetTracing(tlOn);
    port.SetOpen(true);
    Receive("a");
    try {
        port.SetOpen(false);
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    EXPECT_FALSE(port.Open()) << "the close went through";
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

TEST_F(TraceFilesOnPty, AFileThatCannotBeWrittenDoesNotStopAMoveToAnotherPort) {
    test::PtyPair second;
    std::filesystem::create_symlink(second.slave_path(), ports.path() / "com8");
    port.SetTraceName(work.File("no-such-folder/NELK.TRC"));
    port.SetTracing(tlOn);
    port.SetOpen(true);
    Receive("a");
    try {
        port.SetComNumber(8);
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.ComNumber(), 8);
    EXPECT_EQ(port.Dispatcher()->DeviceName(), "\\\\.\\COM8");
}

TEST_F(TraceFilesOnPty, TheDispatchLogOfAnOpenPort) {
    port.SetLogging(tlOn);
    port.SetOpen(true);
    Receive("abc");
    ASSERT_TRUE(gui.PumpUntil([&] { return !port.Dispatcher()->InDispatch(); }));
    port.SetOpen(false);
    const auto lines = Lines(File("NELK.LOG"));
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(lines[0], "NELK v4.07");
    EXPECT_EQ(lines[1], "Compiler : " + CompilerDescription());
    EXPECT_EQ(lines[2].substr(0, 19), "Operating System : ");
    EXPECT_LE(lines[2].size(), 19u + 80u);
    EXPECT_EQ(lines[3], "Device: \\\\.\\COM7");
    EXPECT_TRUE(
        std::regex_match(lines[4], std::regex("Date/time: \\d\\d/\\d\\d/\\d\\d, \\d\\d:\\d\\d:\\d\\d")))
        << lines[4];
    EXPECT_EQ(lines[5], "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(lines[6], "--------  --------  ------------  --------  ---------");
    // Entries without their time (the first 10 characters) and without the window's address.
    std::vector<std::string> entries;
    for (size_t i = 7; i < lines.size(); ++i) {
        ASSERT_TRUE(std::regex_match(lines[i].substr(0, 10), std::regex("\\d{4}\\.\\d{3}  "))) << lines[i];
        std::string rest = lines[i].substr(10);
        if (rest.starts_with("TrgHd")) rest = rest.substr(0, 24);
        entries.push_back(rest);
    }
    const std::vector<std::string> expected = {
        "TrDatChg  Avail         00000001  ",
        "TrgHdAlc  Window        ",
        "Dispatch  ReadCom       00000003  abc",
        "Trigger   Avail         00000003  ",
    };
    EXPECT_EQ(entries, expected);
}

}  // namespace
}  // namespace linograf::serial
