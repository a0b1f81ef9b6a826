#include "gui/main_window.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "core/arrival_column.h"
#include "core/capture_settings.h"
#include "core/file_template_setting.h"
#include "core/live_book_settings.h"
#include "core/silent_abort.h"
#include "gui/button_edit.h"
#include "gui/db_grid.h"
#include "gui/db_navigator.h"
#include "gui/error_handler.h"
#include "gui/export/db_grid_export.h"
#include "gui/pages/journal_page.h"
#include "gui/pages/parameters_page.h"
#include "gui/pages/port_page.h"
#include "gui/pictures.h"
#include "gui/port_details.h"
#include "gui/qt_text.h"
#include "gui/table_model.h"

namespace linograf {

namespace {

QAction* MakeAction(QObject* owner, const QString& name, const QString& caption, TPicture picture) {
    auto* action = new QAction(Picture(picture), caption, owner);
    action->setObjectName(name);
    action->setToolTip(caption);
    return action;
}

void SelectPosition(QComboBox* box, int position) {
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

bool PlainKey(const QKeyEvent* event) {
    return (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
}

// Empty means Windows-1251, which needs no converter.
bool KnownEncoding(const std::string& encoding) {
    if (encoding.empty()) return true;
    try {
        TDeviceTextDecoder check(encoding);
        return true;
    } catch (const EUnknownEncoding&) {
        return false;
    }
}

}  // namespace

TfrmMain::TfrmMain(TIniFile& ini, TMainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      ini_(ini),
      services_(std::move(services)),
      port_(std::move(services_.port)),
      capture_(tables_.cformat_, tables_.cdata),
      save_dialog_(this) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Linograf"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    format_model_ = new TTableModel(tables_.cformat, this);
    format_model_->SetColumns({
        {"npp", QStringLiteral("№ п/п"), 50, false},
        {"name", QStringLiteral("Наименование"), 374, true},
        {"fsize", QStringLiteral("Размер в байтах"), 71, true},
    });
    journal_model_ = new TTableModel(tables_.cdata, this);
    journal_model_->SetReadOnly(true);

    CreateActions();
    CreateRegions();
    ExportGrid = [](const QString& target, TDbGrid& grid, const QString& title) {
        ::linograf::ExportGrid(target, grid, title);
    };

    // The live workbook log: every posted journal row goes into the workbook the template names.
    log_columns_ = std::make_unique<TGridLogColumns>(*Grid);
    live_log_ = std::make_unique<TLiveLog>(tabulon41_, *log_columns_);
    // File names are UTF-8: a folder named with "é" or CJK characters reaches the log whole.
    live_log_->FileTemplate = [this] { return efile->text().toStdString(); };
    live_log_->OnStatusText = [this](const std::string& text) {
        StatusFile->setText(QString::fromStdString(text));
        UpdateStatusCounts();
    };
    live_log_->OnNotice = [this](const std::string& text) { SetStatusText(QString::fromStdString(text)); };
    live_log_->OnError = [this](const ELiveLogError& error) {
        // The log tells each failure once; a box still open for an earlier one is not joined by
        // another (the status bar keeps the newer text).
        if (log_error_open_) {
            SetStatusText(QString::fromStdString(error.what()));
            return;
        }
        log_error_open_ = true;
        ShowException(error);
        log_error_open_ = false;
    };
    // The writes run on the log's own thread; what they report comes back through the event loop.
    live_log_->OnEventsWaiting = [this] {
        QMetaObject::invokeMethod(
            this, [this] { Guarded([this] { live_log_->DeliverEvents(); }); }, Qt::QueuedConnection);
    };
    tables_.cdata.AfterPost = [this](TMemTable& journal) {
        ++lines_received_;
        live_log_->cdataAfterPost(journal);
    };

    tables_.StopCapture = [this] { StopCapture(); };
    tables_.JournalRebuilt = [this] { JournalRebuilt(); };
    if (port_) {
        port_->OnPortOpen = [this] { capture_.PortOpened(); };
        port_->OnTriggerAvail = [this](unsigned count) {
            // A closing port hands out no bytes any more: they are counted, not taken as NULs.
            if (port_closing_) {
                bytes_not_taken_ += count;
                return;
            }
            last_delivery_ = std::chrono::steady_clock::now();
            capture_.TriggerAvail(count, *port_);
            TrimJournal();
        };
        port_->OnConnectionChange = [this](bool lost, const std::string& text) {
            const QString shown = QString::fromStdString(text);
            SetStatusText(shown);
            TabSheet1->PortState->setText(shown);
            // A reconnect is news for the status bar; the journal's line is for what is wrong.
            TabSheet1->PortState->setVisible(lost);
            UpdateActions();
        };
    }

    resize(785, 472);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    FormCreate();
    // The counts in the status bar follow the writer thread, which tells nothing per row.
    status_timer_ = new QTimer(this);
    status_timer_->setInterval(250);
    connect(status_timer_, &QTimer::timeout, this, &TfrmMain::UpdateStatusCounts);
    status_timer_->start();
    UpdateStatusCounts();
    qApp->installEventFilter(this);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmMain::UpdateActions);
    }
    UpdateActions();
}

TfrmMain::~TfrmMain() {
    qApp->removeEventFilter(this);
    if (port_) {
        Guarded([this] { port_->Close(); });
        port_->OnPortOpen = nullptr;
        port_->OnTriggerAvail = nullptr;
        port_->OnConnectionChange = nullptr;
    }
    // Rows still queued are written before the window goes; the writer thread must be gone before
    // the widgets its reports would reach.
    live_log_->OnEventsWaiting = nullptr;
    live_log_.reset();
    tables_.StopCapture = nullptr;
    tables_.JournalRebuilt = nullptr;
    tables_.cdata.AfterPost = nullptr;
    // The views and models watch the tables, which are members and go before the child widgets.
    delete centralWidget();
    delete format_model_;
    delete journal_model_;
}

void TfrmMain::CreateActions() {
    aplay = MakeAction(this, QStringLiteral("aplay"), QStringLiteral("Начать сбор"), TPicture::kStart);
    excel = MakeAction(this, QStringLiteral("excel"), QStringLiteral("Excel"), TPicture::kExcel);
    asave_param = MakeAction(this, QStringLiteral("asave_param"), QStringLiteral("OK"), TPicture::kDiskette);
    asave_port = MakeAction(this, QStringLiteral("asave_port"), QString(), TPicture::kDiskette);
    acancel = MakeAction(this, QStringLiteral("acancel"), QString(), TPicture::kStop);
    areports = MakeAction(this, QStringLiteral("areports"), QStringLiteral("Журнал"), TPicture::kNotebook);
    areports->setData(0);
    aparameters =
        MakeAction(this, QStringLiteral("aparameters"), QStringLiteral("Параметры"), TPicture::kTools);
    aparameters->setData(1);
    aabout = new QAction(QStringLiteral("О программе"), this);
    aabout->setObjectName(QStringLiteral("aabout"));

    auto guarded = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(aplay, &QAction::triggered, this, guarded([this] { aplayExecute(); }));
    connect(excel, &QAction::triggered, this, guarded([this] { excelExecute(); }));
    connect(asave_param, &QAction::triggered, this, guarded([this] { asave_paramExecute(); }));
    connect(asave_port, &QAction::triggered, this, guarded([this] { asave_portExecute(); }));
    connect(acancel, &QAction::triggered, this, guarded([this] { acancelExecute(); }));
    connect(areports, &QAction::triggered, this, [this] { ShowPage(areports->data().toInt()); });
    connect(aparameters, &QAction::triggered, this, [this] { ShowPage(aparameters->data().toInt()); });
    connect(aabout, &QAction::triggered, this, guarded([this] { aboutExecute(); }));
}

void TfrmMain::CreateRegions() {
    QMenu* help = menuBar()->addMenu(QStringLiteral("Помощь"));
    help->addAction(aabout);

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PSidebar = new QFrame(central);
    PSidebar->setObjectName(QStringLiteral("PSidebar"));
    PSidebar->setFrameShape(QFrame::Box);
    PSidebar->setFrameShadow(QFrame::Plain);
    PSidebar->setFixedWidth(113);
    PSidebar->setAutoFillBackground(true);
    QPalette sidebar_palette = PSidebar->palette();
    sidebar_palette.setColor(QPalette::Window, QColor(0xAB, 0xAB, 0xAB));  // application workspace
    sidebar_palette.setColor(QPalette::WindowText, Qt::white);
    sidebar_palette.setColor(QPalette::ButtonText, Qt::white);
    PSidebar->setPalette(sidebar_palette);
    QFont sidebar_font(QStringLiteral("Tahoma"));
    sidebar_font.setPointSize(8);
    auto make_sidebar_button = [&](const QString& name, QAction* action, int top) {
        auto* button = new QToolButton(PSidebar);
        button->setObjectName(name);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setFont(sidebar_font);
        button->setGeometry(4, top, 100, 70);
        return button;
    };
    SidebarReports = make_sidebar_button(QStringLiteral("SpeedButton1"), areports, 4);
    SidebarParameters = make_sidebar_button(QStringLiteral("SpeedButton2"), aparameters, 80);
    layout->addWidget(PSidebar);

    PContent = new QWidget(central);
    PContent->setObjectName(QStringLiteral("PContent"));
    PContent->installEventFilter(this);
    layout->addWidget(PContent, 1);
    // A page control whose tab row is hidden is, in Qt, a stacked widget: no tabs to push out of
    // sight, so the page fills the panel as it is.
    Page = new QStackedWidget(PContent);
    Page->setObjectName(QStringLiteral("Page"));
    TabSheet1 = new TJournalPage(journal_model_, aplay, excel, Page);
    TabSheet2 = new TParametersPage(format_model_, asave_param, acancel, Page);
    TabSheet3 = new TPortPage(asave_port, acancel, Page);
    Page->addWidget(TabSheet1);
    Page->addWidget(TabSheet2);
    Page->addWidget(TabSheet3);
    Page->setCurrentIndex(0);
    setCentralWidget(central);

    Grid = TabSheet1->Grid;
    AGrid = TabSheet2->AGrid;
    DBNavigator1 = TabSheet2->DBNavigator1;
    efile = TabSheet2->efile;
    etimestamp = TabSheet2->etimestamp;
    ecom = TabSheet2->ecom;
    eport = TabSheet3->eport;
    espeed = TabSheet3->espeed;
    ebit = TabSheet3->ebit;
    exor = TabSheet3->exor;
    estop = TabSheet3->estop;
    econtrol = TabSheet3->econtrol;
    eencoding = TabSheet3->eencoding;
    AGrid->ColumnsChanged();

    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(StatusBar1, 1);
    // At a glance whether logging is healthy: lines in, rows in the file, the file, rows behind.
    auto permanent = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        statusBar()->addPermanentWidget(label);
        return label;
    };
    StatusLines = permanent("StatusLines");
    StatusRows = permanent("StatusRows");
    StatusWaiting = permanent("StatusWaiting");
    StatusFile = permanent("StatusFile");

