#include "core/port_settings.h"

#include <charconv>

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

void ApplyPortSettings(const TPortSettings& settings, serial::TNlkComPort& port) {
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
