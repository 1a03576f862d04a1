#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// Drawing pieces shared by the skinned controls' pictures.
namespace SkinArt {

// A glossy face: a vertical gradient with a hard step at the middle, a
// highlight over the upper half and a one-pixel outline.
struct Gloss
{
    QColor top;
    QColor upperMiddle;
    QColor lowerMiddle;
    QColor bottom;
    QColor outline;
    int highlightAlpha = 150;
};

Gloss darker(const Gloss &gloss, int factor);

QPainterPath pill(const QRectF &rect);
QPainterPath roundedBox(const QRectF &rect, qreal radius);

void paintGloss(QPainter &painter, const QPainterPath &shape, const Gloss &gloss);
// A faint shadow one pixel below the shape.
void paintDropShadow(QPainter &painter, const QPainterPath &shape, int alpha = 40);
// Fills the shape with fine horizontal stripes, four rows to a period;
// `phase` is the row of the period at which the picture starts.
void paintPinstripes(QPainter &painter, const QPainterPath &shape, int phase);

} // namespace SkinArt
