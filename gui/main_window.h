#pragma once
// The operator's window TfrmMain: a sidebar switching between the journal, the parameters and the
// port settings pages; it owns the format and journal tables, the line capture, the serial port
// and the save dialog, reads the settings once when it is made and stores them when the
// parameters page is confirmed.
//
// What it needs from outside comes in through TMainWindowServices (the port and the port list)
// and the ExportGrid hook for the export of the journal grid. Every posted journal row goes to
// the live workbook log (Tabulon41), whose writes run on a thread of their own so that the window
// keeps taking bytes and repainting while a large workbook is written.
#include <QMainWindow>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/capture_port.h"
#include "core/format_journal.h"
#include "core/ini_file.h"
#include "core/line_capture.h"
#include "core/live_log.h"
#include "core/log_version.h"
#include "gui/excel_save_dialog.h"
#include "gui/grid_log_columns.h"
#include "gui/required_marks.h"
#include "workbook/model/tabulon4.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace linograf {

class TButtonEdit;
class TDbGrid;
class TDbNavigator;
class TJournalPage;
class TParametersPage;
class TPortPage;
class TTableModel;

struct TMainWindowServices {
    // The availability test of port n (1..64), run once per number while the window is made.
    std::function<bool(int)> port_available;
    // The device behind port n, shown to the operator beside the port list.
    std::function<QString(int)> device_path;
    // What the operator is told about port n beside its number: by-id name, USB strings, access.
    std::function<QString(int)> port_details;
    // The stable name of a device (its /dev/serial/by-id link), stored with the chosen port.
    std::function<std::string(const std::string&)> stable_path;
    // The serial port NlkComPort1; without one, starting capture reports that there is none.
    std::unique_ptr<TCapturePort> port;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kPortCount = 64;
    // Rows the journal grid keeps by default (settings key app/gridrows): the oldest leave the
    // grid, the log file keeps them.
    static constexpr int kDefaultGridRows = 1000000;
    static constexpr int kMargin = 10;  // of the edit boxes and the format grid to the panel's edges

    TfrmMain(TIniFile& ini, TMainWindowServices services, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TFormatJournal& Tables() { return tables_; }
    TLineCapture& LineCapture() { return capture_; }
    TCapturePort* NlkComPort1() const { return port_.get(); }
    workbook::TTabulon4& Tabulon41() { return tabulon41_; }
    TLiveLog& LiveLog() { return *live_log_; }
    TExcelSaveDialog& SaveDialog1() { return save_dialog_; }
    const TRequiredMarks& Marks() const { return marks_; }

    int PageIndex() const;
    void ShowPage(int index);
    // Enabled states and the start/stop caption and picture; also run whenever the GUI is idle.
    void UpdateActions();
    // The resize algorithm: runs on every change of the content panel's size.
    void ArrangeControls();
    // The line settings the port gets when capture starts: page 2's selections.
    TPortSettings CurrentPortSettings() const;
    // The stable path of the device behind the port list's entry `index` ("" for none).
    std::string StableDeviceOfEntry(int index) const;
    void SetStatusText(const QString& text);
    void UpdateStatusCounts();
    QString StatusText() const;

    // Export of the journal grid to `target`, titled `title`: the grid export with its progress
    // window unless replaced.
    std::function<void(const QString& target, TDbGrid& grid, const QString& title)> ExportGrid;

    // Regions and controls, named as the operator's documentation names them.
    QFrame* PSidebar;
    QToolButton* SidebarReports;
    QToolButton* SidebarParameters;
    QWidget* PContent;
    QStackedWidget* Page;
    QLabel* StatusBar1;
    // The status bar's permanent parts: lines received, rows written, rows waiting, the file.
    QLabel* StatusLines;
    QLabel* StatusRows;
    QLabel* StatusWaiting;
    QLabel* StatusFile;
    // True while the journal is being exported.
    bool Exporting() const { return exporting_; }
    TJournalPage* TabSheet1;
    TParametersPage* TabSheet2;
    TPortPage* TabSheet3;
    TDbGrid* Grid;
    TDbGrid* AGrid;
    TDbNavigator* DBNavigator1;
    TButtonEdit* efile;
    QCheckBox* etimestamp;
    TButtonEdit* ecom;
    QComboBox* eport;
    QComboBox* espeed;
    QComboBox* ebit;
    QComboBox* exor;
    QComboBox* estop;
    QComboBox* econtrol;
    QComboBox* eencoding;

    QAction* aplay;
    QAction* excel;
    QAction* asave_param;
    QAction* asave_port;
    QAction* acancel;
    QAction* areports;
    QAction* aparameters;
    QAction* aabout;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateActions();
    void CreateRegions();
    void FormCreate();
    void FillPortList();
    void JournalRebuilt();
    // The journal's texts follow the stored device encoding: converted to UTF-8 as each line is
    // cut when it is not Windows-1251.
    void ApplyDeviceEncoding();
    // The encoding box's choice as stored: empty for Windows-1251, as in the Windows program's
    // files.
    std::string ChosenEncoding() const;
    // Closes an open port; rows a failed write left in memory get one more try.
    void StopCapture();
    // Takes the bytes still on their way from the port, closes it and waits, painting, until the
    // live log has written every row; rows a failed write left get one more try (raised on
    // failure).
    void CloseAndFinishLog();
    void WaitForLog();
    // Drops the oldest journal rows once the grid holds more than its limit.
    void TrimJournal();

    void aplayExecute();
    void excelExecute();
    void asave_paramExecute();
    void asave_portExecute();
    void acancelExecute();
    void aboutExecute();
    void efileButtonClick();
    void ecomButtonClick();
    bool FormKeyDown(QObject* watched, QKeyEvent* event);
    bool AGridKeyDown(QObject* watched, QKeyEvent* event);

    TIniFile& ini_;
    TMainWindowServices services_;
    std::unique_ptr<TCapturePort> port_;
    TFormatJournal tables_;
    TLineCapture capture_;
    workbook::TTabulon4 tabulon41_;
    TTableModel* format_model_;
    TTableModel* journal_model_;
    TExcelSaveDialog save_dialog_;
    TRequiredMarks marks_;
    std::unique_ptr<TDeviceTextDecoder> decoder_;
    std::unique_ptr<TGridLogColumns> log_columns_;
    std::unique_ptr<TLiveLog> live_log_;
    std::chrono::steady_clock::time_point last_delivery_{};
    bool port_closing_ = false;
    long long bytes_not_taken_ = 0;  // announced while the port was closing
    int grid_rows_ = kDefaultGridRows;
    bool exporting_ = false;
    bool log_error_open_ = false;
    long long lines_received_ = 0;
    QTimer* status_timer_ = nullptr;
    long long rows_left_grid_ = 0;
};

}  // namespace linograf
