#pragma once
// Page 1, the parameters: the workbook file name template, the port summary and the record
// format with its navigator. Controls sit where the window's resize algorithm expects them.
#include <QWidget>

class QAction;
class QCheckBox;
class QLabel;
class QToolBar;

namespace linograf {

class TButtonEdit;
class TDbGrid;
class TDbNavigator;
class TTableModel;

class TParametersPage : public QWidget {
    Q_OBJECT

  public:
    TParametersPage(TTableModel* format, QAction* asave_param, QAction* acancel, QWidget* parent = nullptr);

    QToolBar* ToolBar2;
    QLabel* Label6;
    QLabel* Label7;
    TButtonEdit* efile;
    // Each logged row starts with the time its line arrived (settings key app/timestamp).
    QCheckBox* etimestamp;
    QLabel* Label1;
    QLabel* Label8;
    QLabel* Label13;
    TButtonEdit* ecom;
    QLabel* Label2;
    TDbNavigator* DBNavigator1;
    TDbGrid* AGrid;

    // Places the controls for a page `width` by `height` pixels: where designed while the texts
    // fit, further right or down where a label (or a larger font) needs the room. The edit boxes
    // and the format grid end 10 pixels short of the right and bottom edges.
    void LayOut(int width, int height);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace linograf
