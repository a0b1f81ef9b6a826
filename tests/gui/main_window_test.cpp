#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QValidator>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "gui/button_edit.h"
#include "gui/db_grid.h"
#include "gui/db_navigator.h"
#include "gui/export/db_grid_export.h"
#include "gui/find_dialog.h"
#include "gui/pages/journal_page.h"
#include "gui/pages/port_page.h"
#include "gui/qt_text.h"
#include "gui/stacked_header_view.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "workbook/model/print_settings.h"
#include "workbook/model/sheet.h"

namespace linograf {
namespace {

using test::ErrorRecorder;
using test::FakePort;
using test::TempDir;
using test::WhenModal;

std::string FormatIni(const std::vector<std::pair<std::string, int>>& fields, const std::string& more = "") {
    std::string text = "[app]\nformat=" + std::to_string(fields.size()) + "\n" + more + "[format]\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        text += "name" + std::to_string(i + 1) + "=" + fields[i].first + "\n";
        text += "size" + std::to_string(i + 1) + "=" + std::to_string(fields[i].second) + "\n";
    }
    return text;
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { test::App(); }

    void WriteIni(const std::string& text) { test::WriteFileBytes(ini_path, text); }
    std::unique_ptr<TfrmMain> Open(std::set<int> present = {}, std::unique_ptr<TCapturePort> port = nullptr) {
        return test::MakeWindow(ini, std::move(present), std::move(port));
    }
    static FakePort& Port(TfrmMain& window) { return static_cast<FakePort&>(*window.NlkComPort1()); }
    static QWidget* Child(TfrmMain& window, const char* name) {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    }
    // The control's rectangle in the content panel's coordinates.
    static QRect InPanel(TfrmMain& window, QWidget* control) {
        return QRect(control->parentWidget()->mapTo(window.PContent, control->pos()), control->size());
    }

    TempDir dir;
    std::string ini_path = dir.File("linograf.ini");
    TIniFile ini{ini_path};
    ErrorRecorder errors;
};

TEST_F(MainWindowTest, FreshStartWithoutSettingsFile) {
    auto window = Open({2, 5});
    EXPECT_EQ(window->windowTitle(), "Linograf");
    EXPECT_EQ(window->size(), QSize(785, 472));
    EXPECT_EQ(window->font().family(), "MS Sans Serif");
    EXPECT_EQ(window->font().pointSize(), 8);
    EXPECT_EQ(window->PageIndex(), 0);
    EXPECT_TRUE(window->StatusText().isEmpty());

    EXPECT_FALSE(window->aplay->isEnabled());
    EXPECT_EQ(window->aplay->text(), "Начать сбор");
    EXPECT_TRUE(window->excel->isEnabled());
    EXPECT_TRUE(window->efile->text().isEmpty());
    EXPECT_TRUE(window->ecom->text().isEmpty());
    EXPECT_TRUE(window->ecom->isReadOnly());
    EXPECT_EQ(window->eport->count(), 2);
    EXPECT_EQ(window->eport->currentIndex(), -1);
    EXPECT_TRUE(window->eport->currentText().isEmpty());
    EXPECT_EQ(window->espeed->currentText(), "9600");
    EXPECT_EQ(window->ebit->currentText(), "8");
    EXPECT_EQ(window->exor->currentText(), "Чет");
    EXPECT_EQ(window->estop->currentText(), "1");
    EXPECT_EQ(window->econtrol->currentText(), "Нет");
    EXPECT_EQ(window->Tables().cformat.RecordCount(), 0);
    EXPECT_FALSE(window->Tables().cdata.Active());
    EXPECT_EQ(window->Grid->Model()->columnCount(), 0);

    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(ini_path));
    EXPECT_TRUE(errors.Messages().isEmpty());
}

TEST_F(MainWindowTest, MenuAndAboutBox) {
    auto window = Open();
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "Помощь");
    ASSERT_EQ(menus[0]->menu()->actions().size(), 1);
    EXPECT_EQ(menus[0]->menu()->actions()[0], window->aabout);
    EXPECT_EQ(window->aabout->text(), "О программе");

    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    auto ran = WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        shown = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    window->aabout->trigger();
    ASSERT_TRUE(*ran);
    EXPECT_FALSE(shown.isEmpty());
    EXPECT_FALSE(shown.contains(u'\n'));
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

