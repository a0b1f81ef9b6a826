// Port discovery against a fake sysfs and /dev tree laid out as the kernel and udev lay them out:
// a USB-serial adapter with a by-id link, a CDC-ACM device the user may not open, an on-board
// UART, an 8250 slot without a UART, and a virtual terminal.
#include "serial/port_discovery.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/port_availability.h"
#include "serial/port_device_map.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

void Node(const fs::path& node, gid_t gid, mode_t mode) {
    fs::create_directories(node.parent_path());
    std::ofstream(node).put('\0');
    ASSERT_EQ(::chown(node.c_str(), 0, gid), 0);
    ASSERT_EQ(::chmod(node.c_str(), mode), 0);
}

constexpr gid_t kSerialGroup = 20;  // dialout on Debian

class FakeTree : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path root = dir.path();
        const fs::path usb = root / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
        Write(usb / "idVendor", "0403");
        Write(usb / "idProduct", "6001");
        Write(usb / "manufacturer", "FTDI");
        Write(usb / "product", "FT232R USB UART");
        Write(usb / "serial", "A10K3XYZ");
        const fs::path ftdi_port = usb / "1-2:1.0/ttyUSB0";
        fs::create_directories(ftdi_port / "tty/ttyUSB0");
        Link(ftdi_port / "tty/ttyUSB0/device", "../../../ttyUSB0");
        fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
        Link(ftdi_port / "driver", fs::relative(root / "sys/bus/usb-serial/drivers/ftdi_sio", ftdi_port));
        Link(root / "sys/class/tty/ttyUSB0", fs::relative(ftdi_port / "tty/ttyUSB0", root / "sys/class/tty"));

        const fs::path acm_usb = root / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
        Write(acm_usb / "idVendor", "2341");
        Write(acm_usb / "idProduct", "0043");
        Write(acm_usb / "product", "Arduino Uno");
        const fs::path acm_if = acm_usb / "1-3:1.0";
        fs::create_directories(acm_if / "tty/ttyACM0");
        Link(acm_if / "tty/ttyACM0/device", "../..");
        Link(root / "sys/class/tty/ttyACM0", fs::relative(acm_if / "tty/ttyACM0", root / "sys/class/tty"));

        // ttyS0 as Linux 6.2 and later lay it out: under the serial core's port device (driver
        // "port"), two levels below the UART's own; ttyS1 as before.
        const fs::path uart = root / "sys/devices/pnp0/00:05";
        const fs::path core_port = uart / "00:05:0/00:05:0.0";
        fs::create_directories(core_port / "tty/ttyS0");
        Link(core_port / "tty/ttyS0/device", "../..");
        Link(root / "sys/class/tty/ttyS0", fs::relative(core_port / "tty/ttyS0", root / "sys/class/tty"));
        fs::create_directories(root / "sys/bus/serial-base/drivers/port");
        Link(core_port / "driver", fs::relative(root / "sys/bus/serial-base/drivers/port", core_port));
        fs::create_directories(uart / "tty/ttyS1");
        Link(uart / "tty/ttyS1/device", "../..");
        Link(root / "sys/class/tty/ttyS1", fs::relative(uart / "tty/ttyS1", root / "sys/class/tty"));
        Write(core_port / "tty/ttyS0/type", "4");  // 16550A
        Write(uart / "tty/ttyS1/type", "0");       // no UART behind this slot
        fs::create_directories(root / "sys/bus/pnp/drivers/serial");
        Link(uart / "driver", fs::relative(root / "sys/bus/pnp/drivers/serial", uart));

        fs::create_directories(root / "sys/devices/virtual/tty/tty0");
        Link(root / "sys/class/tty/tty0", "../../devices/virtual/tty/tty0");

        Node(root / "dev/ttyUSB0", kSerialGroup, 0660);
        Node(root / "dev/ttyACM0", kSerialGroup, 0660);
        Node(root / "dev/ttyS0", kSerialGroup, 0666);
        Node(root / "dev/ttyS1", kSerialGroup, 0660);
        Node(root / "dev/tty0", 5, 0620);
        by_id = root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0";
        Link(by_id, "../../ttyUSB0");

        roots = TDiscoveryRoots::Under(root.string());
        // A user in the serial group, and one who is not.
        member.uid = 1000;
        member.groups = {1000, kSerialGroup};
        outsider.uid = 1001;
        outsider.groups = {1001};
    }
    ::linograf::test::TempDir dir;
    fs::path by_id;
    TDiscoveryRoots roots;
    TPortUser member, outsider;
};

std::string GroupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid)) return g->gr_name;
    return std::to_string(gid);
}

