// The "Select Port" dialog's list and choice, and the availability test behind them, on
// pseudo-terminals placed in the port folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "serial/port_availability.h"
#include "serial/port_device_map.h"
#include "serial/port_selection.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

TEST(PortSelection, ListsAvailablePortsUpToCom50InOrder) {
    std::vector<int> asked;
    const auto entries = SelectablePortEntries([&](int n) {
        asked.push_back(n);
        return n == 3 || n == 12 || n == 50 || n == 51 || n == 64;
    });
    EXPECT_EQ(entries, (std::vector<std::string>{"COM3", "COM12", "COM50"}));
    ASSERT_EQ(asked.size(), 50u) << "never beyond COM50";
    EXPECT_EQ(asked.front(), 1);
    EXPECT_EQ(asked.back(), 50);
    EXPECT_TRUE(SelectablePortEntries([](int) { return false; }).empty());
}

TEST(PortSelection, TheChosenNumberIsTheEntryFromItsFourthCharacter) {
    const std::pair<const char*, int> cases[] = {
        {"COM1", 1}, {"COM12", 12}, {"COM50", 50}, {"COM", 0},
        {"", 0},     {"COMx", 0},   {"COM0", 0},   {"COM7 ", 0},
    };
    for (const auto& [entry, number] : cases) EXPECT_EQ(PortNumberFromEntry(entry), number) << entry;
}

TEST(PortSelection, TheRealListHoldsTheTerminalsThatOpen) {
    linograf::test::TempDir ports;
    test::PtyPair pty;
    ::setenv(kPortFolderVariable, ports.path().c_str(), 1);
    std::filesystem::create_symlink(pty.slave_path(), ports.path() / "com7");
    std::filesystem::create_symlink(ports.path() / "unplugged", ports.path() / "com8");
    const auto entries = SelectablePortEntries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "COM7"), entries.end());
    EXPECT_EQ(std::find(entries.begin(), entries.end(), "COM8"), entries.end());
    EXPECT_FALSE(IsPortAvailable(0));
    EXPECT_FALSE(IsPortAvailable(65)) << "beyond the port map";
}

}  // namespace
}  // namespace linograf::serial
