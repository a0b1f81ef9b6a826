// The export of a data grid with its progress window, under the offscreen platform: the window
// shows its texts and counts every row while the export runs, Esc stops it without a file, and
// the window is gone afterwards in every case.
#include "gui/export/db_grid_export.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "core/silent_abort.h"
#include "gui/db_grid.h"
#include "gui/export/message_form.h"
#include "gui/table_model.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace linograf {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "db_grid_export_test";
    static char* argv[] = {name, nullptr};
    // No display is needed; the test environment normally says so already.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

TfrmMessage* OpenProgressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<TfrmMessage*>(w); form && form->isVisible()) return form;
    return nullptr;
}

// What the progress window showed while the export ran, seen from the event loop it pumps.
struct Observed {
    int polls = 0;
    int max = -1, value = -1;
    QString caption, message;
    QSize size;
    bool on_top = false;
};

class DbGridExportTest : public ::testing::Test {
  protected:
    // Before the fixture's widgets are made.
    static void SetUpTestSuite() { App(); }
    void SetUp() override {
        table.FieldDefs() = {{"id", TFieldType::ftInteger, 0},
                             {"field1", TFieldType::ftString, 255},
                             {"field2", TFieldType::ftString, 255}};
        model.SetColumns({{"field1", QStringLiteral("Дата|Время"), 90, true},
                          {"field2", QStringLiteral("Вес"), 90, true}});
        grid.resize(400, 300);
    }
    void Fill(int rows) {
        table.CreateDataSet();
        table.DisableControls();
        for (int i = 0; i < rows; ++i) {
            table.Append();
            table.FieldByName("id").SetAsInteger(i + 1);
            table.FieldByName("field1").SetAsString("t" + std::to_string(i));
            table.FieldByName("field2").SetAsString(std::to_string(i * 2));
            table.Post();
        }
        table.EnableControls();
        table.First();
    }
    // Runs the export while a zero timer watches the progress window; `act` may act on it.
    void Export(const std::function<void(TfrmMessage&)>& act = {}) {
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            TfrmMessage* form = OpenProgressWindow();
            if (!form) return;
            ++seen.polls;
            seen.max = form->PBar()->maximum();
            seen.value = form->PBar()->value();
            seen.caption = form->windowTitle();
            seen.message = form->LMsg()->text();
            seen.size = form->size();
            seen.on_top = form->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            if (act) act(*form);
        });
        watch.start();
        ExportGrid(QString::fromStdString(path), grid, QStringLiteral("Linograf"));
    }

    test::TempDir dir;
    std::string path = dir.File("journal.xls");
    TMemTable table{"cdata"};
    TTableModel model{table};
    TDbGrid grid{&model};
    Observed seen;
};

TEST_F(DbGridExportTest, ProgressReachesEveryRowAndTheFileIsWritten) {
    Fill(10000);
    table.Next();
    Export();
    EXPECT_GT(seen.polls, 0);
    EXPECT_EQ(seen.max, 10000);
    EXPECT_EQ(seen.value, 10000);
    EXPECT_EQ(seen.caption, QStringLiteral("Подождите пожалуйста..."));
    EXPECT_EQ(seen.message, QStringLiteral("Экспорт записей..."));
    EXPECT_EQ(seen.size, QSize(240, 54));
    EXPECT_TRUE(seen.on_top);
    EXPECT_EQ(OpenProgressWindow(), nullptr);
    EXPECT_EQ(table.RecNo(), 2);

    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
    const test::CommandResult r = test::RunPython(R"(
import sys, xlrd
sys.stdout.reconfigure(encoding="utf-8")
sh = xlrd.open_workbook(sys.argv[1], formatting_info=True).sheet_by_index(0)
print(sh.nrows, sh.cell_value(2, 0), sh.cell_value(3, 0), sh.cell_value(2, 1), sh.cell_value(4, 0), sh.cell_value(10003, 1))
print(sorted(sh.merged_cells))
)",
                                                  {path});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.output, "10004 Дата Время Вес t0 19998\n[(2, 4, 1, 2), (3, 4, 0, 1)]\n");
}

// Qt shows a bar of range 0..0 as a busy animation, which never ends for an empty journal.
TEST_F(DbGridExportTest, ProgressBarIsNeverBusy) {
    bool busy = false;
    Fill(0);
    Export([&](TfrmMessage& form) { busy |= form.PBar()->maximum() == 0; });
    EXPECT_GT(seen.polls, 0);
    EXPECT_FALSE(busy);

    TfrmMessage form;
    EXPECT_GT(form.PBar()->maximum(), form.PBar()->minimum());
    EXPECT_EQ(form.PBar()->value(), 0);
    form.SetMax(0);
    EXPECT_GT(form.PBar()->maximum(), 0);
    EXPECT_EQ(form.PBar()->value(), form.PBar()->maximum());
    form.SetMax(3);
    EXPECT_EQ(form.PBar()->maximum(), 3);
    EXPECT_EQ(form.PBar()->value(), 0);
}

TEST_F(DbGridExportTest, EscStopsTheExportWithoutAFile) {
    Fill(5000);
    table.Last();
    bool pressed = false;
    EXPECT_THROW(Export([&](TfrmMessage& form) {
                     if (pressed || form.PBar()->value() < 100) return;
                     pressed = true;
                     QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                     QApplication::sendEvent(&form, &esc);
                 }),
                 EAbort);
    EXPECT_TRUE(pressed);
    EXPECT_LT(seen.value, 5000);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(OpenProgressWindow(), nullptr);
    EXPECT_EQ(table.RecNo(), 5000);
    EXPECT_FALSE(table.ControlsDisabled());
}

TEST_F(DbGridExportTest, ClosedJournal) {
    try {
        Export();
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(OpenProgressWindow(), nullptr);
}

}  // namespace
}  // namespace linograf
