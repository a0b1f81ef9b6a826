#pragma once
// Page 0, the journal: a toolbar with start/stop and export, and the journal grid below it.
#include <QWidget>

class QAction;
class QLabel;
class QToolBar;

namespace linograf {

class TDbGrid;
class TTableModel;

class TJournalPage : public QWidget {
    Q_OBJECT

  public:
    TJournalPage(TTableModel* journal, QAction* aplay, QAction* excel, QWidget* parent = nullptr);

    QToolBar* ToolBar1;
    // The port's connection state ("disconnected: /dev/ttyUSB0 at ..."); hidden while there is
    // nothing to say.
    QLabel* PortState;
    TDbGrid* Grid;
};

}  // namespace linograf
