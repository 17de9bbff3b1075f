#include "icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessarin {

namespace {

const QColor ink(40, 40, 40);
const QColor paper(250, 250, 245);

void page(QPainter &p, const QRectF &r)
{
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 4, r.top());
    path.lineTo(r.right(), r.top() + 4);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setBrush(paper);
    p.drawPath(path);
}

// Draws the pictogram on a 16 x 16 grid.
bool draw(QPainter &p, int index)
{
    p.setPen(QPen(ink, 1));
    switch (index) {
    case imgNew:
        page(p, QRectF(3.5, 1.5, 10, 13));
        p.setPen(QPen(QColor(255, 190, 0), 2));
        p.drawLine(QPointF(11, 9), QPointF(11, 15));
        p.drawLine(QPointF(8, 12), QPointF(14, 12));
        return true;
    case imgOpen:
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRectF(1.5, 4.5, 12, 9));
        p.setBrush(QColor(255, 225, 120));
        p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
        return true;
    case imgSave:
        p.setBrush(QColor(60, 90, 170));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(paper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(3.5, 9.5, 9, 5));
        return true;
    case imgHelp: {
        p.setBrush(QColor(40, 110, 200));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        return true;
    }
    case imgPump:
        // A volute casing with its outlet, the impeller's vanes inside.
        p.setBrush(QColor(90, 150, 210));
        p.drawRect(QRectF(9.5, 1.5, 4, 6));
        p.drawEllipse(QRectF(1.5, 3.5, 12, 12));
        p.setPen(QPen(Qt::white, 1.2));
        for (int i = 0; i < 4; ++i) {
            p.save();
            p.translate(7.5, 9.5);
            p.rotate(i * 90);
            p.drawLine(QPointF(0, 0), QPointF(4, 2));
            p.restore();
        }
        return true;
    case imgRun:
        p.setBrush(QColor(40, 160, 60));
        p.drawPolygon(QPolygonF({{4, 2}, {14, 8}, {4, 14}}));
        return true;
    case imgWeb:
        p.setBrush(QColor(70, 140, 210));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 1));
        p.drawEllipse(QRectF(5, 1.5, 6, 13));
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
        return true;
    case imgCopy:
        page(p, QRectF(1.5, 1.5, 8, 10));
        page(p, QRectF(6.5, 4.5, 8, 10));
        return true;
    case imgCut:
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(5, 1), QPointF(10, 10));
        p.drawLine(QPointF(11, 1), QPointF(6, 10));
        p.setPen(QPen(QColor(180, 30, 30), 1.5));
        p.drawEllipse(QRectF(2, 10, 4.5, 4.5));
        p.drawEllipse(QRectF(9.5, 10, 4.5, 4.5));
        return true;
    case imgPaste:
        p.setBrush(QColor(180, 130, 70));
        p.drawRect(QRectF(1.5, 2.5, 10, 12));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(4.5, 1.5, 4, 3));
        page(p, QRectF(7.5, 6.5, 7, 8));
        return true;
    case imgUndo: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(30, 90, 170), 2));
        QPainterPath arc;
        arc.moveTo(4, 7);
        arc.cubicTo(8, 2, 15, 5, 12, 13);
        p.drawPath(arc);
        p.setBrush(QColor(30, 90, 170));
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({{1, 4}, {7, 4}, {3, 10}}));
        return true;
    }
    case imgDelete:
        p.setPen(QPen(QColor(200, 30, 30), 2.5));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(13, 3), QPointF(3, 13));
        return true;
    default:
        return false;
    }
}

} // namespace

QIcon mainImage(int index)
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        if (!draw(p, index))
            return QIcon();
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tessarin
