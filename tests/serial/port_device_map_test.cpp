#include "serial/port_device_map.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

TEST(PortDeviceMap, DefaultRanges) {
    const std::pair<int, const char*> cases[] = {
        {1, "/dev/ttyS0"},
        {16, "/dev/ttyS15"},
        {17, "/dev/ttyUSB0"},
        {40, "/dev/ttyUSB23"},
        {41, "/dev/ttyACM0"},
        {64, "/dev/ttyACM23"},
        {0, ""},
        {65, ""},
    };
    for (const auto& [port, path] : cases) EXPECT_EQ(DefaultDevicePath(port), path) << "COM" << port;
}

TEST(PortDeviceMap, FolderEntryOverridesEvenWhenItsTargetIsGone) {
    test::TempDir dir;
    std::filesystem::create_symlink("/dev/null", dir.path() / "com3");
    std::filesystem::create_symlink(dir.path() / "unplugged", dir.path() / "com5");
    setenv(kPortFolderVariable, dir.path().c_str(), 1);
    EXPECT_EQ(DevicePathForPort(3), dir.File("com3"));
    EXPECT_EQ(DevicePathForPort(5), dir.File("com5"));
    EXPECT_EQ(DevicePathForPort(4), "/dev/ttyS3");
    EXPECT_EQ(DevicePathForPort(99), "");
    unsetenv(kPortFolderVariable);
    EXPECT_EQ(DevicePathForPort(3), "/dev/ttyS2");
}

TEST(PortDeviceMap, PortNamesStandForTheirDevicesAndPathsStayAsTheyAre) {
    const std::pair<const char*, const char*> cases[] = {
        {"\\\\.\\COM1", "/dev/ttyS0"},
        {"\\\\.\\COM17", "/dev/ttyUSB0"},
        {"COM64", "/dev/ttyACM23"},
        {"\\\\.\\COM65", "\\\\.\\COM65"},
        {"COM0", "COM0"},
        {"COM07", "COM07"},
        {"COM7x", "COM7x"},
        {"/dev/ttyS4", "/dev/ttyS4"},
        {"COM", "COM"},
    };
    for (const auto& [name, path] : cases) EXPECT_EQ(DevicePathForName(name), path) << name;
}

}  // namespace
}  // namespace linograf::serial