TEST_F(FakeTree, ListsSerialTtysWithWhatTheKernelKnowsOfThem) {
    const std::vector<TPortInfo> ports = DiscoverPorts(roots, member);
    struct Expected {
        const char* name;
        bool usb;
        const char* driver;
        int com;
        const char* description;
    };
    const Expected expected[] = {
        {"ttyACM0", true, "", 41, "Arduino Uno"},
        {"ttyS0", false, "serial", 1, "serial"},
        {"ttyUSB0", true, "ftdi_sio", 17, "FTDI FT232R USB UART (A10K3XYZ)"},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(ports[i].name, expected[i].name);
        EXPECT_EQ(ports[i].device, (dir.path() / "dev" / expected[i].name).string());
        EXPECT_EQ(ports[i].usb, expected[i].usb);
        EXPECT_EQ(ports[i].driver, expected[i].driver);
        EXPECT_EQ(ports[i].com_number, expected[i].com);
        EXPECT_EQ(ports[i].Description(), expected[i].description);
        EXPECT_TRUE(ports[i].may_open);
    }
    EXPECT_EQ(ports[2].by_id, by_id.string());
    EXPECT_EQ(ports[2].StablePath(), by_id.string());
    EXPECT_EQ(ports[2].vendor_id, "0403");
    EXPECT_EQ(ports[2].serial, "A10K3XYZ");
    EXPECT_TRUE(ports[0].by_id.empty());
    EXPECT_EQ(ports[0].StablePath(), ports[0].device);
}

TEST_F(FakeTree, APortTheUserMayNotOpenIsListedWithTheReasonAndTheFix) {
    const std::vector<TPortInfo> ports = DiscoverPorts(roots, outsider);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_TRUE(ports[1].may_open) << "ttyS0 is open to everybody";
    for (size_t i : {size_t{0}, size_t{2}}) {
        SCOPED_TRACE(ports[i].name);
        EXPECT_FALSE(ports[i].may_open);
        const std::string& problem = ports[i].access_problem;
        EXPECT_NE(problem.find(ports[i].device), std::string::npos) << problem;
        EXPECT_NE(problem.find("\"" + GroupName(kSerialGroup) + "\""), std::string::npos) << problem;
        EXPECT_NE(problem.find("add yourself to the " + GroupName(kSerialGroup) + " group and log in again"),
                  std::string::npos)
            << problem;
    }
    // The owner of a node may open it whatever the group.
    TPortUser owner{0, {0}};
    std::string problem;
    EXPECT_TRUE(UserMayOpen((dir.path() / "dev/ttyACM0").string(), owner, &problem));
}

TEST_F(FakeTree, ListingOpensNoDeviceNode) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    for (const char* name : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "tty0"})
        ASSERT_GE(
            ::inotify_add_watch(watch, (dir.path() / "dev" / name).c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY),
            0);
    // The watch itself works: an open of a node is seen.
    { std::ifstream probe(dir.path() / "dev/tty0"); }
    char buffer[4096];
    ASSERT_GT(::read(watch, buffer, sizeof buffer), 0) << "inotify reports an open";

    EXPECT_EQ(DiscoverPorts(roots, member).size(), 3u);
    EXPECT_EQ(StablePathOf((dir.path() / "dev/ttyUSB0").string(), roots), by_id.string());
    const ssize_t n = ::read(watch, buffer, sizeof buffer);
    EXPECT_EQ(n, -1) << "a device node was opened by the listing";
    ::close(watch);
}

TEST_F(FakeTree, StablePathIsTheByIdLinkWhereThereIsOne) {
    const std::string usb = (dir.path() / "dev/ttyUSB0").string();
    const std::string acm = (dir.path() / "dev/ttyACM0").string();
    EXPECT_EQ(StablePathOf(usb, roots), by_id.string());
    EXPECT_EQ(StablePathOf(by_id.string(), roots), by_id.string());
    EXPECT_EQ(StablePathOf(acm, roots), acm);
    EXPECT_EQ(StablePathOf("/nonexistent/ttyUSB9", roots), "/nonexistent/ttyUSB9");
}

// The window's list and the Select Port dialog ask IsPortAvailable for every port number: a
// present device answers yes without being opened (an open would raise DTR and RTS).
TEST(PortAvailability, APresentPortIsFoundWithoutOpeningIt) {
    ::linograf::test::TempDir dir;
    serial::test::PtyPair pty;
    fs::create_symlink(pty.slave_path(), dir.path() / "com7");
    fs::create_symlink(dir.path() / "gone", dir.path() / "com8");
    ::setenv(kPortFolderVariable, dir.path().c_str(), 1);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, pty.slave_path().c_str(), IN_OPEN), 0);
    EXPECT_TRUE(IsPortAvailable(7));
    EXPECT_FALSE(IsPortAvailable(8)) << "a link to nothing";
    EXPECT_FALSE(IsPortAvailable(0));
    char buffer[4096];
    EXPECT_EQ(::read(watch, buffer, sizeof buffer), -1) << "the device was opened";
    ::close(watch);
    ::unsetenv(kPortFolderVariable);
}

TEST(DiscoveryRoots, TheEnvironmentPointsDiscoveryAtAnotherTree) {
    ::setenv(kDiscoveryRootVariable, "/tmp/fake-root", 1);
    const TDiscoveryRoots roots = TDiscoveryRoots::FromEnvironment();
    ::unsetenv(kDiscoveryRootVariable);
    EXPECT_EQ(roots.sys_class_tty, "/tmp/fake-root/sys/class/tty");
    EXPECT_EQ(roots.by_id, "/tmp/fake-root/dev/serial/by-id");
    EXPECT_EQ(TDiscoveryRoots::FromEnvironment().sys_class_tty, "/sys/class/tty");
}

}  // namespace
}  // namespace linograf::serial