// Positions and sizes as designed, or further right and down where the labels' texts need the
// room in this machine's fonts (checked in LabelsFitTheirTexts); widths that the resize algorithm
// sets are checked elsewhere.
TEST_F(MainWindowTest, ControlsSitWhereDesigned) {
    auto window = Open();
    struct Case {
        const char* name;
        QRect rect;  // width or height -1: not checked here
    };
    const Case cases[] = {
        {"PSidebar", {0, 0, 113, -1}},        {"SpeedButton1", {4, 4, 100, 70}},
        {"SpeedButton2", {4, 80, 100, 70}},   {"ToolBar1", {0, 0, -1, 34}},
        {"ToolBar2", {0, 0, -1, 34}},         {"ToolBar3", {0, 0, -1, 34}},
        {"Label6", {8, 44, -1, -1}},          {"Label7", {8, 66, -1, -1}},
        {"efile", {132, 63, -1, 21}},         {"Label1", {132, 90, -1, -1}},
        {"Label8", {8, 116, -1, -1}},         {"Label13", {8, 138, -1, -1}},
        {"ecom", {132, 135, -1, 21}},         {"Label2", {8, 171, -1, -1}},
        {"DBNavigator1", {-1, 163, 108, 25}}, {"AGrid", {8, 192, -1, -1}},
        {"Label3", {8, 44, -1, -1}},          {"eport", {123, 64, 100, 21}},
        {"espeed", {123, 88, 100, 21}},       {"ebit", {123, 112, 100, 21}},
        {"exor", {123, 136, 100, 21}},        {"estop", {123, 160, 100, 21}},
        {"econtrol", {123, 184, 100, 21}},    {"eencoding", {123, 208, 100, 21}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* widget = Child(*window, c.name);
        ASSERT_NE(widget, nullptr);
        const QRect actual = widget->geometry();
        if (c.rect.x() >= 0) {
            EXPECT_GE(actual.x(), c.rect.x());
            EXPECT_LE(actual.x(), c.rect.x() + 40);
        }
        EXPECT_GE(actual.y(), c.rect.y());
        EXPECT_LE(actual.y(), c.rect.y() + 40);
        if (c.rect.width() >= 0) {
            EXPECT_GE(actual.width(), c.rect.width());
        }
        if (c.rect.height() >= 0) {
            EXPECT_GE(actual.height(), c.rect.height());
            EXPECT_LE(actual.height(), c.rect.height() + 4);
        }
    }
}

TEST_F(MainWindowTest, CaptionsAndTitles) {
    auto window = Open();
    struct Case {
        const char* name;
        const char* text;
        bool bold;
    };
    const Case labels[] = {
        {"Label6", "Запись в файл", true},
        {"Label7", "Microsoft Excel файл", false},
        {"Label1", "В имени файла допустимо использование шаблонных констант {dd}{mm}{yyyy}{hh}{nn}{ss}",
         false},
        {"Label8", "Com порт", true},
        {"Label13", "Параметры com порта", false},
        {"Label2", "Формат", true},
        {"Label3", "Настройки com порта", true},
    };
    for (const Case& c : labels) {
        SCOPED_TRACE(c.name);
        auto* label = qobject_cast<QLabel*>(Child(*window, c.name));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(label->font().bold(), c.bold);
        if (c.bold) {
            EXPECT_EQ(label->font().family(), "Tahoma");
        }
    }
    // The box labels stand at left 8 beside their boxes.
    const std::pair<QComboBox*, const char*> boxes[] = {
        {window->eport, "Порт"},          {window->espeed, "Бит в секунду"},
        {window->ebit, "Биты данных"},    {window->exor, "Четность"},
        {window->estop, "Стоповые биты"}, {window->econtrol, "Управление потоком"},
    };
    for (const auto& [box, text] : boxes) {
        SCOPED_TRACE(text);
        QLabel* found = nullptr;
        for (QLabel* label : window->TabSheet3->findChildren<QLabel*>()) {
            if (label->text() == QString::fromUtf8(text)) found = label;
        }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->x(), 8);
        EXPECT_LE(std::abs(found->geometry().center().y() - box->geometry().center().y()), 6);
    }

    struct ActionCase {
        QAction* action;
        const char* caption;
    };
    const ActionCase actions[] = {
        {window->aplay, "Начать сбор"},     {window->excel, "Excel"}, {window->asave_param, "OK"},
        {window->asave_port, ""},           {window->acancel, ""},    {window->areports, "Журнал"},
        {window->aparameters, "Параметры"},
    };
    for (const ActionCase& c : actions) {
        SCOPED_TRACE(c.action->objectName().toStdString());
        EXPECT_EQ(c.action->text(), QString::fromUtf8(c.caption));
        EXPECT_FALSE(c.action->icon().isNull());
    }
    // The toolbars show pictures only, the sidebar its captions under pictures.
    for (const char* name : {"ToolBar1", "ToolBar2", "ToolBar3"}) {
        EXPECT_EQ(window->findChild<QToolBar*>(name)->toolButtonStyle(), Qt::ToolButtonIconOnly) << name;
    }
    EXPECT_EQ(window->SidebarReports->text(), "Журнал");
    EXPECT_EQ(window->SidebarParameters->text(), "Параметры");
    EXPECT_EQ(window->SidebarReports->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(window->SidebarReports->iconSize(), QSize(32, 32));
    EXPECT_TRUE(window->SidebarReports->autoRaise());
}

TEST_F(MainWindowTest, ListItemsOfThePortSettingsPage) {
    auto window = Open();
    struct Case {
        QComboBox* box;
        QStringList items;
    };
    const Case cases[] = {
        {window->espeed,
         {"75", "110", "134", "150", "300", "600", "1200", "1800", "2400", "4800", "7200", "9600", "14400",
          "19200", "38400", "57600", "115200", "128000"}},
        {window->ebit, {"4", "5", "6", "7", "8"}},
        {window->exor, {"Чет", "Нечет", "Нет", "Маркер", "Пробел"}},
        {window->estop, {"1", "1.5", "2"}},
        {window->econtrol, {"Xon / Xoff", "Аппаратное", "Нет"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box->objectName().toStdString());
        QStringList items;
        for (int i = 0; i < c.box->count(); ++i) items << c.box->itemText(i);
        EXPECT_EQ(items, c.items);
        // The speed box also takes a rate typed in (TheSpeedBoxTakesATypedRate); the others are
        // choices only.
        EXPECT_EQ(c.box->isEditable(), c.box == window->espeed);
    }
}

TEST_F(MainWindowTest, StoredPositionsSelectListEntries) {
    WriteIni(
        ToCp1251(QString::fromUtf8("[app]\nfilename=/tmp/d_{dd}.xls\ncomport=COM3, 9600, 8, Чет, 1, Нет\n"
                                   "[com]\nport=1\nspeed=16\nbit=99\nxor=$1\nstop=-1\ncontrol=0\n")));
    {
        auto window = Open({1, 3, 4});
        ASSERT_EQ(window->eport->count(), 3);
        EXPECT_EQ(window->eport->itemText(0), "COM1");
        EXPECT_EQ(window->eport->currentText(), "COM3");
        EXPECT_EQ(window->eport->currentData().toInt(), 3);
        // The device behind each entry is shown to the operator.
        EXPECT_EQ(window->eport->itemData(1, Qt::ToolTipRole).toString(), "/dev/test3");
        EXPECT_EQ(window->TabSheet3->LabelDevice->text(), "/dev/test3");
        EXPECT_EQ(window->espeed->currentText(), "115200");
        EXPECT_EQ(window->ebit->currentIndex(), -1);
        EXPECT_TRUE(window->ebit->currentText().isEmpty());
        EXPECT_EQ(window->exor->currentText(), "Нечет");
        EXPECT_EQ(window->estop->currentIndex(), -1);
        EXPECT_EQ(window->econtrol->currentText(), "Xon / Xoff");
        EXPECT_EQ(window->efile->text(), "/tmp/d_{dd}.xls");
        EXPECT_EQ(window->ecom->text(), "COM3, 9600, 8, Чет, 1, Нет");
    }
    // The same position means another port when COM1 is gone.
    auto window = Open({3, 4, 70});
    EXPECT_EQ(window->eport->count(), 2);
    EXPECT_EQ(window->eport->currentText(), "COM4");
}

TEST_F(MainWindowTest, FormatGridAndJournalGridFollowTheFormat) {
    WriteIni(FormatIni({{"A", 3}, {"B", 5}}));
    auto window = Open();
    window->ShowPage(1);
    QApplication::processEvents();
    TTableModel* format = window->AGrid->Model();
    ASSERT_EQ(format->columnCount(), 3);
    EXPECT_EQ(format->headerData(0, Qt::Horizontal).toString(), "№ п/п");
    EXPECT_EQ(format->headerData(1, Qt::Horizontal).toString(), "Наименование");
    EXPECT_EQ(format->headerData(2, Qt::Horizontal).toString(), "Размер в байтах");
    ASSERT_EQ(format->rowCount(), 2);
    EXPECT_EQ(format->index(1, 0).data().toString(), "20");
    EXPECT_EQ(format->index(1, 1).data().toString(), "B");
    EXPECT_EQ(format->index(1, 2).data().toString(), "5");
    EXPECT_TRUE(window->AGrid->Header()->isSortIndicatorShown());
    EXPECT_EQ(window->AGrid->Header()->sortIndicatorSection(), 0);

    // The sequence column keeps its 50 pixels, the others fill the rest of the width.
    const std::vector<int> format_widths = window->AGrid->ColumnWidths();
    ASSERT_EQ(format_widths.size(), 3u);
    EXPECT_EQ(format_widths[0], 50);
    EXPECT_EQ(format_widths[0] + format_widths[1] + format_widths[2], window->AGrid->viewport()->width());

    window->ShowPage(0);
    QApplication::processEvents();
    TDbGrid* grid = window->Grid;
    ASSERT_EQ(grid->Model()->columnCount(), 2);
    EXPECT_EQ(grid->Model()->headerData(0, Qt::Horizontal).toString(), "A");
    EXPECT_EQ(grid->Model()->headerData(1, Qt::Horizontal).toString(), "B");
    const std::vector<int> widths = grid->ColumnWidths();
    EXPECT_EQ(widths[0] + widths[1], grid->viewport()->width());
    EXPECT_LE(std::abs(widths[0] - widths[1]), 1);  // both 90 before stretching
    EXPECT_TRUE(window->aplay->isEnabled());

    // The journal grid: 17-pixel rows, nothing editable, one row at a time.
    window->efile->setText(QString::fromStdString(dir.File("rows.xls")));
    window->LineCapture().TakeByte('\r');
    window->LineCapture().TakeByte('\r');
    ASSERT_EQ(grid->Model()->rowCount(), 2);
    EXPECT_EQ(grid->rowHeight(0), 17);
    EXPECT_FALSE(grid->Model()->flags(grid->Model()->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(grid->showGrid());
    EXPECT_EQ(grid->Header()->sectionResizeMode(0), QHeaderView::Interactive);
}

TEST_F(MainWindowTest, StackedHeaderLevels) {
    TMemTable table;
    TTableModel model(table);
    model.SetColumns({{"a", "Вес|Брутто", 90, true},
                      {"b", "Вес|Нетто", 90, true},
                      {"c", "Дата", 90, true},
                      {"d", "Вес|Тара|кг", 90, true}});
    test::App();
    TDbGrid grid(&model);
    grid.resize(400, 200);
    TStackedHeaderView* header = grid.Header();
    EXPECT_EQ(TStackedHeaderView::Levels("A|B|C"), QStringList({"A", "B", "C"}));
    EXPECT_EQ(header->LevelCount(), 3);
    using Span = std::pair<int, int>;
    EXPECT_EQ(header->Span(0, 0), Span(0, 1));  // "Вес" over the first two, not across "Дата"
    EXPECT_EQ(header->Span(1, 0), Span(0, 1));
    EXPECT_EQ(header->Span(0, 1), Span(0, 0));  // the last level is the column's own
    EXPECT_EQ(header->Span(2, 0), Span(2, 2));
    EXPECT_EQ(header->Span(3, 0), Span(3, 3));
    // Three lines of title are taller than one.
    TTableModel flat_model(table);
    flat_model.SetColumns({{"a", "A", 90, true}});
    TDbGrid flat(&flat_model);
    EXPECT_GT(header->sizeHint().height(), flat.Header()->sizeHint().height() * 2);
}

TEST_F(MainWindowTest, SidebarAndBackActionsSwitchPages) {
    auto window = Open();
    window->aparameters->trigger();
    EXPECT_EQ(window->PageIndex(), 1);
    window->areports->trigger();
    EXPECT_EQ(window->PageIndex(), 0);
    window->ShowPage(2);
    window->acancel->trigger();
    EXPECT_EQ(window->PageIndex(), 1);
    // F4 in the port summary opens the port settings page.
    QTest::keyClick(window->ecom, Qt::Key_F4);
    EXPECT_EQ(window->PageIndex(), 2);
}

TEST_F(MainWindowTest, EscapeGoesBackOnePage) {
    auto window = Open();
    struct Case {
        int from;
        int to;
    };
    for (const Case c : {Case{2, 1}, Case{1, 0}, Case{0, 0}}) {
        SCOPED_TRACE(c.from);
        window->ShowPage(c.from);
        QWidget* page = window->Page->currentWidget();
        QWidget* target = c.from == 1 ? static_cast<QWidget*>(window->efile) : page;
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_EQ(window->PageIndex(), c.to);
    }
}

TEST_F(MainWindowTest, EscapeInFormatCellEditCancelsOnlyTheEdit) {
    WriteIni(FormatIni({{"A", 3}}));
    auto window = Open();
    window->ShowPage(1);
    window->AGrid->OpenEditor(1);
    QLineEdit* editor = window->AGrid->Editor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "Changed");
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(window->AGrid->IsEditing());
    EXPECT_EQ(window->PageIndex(), 1);
    EXPECT_EQ(window->Tables().cformat.CellText(0, 1), "A");
    // The next Esc goes back a page.
    QTest::keyClick(window->AGrid, Qt::Key_Escape);
    EXPECT_EQ(window->PageIndex(), 0);
}

TEST_F(MainWindowTest, FormatGridKeys) {
    WriteIni(FormatIni({{"A", 3}, {"B", 5}}));
    auto window = Open();
    window->ShowPage(1);
    TDbGrid* grid = window->AGrid;
    TMemTable& cformat = window->Tables().cformat;

    QTest::keyClick(grid, Qt::Key_Insert);
    ASSERT_TRUE(grid->IsEditing());
    EXPECT_EQ(cformat.State(), TDataSetState::dsInsert);
    EXPECT_EQ(grid->currentIndex().column(), 1);
    QLineEdit* editor = grid->Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "noname #3");
    EXPECT_EQ(editor->selectedText(), editor->text());
    QTest::keyClicks(editor, "Weight");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(grid->IsEditing());
    EXPECT_EQ(cformat.State(), TDataSetState::dsBrowse);
    ASSERT_EQ(cformat.RecordCount(), 3);
    EXPECT_EQ(cformat.CellText(2, 1), "Weight");
    EXPECT_EQ(cformat.CellText(2, 3), "30");
    EXPECT_EQ(window->PageIndex(), 1);

    // Delete with a modifier held does nothing; plain Delete removes the current row at once.
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(cformat.RecordCount(), 3);
    grid->setCurrentIndex(grid->Model()->index(0, 1));
    QTest::keyClick(grid, Qt::Key_Delete);
    ASSERT_EQ(cformat.RecordCount(), 2);
    EXPECT_EQ(cformat.CellText(0, 1), "B");
    EXPECT_TRUE(errors.Messages().isEmpty());
    for (int i = 0; i < 3; ++i) QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_TRUE(cformat.IsEmpty());
    EXPECT_TRUE(errors.Messages().isEmpty());
}

TEST_F(MainWindowTest, NavigatorActsOnTheFormat) {
    WriteIni(FormatIni({{"A", 3}}));
    auto window = Open();
    TDbNavigator* navigator = window->DBNavigator1;
    TMemTable& cformat = window->Tables().cformat;
    EXPECT_FALSE(navigator->Button(TDbNavigator::nbPost)->isEnabled());
    navigator->Button(TDbNavigator::nbInsert)->click();
    EXPECT_EQ(cformat.State(), TDataSetState::dsInsert);
    EXPECT_TRUE(navigator->Button(TDbNavigator::nbCancel)->isEnabled());
    navigator->Button(TDbNavigator::nbCancel)->click();
    EXPECT_EQ(cformat.RecordCount(), 1);
    navigator->Button(TDbNavigator::nbInsert)->click();
    navigator->Button(TDbNavigator::nbPost)->click();
    EXPECT_EQ(cformat.RecordCount(), 2);
    // Deletes without asking.
    navigator->Button(TDbNavigator::nbDelete)->click();
    EXPECT_EQ(cformat.RecordCount(), 1);
}

TEST_F(MainWindowTest, ConfirmingParametersMarksEmptyRequiredControls) {
    auto window = Open({3});
    window->ShowPage(1);
    const QRect efile_before = window->efile->geometry();
    window->asave_param->trigger();

    EXPECT_EQ(window->Marks().Counter(), 3);
    for (QWidget* control : {static_cast<QWidget*>(window->efile), static_cast<QWidget*>(window->ecom),
                             static_cast<QWidget*>(window->AGrid)}) {
        SCOPED_TRACE(control->objectName().toStdString());
        QWidget* mark = control->parentWidget()->findChild<QWidget*>(control->objectName() + "Require");
        ASSERT_NE(mark, nullptr);
        EXPECT_EQ(mark->parentWidget(), control->parentWidget());
        EXPECT_EQ(mark->geometry(), control->geometry().adjusted(-1, -1, 1, 1));
        // Beneath the control: earlier among the parent's children is lower.
        const QObjectList& siblings = control->parentWidget()->children();
        EXPECT_LT(siblings.indexOf(mark), siblings.indexOf(control));
        // A red ring, with the inside left to what lies beneath.
        const QImage image = mark->grab().toImage();
        EXPECT_EQ(image.pixelColor(0, mark->height() / 2), QColor(255, 0, 0));
        EXPECT_EQ(image.pixelColor(mark->width() / 2, 0), QColor(255, 0, 0));
        EXPECT_EQ(image.pixelColor(mark->width() - 1, mark->height() - 1), QColor(255, 0, 0));
        EXPECT_TRUE(mark->testAttribute(Qt::WA_TransparentForMouseEvents));
    }
    EXPECT_EQ(window->efile->geometry(), efile_before);
    EXPECT_EQ(window->PageIndex(), 1);
    EXPECT_FALSE(std::filesystem::exists(ini_path));
    EXPECT_TRUE(errors.Messages().isEmpty());

    // Checking again does not pile up marks.
    window->asave_param->trigger();
    EXPECT_EQ(window->efile->parentWidget()->findChildren<QWidget*>("efileRequire").size(), 1);

    // A text of blanks counts as filled.
    window->efile->setText("  ");
    window->asave_param->trigger();
    EXPECT_EQ(TRequiredMarks::FindMark(window->efile), nullptr);
    EXPECT_NE(TRequiredMarks::FindMark(window->ecom), nullptr);
    EXPECT_EQ(window->Marks().Counter(), 2);
    EXPECT_FALSE(std::filesystem::exists(ini_path));

    // Filled in: the marks go, the settings are stored and the journal follows the format.
    window->efile->setText("/data/log_{dd}.xlsx");
    window->ShowPage(2);
    window->eport->setCurrentIndex(0);
    window->asave_port->trigger();
    EXPECT_EQ(window->ecom->text(), "COM3, 9600, 8, Чет, 1, Нет");
    window->AGrid->setFocus();
    QTest::keyClick(window->AGrid, Qt::Key_Insert);
    window->AGrid->Editor()->setText("Масса");  // QTest types only ASCII
    window->asave_param->trigger();
    for (QWidget* control : {static_cast<QWidget*>(window->efile), static_cast<QWidget*>(window->ecom),
                             static_cast<QWidget*>(window->AGrid)}) {
        EXPECT_EQ(TRequiredMarks::FindMark(control), nullptr) << control->objectName().toStdString();
    }
    EXPECT_EQ(window->PageIndex(), 0);
    EXPECT_EQ(ini.ReadString("app", "filename", "?"), "/data/log_{dd}.xlsx");
    EXPECT_EQ(ini.ReadString("app", "comport", "?"), ToCp1251("COM3, 9600, 8, Чет, 1, Нет"));
    EXPECT_EQ(ini.ReadInteger("com", "port", 99), 0);
    EXPECT_EQ(ini.ReadInteger("com", "speed", 99), 11);
    EXPECT_EQ(ini.ReadInteger("com", "bit", 99), 4);
    EXPECT_EQ(ini.ReadInteger("com", "xor", 99), 0);
    EXPECT_EQ(ini.ReadInteger("com", "stop", 99), 0);
    EXPECT_EQ(ini.ReadInteger("com", "control", 99), 2);
    EXPECT_EQ(ini.ReadInteger("app", "format", 99), 1);
    EXPECT_EQ(ini.ReadString("format", "name1", "?"), ToCp1251("Масса"));
    EXPECT_EQ(ini.ReadString("format", "size1", "?"), "1");
    ASSERT_TRUE(window->Tables().cdata.Active());
    EXPECT_EQ(window->Grid->Model()->headerData(0, Qt::Horizontal).toString(), "Масса");
    EXPECT_TRUE(errors.Messages().isEmpty());
}

TEST_F(MainWindowTest, ConfirmingThePortPage) {
    auto window = Open({2, 7});
    window->ShowPage(2);
    window->ecom->setText("old");
    window->exor->setCurrentIndex(-1);
    window->asave_port->trigger();
    EXPECT_EQ(window->Marks().Counter(), 2);
    EXPECT_NE(TRequiredMarks::FindMark(window->eport), nullptr);
    EXPECT_NE(TRequiredMarks::FindMark(window->exor), nullptr);
    EXPECT_EQ(TRequiredMarks::FindMark(window->espeed), nullptr);
    EXPECT_EQ(window->ecom->text(), "old");
    EXPECT_EQ(window->PageIndex(), 2);

    window->eport->setCurrentIndex(1);
    window->espeed->setCurrentIndex(13);
    window->exor->setCurrentIndex(4);
    window->estop->setCurrentIndex(1);
    window->econtrol->setCurrentIndex(1);
    window->asave_port->trigger();
    EXPECT_EQ(window->Marks().Counter(), 0);
    EXPECT_EQ(TRequiredMarks::FindMark(window->eport), nullptr);
    EXPECT_EQ(window->ecom->text(), "COM7, 19200, 8, Пробел, 1.5, Аппаратное");
    EXPECT_EQ(window->PageIndex(), 1);
    EXPECT_FALSE(std::filesystem::exists(ini_path));
}

// The encoding box lists common encodings, Windows-1251 first and shown when the settings file has
// no key; it takes any name iconv knows, marks one it does not, and stores Windows-1251 as no
// encoding at all, as the Windows program's files have it.
TEST_F(MainWindowTest, TheEncodingBoxIsCheckedAndStoredWithTheParameters) {
    WriteIni(FormatIni({{"V", 3}}, "filename=" + dir.File("e.xls") + "\ncomport=COM1\n"));
    auto window = Open({1});
    EXPECT_EQ(window->eencoding->currentText(), "Windows-1251");
    for (const char* name : {"UTF-8", "ISO-8859-1", "KOI8-R", "CP866"})
        EXPECT_GE(window->eencoding->findText(name), 0) << name;
    window->ShowPage(2);
    window->eport->setCurrentIndex(0);
    window->eencoding->setCurrentText("no-such-encoding");
    window->asave_port->trigger();
    EXPECT_NE(TRequiredMarks::FindMark(window->eencoding), nullptr);
    EXPECT_EQ(window->PageIndex(), 2);

    struct Case {
        const char* chosen;
        const char* stored;
    };
    for (const Case& c :
         {Case{"utf-8", "utf-8"}, Case{"Windows-1251", ""}, Case{"ISO-8859-1", "ISO-8859-1"}}) {
        SCOPED_TRACE(c.chosen);
        window->ShowPage(2);
        window->eencoding->setCurrentText(c.chosen);
        window->asave_port->trigger();
        EXPECT_EQ(TRequiredMarks::FindMark(window->eencoding), nullptr);
        window->asave_param->trigger();
        EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
        EXPECT_EQ(ini.ReadString("app", "encoding", "?"), c.stored);
    }
    window.reset();
    window = Open({1});
    EXPECT_EQ(window->eencoding->currentText(), "ISO-8859-1");

    // A name typed in and never checked on the port page is refused when the parameters are
    // confirmed, and nothing is stored.
    window->eencoding->setCurrentText("no-such-encoding");
    window->asave_param->trigger();
    ASSERT_EQ(errors.Messages().size(), 1);
    EXPECT_TRUE(errors.Messages()[0].contains("no-such-encoding")) << errors.Messages()[0].toStdString();
    EXPECT_EQ(ini.ReadString("app", "encoding", "?"), "ISO-8859-1");
}

// The speed box takes any rate in range, typed in; a rate outside the list is stored in a key of
// its own, given to the port, and shown again at the next start.
TEST_F(MainWindowTest, TheSpeedBoxTakesATypedRate) {
    WriteIni(FormatIni({{"A", 3}}, "filename=" + dir.File("log.xls") + "\ncomport=COM7\n"));
    {
        auto window = Open({7});
        const QValidator* validator = window->espeed->validator();
        ASSERT_NE(validator, nullptr);
        struct Case {
            const char* text;
            bool acceptable;
        } cases[] = {{"250000", true}, {"abc", false}, {"4000001", false}, {"-9600", false},
                     {"9600", true},   {"49", false},  {"4000000", true}};
        for (const Case& c : cases) {
            QString text = c.text;
            int position = 0;
            EXPECT_EQ(validator->validate(text, position) == QValidator::Acceptable, c.acceptable) << c.text;
        }
        window->ShowPage(2);
        window->eport->setCurrentIndex(0);
        window->espeed->setEditText("0");  // nothing the driver could run
        window->asave_port->trigger();
        EXPECT_NE(TRequiredMarks::FindMark(window->espeed), nullptr);
        window->espeed->setEditText("250000");
        window->asave_port->trigger();
        EXPECT_EQ(window->Marks().Counter(), 0);
        EXPECT_TRUE(window->ecom->text().startsWith("COM7, 250000, ")) << window->ecom->text().toStdString();
        window->asave_param->trigger();
        EXPECT_EQ(ini.ReadInteger("com", "baud", 0), 250000);
        EXPECT_EQ(ini.ReadInteger("com", "speed", 0), -1);
        window->aplay->trigger();
        EXPECT_EQ(Port(*window).last_settings.baud, 250000);
        window->aplay->trigger();
    }
    auto again = Open({7});
    EXPECT_EQ(again->espeed->currentText(), "250000");
    // A rate of the list is stored as its position, as before.
    again->espeed->setEditText("19200");
    again->ShowPage(2);
    again->asave_port->trigger();
    again->asave_param->trigger();
    EXPECT_EQ(ini.ReadInteger("com", "speed", -1), 13);
    EXPECT_EQ(ini.ReadString("com", "baud", "x"), "");
}

// The settings file keeps the Windows program's position of the port and also the device's
// stable path, which wins at start: plugging in another adapter moves positions, not paths.
TEST_F(MainWindowTest, TheStoredDevicePathWinsOverThePosition) {
    WriteIni(FormatIni({{"A", 3}}, "filename=" + dir.File("log.xls") + "\ncomport=COM9\n") +
             "[com]\nport=0\ndevice=/dev/test9\n");
    {
        auto window = Open({2, 9});
        EXPECT_EQ(window->eport->currentText(), "COM9");
        window->ShowPage(2);
        window->eport->setCurrentIndex(window->eport->findText("COM2"));
        window->asave_port->trigger();
        window->asave_param->trigger();
        EXPECT_EQ(ini.ReadInteger("com", "port", -1), 0);
        EXPECT_EQ(ini.ReadString("com", "device", ""), "/dev/test2");
        window->aplay->trigger();
        EXPECT_EQ(Port(*window).last_settings.device, "/dev/test2");
        window->aplay->trigger();
    }
    // A file without the key (one from the Windows program) still selects by position.
    WriteIni(FormatIni({{"A", 3}}) + "[com]\nport=1\n");
    EXPECT_EQ(Open({2, 9})->eport->currentText(), "COM9");
}

TEST_F(MainWindowTest, ConfirmingWithJournalRowsAsksFirst) {
    WriteIni(FormatIni({{"A", 3}}, "filename=" + dir.File("old.xls") + "\ncomport=COM1\n"));
    auto window = Open({1});
    FakePort& port = Port(*window);
    window->aplay->trigger();
    ASSERT_TRUE(port.IsOpen());
    for (int i = 0; i < 10; ++i) port.Feed("r" + std::to_string(i) + "\r");
    ASSERT_EQ(window->Tables().cdata.RecordCount(), 10);
    const std::string stored = test::ReadFileBytes(ini_path);

    window->ShowPage(1);
    window->efile->setText(QString::fromStdString(dir.File("new.xls")));
    QString question;
    QMessageBox::StandardButtons buttons;
    auto answer = [&](QMessageBox::StandardButton button) {
        return WhenModal([&, button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            question = box->text();
            buttons = box->standardButtons();
            box->button(button)->click();
        });
    };
    auto asked = answer(QMessageBox::No);
    window->asave_param->trigger();
    ASSERT_TRUE(*asked);
    EXPECT_EQ(question, "Текущие данные журнала будут удалены?");
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(window->Tables().cdata.RecordCount(), 10);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(window->PageIndex(), 1);
    EXPECT_EQ(test::ReadFileBytes(ini_path), stored);
    // Capture goes on.
    port.Feed("more\r");
    EXPECT_EQ(window->Tables().cdata.RecordCount(), 11);

    asked = answer(QMessageBox::Yes);
    window->asave_param->trigger();
    ASSERT_TRUE(*asked);
    EXPECT_EQ(window->Tables().cdata.RecordCount(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(window->PageIndex(), 0);
    EXPECT_EQ(ini.ReadString("app", "filename", ""), dir.File("new.xls"));
    EXPECT_TRUE(errors.Messages().isEmpty());
}

TEST_F(MainWindowTest, RefusedSettingsWriteIsShownAndNothingIsRebuilt) {
    const std::string unwritable = dir.File("missing-folder/linograf.ini");
    TIniFile bad_ini(unwritable);
    auto window = test::MakeWindow(bad_ini);
    window->ShowPage(1);
    QTest::keyClick(window->AGrid, Qt::Key_Insert);
    QTest::keyClick(window->AGrid->Editor(), Qt::Key_Return);
    window->Tables().RebuildJournal();
    TMemTable& cformat = window->Tables().cformat;
    cformat.Edit();
    cformat.FieldByName("name").SetAsString("Changed");
    cformat.Post();
    window->efile->setText("x.xls");
    window->ecom->setText("COM1");
    ASSERT_TRUE(test::PumpUntil([&] { return window->aplay->isEnabled(); }));
    window->aplay->trigger();
    ASSERT_TRUE(Port(*window).IsOpen());

    window->asave_param->trigger();
    ASSERT_EQ(errors.Messages().size(), 1);
    EXPECT_EQ(errors.Messages()[0], QString::fromStdString("Unable to write to " + unwritable + "."));
    EXPECT_EQ(window->PageIndex(), 1);
    // No rebuild: the port still runs and the journal keeps its old titles.
    EXPECT_TRUE(Port(*window).IsOpen());
    EXPECT_EQ(window->Grid->Model()->headerData(0, Qt::Horizontal).toString(), "noname #1");
}

TEST_F(MainWindowTest, ResizeKeepsMarginsAndLinesUpTheNavigator) {
    auto window = Open();
    window->ShowPage(1);
    window->asave_param->trigger();  // marks placed before the resize stay where they were
    QWidget* mark = TRequiredMarks::FindMark(window->AGrid);
    ASSERT_NE(mark, nullptr);
    const QRect mark_before = mark->geometry();
    for (const QSize size : {QSize(1000, 600), QSize(785, 472), QSize(1300, 900)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        QApplication::processEvents();
        const int panel_width = window->PContent->width();
        const int panel_height = window->PContent->height();
        EXPECT_EQ(window->PContent->x() + panel_width, window->centralWidget()->width());
        EXPECT_EQ(window->Page->geometry(), window->PContent->rect());
        EXPECT_EQ(InPanel(*window, window->efile).right() + 1, panel_width - 10);
        EXPECT_EQ(InPanel(*window, window->ecom).right() + 1, panel_width - 10);
        EXPECT_EQ(InPanel(*window, window->ecom).left(), InPanel(*window, window->efile).left());
        EXPECT_GE(InPanel(*window, window->ecom).left(), 132);
        EXPECT_EQ(InPanel(*window, window->AGrid).right() + 1, panel_width - 10);
        EXPECT_EQ(InPanel(*window, window->AGrid).bottom() + 1, panel_height - 10);
        EXPECT_EQ(window->DBNavigator1->geometry().right(), window->AGrid->geometry().right());
        EXPECT_EQ(window->DBNavigator1->width(), 108);
        EXPECT_EQ(mark->geometry(), mark_before);
    }
}

TEST_F(MainWindowTest, ActionsAreReEvaluatedWhenIdle) {
    auto window = Open();
    EXPECT_FALSE(window->aplay->isEnabled());
    TMemTable& cformat = window->Tables().cformat;
    cformat.Append();
    cformat.Post();
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->isEnabled(); }));

    FakePort& port = Port(*window);
    port.open = true;  // opened behind the window's back
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Остановить"; }));
    EXPECT_FALSE(window->excel->isEnabled());
    const QImage stop = window->aplay->icon().pixmap(16, 16).toImage();
    port.open = false;
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Начать сбор"; }));
    EXPECT_TRUE(window->excel->isEnabled());
    EXPECT_NE(window->aplay->icon().pixmap(16, 16).toImage(), stop);
}

// Before any port settings were confirmed, the port opens with its own defaults (9600 8N1, no
// flow control), not with what the page shows (its parity box shows "Чет", even parity).
TEST_F(MainWindowTest, FreshStartOpensThePortAt9600EightNoneOne) {
    WriteIni(FormatIni({{"A", 3}}));
    auto window = Open({2, 9});
    FakePort& port = Port(*window);
    EXPECT_EQ(window->exor->currentText(), "Чет");
    window->eport->setCurrentIndex(1);
    window->espeed->setCurrentIndex(window->espeed->findText("115200"));  // chosen, not confirmed
    ASSERT_TRUE(test::PumpUntil([&] { return window->aplay->isEnabled(); }));
    window->aplay->trigger();
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.last_settings.com_number, 9);
    EXPECT_EQ(port.last_settings.baud, 9600);
    EXPECT_EQ(port.last_settings.data_bits, 8);
    EXPECT_EQ(port.last_settings.parity, TPortParity::pNone);
    EXPECT_EQ(port.last_settings.stop_bits, 1);
    EXPECT_EQ(port.last_settings.flow, TPortFlow::kNone);
    window->aplay->trigger();
}

// The window shows what the port reports about its device: a loss in the status bar and above
// the journal, a reconnect in the status bar only.
TEST_F(MainWindowTest, ConnectionChangesAreShown) {
    auto window = Open({2});
    FakePort& port = Port(*window);
    ASSERT_TRUE(port.OnConnectionChange);
    port.OnConnectionChange(true, "disconnected: /dev/ttyUSB0 at 2026-12-11 03:20:05 (the device hung up)");
    EXPECT_EQ(window->StatusText(), "disconnected: /dev/ttyUSB0 at 2026-12-11 03:20:05 (the device hung up)");
    EXPECT_TRUE(window->TabSheet1->PortState->isVisibleTo(window.get()));
    EXPECT_EQ(window->TabSheet1->PortState->text(), window->StatusText());
    port.OnConnectionChange(false, "reconnected: /dev/ttyUSB0 at 2026-12-11 03:21:00");
    EXPECT_EQ(window->StatusText(), "reconnected: /dev/ttyUSB0 at 2026-12-11 03:21:00");
    EXPECT_FALSE(window->TabSheet1->PortState->isVisibleTo(window.get()));
}

TEST_F(MainWindowTest, StartGivesThePageSettingsToThePortAndChoosesTheWorkbookFormat) {
    WriteIni(FormatIni({{"A", 3}}, "[com]\nport=1\nspeed=16\nbit=3\nxor=1\nstop=2\ncontrol=1\n"));
    auto window = Open({2, 9});
    FakePort& port = Port(*window);
    workbook::TTabulon4& book = window->Tabulon41();
    EXPECT_EQ(book.Version(), workbook::xvExcel97);

    // In order: each start sees the format the one before it left.
    struct Case {
        const char* file;
        workbook::TExcelVersion version;
    };
    const Case cases[] = {
        {"/x/d_{dd}.xlsx", workbook::xvExcel2007},
        {"/x/d_{dd}.XLS", workbook::xvExcel2007},  // letter case counts: unchanged
        {"/x/d_{dd}.xls", workbook::xvExcel97},
        {"/x.d/data", workbook::xvExcel97},
        {"/x/data.XLSX", workbook::xvExcel97},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        book.SetFilename(u"/earlier/file.xls");
        window->efile->setText(c.file);
        window->aplay->trigger();
        ASSERT_TRUE(port.IsOpen());
        EXPECT_EQ(book.Version(), c.version);
        EXPECT_TRUE(book.Filename().empty());
        QApplication::processEvents();
        EXPECT_EQ(window->aplay->text(), "Остановить");
        window->aplay->trigger();
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(port.last_settings.com_number, 9);
    EXPECT_EQ(port.last_settings.baud, 115200);
    EXPECT_EQ(port.last_settings.data_bits, 7);
    EXPECT_EQ(port.last_settings.parity, TPortParity::pOdd);
    EXPECT_EQ(port.last_settings.stop_bits, 2);
    EXPECT_EQ(port.last_settings.flow, TPortFlow::kHardware);

    // No port chosen: the port is asked to open without a number.
    window->eport->setCurrentIndex(-1);
    window->aplay->trigger();
    EXPECT_EQ(port.last_settings.com_number, 0);

    // Opening empties the line buffer.
    window->aplay->trigger();
    window->LineCapture().TakeByte('x');
    window->aplay->trigger();
    EXPECT_TRUE(window->LineCapture().Line().empty());
}

// The grid keeps at most app/gridrows rows: the oldest leave it, the status bar says how many, and
// the log file holds every row.
TEST_F(MainWindowTest, JournalGridKeepsItsNewestRowsAndTheFileAllOfThem) {
    const std::string log = dir.File("grid.xls");
    WriteIni(FormatIni({{"A", 3}}, "filename=" + log + "\ncomport=COM1\ngridrows=5\n"));
    auto window = Open({1});
    FakePort& port = Port(*window);
    window->aplay->trigger();
    ASSERT_TRUE(port.IsOpen());
    for (int i = 0; i < 12; ++i) {
        port.Feed("r" + std::to_string(i) + "\r");
        EXPECT_LE(window->Tables().cdata.RecordCount(), 5) << i;
    }
    const int kept = window->Tables().cdata.RecordCount();
    ASSERT_GE(kept, 1);
    EXPECT_EQ(window->Grid->Model()->rowCount(), kept);
    for (int row = 0; row < kept; ++row)
        EXPECT_EQ(window->Tables().cdata.CellText(row, 1), "r" + std::to_string(12 - kept + row)) << row;
    EXPECT_TRUE(window->StatusText().contains(QString::number(12 - kept)))
        << window->StatusText().toStdString();
    window->aplay->trigger();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    if (test::PythonHasModule("xlrd")) {
        const test::CommandResult read = test::RunPython(
            "import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
            "print(','.join(str(s.cell_value(r, 0)) for r in range(s.nrows)))\n",
            {log});
        EXPECT_EQ(read.output, "A,r0,r1,r2,r3,r4,r5,r6,r7,r8,r9,r10,r11\n") << read.errors;
    }
}

// A port whose opening fails as a missing device does.
class RefusingPort : public FakePort {
  public:
    void Open(const TPortSettings&) override {
        throw std::runtime_error("ie_BadId - Specified comport doesn't exist");
    }
};

TEST_F(MainWindowTest, ErrorsOfActionsReachTheGeneralHandler) {
    WriteIni(FormatIni({{"A", 3}}));
    auto window = Open({}, std::make_unique<RefusingPort>());
    window->aplay->trigger();
    ASSERT_EQ(errors.Messages().size(), 1);
    EXPECT_EQ(errors.Messages()[0], "ie_BadId - Specified comport doesn't exist.");
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    EXPECT_EQ(window->aplay->text(), "Начать сбор");
}

TEST_F(MainWindowTest, ClosingTheWindowClosesThePort) {
    WriteIni(FormatIni({{"A", 3}}));
    auto window = Open();
    window->aplay->trigger();
    ASSERT_TRUE(Port(*window).IsOpen());
    window->close();
    EXPECT_FALSE(Port(*window).IsOpen());
}

TEST_F(MainWindowTest, IncrementalSearchAndFindDialog) {
    EXPECT_EQ(QApplication::keyboardInputInterval(), 20000);
    WriteIni(FormatIni({{"Alpha", 3}, {"Beta", 3}, {"Bravo", 3}, {"Gamma", 3}}));
    auto window = Open();
    window->ShowPage(1);
    TDbGrid* grid = window->AGrid;
    grid->setCurrentIndex(grid->Model()->index(0, 1));
    QTest::keyClicks(grid, "br");
    EXPECT_EQ(grid->currentIndex().row(), 2);
    EXPECT_EQ(grid->currentIndex().column(), 1);
    EXPECT_EQ(window->Tables().cformat.RecNo(), 3);  // the table's cursor follows
    EXPECT_FALSE(grid->IsEditing());

    QString title;
    auto found = WhenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        auto* dialog = qobject_cast<TFindDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->TextBox()->setText("amm");
        EXPECT_TRUE(dialog->FindNext());
        dialog->reject();
    });
    QTest::keyClick(grid, Qt::Key_F7);
    ASSERT_TRUE(*found);
    EXPECT_EQ(title, "Поиск");
    EXPECT_EQ(grid->currentIndex().row(), 3);
    // Ctrl+F is not the find key.
    auto opened = WhenModal([](QWidget* modal) { modal->close(); });
    QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_FALSE(*opened);
}

