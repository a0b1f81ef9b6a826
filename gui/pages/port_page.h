#pragma once
// Page 2, the port settings: the available ports and the five fixed line-setting lists.
#include <QWidget>

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
    // The device behind the selected port, beside the port list.
    QLabel* LabelDevice;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QComboBox* MakeBox(const QString& name, const QString& label, int top);
};

}  // namespace linograf
