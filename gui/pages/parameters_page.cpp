#include "gui/pages/parameters_page.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QResizeEvent>
#include <QToolBar>

#include "gui/button_edit.h"
#include "gui/db_grid.h"
#include "gui/db_navigator.h"
#include "gui/pages/page_toolbar.h"
#include "gui/stacked_header_view.h"

namespace linograf {

TParametersPage::TParametersPage(TTableModel* format, QAction* asave_param, QAction* acancel, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet2"));
    ToolBar2 = MakePageToolBar(QStringLiteral("ToolBar2"), {asave_param, acancel}, this);
    Label6 = MakeTitleLabel(QStringLiteral("Label6"), QStringLiteral("Запись в файл"), 8, 44, this);
    Label7 = MakeLabel(QStringLiteral("Label7"), QStringLiteral("Microsoft Excel файл"), 8, 66, this);
    efile = new TButtonEdit(this);
    efile->setObjectName(QStringLiteral("efile"));
    efile->setGeometry(132, 63, 374, 21);
    // Beside the section's title, where the page has room without moving the Windows layout.
    etimestamp = new QCheckBox(QStringLiteral("Время поступления строки в первом столбце"), this);
    etimestamp->setObjectName(QStringLiteral("etimestamp"));
    etimestamp->setGeometry(132, 41, 374, 19);
    Label1 = MakeLabel(QStringLiteral("Label1"),
                       QStringLiteral("В имени файла допустимо использование шаблонных констант "
                                      "{dd}{mm}{yyyy}{hh}{nn}{ss}"),
                       132, 90, this);
    Label8 = MakeTitleLabel(QStringLiteral("Label8"), QStringLiteral("Com порт"), 8, 116, this);
    Label13 = MakeLabel(QStringLiteral("Label13"), QStringLiteral("Параметры com порта"), 8, 138, this);
    ecom = new TButtonEdit(this);
    ecom->setObjectName(QStringLiteral("ecom"));
    ecom->setGeometry(132, 135, 374, 21);
    ecom->setReadOnly(true);
    Label2 = MakeTitleLabel(QStringLiteral("Label2"), QStringLiteral("Формат"), 8, 171, this);
    DBNavigator1 = new TDbNavigator(format->Table(), this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setGeometry(392, 163, 108, 25);
    AGrid = new TDbGrid(format, this);
    AGrid->setObjectName(QStringLiteral("AGrid"));
    AGrid->setGeometry(8, 192, 497, 185);
    // The sequence column is the table's order: its title carries the sort marker, for show only.
    AGrid->Header()->setSortIndicatorShown(true);
    AGrid->Header()->setSortIndicator(0, Qt::AscendingOrder);
    DBNavigator1->BeforeAction = [grid = AGrid] { grid->CommitEditor(); };
}

void TParametersPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ToolBar2->setGeometry(0, 0, event->size().width(), 34);
}

}  // namespace linograf