TEST_F(MainWindowTest, FindRowInColumnWrapsAndSkipsTheStart) {
    TMemTable table;
    table.FieldDefs() = {{"v", TFieldType::ftString, 20}};
    table.CreateDataSet();
    for (const char* value : {"ab", "cd", "abx", "zz"}) {
        table.Append();
        table.Fields(0).SetAsString(value);
        table.Post();
    }
    TTableModel model(table);
    model.SetColumns({{"v", "V", 50, true}});
    struct Case {
        int start;
        const char* text;
        Qt::CaseSensitivity cs;
        int row;
    };
    const Case cases[] = {
        {-1, "ab", Qt::CaseSensitive, 0}, {0, "ab", Qt::CaseSensitive, 2},   {2, "ab", Qt::CaseSensitive, 0},
        {0, "AB", Qt::CaseSensitive, -1}, {0, "AB", Qt::CaseInsensitive, 2}, {1, "", Qt::CaseSensitive, -1},
        {3, "zz", Qt::CaseSensitive, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindRowInColumn(model, 0, c.start, c.text, c.cs), c.row) << c.start << " " << c.text;
    }
}

TEST_F(MainWindowTest, SaveDialogExtensionRules) {
    struct Case {
        const char* name;
        int filter;
        const char* result;
    };
    const Case cases[] = {
        {"log", 1, "log.xlsx"},           {"log.xls", 1, "log.xlsx"},
        {"data.{dd}", 0, "data.xls"},  // {dd} is taken as the extension
        {"/a.b/log", 0, "/a.b/log.xls"},  {"/a/log.xlsx", 0, "/a/log.xls"},
        {"/a/x.y.xls", 1, "/a/x.y.xlsx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TExcelSaveDialog::NameForFilter(c.name, c.filter), c.result) << c.name;
    }
}

// Types `name` into the open save dialog with the filter at `filter` chosen and confirms.
std::shared_ptr<bool> AnswerSaveDialog(const QString& folder, const QString& name, int filter,
                                       QStringList* filters_seen = nullptr) {
    return WhenModal([=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        if (filters_seen) *filters_seen = dialog->nameFilters() << dialog->selectedNameFilter();
        dialog->selectNameFilter(dialog->nameFilters()[filter]);
        // Typed as the operator types it into the name box.
        auto* name_box = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name_box, nullptr);
        name_box->setText(folder + "/" + name);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which takes the typed name
    });
}