    connect(efile, &TButtonEdit::ButtonClicked, this, [this] { Guarded([this] { efileButtonClick(); }); });
    connect(ecom, &TButtonEdit::ButtonClicked, this, [this] { Guarded([this] { ecomButtonClick(); }); });
}

// The window's creation handler: the settings are read here, once, in the order of the file's
// layout.
void TfrmMain::FormCreate() {
    // The journal's columns follow the stored settings: the arrival column when stamping is on.
    tables_.ArrivalColumn = StoredTimestamp(ini_);
    tables_.LoadFormat(ini_);
    FillPortList();
    efile->setText(QString::fromStdString(ReadFileTemplate(ini_)));
    etimestamp->setChecked(StoredTimestamp(ini_));
    {
        const std::string encoding = StoredEncoding(ini_);
        eencoding->setCurrentText(encoding.empty() || IsWindows1251Name(encoding)
                                      ? eencoding->itemText(0)
                                      : QString::fromStdString(encoding));
    }
    ecom->setText(FromCp1251(ini_.ReadString("app", "comport", "")));
    SelectPosition(eport, ini_.ReadInteger("com", "port", kDefaultPort));
    // The stable path names the device itself; the position only names a place in a list that
    // changes as adapters come and go, so the path wins where it is stored and present.
    if (const std::string device = ini_.ReadString("com", kDeviceKey, ""); !device.empty()) {
        for (int i = 0; i < eport->count(); ++i) {
            if (StableDeviceOfEntry(i) == device) eport->setCurrentIndex(i);
        }
    }
    if (port_) port_->SetReconnect(ini_.ReadInteger("com", kReconnectKey, 1) != 0);
    SelectPosition(espeed, ini_.ReadInteger("com", "speed", kDefaultSpeed));
    if (const std::int32_t baud = ini_.ReadInteger("com", kBaudKey, 0); baud >= kMinBaud && baud <= kMaxBaud)
        espeed->setEditText(QString::number(baud));
    SelectPosition(ebit, ini_.ReadInteger("com", "bit", kDefaultDataBits));
    SelectPosition(exor, ini_.ReadInteger("com", "xor", kDefaultParity));
    SelectPosition(estop, ini_.ReadInteger("com", "stop", kDefaultStopBits));
    SelectPosition(econtrol, ini_.ReadInteger("com", "control", kDefaultFlow));
    grid_rows_ = std::max(1, ini_.ReadInteger("app", "gridrows", kDefaultGridRows));
}

