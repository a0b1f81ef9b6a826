#pragma once
// Page 0, the journal: a toolbar with start/stop and export, and the journal grid below it.
#include <QWidget>

class QAction;
class QToolBar;

namespace linograf {

class TDbGrid;
class TTableModel;

class TJournalPage : public QWidget {
    Q_OBJECT

public:
    TJournalPage(TTableModel* journal, QAction* aplay, QAction* excel, QWidget* parent = nullptr);

    QToolBar* ToolBar1;
    TDbGrid* Grid;
};

}  // namespace linograf