TEST_F(MainWindowTest, FileNameButtonAppliesTheChosenFilter) {
    auto window = Open();
    window->ShowPage(1);
    const QString folder = QString::fromStdString(dir.path().string());
    QStringList filters;
    auto ran = AnswerSaveDialog(folder, "log", 1, &filters);
    window->efile->Button()->trigger();
    ASSERT_TRUE(*ran);
    EXPECT_EQ(filters, QStringList({"Microsoft Excel 97-2003 (*.xls)", "Microsoft Excel 2007 (*.xlsx)",
                                    "Microsoft Excel 97-2003 (*.xls)"}));
    EXPECT_EQ(window->efile->text(), folder + "/log.xlsx");
    EXPECT_FALSE(std::filesystem::exists(ini_path));  // nothing stored yet

    // The filter chosen last stays chosen; F4 presses the button.
    ran = AnswerSaveDialog(folder, "data.{dd}", 0, &filters);
    QTest::keyClick(window->efile, Qt::Key_F4);
    ASSERT_TRUE(*ran);
    EXPECT_EQ(filters.last(), "Microsoft Excel 2007 (*.xlsx)");
    EXPECT_EQ(window->efile->text(), folder + "/data.xls");

    // Cancelled: the box keeps its text.
    ran = WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QTest::keyClick(window->efile, Qt::Key_F4);
    ASSERT_TRUE(*ran);
    EXPECT_EQ(window->efile->text(), folder + "/data.xls");
}

