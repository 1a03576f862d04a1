#pragma once

#include <QLabel>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

// What the small windows have in common: fixed size without minimise or maximise buttons, a picture
// over a background colour, Verdana captions, positions given in twips.
namespace AuxWindow {

constexpr int twips(int value)
{
    return value / 15;
}

inline QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

void makeFixedDialog(QWidget *window, QSize clientSize);
void setBackground(QWidget *window, quint32 winColour, const QPixmap &picture);
void centreOnScreen(QWidget *window);
QLabel *verdanaLabel(const QString &text, QWidget *parent, qreal points, bool bold, quint32 winColour);

} // namespace AuxWindow