void TfrmMain::TrimJournal() {
    TMemTable& journal = tables_.cdata;
    if (!journal.Active() || journal.State() != TDataSetState::dsBrowse) return;
    const int count = journal.RecordCount();
    if (count <= grid_rows_) return;
    // A hundredth of the limit at a time, so the grid drops rows once per many lines, not per line.
    const int keep = grid_rows_ - grid_rows_ / 100;
    journal.DeleteFirstRows(count - keep);
    rows_left_grid_ += count - keep;
    SetStatusText(QStringLiteral("В журнале последние %1 строк; ещё %2 ранних строк есть только в файле")
                      .arg(journal.RecordCount())
                      .arg(rows_left_grid_));
}

void TfrmMain::FillPortList() {
    eport->clear();
    for (int n = 1; n <= kPortCount; ++n) {
        if (!services_.port_available || !services_.port_available(n)) continue;
        eport->addItem(QStringLiteral("COM%1").arg(n), n);
        // The path stays alone in the tooltip role, where it is read as a path.
        if (services_.device_path)
            eport->setItemData(eport->count() - 1, services_.device_path(n), Qt::ToolTipRole);
        if (services_.port_details)
            eport->setItemData(eport->count() - 1, services_.port_details(n), kPortDetailsRole);
    }
    eport->setCurrentIndex(-1);
}

