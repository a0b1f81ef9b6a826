#include "gui/button_edit.h"

#include <QAction>
#include <QKeyEvent>

#include "gui/pictures.h"

namespace linograf {

TButtonEdit::TButtonEdit(QWidget* parent) : QLineEdit(parent) {
    button_ = addAction(Picture(TPicture::kEllipsis), QLineEdit::TrailingPosition);
    connect(button_, &QAction::triggered, this, &TButtonEdit::ButtonClicked);
}

void TButtonEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F4 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        Q_EMIT ButtonClicked();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace linograf
