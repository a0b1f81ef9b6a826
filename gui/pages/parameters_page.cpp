#include "gui/pages/parameters_page.h"

#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QResizeEvent>
#include <QToolBar>
#include <algorithm>

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
    // On a narrow window or with a large font the hint takes two lines rather than being cut.
    Label1->setWordWrap(true);
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

void TParametersPage::LayOut(int width, int height) {
    constexpr int kMargin = 10, kGap = 6, kRowGap = 4;
    ToolBar2->setGeometry(0, 0, width, 34);
    for (QLabel* label : {Label6, Label7, Label8, Label13, Label2}) label->adjustSize();
    const int labels_right = std::max(Label7->geometry().right(), Label13->geometry().right()) + 1;
    const int left = std::max(132, labels_right + kGap);
    const int edit_width = std::max(40, width - left - kMargin);
    const int edit_height = std::max(21, efile->fontMetrics().height() + 6);

    // Each row keeps its designed place unless the row above reaches into it.
    int bottom = 0;
    auto row_top = [&](int designed) { return std::max(designed, bottom + kRowGap); };
    int top = row_top(44);
    Label6->move(8, top);
    bottom = Label6->geometry().bottom() + 1;

    top = row_top(63);
    efile->setGeometry(left, top, edit_width, edit_height);
    Label7->move(8, top + 3);
    bottom = std::max(efile->geometry().bottom(), Label7->geometry().bottom()) + 1;

    top = row_top(90);
    Label1->setGeometry(left, top, edit_width, Label1->heightForWidth(edit_width));
    bottom = Label1->geometry().bottom() + 1;

    top = row_top(116);
    Label8->move(8, top);
    bottom = Label8->geometry().bottom() + 1;

    top = row_top(135);
    ecom->setGeometry(left, top, edit_width, edit_height);
    Label13->move(8, top + 3);
    bottom = std::max(ecom->geometry().bottom(), Label13->geometry().bottom()) + 1;

    top = row_top(163);
    DBNavigator1->move(DBNavigator1->x(), top);
    Label2->move(8, top + 8);
    bottom = std::max(DBNavigator1->geometry().bottom(), Label2->geometry().bottom()) + 1;

    top = row_top(192);
    AGrid->setGeometry(8, top, std::max(40, width - 8 - kMargin), std::max(40, height - top - kMargin));
    DBNavigator1->move(AGrid->x() + AGrid->width() - DBNavigator1->width(), DBNavigator1->y());
}

void TParametersPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut(event->size().width(), event->size().height());
}

void TParametersPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) LayOut(width(), height());
}

}  // namespace linograf
