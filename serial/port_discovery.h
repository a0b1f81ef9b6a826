#pragma once
// The serial ports present on this machine, found without opening any of them. On Linux an open
// raises DTR and RTS, which resets many boards, so discovery only reads the kernel's description
// of each tty (sysfs) and the stable names udev gives them (/dev/serial/by-id).
//
// A tty is a serial port when /sys/class/tty/<name>/device exists (virtual terminals and
// pseudo-terminals have none); an on-board ttyS without a UART behind it (type 0) is left out.
// USB adapters report their manufacturer, product and serial number through the USB device the
// tty hangs under.
#include <sys/types.h>

#include <string>
#include <vector>

namespace linograf::serial {

// Where discovery looks. Every path is the system's own by default; tests give a fake tree.
struct TDiscoveryRoots {
    std::string sys_class_tty = "/sys/class/tty";
    std::string dev = "/dev";
    std::string by_id = "/dev/serial/by-id";

    // The roots under `prefix` ("/tmp/x" gives /tmp/x/sys/class/tty, /tmp/x/dev, ...).
    static TDiscoveryRoots Under(const std::string& prefix);
    // Under the folder named by LINOGRAF_DISCOVERY_ROOT when it is set, else the system's.
    static TDiscoveryRoots FromEnvironment();
};
inline constexpr const char* kDiscoveryRootVariable = "LINOGRAF_DISCOVERY_ROOT";

// Who would open the ports: the process's effective user and groups by default.
struct TPortUser {
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the primary group first
    static TPortUser Current();
};

struct TPortInfo {
    std::string name;    // the kernel's name: ttyUSB0
    std::string device;  // the node: /dev/ttyUSB0
    std::string by_id;   // its stable link in /dev/serial/by-id, or empty
    std::string driver;  // ftdi_sio, cp210x, cdc_acm, serial8250, ...
    bool usb = false;
    std::string vendor_id, product_id;          // hexadecimal, as the kernel shows them
    std::string manufacturer, product, serial;  // as the device reports them; may be empty
    int com_number = 0;                         // the number the port map gives this node (0: none)
    bool may_open = false;
    std::string access_problem;  // why the user may not open it (empty when may_open)

    // The stable path when there is one, else the node.
    const std::string& StablePath() const { return by_id.empty() ? device : by_id; }
    // "FTDI FT232R USB UART (A10K3XYZ)", "serial8250", ... for a list.
    std::string Description() const;
};

// The ports in name order (ttyACM*, ttyS*, ttyUSB*, ... each numerically). Opens nothing.
std::vector<TPortInfo> DiscoverPorts(const TDiscoveryRoots& roots = TDiscoveryRoots::FromEnvironment(),
                                     const TPortUser& user = TPortUser::Current());

// Whether `user` may open `path` for reading and writing, judged from the node's owner, group and
// mode (nothing is opened); when not, the reason with the fix, naming the node and its group.
bool UserMayOpen(const std::string& path, const TPortUser& user, std::string* problem);

// What to do about a device this user may not open: its group, and the fix ("... belongs to the
// group "dialout": add yourself to the dialout group and log in again").
std::string PermissionHint(const std::string& path);

// The stable path of a device node: its /dev/serial/by-id link when one points at it, else the
// path as given. A path that is itself a link in by-id comes back unchanged.
std::string StablePathOf(const std::string& path,
                         const TDiscoveryRoots& roots = TDiscoveryRoots::FromEnvironment());

}  // namespace linograf::serial
