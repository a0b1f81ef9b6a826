#pragma once
// The colour palette every workbook object of the process shares. Cells, fonts and borders hold
// palette indices (8..63 for the 56 colours of a BIFF8 file, 64 for "automatic"), never RGB
// values, so a workbook read with a PALETTE record recolours every later file of the process
// until a workbook object is constructed again.
#include <array>
#include <cstdint>

namespace linograf::workbook {

enum TExcelColor : uint8_t {
    xc0 = 0,
    xc1,
    xc2,
    xc3,
    xc4,
    xc5,
    xc6,
    xc7,
    xcBlack = 8,
    xcWhite,
    xcRed,
    xcBrightGreen,
    xcBlue,
    xcYellow,
    xcPink,
    xcTurquoise,
    xcDarkRed = 16,
    xcGreen,
    xcDarkBlue,
    xcBrownGreen,
    xcViolet,
    xcBlueGreen,
    xcGray25,
    xcGray50,
    xc24 = 24,
    xc25,
    xc26,
    xc27,
    xc28,
    xc29,
    xc30,
    xc31,
    xc32,
    xc33,
    xc34,
    xc35,
    xc36,
    xc37,
    xc38,
    xc39,
    xcSky = 40,
    xcPaleTurquois,
    xcPaleGreen,
    xcLightYellow,
    xcPaleSky,
    xcRose,
    xcLilac,
    xcLightBrown,
    xcDarkSky = 48,
    xcDarkTurquois,
    xcGrass,
    xcGold,
    xcLightOrange,
    xcOrange,
    xcDarkBlueGray,
    xcGray40,
    xcDarkGreenGray = 56,
    xcEmerald,
    xcDarkGreen,
    xcOlive,
    xcBrown,
    xcCherry,
    xcIndigo,
    xcGray80,
    xcAutomatic = 64,
};

inline constexpr int kPaletteSize = 65;

// An entry holds red in its low byte, green in the second and blue in the third: the four bytes
// a PALETTE record stores per colour.
using TPalette = std::array<uint32_t, kPaletteSize>;

constexpr uint32_t PaletteRgb(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

const TPalette& DefaultPalette();
// The process-wide palette.
TPalette& Palette();
void ResetPalette();
// True when any of the entries 8..64 differs from the default palette: then a PALETTE record
// must go into the file.
bool PaletteIsCustom();

// Nearest palette entry among 8..63 by the sum of the channel differences; ties go to the lower
// index.
uint8_t NearestPaletteIndex(uint32_t rgb);
// The sixteen named screen colours map to fixed entries; any other colour goes to the nearest.
uint8_t ScreenColorToPaletteIndex(uint32_t rgb);

}  // namespace linograf::workbook