void TfrmMain::JournalRebuilt() {
    std::vector<TGridColumn> columns;
    for (const TJournalColumn& column : tables_.JournalColumns()) {
        columns.push_back({column.field_name, FromCp1251(column.title), column.width, true});
    }
    journal_model_->SetColumns(std::move(columns));
    Grid->ColumnsChanged();
    ApplyDeviceEncoding();
}

void TfrmMain::ApplyDeviceEncoding() {
    // The rebuild has closed the port and emptied the journal: no row of another encoding is left.
    capture_.SetDeviceText(nullptr);
    decoder_.reset();
    const std::string encoding = StoredEncoding(ini_);
    if (!encoding.empty() && !IsWindows1251Name(encoding)) {
        try {
            decoder_ = std::make_unique<TDeviceTextDecoder>(encoding);
        } catch (const EUnknownEncoding&) {
            SetStatusText(QStringLiteral("Кодировка «%1» из файла настроек неизвестна; строки читаются как "
                                         "Windows-1251")
                              .arg(QString::fromStdString(encoding)));
        }
    }
    capture_.SetDeviceText(decoder_.get());
    journal_model_->SetValuesAreUtf8(capture_.JournalIsUtf8());
}

std::string TfrmMain::ChosenEncoding() const {
    const std::string encoding = eencoding->currentText().trimmed().toStdString();
    return IsWindows1251Name(encoding) ? std::string() : encoding;
}

