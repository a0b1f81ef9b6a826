#include "app/port_settings.h"

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

}  // namespace linograf
