#pragma once
// An edit box with an ellipsis button at its right end; F4 in the box presses the button.
#include <QLineEdit>

class QAction;

namespace linograf {

class TButtonEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit TButtonEdit(QWidget* parent = nullptr);
    QAction* Button() const { return button_; }

  Q_SIGNALS:
    void ButtonClicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QAction* button_;
};

}  // namespace linograf