int TfrmMain::PageIndex() const {
    return Page->currentIndex();
}

void TfrmMain::ShowPage(int index) {
    if (index >= 0 && index < Page->count()) Page->setCurrentIndex(index);
}

void TfrmMain::UpdateActions() {
    const bool open = port_ && port_->IsOpen();
    // During an export the journal must stay as it is: no capture into it, no rebuild of it.
    aplay->setEnabled(tables_.cformat.Active() && !tables_.cformat.IsEmpty() && !exporting_);
    asave_param->setEnabled(!exporting_);
    const QString caption = open ? QStringLiteral("Остановить") : QStringLiteral("Начать сбор");
    if (aplay->text() != caption) {
        aplay->setText(caption);
        aplay->setToolTip(caption);
        aplay->setIcon(Picture(open ? TPicture::kStop : TPicture::kStart));
    }
    excel->setEnabled(!open && !exporting_);
}

void TfrmMain::UpdateStatusCounts() {
    const long long written = live_log_->RowsWritten();
    const long long waiting = live_log_->UnwrittenRows();
    StatusLines->setText(QStringLiteral("Строк принято: %1").arg(lines_received_));
    StatusRows->setText(QStringLiteral("записано: %1").arg(written));
    StatusWaiting->setText(QStringLiteral("ждут записи: %1").arg(waiting));
}

void TfrmMain::ArrangeControls() {
    const QRect panel = PContent->rect();
    Page->setGeometry(panel);
    TabSheet2->LayOut(panel.width(), panel.height());
}

TPortSettings TfrmMain::CurrentPortSettings() const {
    // The line settings the operator confirmed and stored; before that the port's own defaults
    // (9600 8N1), not what the page shows unconfirmed (its parity box shows even parity, which
    // many devices and every pseudo-terminal refuse).
    TPortSettings settings = StoredLineSettings(ini_).value_or(TPortSettings{});
    settings.com_number = eport->currentIndex() >= 0 ? eport->currentData().toInt() : 0;
    settings.device = eport->currentIndex() >= 0 ? StableDeviceOfEntry(eport->currentIndex()) : std::string();
    return settings;
}

std::string TfrmMain::StableDeviceOfEntry(int index) const {
    if (!services_.device_path || index < 0 || index >= eport->count()) return {};
    const std::string path = services_.device_path(eport->itemData(index).toInt()).toStdString();
    return services_.stable_path ? services_.stable_path(path) : path;
}

void TfrmMain::SetStatusText(const QString& text) {
    StatusBar1->setText(text);
}
QString TfrmMain::StatusText() const {
    return StatusBar1->text();
}

void TfrmMain::aplayExecute() {
    if (exporting_) return;
    if (!port_) throw std::runtime_error("No serial port component");
    if (!port_->IsOpen()) {
        // As the journal was last rebuilt: the grid and the file show the same columns and texts.
        live_log_->StampArrival = tables_.cdata.Active() && tables_.cdata.FindField(kArrivalField) != nullptr;
        live_log_->ValuesAreUtf8 = capture_.JournalIsUtf8();
        live_log_->CaptureStarting(LogVersionForTemplate(efile->text().toStdString()));
        // The log is idle now: its workbook gets the stored page settings, not the locale's.
        ApplyLiveBookSettings(tabulon41_);
        port_->Open(CurrentPortSettings());
    } else {
        CloseAndFinishLog();
    }
    UpdateActions();
}

