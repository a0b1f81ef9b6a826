#pragma once
// The workbook-wide settings the component publishes as `Workbook` and `OptionsDialog`. Most of
// them are views of the workbook-globals records (WINDOW1, DATEMODE, PRECISION, BOOKBOOL,
// HIDEOBJ), so the BIFF8 writer finds them already in place; the calculation options are copied
// into every sheet's records before each write.
#include <cstdint>

#include "base/enum_set.h"
#include "workbook/model/record_storage.h"

namespace linograf::workbook {

enum TWorkbookOption : uint8_t { woHidden = 0, woIconized, woHScroll, woVScroll, woTabs };
using TWorkbookOptions = EnumSet<TWorkbookOption>;

// The workbook window (WINDOW1): position and size in 1/20 point, the selected sheet tab.
class TWorkbookData {
  public:
    explicit TWorkbookData(TRecordStorageGlobals& records) : records_(records) {}

    uint16_t Left() const { return records_.U16(rec::WINDOW1, 0); }
    void SetLeft(uint16_t v) { records_.SetU16(rec::WINDOW1, 0, v); }
    uint16_t Top() const { return records_.U16(rec::WINDOW1, 2); }
    void SetTop(uint16_t v) { records_.SetU16(rec::WINDOW1, 2, v); }
    uint16_t Width() const { return records_.U16(rec::WINDOW1, 4); }
    void SetWidth(uint16_t v) { records_.SetU16(rec::WINDOW1, 4, v); }
    uint16_t Height() const { return records_.U16(rec::WINDOW1, 6); }
    void SetHeight(uint16_t v) { records_.SetU16(rec::WINDOW1, 6, v); }
    uint16_t SelectedTab() const { return records_.U16(rec::WINDOW1, 10); }
    void SetSelectedTab(uint16_t v) { records_.SetU16(rec::WINDOW1, 10, v); }
    TWorkbookOptions Options() const;
    // Replaces all five option bits; other bits of the record stay.
    void SetOptions(TWorkbookOptions options);
    bool Date1904() const { return records_.U16(rec::DATEMODE, 0) == 1; }

  private:
    TRecordStorageGlobals& records_;
};

enum TCalcMode : uint8_t { cmManual = 0, cmAutomatic, cmAutoExTables };
enum TShowObjects : uint8_t { soShowAll = 0, soPlaceholders = 1, soHideAll = 2 };

class TOptionsDialog {
  public:
    explicit TOptionsDialog(TRecordStorageGlobals& records) : records_(records) {}

    TCalcMode CalcMode() const { return calc_mode_; }
    void SetCalcMode(TCalcMode mode) { calc_mode_ = mode; }
    uint16_t CalcCount() const { return calc_count_; }
    // 0 stores 1, values above 32767 store 32767.
    void SetCalcCount(uint32_t count);
    double Delta() const { return delta_; }
    void SetDelta(double delta) { delta_ = delta; }
    bool Iteration() const { return iteration_; }
    void SetIteration(bool on) { iteration_ = on; }
    bool R1C1Mode() const { return r1c1_mode_; }
    void SetR1C1Mode(bool on) { r1c1_mode_ = on; }
    bool SaveRecalc() const { return save_recalc_; }
    void SetSaveRecalc(bool on) { save_recalc_ = on; }
    bool RecalcBeforeSave() const { return recalc_before_save_; }
    void SetRecalcBeforeSave(bool on) { recalc_before_save_ = on; }
    bool Uncalced() const { return uncalced_; }
    void SetUncalced(bool on) { uncalced_ = on; }

    bool PrecisionAsDisplayed() const { return records_.U16(rec::PRECISION, 0) == 1; }
    void SetPrecisionAsDisplayed(bool on) { records_.SetU16(rec::PRECISION, 0, on ? 1 : 0); }
    bool SaveExtLinkVal() const { return records_.U16(rec::BOOKBOOL, 0) != 0; }
    void SetSaveExtLinkVal(bool on) { records_.SetU16(rec::BOOKBOOL, 0, on ? 1 : 0); }
    TShowObjects ShowObjects() const { return static_cast<TShowObjects>(records_.U16(rec::HIDEOBJ, 0)); }
    void SetShowObjects(TShowObjects value) { records_.SetU16(rec::HIDEOBJ, 0, value); }

  private:
    TRecordStorageGlobals& records_;
    TCalcMode calc_mode_ = cmAutomatic;
    uint16_t calc_count_ = 100;
    double delta_ = 0.001;
    bool iteration_ = false;
    bool r1c1_mode_ = false;
    bool save_recalc_ = true;
    bool recalc_before_save_ = false;
    bool uncalced_ = false;
};

}  // namespace linograf::workbook
