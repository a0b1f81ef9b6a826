#include "core/port_settings.h"

#include <charconv>

#include "core/ini_file.h"

namespace linograf {

namespace {
template <std::size_t N>
bool Valid(int position, const std::array<std::string_view, N>&) {
    return position >= 0 && static_cast<std::size_t>(position) < N;
}

int ParseNumber(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}
}  // namespace

TPortSettings PortSettingsFromPositions(const TPortPositions& p, const TPortSettings& base) {
    TPortSettings s = base;
    s.com_number = p.com_number > 0 ? p.com_number : 0;
    if (Valid(p.speed, kSpeedItems)) s.baud = ParseNumber(kSpeedItems[static_cast<std::size_t>(p.speed)]);
    if (Valid(p.data_bits, kDataBitsItems)) {
        s.data_bits = ParseNumber(kDataBitsItems[static_cast<std::size_t>(p.data_bits)]);
    }
    if (Valid(p.parity, kParityItems)) {
        // The list's order is the page's ("Чет" first), not the line setting's.
        static constexpr TPortParity kParity[] = {TPortParity::pEven, TPortParity::pOdd, TPortParity::pNone,
                                                  TPortParity::pMark, TPortParity::pSpace};
        s.parity = kParity[p.parity];
    }
    if (Valid(p.stop_bits, kStopBitsItems)) s.stop_bits = p.stop_bits == 0 ? 1 : 2;
    if (Valid(p.flow, kFlowItems)) {
        static constexpr TPortFlow kFlow[] = {TPortFlow::kXonXoff, TPortFlow::kHardware, TPortFlow::kNone};
        s.flow = kFlow[p.flow];
    }
    return s;
}

namespace {
bool HasKey(const TIniFile& ini, std::string_view key) {
    // No text the window writes starts with a control character.
    static constexpr std::string_view kMissing = "\x01missing";
    return ini.ReadString("com", key, std::string(kMissing)) != kMissing;
}
}  // namespace

std::optional<TPortSettings> StoredLineSettings(const TIniFile& ini) {
    bool any = false;
    for (std::string_view key : {"speed", "bit", "xor", "stop", "control", "baud"})
        any = any || HasKey(ini, key);
    if (!any) return std::nullopt;
    TPortPositions positions;
    positions.speed = ini.ReadInteger("com", "speed", kDefaultSpeed);
    positions.data_bits = ini.ReadInteger("com", "bit", kDefaultDataBits);
    positions.parity = ini.ReadInteger("com", "xor", kDefaultParity);
    positions.stop_bits = ini.ReadInteger("com", "stop", kDefaultStopBits);
    positions.flow = ini.ReadInteger("com", "control", kDefaultFlow);
    TPortSettings settings = PortSettingsFromPositions(positions);
    if (const std::int32_t baud = ini.ReadInteger("com", kBaudKey, 0); baud >= kMinBaud && baud <= kMaxBaud)
        settings.baud = baud;
    return settings;
}

std::string StoredPortDevice(const TIniFile& ini, const std::vector<std::string>& present) {
    if (std::string device = ini.ReadString("com", kDeviceKey, ""); !device.empty()) return device;
    const int position = ini.ReadInteger("com", "port", kDefaultPort);
    if (position >= 0 && static_cast<std::size_t>(position) < present.size())
        return present[static_cast<std::size_t>(position)];
    return {};
}

void ApplyPortSettings(const TPortSettings& settings, serial::TNlkComPort& port) {
    port.SetDevicePath(settings.device);
    port.SetComNumber(static_cast<uint16_t>(
        settings.com_number > 0 && settings.com_number <= 0xFFFF ? settings.com_number : 0));
    port.SetBaud(settings.baud);
    port.SetDataBits(static_cast<uint16_t>(settings.data_bits));
    switch (settings.parity) {
        case TPortParity::pNone:
            port.SetParity(serial::pNone);
            break;
        case TPortParity::pOdd:
            port.SetParity(serial::pOdd);
            break;
        case TPortParity::pEven:
            port.SetParity(serial::pEven);
            break;
        case TPortParity::pMark:
            port.SetParity(serial::pMark);
            break;
        case TPortParity::pSpace:
            port.SetParity(serial::pSpace);
            break;
    }
    port.SetStopBits(static_cast<uint16_t>(settings.stop_bits));
    // "Hardware" as the system's port dialog means it: RTS raised while there is room, and the
    // device's CTS heeded; "Xon / Xoff" both ways.
    switch (settings.flow) {
        case TPortFlow::kNone:
            port.SetHWFlowOptions({});
            port.SetSWFlowOptions(serial::swfNone);
            break;
        case TPortFlow::kXonXoff:
            port.SetHWFlowOptions({});
            port.SetSWFlowOptions(serial::swfBoth);
            break;
        case TPortFlow::kHardware:
            port.SetSWFlowOptions(serial::swfNone);
            port.SetHWFlowOptions({serial::hwfUseRTS, serial::hwfRequireCTS});
            break;
    }
}

}  // namespace linograf