void TfrmMain::CloseAndFinishLog() {
    // Bytes the port threads have already read are still on their way: they are taken, cut and
    // posted until the deliveries pause, so a stop loses none of them.
    constexpr auto kQuiet = std::chrono::milliseconds(50);
    constexpr auto kLongest = std::chrono::milliseconds(500);
    const auto until = std::chrono::steady_clock::now() + kLongest;
    while (std::chrono::steady_clock::now() - last_delivery_ < kQuiet &&
           std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    // A device that keeps sending: reading stops, and every byte already read is still cut and
    // posted before the close discards what the kernel holds.
    bytes_not_taken_ = static_cast<long long>(port_->StopReceiving());
    port_closing_ = true;
    try {
        port_->Close();
    } catch (...) {
        port_closing_ = false;
        throw;
    }
    port_closing_ = false;
    if (bytes_not_taken_ > 0) {
        SetStatusText(QStringLiteral("Порт закрыт; %1 байт, пришедших во время закрытия, не приняты")
                          .arg(bytes_not_taken_));
    }
    UpdateActions();
    // Rows a failed write left in memory get one more try, so none is left unwritten silently;
    // it runs on the log's writer thread while the window goes on painting.
    live_log_->StartFlush();
    WaitForLog();
    live_log_->Flush();
}

void TfrmMain::WaitForLog() {
    if (live_log_->Idle()) return;
    // The window keeps painting while the last rows are written; the operator's input waits.
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (live_log_->Idle()) loop.quit();
    });
    poll.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void TfrmMain::excelExecute() {
    if (!save_dialog_.Execute(QString())) return;
    if (!ExportGrid) throw std::runtime_error("The export of the journal is not available in this build");
    // The export pumps events after every row; meanwhile nothing may change the journal under it.
    exporting_ = true;
    UpdateActions();
    struct TExportEnd {
        TfrmMain* window;
        ~TExportEnd() {
            window->exporting_ = false;
            window->UpdateActions();
        }
    } end{this};
    ExportGrid(save_dialog_.FileName(), *Grid, windowTitle());
}

void TfrmMain::asave_paramExecute() {
    if (exporting_) return;
    // A value still in the grid's editor or a row still being edited belongs to the format being
    // confirmed.
    AGrid->CommitEditor();
    tables_.cformat.CheckBrowseMode();

    marks_.MarkRequired({efile}, efile->text().isEmpty(), true);
    marks_.MarkRequired({ecom}, ecom->text().isEmpty());
    marks_.MarkRequired({AGrid}, tables_.cformat.IsEmpty());
    if (marks_.Counter() > 0) throw EAbort();
    const std::string encoding = ChosenEncoding();
    if (!KnownEncoding(encoding))
        throw std::runtime_error("Кодировка «" + encoding + "» неизвестна (Параметры com порта)");

    if (tables_.cdata.Active() && !tables_.cdata.IsEmpty()) {
        const auto answer = QMessageBox::question(this, QStringLiteral("Linograf"),
                                                  QStringLiteral("Текущие данные журнала будут удалены?"),
                                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) throw EAbort();
    }

    WriteFileTemplate(ini_, efile->text().toStdString());
    ini_.WriteInteger("app", kTimestampKey, etimestamp->isChecked() ? 1 : 0);
    ini_.WriteString("app", kEncodingKey, encoding);
    ini_.WriteString("app", "comport", ToCp1251(ecom->text()));
    ini_.WriteInteger("com", "port", eport->currentIndex());
    // A typed rate that is one of the items is stored as its position, as the Windows program
    // stores it; any other rate in the key of its own (and no position).
    const int speed_item = espeed->findText(espeed->currentText());
    ini_.WriteInteger("com", "speed", speed_item);
    ini_.WriteString("com", kBaudKey, speed_item >= 0 ? std::string() : espeed->currentText().toStdString());
    ini_.WriteInteger("com", "bit", ebit->currentIndex());
    ini_.WriteInteger("com", "xor", exor->currentIndex());
    ini_.WriteInteger("com", "stop", estop->currentIndex());
    ini_.WriteInteger("com", "control", econtrol->currentIndex());
    ini_.WriteString("com", kDeviceKey, StableDeviceOfEntry(eport->currentIndex()));
    tables_.SaveFormat(ini_);

    tables_.ArrivalColumn = etimestamp->isChecked();
    tables_.RebuildJournal();
    acancelExecute();
}