TEST_F(MainWindowTest, ExcelActionExportsTheJournalGrid) {
    auto window = Open();
    std::vector<std::pair<QString, QString>> exports;
    window->ExportGrid = [&](const QString& target, TDbGrid& grid, const QString& title) {
        EXPECT_EQ(&grid, window->Grid);
        exports.emplace_back(target, title);
    };
    const QString folder = QString::fromStdString(dir.path().string());
    window->efile->setText(folder + "/live.xls");
    auto ran = AnswerSaveDialog(folder, "report.xls", 1);
    window->excel->trigger();
    ASSERT_TRUE(*ran);
    ASSERT_EQ(exports.size(), 1u);
    EXPECT_EQ(exports[0].first, folder + "/report.xlsx");
    EXPECT_EQ(exports[0].second, "Linograf");

    ran = WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    window->excel->trigger();
    ASSERT_TRUE(*ran);
    EXPECT_EQ(exports.size(), 1u);
    EXPECT_TRUE(errors.Messages().isEmpty());
}

// The arrival-time check box: a settings file from the Windows program (no key) reads as off; the
// confirmed state is stored; a capture started with it on gives every row its arrival time, which
// python3-openpyxl reads as a date.
TEST_F(MainWindowTest, ArrivalTimeCheckBoxIsStoredAndStampsEachRow) {
    if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl missing";
    const std::string path = dir.File("stamped.xlsx");
    WriteIni(FormatIni({{"V", 3}}, "filename=" + path + "\ncomport=COM1\n"));
    {
        auto window = Open({1});
        EXPECT_FALSE(window->etimestamp->isChecked());
        window->ShowPage(1);
        window->etimestamp->setChecked(true);
        window->asave_param->trigger();
        EXPECT_EQ(ini.ReadInteger("app", "timestamp", -1), 1);
    }
    auto window = Open({1});
    EXPECT_TRUE(window->etimestamp->isChecked());
    FakePort& port = Port(*window);
    window->aplay->trigger();
    ASSERT_TRUE(port.IsOpen());
    const double fed =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    port.Feed("abc\r");
    window->aplay->trigger();
    ASSERT_FALSE(port.IsOpen());
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();

    const test::CommandResult peer = test::RunPython(R"(
import sys, time, openpyxl
rows = list(openpyxl.load_workbook(sys.argv[1]).worksheets[0].iter_rows())
print(rows[0][0].value, rows[0][1].value, sep='\t')
stamp = rows[1][0]
print(stamp.is_date, stamp.number_format, sep='\t')
print('%.3f' % (time.mktime(stamp.value.timetuple()) + stamp.value.microsecond / 1e6), rows[1][1].value, sep='\t')
)",
                                                     {path});
    ASSERT_EQ(peer.exit_code, 0) << peer.errors;
    std::istringstream lines(peer.output);
    std::string header, format, row;
    std::getline(lines, header);
    std::getline(lines, format);
    std::getline(lines, row);
    EXPECT_EQ(header, "Время поступления\tV");
    EXPECT_EQ(format, "True\tdd.mm.yyyy hh:mm:ss.000");
    const auto tab = row.find('\t');
    ASSERT_NE(tab, std::string::npos) << peer.output;
    EXPECT_NEAR(std::stod(row.substr(0, tab)), fed, 1.0);
    EXPECT_EQ(row.substr(tab + 1), "abc");
}

