#pragma once
// Page setup of a sheet. Header, footer, margins and page breaks live here; everything else is
// a view of the sheet's page setup records (SETUP, HCENTER, VCENTER, PRINTHEADERS,
// PRINTGRIDLINES), so the writer finds the values already in place.
#include <cstdint>
#include <string>
#include <vector>

#include "base/enum_set.h"
#include "workbook/model/record_storage.h"

namespace linograf::workbook {

// SETUP paper size codes.
enum TPaperSize : uint16_t {
    psDefault = 0,
    psLetter = 1,
    psLetterSmall = 2,
    psTabloid = 3,
    psLedger = 4,
    psLegal = 5,
    psStatement = 6,
    psExecutive = 7,
    psA3 = 8,
    psA4 = 9,
    psA4Small = 10,
    psA5 = 11,
    psB4 = 12,
    psB5 = 13,
    psFolio = 14,
    psQuarto = 15,
    ps10x14 = 16,
    ps11x17 = 17,
    psNote = 18,
    psEnvelope9 = 19,
    psEnvelope10 = 20,
    psEnvelope11 = 21,
    psEnvelope12 = 22,
    psEnvelope14 = 23,
    psCSheet = 24,
    psDSheet = 25,
    psESheet = 26,
    psEnvelopeDL = 27,
    psEnvelopeC5 = 28,
    psEnvelopeC3 = 29,
    psEnvelopeC4 = 30,
    psEnvelopeC6 = 31,
    psEnvelopeC65 = 32,
    psEnvelopeB4 = 33,
    psEnvelopeB5 = 34,
    psEnvelopeB6 = 35,
    psEnvelopeItaly = 36,
    psEnvelopeMonarch = 37,
    psEnvelopePersonal = 38,
    psFanfoldUS = 39,
    psFanfoldStdGerman = 40,
    psFanfoldLegalGerman = 41,
};

enum TPrintSetupOption : uint8_t {
    psoLeftToRight = 0,
    psoPortrait,
    psoNoColor,
    psoDraftQuality,
    psoNotes,
    psoRowColHeading,
    psoGridlines,
    psoHorizCenter,
    psoVertCenter,
};
using TPrintSetupOptions = EnumSet<TPrintSetupOption>;

struct TPageBreak {
    uint32_t position;  // row (horizontal break) or column (vertical break)
    uint32_t first;
    uint32_t last;
};

class TPrintSettings {
  public:
    explicit TPrintSettings(TRecordStorageSheet& records);
    TPrintSettings(const TPrintSettings&) = delete;
    // Copies header, footer, margins and page breaks (not the record views).
    TPrintSettings& operator=(const TPrintSettings& other);

    // StartingPage 1, Options [psoPortrait], margins 0.75 / 0.75 / 1 / 1, no page breaks.
    void Reset();

    std::u16string header, footer;
    double margin_left = 0.75, margin_right = 0.75, margin_top = 1.0, margin_bottom = 1.0;  // inches
    std::vector<TPageBreak> horiz_pagebreaks, vert_pagebreaks;

    TPaperSize PaperSize() const;
    void SetPaperSize(TPaperSize size);
    uint16_t ScalingFactor() const;
    void SetScalingFactor(uint16_t percent);
    uint16_t StartingPage() const;
    // Any page but 1 also tells the printer to use it.
    void SetStartingPage(uint16_t page);
    uint16_t FitWidth() const;
    void SetFitWidth(int pages);  // outside 0..65535: 0
    uint16_t FitHeight() const;
    void SetFitHeight(int pages);
    uint16_t Resolution() const;
    void SetResolution(uint16_t dpi);
    uint16_t Copies() const;
    void SetCopies(uint16_t copies);
    double HeaderMargin() const;
    void SetHeaderMargin(double inches);
    double FooterMargin() const;
    void SetFooterMargin(double inches);

    double HeaderMarginCm() const { return HeaderMargin() * 2.54; }
    void SetHeaderMarginCm(double cm) { SetHeaderMargin(cm / 2.54); }
    double FooterMarginCm() const { return FooterMargin() * 2.54; }
    void SetFooterMarginCm(double cm) { SetFooterMargin(cm / 2.54); }
    double MarginLeftCm() const { return margin_left * 2.54; }
    void SetMarginLeftCm(double cm) { margin_left = cm / 2.54; }
    double MarginRightCm() const { return margin_right * 2.54; }
    void SetMarginRightCm(double cm) { margin_right = cm / 2.54; }
    double MarginTopCm() const { return margin_top * 2.54; }
    void SetMarginTopCm(double cm) { margin_top = cm / 2.54; }
    double MarginBottomCm() const { return margin_bottom * 2.54; }
    void SetMarginBottomCm(double cm) { margin_bottom = cm / 2.54; }

    // Spread over PRINTHEADERS, PRINTGRIDLINES, HCENTER, VCENTER and the SETUP option word.
    TPrintSetupOptions Options() const;
    void SetOptions(TPrintSetupOptions options);

  private:
    TRecordStorageSheet& records_;
};

}  // namespace linograf::workbook
