#pragma once
// The port settings page: its five fixed lists, and how the positions chosen there (the values of
// section com of the settings file) become the line settings given to the port when capture
// starts. No Qt here, so the command line reads the same positions the same way.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/com_port.h"

namespace linograf {

// Item texts in UTF-8, by position (the settings file stores positions, not texts).
inline constexpr std::array<std::string_view, 18> kSpeedItems = {
    "75",   "110",  "134",  "150",   "300",   "600",   "1200",  "1800",   "2400",
    "4800", "7200", "9600", "14400", "19200", "38400", "57600", "115200", "128000"};
inline constexpr std::array<std::string_view, 5> kDataBitsItems = {"4", "5", "6", "7", "8"};
inline constexpr std::array<std::string_view, 5> kParityItems = {"Чет", "Нечет", "Нет", "Маркер", "Пробел"};
inline constexpr std::array<std::string_view, 3> kStopBitsItems = {"1", "1.5", "2"};
inline constexpr std::array<std::string_view, 3> kFlowItems = {"Xon / Xoff", "Аппаратное", "Нет"};

// Positions selected as the page is designed, before the settings file is read.
inline constexpr int kDesignSpeed = 11, kDesignDataBits = 4, kDesignParity = 2, kDesignStopBits = 0,
                     kDesignFlow = 2;
// Defaults of the settings file's keys (a missing file selects these).
inline constexpr int kDefaultPort = -1, kDefaultSpeed = 11, kDefaultDataBits = 4, kDefaultParity = 0,
                     kDefaultStopBits = 0, kDefaultFlow = 2;

enum class TPortParity { pNone, pOdd, pEven, pMark, pSpace };
enum class TPortFlow { kNone, kXonXoff, kHardware };

// What the port is opened with. com_number 0 means no port was chosen: the port then asks the
// operator (the "Select Port" dialog).
struct TPortSettings {
    int com_number = 0;
    // The device to open instead of the port number's (a /dev/serial/by-id link where the device
    // has one); empty: the port number's device.
    std::string device;
    std::int32_t baud = 9600;
    int data_bits = 8;
    TPortParity parity = TPortParity::pNone;
    int stop_bits = 1;  // 1 or 2; "1.5" is 2, which a UART sends as 1.5 with 5 data bits
    TPortFlow flow = TPortFlow::kNone;

    friend bool operator==(const TPortSettings&, const TPortSettings&) = default;
};

// The positions of the page's boxes (-1: nothing selected) and the chosen port's number.
struct TPortPositions {
    int com_number = 0;
    int speed = -1, data_bits = -1, parity = -1, stop_bits = -1, flow = -1;
};

// A box without a valid selection keeps the value of `base` for its setting, so a damaged settings
// file never opens the port with an arbitrary value.
TPortSettings PortSettingsFromPositions(const TPortPositions& positions, const TPortSettings& base = {});

class TIniFile;

// Keys of section com besides the Windows program's: the chosen device's stable path, which wins
// over the position in "port" (a position in a list that changes as adapters come and go), and
// whether the window reopens a port whose device was unplugged once it is back (1, the default)
// or stops capture (0).
inline constexpr std::string_view kDeviceKey = "device";
// A rate typed into the speed box that is none of its items, in bits per second (the termios2
// interface takes any rate the driver can divide to); it wins over the position in "speed".
inline constexpr std::string_view kBaudKey = "baud";
inline constexpr std::int32_t kMinBaud = 50, kMaxBaud = 4000000;
inline constexpr std::string_view kReconnectKey = "reconnect";

// The line settings the settings file holds, or nothing when it holds none (a fresh start, or a
// file only the other pages were confirmed in): the port then opens with the component's own
// defaults, 9600 8N1 without flow control, not with what the page shows before it is confirmed.
std::optional<TPortSettings> StoredLineSettings(const TIniFile& ini);

// The device the settings file names: the stable path of the "device" key, else the entry at the
// position "port" in `present` (the ports as the window lists them), else empty.
std::string StoredPortDevice(const TIniFile& ini, const std::vector<std::string>& present);

// The port component's line settings for these choices (the parity and flow lists are in the
// settings page's order, not the component's). Used by the window and the command line alike.
void ApplyPortSettings(const TPortSettings& settings, serial::TNlkComPort& port);

}  // namespace linograf