void TfrmMain::asave_portExecute() {
    marks_.MarkRequired({eport}, eport->currentIndex() < 0, true);
    {
        bool rate = false;
        const int baud = espeed->currentText().toInt(&rate);
        marks_.MarkRequired({espeed}, !rate || baud < kMinBaud || baud > kMaxBaud);
    }
    for (QComboBox* box : {ebit, exor, estop, econtrol}) marks_.MarkRequired({box}, box->currentIndex() < 0);
    marks_.MarkRequired({eencoding}, !KnownEncoding(ChosenEncoding()));
    if (marks_.Counter() > 0) throw EAbort();
    QStringList texts;
    for (QComboBox* box : {eport, espeed, ebit, exor, estop, econtrol}) texts << box->currentText();
    ecom->setText(texts.join(QStringLiteral(", ")));
    acancelExecute();
}

void TfrmMain::acancelExecute() {
    if (PageIndex() > 0) ShowPage(PageIndex() - 1);
}

void TfrmMain::aboutExecute() {
    QMessageBox::information(this, QStringLiteral("О программе"), QStringLiteral("Linograf, 2026"));
}

void TfrmMain::efileButtonClick() {
    if (save_dialog_.Execute(efile->text())) efile->setText(save_dialog_.FileName());
}

void TfrmMain::ecomButtonClick() {
    ShowPage(2);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PContent && event->type() == QEvent::Resize) {
        ArrangeControls();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activeModalWidget()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    bool handled = false;
    Guarded([&] { handled = FormKeyDown(watched, key) || AGridKeyDown(watched, key); });
    return handled;
}

// Keys seen by the window before the focused control.
bool TfrmMain::FormKeyDown(QObject*, QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) return false;
    // An open in-place editor takes Esc itself and cancels only the edit.
    if (Grid->IsEditing() || AGrid->IsEditing()) return false;
    if (PageIndex() == 0) return false;
    ShowPage(PageIndex() - 1);
    return true;
}

bool TfrmMain::AGridKeyDown(QObject* watched, QKeyEvent* event) {
    if (!PlainKey(event)) return false;
    const bool in_grid = watched == AGrid;
    const bool in_editor = AGrid->IsEditing() && watched == AGrid->Editor();
    TMemTable& cformat = tables_.cformat;
    switch (event->key()) {
        case Qt::Key_Delete:
            if (!in_grid || AGrid->IsEditing()) return false;
            if (!cformat.IsEmpty() || cformat.State() == TDataSetState::dsInsert) cformat.Delete();
            return true;
        case Qt::Key_Insert:
            if (!in_grid || AGrid->IsEditing()) return false;
            cformat.Append();
            AGrid->OpenEditor(1);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!in_editor) return false;
            AGrid->CommitEditor();
            if (cformat.State() == TDataSetState::dsEdit || cformat.State() == TDataSetState::dsInsert) {
                cformat.Post();
            }
            AGrid->setFocus();
            return true;
        default:
            return false;
    }
}

void TfrmMain::StopCapture() {
    if (!port_ || !port_->IsOpen()) return;
    Guarded([this] { CloseAndFinishLog(); });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    Guarded([this] { StopCapture(); });
    QMainWindow::closeEvent(event);
}

}  // namespace linograf