// With stamping on, the journal grid shows the arrival column first, titled and formatted as the
// workbook shows it; the log file holds the same times, and the export has them as real dates with
// the same number format. The times the grid shows are compared with what python3-openpyxl reads
// from the two files.
TEST_F(MainWindowTest, TheGridShowsTheArrivalColumnAndTheExportHasItAsDates) {
    ASSERT_TRUE(test::PythonHasModule("openpyxl")) << "python3-openpyxl is not installed";
    const std::string log = dir.File("arrival.xlsx");
    const std::string exported = dir.File("export.xlsx");
    WriteIni(FormatIni({{"V", 3}}, "filename=" + log + "\ncomport=COM1\ntimestamp=1\n"));
    auto window = Open({1});
    TTableModel& model = *window->Grid->Model();
    ASSERT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Время поступления");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "V");
    FakePort& port = Port(*window);
    window->aplay->trigger();
    ASSERT_TRUE(port.IsOpen());
    port.Feed("abc\r");
    port.Feed("def\r");
    window->aplay->trigger();
    ASSERT_FALSE(port.IsOpen());
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(0, 1).data().toString(), "abc");
    EXPECT_EQ(model.index(1, 1).data().toString(), "def");
    ExportGrid(QString::fromStdString(exported), *window->Grid, QStringLiteral("Linograf"));
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();

    // Each file's date cells, as text to the millisecond, with their number formats; the log's
    // header and texts too.
    const test::CommandResult peer = test::RunPython(R"(
import sys, datetime, openpyxl
def shown(v):
    v = v + datetime.timedelta(microseconds=500)
    return v.strftime('%d.%m.%Y %H:%M:%S') + '.%03d' % (v.microsecond // 1000)
for path in sys.argv[1:]:
    for row in openpyxl.load_workbook(path).worksheets[0].iter_rows():
        cells = []
        for c in row:
            if c.value is None: continue
            cells.append('%s %s' % (shown(c.value), c.number_format) if c.is_date else str(c.value))
        print('|'.join(cells))
    print('--')
)",
                                                     {log, exported});
    ASSERT_EQ(peer.exit_code, 0) << peer.errors;
    const std::string format = " dd.mm.yyyy hh:mm:ss.000";
    const std::string first = model.index(0, 0).data().toString().toStdString();
    const std::string second = model.index(1, 0).data().toString().toStdString();
    EXPECT_EQ(peer.output.substr(0, peer.output.find("--")),
              "Время поступления|V\n" + first + format + "|abc\n" + second + format + "|def\n");
    const std::string in_export = peer.output.substr(peer.output.find("--") + 3);
    EXPECT_NE(
        in_export.find("Время поступления|V\n" + first + format + "|abc\n" + second + format + "|def\n"),
        std::string::npos)
        << in_export;
}

