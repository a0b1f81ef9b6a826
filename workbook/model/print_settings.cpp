#include "workbook/model/print_settings.h"

namespace linograf::workbook {
namespace {

// SETUP body:
//   OFFSET SIZE DESCRIPTION
//   0      2    paper size
//   2      2    scaling factor (percent)
//   4      2    starting page number
//   6      2    fit to width (pages)
//   8      2    fit to height (pages)
//   10     2    options: 0x01 left to right, 0x02 portrait, 0x08 no colour, 0x10 draft,
//               0x20 notes, 0x80 use the starting page number
//   12     2    print resolution (dpi)
//   14     2    vertical print resolution (dpi)
//   16     8    header margin (inches)
//   24     8    footer margin (inches)
//   32     2    copies
constexpr size_t kPaper = 0, kScale = 2, kStart = 4, kFitWidth = 6, kFitHeight = 8, kOptions = 10,
                 kResolution = 12, kHeaderMargin = 16, kFooterMargin = 24, kCopies = 32;
constexpr uint16_t kUseStartingPage = 0x0080;

uint16_t ClampPages(int pages) {
    return pages < 0 || pages > 65535 ? 0 : static_cast<uint16_t>(pages);
}

}  // namespace

TPrintSettings::TPrintSettings(TRecordStorageSheet& records) : records_(records) {
    Reset();
}

TPrintSettings& TPrintSettings::operator=(const TPrintSettings& o) {
    header = o.header;
    footer = o.footer;
    margin_left = o.margin_left;
    margin_right = o.margin_right;
    margin_top = o.margin_top;
    margin_bottom = o.margin_bottom;
    horiz_pagebreaks = o.horiz_pagebreaks;
    vert_pagebreaks = o.vert_pagebreaks;
    return *this;
}

void TPrintSettings::Reset() {
    SetStartingPage(1);
    SetOptions({psoPortrait});
    margin_left = margin_right = 0.75;
    margin_top = margin_bottom = 1.0;
    horiz_pagebreaks.clear();
    vert_pagebreaks.clear();
}

TPaperSize TPrintSettings::PaperSize() const {
    return static_cast<TPaperSize>(records_.U16(rec::SETUP, kPaper));
}
void TPrintSettings::SetPaperSize(TPaperSize size) {
    records_.SetU16(rec::SETUP, kPaper, size);
}
uint16_t TPrintSettings::ScalingFactor() const {
    return records_.U16(rec::SETUP, kScale);
}
void TPrintSettings::SetScalingFactor(uint16_t percent) {
    records_.SetU16(rec::SETUP, kScale, percent);
}
uint16_t TPrintSettings::StartingPage() const {
    return records_.U16(rec::SETUP, kStart);
}

void TPrintSettings::SetStartingPage(uint16_t page) {
    records_.SetU16(rec::SETUP, kStart, page);
    uint16_t options = records_.U16(rec::SETUP, kOptions);
    options = page == 1 ? (options & ~kUseStartingPage) : (options | kUseStartingPage);
    records_.SetU16(rec::SETUP, kOptions, options);
}

uint16_t TPrintSettings::FitWidth() const {
    return records_.U16(rec::SETUP, kFitWidth);
}
void TPrintSettings::SetFitWidth(int pages) {
    records_.SetU16(rec::SETUP, kFitWidth, ClampPages(pages));
}
uint16_t TPrintSettings::FitHeight() const {
    return records_.U16(rec::SETUP, kFitHeight);
}
void TPrintSettings::SetFitHeight(int pages) {
    records_.SetU16(rec::SETUP, kFitHeight, ClampPages(pages));
}
uint16_t TPrintSettings::Resolution() const {
    return records_.U16(rec::SETUP, kResolution);
}
void TPrintSettings::SetResolution(uint16_t dpi) {
    records_.SetU16(rec::SETUP, kResolution, dpi);
}
uint16_t TPrintSettings::Copies() const {
    return records_.U16(rec::SETUP, kCopies);
}
void TPrintSettings::SetCopies(uint16_t copies) {
    records_.SetU16(rec::SETUP, kCopies, copies);
}
double TPrintSettings::HeaderMargin() const {
    return records_.Double(rec::SETUP, kHeaderMargin);
}
void TPrintSettings::SetHeaderMargin(double inches) {
    records_.SetDouble(rec::SETUP, kHeaderMargin, inches);
}
double TPrintSettings::FooterMargin() const {
    return records_.Double(rec::SETUP, kFooterMargin);
}
void TPrintSettings::SetFooterMargin(double inches) {
    records_.SetDouble(rec::SETUP, kFooterMargin, inches);
}

TPrintSetupOptions TPrintSettings::Options() const {
    TPrintSetupOptions o;
    uint16_t setup = records_.U16(rec::SETUP, kOptions);
    if (setup & 0x0001) o.Include(psoLeftToRight);
    if (setup & 0x0002) o.Include(psoPortrait);
    if (setup & 0x0008) o.Include(psoNoColor);
    if (setup & 0x0010) o.Include(psoDraftQuality);
    if (setup & 0x0020) o.Include(psoNotes);
    if (records_.U16(rec::PRINTHEADERS, 0)) o.Include(psoRowColHeading);
    if (records_.U16(rec::PRINTGRIDLINES, 0)) o.Include(psoGridlines);
    if (records_.U16(rec::HCENTER, 0)) o.Include(psoHorizCenter);
    if (records_.U16(rec::VCENTER, 0)) o.Include(psoVertCenter);
    return o;
}

void TPrintSettings::SetOptions(TPrintSetupOptions o) {
    records_.SetU16(rec::PRINTHEADERS, 0, o.Contains(psoRowColHeading) ? 1 : 0);
    records_.SetU16(rec::PRINTGRIDLINES, 0, o.Contains(psoGridlines) ? 1 : 0);
    records_.SetU16(rec::HCENTER, 0, o.Contains(psoHorizCenter) ? 1 : 0);
    records_.SetU16(rec::VCENTER, 0, o.Contains(psoVertCenter) ? 1 : 0);
    uint16_t setup = 0;
    if (o.Contains(psoLeftToRight)) setup |= 0x0001;
    if (o.Contains(psoPortrait)) setup |= 0x0002;
    if (o.Contains(psoNoColor)) setup |= 0x0008;
    if (o.Contains(psoDraftQuality)) setup |= 0x0010;
    if (o.Contains(psoNotes)) setup |= 0x0020;
    // The starting page is a setting of its own: changing the options must not switch it off.
    if (StartingPage() != 1) setup |= kUseStartingPage;
    records_.SetU16(rec::SETUP, kOptions, setup);
}

}  // namespace linograf::workbook
