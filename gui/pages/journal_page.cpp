#include "gui/pages/journal_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "gui/db_grid.h"
#include "gui/pages/page_toolbar.h"

namespace linograf {

TJournalPage::TJournalPage(TTableModel* journal, QAction* aplay, QAction* excel, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ToolBar1 = MakePageToolBar(QStringLiteral("ToolBar1"), {aplay, excel}, this);
    ToolBar1->setFixedHeight(34);
    layout->addWidget(ToolBar1);
    PortState = new QLabel(this);
    PortState->setObjectName(QStringLiteral("PortState"));
    PortState->setStyleSheet(
        QStringLiteral("QLabel { color: #a00000; font-weight: bold; padding: 2px 6px; }"));
    PortState->hide();
    layout->addWidget(PortState);
    Grid = new TDbGrid(journal, this);
    Grid->setObjectName(QStringLiteral("Grid"));
    layout->addWidget(Grid);
}

}  // namespace linograf
