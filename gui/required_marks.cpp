#include "gui/required_marks.h"

#include <QPainter>

namespace linograf {

namespace {

// The ring: transparent inside, so clicks go through to what lies beneath.
class TRequireShape : public QWidget {
  public:
    explicit TRequireShape(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(QPen(QColor(255, 0, 0), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

QString MarkName(const QWidget* control) {
    return control->objectName() + QStringLiteral("Require");
}

}  // namespace

QWidget* TRequiredMarks::FindMark(const QWidget* control) {
    if (!control || !control->parentWidget()) return nullptr;
    return control->parentWidget()->findChild<QWidget*>(MarkName(control), Qt::FindDirectChildrenOnly);
}

void TRequiredMarks::MarkRequired(std::initializer_list<QWidget*> controls, bool marked, bool reset) {
    if (reset) counter_ = 0;
    for (QWidget* control : controls) {
        QWidget* mark = FindMark(control);
        if (!marked) {
            delete mark;
            continue;
        }
        if (!mark) mark = new TRequireShape(control->parentWidget());
        mark->setObjectName(MarkName(control));
        mark->setGeometry(control->geometry().adjusted(-1, -1, 1, 1));
        mark->stackUnder(control);
        mark->show();
        ++counter_;
    }
}

}  // namespace linograf
