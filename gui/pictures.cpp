#include "gui/pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace linograf {

namespace {

void DrawStart(QPainter& p) {
    QPainterPath path;
    path.moveTo(4, 2);
    path.lineTo(13, 8);
    path.lineTo(4, 14);
    path.closeSubpath();
    p.fillPath(path, QColor(0, 128, 0));
    p.setPen(QColor(0, 80, 0));
    p.drawPath(path);
}

void DrawStop(QPainter& p) {
    p.fillRect(QRectF(3, 3, 10, 10), QColor(200, 0, 0));
    p.setPen(QColor(120, 0, 0));
    p.drawRect(QRectF(3, 3, 10, 10));
}

void DrawExcel(QPainter& p) {
    p.fillRect(QRectF(1, 1, 14, 14), QColor(16, 124, 65));
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
    p.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
}

void DrawDiskette(QPainter& p) {
    p.fillRect(QRectF(1.5, 1.5, 13, 13), QColor(40, 60, 140));
    p.fillRect(QRectF(4, 2, 8, 5), QColor(230, 230, 230));
    p.fillRect(QRectF(4, 9, 8, 5), QColor(250, 250, 250));
    p.fillRect(QRectF(9, 3, 2, 3), QColor(40, 60, 140));
}

void DrawNotebook(QPainter& p) {
    p.fillRect(QRectF(5, 3, 20, 26), QColor(250, 250, 240));
    p.setPen(QColor(60, 60, 60));
    p.drawRect(QRectF(5, 3, 20, 26));
    for (int y = 9; y <= 21; y += 4) p.drawLine(QPointF(9, y), QPointF(21, y));
    for (int y = 6; y <= 26; y += 4) p.drawEllipse(QPointF(5, y), 1.5, 1.5);
    p.setPen(QPen(QColor(90, 60, 20), 3));
    p.drawLine(QPointF(24, 24), QPointF(30, 30));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(180, 220, 255, 200));
    p.drawEllipse(QPointF(20, 20), 6, 6);
}

void DrawTools(QPainter& p) {
    p.setPen(QPen(QColor(110, 110, 120), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 25), QPointF(22, 10));
    p.setPen(QPen(QColor(110, 110, 120), 3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(19, 3, 10, 10), 0, 16 * 270);
    p.setPen(QPen(QColor(160, 90, 30), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 9), QPointF(25, 25));
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.drawLine(QPointF(5, 5), QPointF(10, 10));
}

void DrawMark(QPainter& p, TPicture picture) {
    p.setPen(QPen(QColor(30, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
    switch (picture) {
        case TPicture::kInsert:
            p.drawLine(QPointF(8, 3), QPointF(8, 13));
            p.drawLine(QPointF(3, 8), QPointF(13, 8));
            break;
        case TPicture::kDelete:
            p.drawLine(QPointF(3, 8), QPointF(13, 8));
            break;
        case TPicture::kPost:
            p.drawLine(QPointF(3, 8), QPointF(7, 12));
            p.drawLine(QPointF(7, 12), QPointF(13, 4));
            break;
        case TPicture::kCancel:
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        case TPicture::kEllipsis:
            for (int x : {4, 8, 12}) p.drawPoint(QPointF(x, 11));
            break;
        default:
            break;
    }
}

}  // namespace

QIcon Picture(TPicture picture) {
    const bool big = picture == TPicture::kNotebook || picture == TPicture::kTools;
    const int size = big ? 32 : 16;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
        case TPicture::kStart:
            DrawStart(p);
            break;
        case TPicture::kStop:
            DrawStop(p);
            break;
        case TPicture::kExcel:
            DrawExcel(p);
            break;
        case TPicture::kDiskette:
            DrawDiskette(p);
            break;
        case TPicture::kNotebook:
            DrawNotebook(p);
            break;
        case TPicture::kTools:
            DrawTools(p);
            break;
        default:
            DrawMark(p, picture);
            break;
    }
    p.end();
    return QIcon(pixmap);
}

}  // namespace linograf
