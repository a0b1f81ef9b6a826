#pragma once
// Page 2, the port settings: the available ports and the five fixed line-setting lists.
#include <QWidget>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QToolBar;

namespace linograf {

class TPortPage : public QWidget {
    Q_OBJECT

  public:
    TPortPage(QAction* asave_port, QAction* acancel, QWidget* parent = nullptr);

    QToolBar* ToolBar3;
    QLabel* Label3;
    QComboBox* eport;
    QComboBox* espeed;
    QComboBox* ebit;
    QComboBox* exor;
    QComboBox* estop;
    QComboBox* econtrol;
    // The device's text encoding (settings key app/encoding): common ones listed, any name iconv
    // knows typed in.
    QComboBox* eencoding;
    // The device behind the selected port, beside the port list.
    QLabel* LabelDevice;

    // The boxes stand where designed unless a label (or a larger font) needs more room: then
    // further right, and the rows further apart.
    void LayOut();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QComboBox* MakeBox(const QString& name, const QString& label, int top);

    struct TRow {
        QLabel* label;
        QComboBox* box;
        int top;  // as designed
    };
    std::vector<TRow> rows_;
};

}  // namespace linograf
