#include "serial/port_discovery.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace linograf::serial {

namespace fs = std::filesystem;

namespace {

// The first line of a small sysfs attribute, or "" when there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

fs::path Canonical(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? fs::path() : resolved;
}

// "ttyUSB12" -> ("ttyUSB", 12); a name without a number has -1.
std::pair<std::string, long> SplitName(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    long number = -1;
    if (digits < name.size()) std::from_chars(name.data() + digits, name.data() + name.size(), number);
    return {name.substr(0, digits), number};
}

int ComNumberFor(const std::string& name) {
    const auto [stem, number] = SplitName(name);
    if (number < 0) return 0;
    if (stem == "ttyS" && number < 16) return static_cast<int>(number) + 1;
    if (stem == "ttyUSB" && number < 24) return static_cast<int>(number) + 17;
    if (stem == "ttyACM" && number < 24) return static_cast<int>(number) + 41;
    return 0;
}

std::string GroupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::to_string(gid);
    return found->gr_name;
}

// The USB device (the folder with idVendor) a tty's device hangs under, if any.
fs::path UsbDeviceOf(const fs::path& device) {
    for (fs::path p = Canonical(device); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        std::error_code error;
        if (fs::exists(p / "idVendor", error)) return p;
    }
    return {};
}

}  // namespace

TDiscoveryRoots TDiscoveryRoots::Under(const std::string& prefix) {
    TDiscoveryRoots roots;
    roots.sys_class_tty = prefix + "/sys/class/tty";
    roots.dev = prefix + "/dev";
    roots.by_id = prefix + "/dev/serial/by-id";
    return roots;
}

TDiscoveryRoots TDiscoveryRoots::FromEnvironment() {
    const char* prefix = std::getenv(kDiscoveryRootVariable);
    if (prefix != nullptr && *prefix != '\0') return Under(prefix);
    return {};
}

TPortUser TPortUser::Current() {
    TPortUser user;
    user.uid = ::geteuid();
    user.groups.push_back(::getegid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, more.data());
        for (int i = 0; i < got; ++i) user.groups.push_back(more[static_cast<std::size_t>(i)]);
    }
    return user;
}

std::string TPortInfo::Description() const {
    std::string text;
    auto add = [&text](const std::string& part) {
        if (part.empty()) return;
        if (!text.empty()) text += ' ';
        text += part;
    };
    if (usb) {
        add(manufacturer);
        add(product);
        if (text.empty() && !vendor_id.empty()) add("USB " + vendor_id + ":" + product_id);
        if (!serial.empty()) add("(" + serial + ")");
    }
    if (text.empty()) add(driver);
    return text;
}

std::string PermissionHint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_gid == 0) {
        // A node of group root: no membership helps; a udev rule has to hand it to dialout.
        return path +
               " is not given to a group of serial users: a udev rule can give it to the dialout "
               "group (GROUP=\"dialout\", MODE=\"0660\"); then add yourself to the dialout group and log in "
               "again";
    }
    const std::string group = GroupName(st.st_gid);
    return path + " belongs to the group \"" + group + "\": add yourself to the " + group +
           " group and log in again";
}

bool UserMayOpen(const std::string& path, const TPortUser& user, std::string* problem) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (problem) *problem = "no device node " + path;
        return false;
    }
    if (user.uid == 0) return true;
    mode_t wanted;
    if (st.st_uid == user.uid) {
        wanted = S_IRUSR | S_IWUSR;
    } else if (std::find(user.groups.begin(), user.groups.end(), st.st_gid) != user.groups.end()) {
        wanted = S_IRGRP | S_IWGRP;
    } else {
        wanted = S_IROTH | S_IWOTH;
    }
    if ((st.st_mode & wanted) == wanted) return true;
    if (problem) *problem = "No permission to open " + path + ". " + PermissionHint(path);
    return false;
}

std::vector<TPortInfo> DiscoverPorts(const TDiscoveryRoots& roots, const TPortUser& user) {
    std::vector<TPortInfo> ports;
    std::error_code error;

    // The stable links first, by the node each resolves to.
    std::vector<std::pair<fs::path, std::string>> links;
    for (fs::directory_iterator it(roots.by_id, error), end; !error && it != end; it.increment(error)) {
        const fs::path target = Canonical(it->path());
        if (!target.empty()) links.emplace_back(target, it->path().string());
    }
    std::sort(links.begin(), links.end(), [](const auto& a, const auto& b) { return a.second < b.second; });

    error.clear();
    for (fs::directory_iterator it(roots.sys_class_tty, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path entry = it->path();
        std::error_code e;
        if (!fs::exists(entry / "device", e)) continue;  // virtual terminals, pseudo-terminals
        TPortInfo port;
        port.name = entry.filename().string();
        // An 8250 port without a UART is still listed by the kernel, with type 0.
        if (const std::string type = ReadAttribute(entry / "type");
            port.name.starts_with("ttyS") && type == "0")
            continue;
        port.device = (fs::path(roots.dev) / port.name).string();
        // Since Linux 6.2 a UART's tty hangs under the serial core's own "port" devices; the
        // driver that names the hardware sits two levels up.
        const fs::path device = Canonical(entry / "device");
        for (const fs::path& at : {device, device.parent_path().parent_path()}) {
            std::error_code link_error;
            const std::string driver = fs::read_symlink(at / "driver", link_error).filename().string();
            if (link_error || driver.empty()) continue;
            port.driver = driver;
            if (driver != "port") break;
        }
        if (const fs::path usb = UsbDeviceOf(entry / "device"); !usb.empty()) {
            port.usb = true;
            port.vendor_id = ReadAttribute(usb / "idVendor");
            port.product_id = ReadAttribute(usb / "idProduct");
            port.manufacturer = ReadAttribute(usb / "manufacturer");
            port.product = ReadAttribute(usb / "product");
            port.serial = ReadAttribute(usb / "serial");
        }
        if (const fs::path node = Canonical(port.device); !node.empty()) {
            for (const auto& [target, link] : links) {
                if (target == node) {
                    port.by_id = link;
                    break;
                }
            }
        }
        port.com_number = ComNumberFor(port.name);
        port.may_open = UserMayOpen(port.device, user, &port.access_problem);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const TPortInfo& a, const TPortInfo& b) { return SplitName(a.name) < SplitName(b.name); });
    return ports;
}

std::string StablePathOf(const std::string& path, const TDiscoveryRoots& roots) {
    const fs::path node = Canonical(path);
    if (node.empty()) return path;
    if (fs::path(path).parent_path() == fs::path(roots.by_id)) return path;
    std::error_code error;
    std::string best;
    for (fs::directory_iterator it(roots.by_id, error), end; !error && it != end; it.increment(error)) {
        if (Canonical(it->path()) == node && (best.empty() || it->path().string() < best))
            best = it->path().string();
    }
    return best.empty() ? path : best;
}

}  // namespace linograf::serial
