#include "gui/export/message_form.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>

namespace linograf {
namespace {

// A clock face showing ten past ten, drawn so the program carries no image files.
QPixmap ClockPicture() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.translate(16, 16);
    for (int i = 0; i < 12; ++i) {
        p.drawLine(QPointF(0, -12), QPointF(0, i % 3 == 0 ? -9 : -11));
        p.rotate(30);
    }
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(-6, -4));  // hour hand near ten
    p.drawLine(QPointF(0, 0), QPointF(8, -6));   // minute hand at two
    return pixmap;
}

}  // namespace

TfrmMessage::TfrmMessage(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Подождите пожалуйста..."));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(240, 54);

    auto* clock = new QLabel(this);
    clock->setObjectName(QStringLiteral("Image1"));
    clock->setPixmap(ClockPicture());
    clock->setGeometry(4, 12, 32, 32);

    msg_ = new QLabel(this);
    msg_->setObjectName(QStringLiteral("LMsg"));
    msg_->setGeometry(42, 12, 193, 15);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("PBar"));
    bar_->setGeometry(42, 29, 193, 16);
    // A range of 0..0 is Qt's busy animation; the bar shows the rows done from the start.
    bar_->setRange(0, 1);
    bar_->setValue(0);
    bar_->setTextVisible(false);
}

void TfrmMessage::ShowNow() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    repaint();
    QCoreApplication::processEvents();
}

void TfrmMessage::SetMax(int max) {
    // Nothing to count (an empty journal) is all done at once, not a busy animation.
    if (max <= 0) {
        bar_->setRange(0, 1);
        bar_->setValue(1);
        return;
    }
    bar_->setRange(0, max);
    bar_->setValue(0);
}

void TfrmMessage::Step() {
    if (bar_->value() < bar_->maximum()) bar_->setValue(bar_->value() + 1);
}

void TfrmMessage::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TfrmMessage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancel_state_ = -1;
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace linograf
