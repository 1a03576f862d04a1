#include "SkinArt.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace SkinArt {

Gloss darker(const Gloss &gloss, int factor)
{
    Gloss result = gloss;
    result.top = gloss.top.darker(factor);
    result.upperMiddle = gloss.upperMiddle.darker(factor);
    result.lowerMiddle = gloss.lowerMiddle.darker(factor);
    result.bottom = gloss.bottom.darker(factor);
    result.outline = gloss.outline.darker(factor);
    result.highlightAlpha = gloss.highlightAlpha * 2 / 3;
    return result;
}

QPainterPath pill(const QRectF &rect)
{
    return roundedBox(rect, rect.height() / 2);
}

QPainterPath roundedBox(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void paintGloss(QPainter &painter, const QPainterPath &shape, const Gloss &gloss)
{
    const QRectF bounds = shape.boundingRect();
    painter.save();

    QLinearGradient face(bounds.topLeft(), bounds.bottomLeft());
    face.setColorAt(0.0, gloss.top);
    face.setColorAt(0.48, gloss.upperMiddle);
    face.setColorAt(0.52, gloss.lowerMiddle);
    face.setColorAt(1.0, gloss.bottom);
    painter.setPen(Qt::NoPen);
    painter.fillPath(shape, face);

    // The shine: a soft white band inside the upper half.
    painter.setClipPath(shape);
    const qreal inset = qMin(bounds.height() * 0.3, bounds.width() * 0.15);
    const QRectF shineRect(bounds.left() + inset, bounds.top() + 1.0, bounds.width() - 2 * inset,
                           bounds.height() * 0.45);
    QLinearGradient shine(shineRect.topLeft(), shineRect.bottomLeft());
    shine.setColorAt(0.0, QColor(255, 255, 255, gloss.highlightAlpha));
    shine.setColorAt(1.0, QColor(255, 255, 255, gloss.highlightAlpha / 6));
    painter.fillPath(roundedBox(shineRect, shineRect.height() / 2), shine);
    painter.setClipping(false);

    painter.setPen(QPen(gloss.outline, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    painter.restore();
}

void paintDropShadow(QPainter &painter, const QPainterPath &shape, int alpha)
{
    painter.save();
    painter.translate(0, 1.0);
    painter.setPen(QPen(QColor(0, 0, 0, alpha), 1.0));
    painter.setBrush(QColor(0, 0, 0, alpha / 2));
    painter.drawPath(shape);
    painter.restore();
}

void paintPinstripes(QPainter &painter, const QPainterPath &shape, int phase)
{
    static const QRgb rows[4] = {qRgb(242, 242, 242), qRgb(242, 242, 242), qRgb(235, 235, 235),
                                 qRgb(235, 235, 235)};
    QImage tile(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            tile.setPixel(x, y, rows[(y + phase) & 3]);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.fillPath(shape, QBrush(tile));
    painter.restore();
}

} // namespace SkinArt
