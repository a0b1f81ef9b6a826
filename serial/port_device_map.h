#pragma once
// Port numbers ("COM%d") are what the operator picks and what the INI stores; on Linux each
// number stands for a device path.
//
// Default mapping:
//   COM1  .. COM16 -> /dev/ttyS0   .. /dev/ttyS15     (on-board and PCI UARTs)
//   COM17 .. COM40 -> /dev/ttyUSB0 .. /dev/ttyUSB23   (USB-serial bridges)
//   COM41 .. COM64 -> /dev/ttyACM0 .. /dev/ttyACM23   (USB CDC-ACM devices)
//
// When the environment variable LINOGRAF_DOSDEVICES names a folder, an entry "comN" in it
// (usually a symbolic link, as in Wine's dosdevices folder) replaces the default for port N.
// The tests point port numbers at pseudo-terminals this way.
#include <string>

namespace linograf::serial {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 64;
inline constexpr const char* kPortFolderVariable = "LINOGRAF_DOSDEVICES";

// The default path for a port number, ignoring any override; empty outside 1..64.
std::string DefaultDevicePath(int port);

// The path to open for a port number: the override when the folder has "comN" (present or a
// dangling link alike, so a configured but unplugged device reads as missing rather than
// silently falling back), else the default. Empty outside 1..64.
std::string DevicePathForPort(int port);

// The path to open for a device name: a port name in the form "\\.\COM<n>" or "COM<n>" (n from 1
// to 64) stands for DevicePathForPort(n); any other name is a path already and comes back as it is.
std::string DevicePathForName(const std::string& name);

}  // namespace linograf::serial
