#include "workbook/model/palette.h"

#include <cstdlib>

namespace linograf::workbook {
namespace {

constexpr TPalette MakeDefaultPalette() {
    // Entries 8..63: the 56 colours of the BIFF8 default palette.
    constexpr uint32_t kColours[56] = {
        0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0x800000, 0x008000,
        0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, 0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF,
        0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, 0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000,
        0x008080, 0x0000FF, 0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
        0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, 0x003366, 0x339966,
        0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
    };
    TPalette p{};
    for (int i = 0; i < 56; ++i) {
        // The table above is written as 0xRRGGBB for readability.
        uint32_t c = kColours[i];
        p[8 + i] =
            PaletteRgb(static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c));
    }
    p[64] = 0x0F000000;
    return p;
}

constexpr TPalette kDefaultPalette = MakeDefaultPalette();
TPalette g_palette = kDefaultPalette;

int Channel(uint32_t rgb, int shift) {
    return static_cast<int>((rgb >> shift) & 0xFF);
}

}  // namespace

const TPalette& DefaultPalette() {
    return kDefaultPalette;
}
TPalette& Palette() {
    return g_palette;
}
void ResetPalette() {
    g_palette = kDefaultPalette;
}

bool PaletteIsCustom() {
    for (int i = 8; i < kPaletteSize; ++i)
        if (g_palette[i] != kDefaultPalette[i]) return true;
    return false;
}

uint8_t NearestPaletteIndex(uint32_t rgb) {
    int best = 8;
    int best_distance = -1;
    for (int i = 8; i <= 63; ++i) {
        uint32_t c = g_palette[i];
        int d = std::abs(Channel(c, 0) - Channel(rgb, 0)) + std::abs(Channel(c, 8) - Channel(rgb, 8)) +
                std::abs(Channel(c, 16) - Channel(rgb, 16));
        if (best_distance < 0 || d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return static_cast<uint8_t>(best);
}

uint8_t ScreenColorToPaletteIndex(uint32_t rgb) {
    struct Named {
        uint32_t rgb;
        uint8_t index;
    };
    static constexpr Named kNamed[] = {
        {PaletteRgb(0, 0, 0), 8},           {PaletteRgb(0x80, 0, 0), 16},
        {PaletteRgb(0xFF, 0, 0), 10},       {PaletteRgb(0, 0x80, 0), 17},
        {PaletteRgb(0x80, 0x80, 0), 19},    {PaletteRgb(0, 0xFF, 0), 11},
        {PaletteRgb(0xFF, 0xFF, 0), 13},    {PaletteRgb(0, 0, 0x80), 18},
        {PaletteRgb(0x80, 0, 0x80), 36},    {PaletteRgb(0, 0x80, 0x80), 49},
        {PaletteRgb(0x80, 0x80, 0x80), 55}, {PaletteRgb(0xC0, 0xC0, 0xC0), 22},
        {PaletteRgb(0, 0, 0xFF), 12},       {PaletteRgb(0xFF, 0, 0xFF), 33},
        {PaletteRgb(0, 0xFF, 0xFF), 15},
    };
    uint32_t key = rgb & 0x00FFFFFF;
    for (const Named& n : kNamed)
        if (n.rgb == key) return n.index;
    return NearestPaletteIndex(key);
}

}  // namespace linograf::workbook