// While the export pumps events, neither Start nor the parameters' OK may touch the journal
// under it (a start truncated the exported file, a rebuild freed the columns it read).
TEST_F(MainWindowTest, StartAndOkAreDisabledDuringAnExportAndTheFileIsComplete) {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
    const std::string log = dir.File("live.xls");
    WriteIni(FormatIni({{"A", 4}}, "filename=" + log + "\ncomport=COM1\n"));
    auto window = Open({1});
    FakePort& port = Port(*window);
    window->aplay->trigger();
    for (int i = 0; i < 300; ++i) port.Feed("r" + std::to_string(i) + "\r");
    window->aplay->trigger();
    ASSERT_FALSE(port.IsOpen());

    const QString folder = QString::fromStdString(dir.path().string());
    int polls = 0, enabled = 0;
    QTimer press;
    press.setInterval(0);
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (!window->Exporting()) return;
        ++polls;
        enabled += window->aplay->isEnabled() + window->asave_param->isEnabled() + window->excel->isEnabled();
        // As the operator would: the actions are pressed; disabled, they do nothing.
        window->aplay->trigger();
        window->asave_param->trigger();
    });
    auto ran = AnswerSaveDialog(folder, "report.xls", 0);
    press.start();
    window->excel->trigger();
    press.stop();
    ASSERT_TRUE(*ran);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(enabled, 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.opens, 1);
    EXPECT_TRUE(window->aplay->isEnabled());
    EXPECT_TRUE(window->asave_param->isEnabled());
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    const test::CommandResult read = test::RunPython(
        "import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
        "print(s.nrows, s.cell_value(2, 0), s.cell_value(3, 0), s.cell_value(s.nrows - 1, 0))\n",
        {dir.File("report.xls")});
    EXPECT_EQ(read.output, "303 A r0 r299\n") << read.errors;
}

// The live workbook prints on A4 with the stored margins whatever the machine's locale says; the
// constructor took Letter here, as on an en_US machine.
TEST_F(MainWindowTest, TheLiveWorkbookGetsTheStoredPageSettings) {
    if (!test::PythonHasModule("olefile")) GTEST_SKIP() << "python3-olefile is not installed";
    const std::string log = dir.File("paper.xls");
    WriteIni(FormatIni({{"A", 3}}, "filename=" + log + "\ncomport=COM1\n"));
    auto window = Open({1});
    window->Tabulon41().SetDefaultPaperSize(workbook::psLetter);
    window->Tabulon41().Sheet(0).PrintSettings().SetPaperSize(workbook::psLetter);
    window->aplay->trigger();
    Port(*window).Feed("abc\r");
    window->aplay->trigger();
    // xlrd skips the page setup: the SETUP record (0xA1) is read from the stream olefile opens.
    const test::CommandResult read = test::RunPython(R"(
import sys, struct, olefile
data = olefile.OleFileIO(sys.argv[1]).openstream("Workbook").read()
i = 0
while i + 4 <= len(data):
    kind, size = struct.unpack_from("<HH", data, i)
    if kind == 0xA1:
        print(struct.unpack_from("<H", data, i + 4)[0], (struct.unpack_from("<H", data, i + 14)[0] >> 1) & 1)
    i += 4 + size
)",
                                                     {log});
    EXPECT_EQ(read.output, "9 1\n") << read.errors;
}

// A hundred lines while LibreOffice holds the file: one notice in the status bar, no message box;
// the rows reach the file once the lock is gone.
TEST_F(MainWindowTest, AHeldFileGivesOneNoticeAndGetsTheRowsLater) {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
    const std::string log = dir.File("held.xls");
    const std::string lock = dir.File(".~lock.held.xls#");
    WriteIni(FormatIni({{"A", 4}}, "filename=" + log + "\ncomport=COM1\n"));
    auto window = Open({1});
    window->LiveLog().RetryInterval = std::chrono::milliseconds(20);
    FakePort& port = Port(*window);
    window->aplay->trigger();
    port.Feed("r0\r");
    window->LiveLog().WaitIdle();
    test::WriteFileBytes(lock, ",someone,host,11.12.2026 06:00,file:///home/someone/.config/libreoffice/4;");
    QStringList shown;
    for (int i = 1; i <= 100; ++i) {
        port.Feed("r" + std::to_string(i) + "\r");
        QApplication::processEvents();
        if (shown.isEmpty() || shown.back() != window->StatusText()) shown << window->StatusText();
    }
    window->LiveLog().WaitIdle();
    QApplication::processEvents();
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    EXPECT_TRUE(window->StatusText().contains(QString::fromStdString(lock)))
        << window->StatusText().toStdString();
    EXPECT_LE(shown.size(), 2) << shown.join("\n").toStdString();
    window->UpdateStatusCounts();
    EXPECT_EQ(window->StatusWaiting->text(), "ждут записи: 100");

    std::filesystem::remove(lock);
    ASSERT_TRUE(test::PumpUntil([&] { return window->LiveLog().UnwrittenRows() == 0; }));
    window->aplay->trigger();
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    const test::CommandResult read = test::RunPython(
        "import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
        "print(s.nrows, s.cell_value(1, 0), s.cell_value(101, 0))\n",
        {log});
    EXPECT_EQ(read.output, "102 r0 r100\n") << read.errors;
}

// The template keeps characters Windows-1251 lacks through the settings file and reaches the
// log whole, in a folder that does not exist yet.
TEST_F(MainWindowTest, TemplateOutsideWindows1251ReachesTheLog) {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
    WriteIni(FormatIni({{"A", 3}}, "comport=COM1\n"));
    const QString file_template = QString::fromStdString(dir.File("Messwerte é 測定/{yyyy}/w.xls"));
    {
        auto window = Open({1});
        window->efile->setText(file_template);
        window->asave_param->trigger();
        EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    }
    auto window = Open({1});
    EXPECT_EQ(window->efile->text(), file_template);
    window->aplay->trigger();
    Port(*window).Feed("abc\r");
    window->aplay->trigger();
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    const std::string year = QDate::currentDate().toString("yyyy").toStdString();
    const std::string path = dir.File("Messwerte é 測定/" + year + "/w.xls");
    const test::CommandResult read = test::RunPython(
        "import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\nprint(s.cell_value(1, "
        "0))\n",
        {path});
    EXPECT_EQ(read.output, "abc\n") << read.errors;
}

// Qt's own texts speak the window's language: the standard buttons of a question.
TEST_F(MainWindowTest, StandardButtonsAreRussian) {
    QMessageBox box(QMessageBox::Question, "Linograf", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(u'&'), "Да");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove(u'&'), "Нет");
}

// The port page shows the device path and, apart from it, what discovery knows of the device;
// the path stays alone where it is read as a path.
TEST_F(MainWindowTest, PortListShowsTheDetailsBesideThePath) {
    TMainWindowServices services;
    services.port_available = [](int n) { return n == 1 || n == 4; };
    services.device_path = [](int n) { return QStringLiteral("/dev/ttyUSB%1").arg(n - 1); };
    services.port_details = [](int n) {
        return n == 1 ? QStringLiteral(
                            "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0\nFTDI FT232R USB UART (A10K3XYZ)")
                      : QStringLiteral("Нет доступа: /dev/ttyUSB3 belongs to the group \"dialout\"");
    };
    services.port = std::make_unique<FakePort>();
    TfrmMain window(ini, std::move(services));
    window.eport->setCurrentIndex(0);
    EXPECT_EQ(window.eport->currentText(), "COM1");
    EXPECT_EQ(window.eport->currentData(Qt::ToolTipRole).toString(), "/dev/ttyUSB0");
    EXPECT_EQ(window.TabSheet3->LabelDevice->text(),
              "/dev/ttyUSB0\nusb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0\nFTDI FT232R USB UART (A10K3XYZ)");
    window.eport->setCurrentIndex(1);
    EXPECT_TRUE(window.TabSheet3->LabelDevice->text().contains("dialout"));
    EXPECT_EQ(window.StableDeviceOfEntry(1), "/dev/ttyUSB3");
}

// No label is cut or covered, at the window's own size and font and with a larger font (a
// larger system font or a screen of more dots per inch).
TEST_F(MainWindowTest, LabelsFitTheirTexts) {
    auto window = Open({1});
    window->show();
    for (const int points : {8, 12}) {
        SCOPED_TRACE(points);
        QFont font = window->font();
        font.setPointSize(points);
        window->setFont(font);
        QApplication::processEvents();
        for (QWidget* page : {window->Page->widget(1), window->Page->widget(2)}) {
            const QList<QWidget*> children = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (QLabel* label : page->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                if (label->text().isEmpty() || label->objectName().isEmpty()) continue;
                SCOPED_TRACE(label->objectName().toStdString());
                const QRect rect = label->geometry();
                if (label->wordWrap())
                    EXPECT_GE(rect.height(), label->heightForWidth(rect.width()));
                else
                    EXPECT_GE(rect.width(), label->sizeHint().width());
                EXPECT_LE(rect.right(), window->Page->width());
                for (QWidget* other : children) {
                    if (other == label || other->isHidden() || other->inherits("QToolBar")) continue;
                    if (qobject_cast<QLabel*>(other) && qobject_cast<QLabel*>(other)->text().isEmpty())
                        continue;
                    EXPECT_FALSE(rect.intersects(other->geometry())) << other->objectName().toStdString();
                }
            }
        }
    }
}

}  // namespace
}  // namespace linograf
