#include "HoverButton.h"

#include "SkinAccessible.h"
#include "WinColor.h"

#include <QEnterEvent>
#include <QPainter>

HoverButton::HoverButton(QWidget *parent) : QAbstractButton(parent)
{
    SkinAccessible::install();
    QFont face(QStringLiteral("Arial"));
    face.setPointSizeF(8.25);
    setFont(face);
    // The motion panel must not start the arm from a stray key press.
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT indexClicked(m_index); });
}

void HoverButton::setCaption(const QString &text)
{
    m_caption = text;
    setText(text);
    update();
    SkinAccessible::notifyName(this);
}

void HoverButton::setCaptiondown(const QString &text)
{
    m_captiondown = text;
    update();
}

void HoverButton::setCaptionover(const QString &text)
{
    m_captionover = text;
    update();
}

void HoverButton::setBackcolor(quint32 color)
{
    m_backcolor = color;
    update();
}

void HoverButton::setHoverbackcolor(quint32 color)
{
    m_hoverbackcolor = color;
    update();
}

void HoverButton::setBordercolor(quint32 color)
{
    m_bordercolor = color;
    update();
}

void HoverButton::setForecolor(quint32 color)
{
    m_forecolor = color;
    update();
}

void HoverButton::setHoverforecolor(quint32 color)
{
    m_hoverforecolor = color;
    update();
}

QString HoverButton::currentCaption() const
{
    if (isDown())
        return m_captiondown;
    if (m_hovered)
        return m_captionover;
    return m_caption;
}

quint32 HoverButton::currentBackcolor() const
{
    return (m_hovered || isDown()) ? m_hoverbackcolor : m_backcolor;
}

quint32 HoverButton::currentForecolor() const
{
    return (m_hovered || isDown()) ? m_hoverforecolor : m_forecolor;
}

QSize HoverButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(m_caption);
    return QSize(qMax(17, textWidth + 12), qMax(17, metrics.height() + 8));
}

namespace {

// Edges are filled rectangles in logical pixels, so they stay one logical
// pixel wide and flush with the sides at any device pixel ratio.
void fillEdges(QPainter &painter, const QRect &box, const QColor &topLeft, const QColor &bottomRight)
{
    painter.fillRect(QRect(box.left(), box.top(), box.width(), 1), topLeft);
    painter.fillRect(QRect(box.left(), box.top(), 1, box.height()), topLeft);
    painter.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), bottomRight);
    painter.fillRect(QRect(box.right(), box.top(), 1, box.height()), bottomRight);
}

} // namespace

void HoverButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect outer = rect();
    const bool down = isDown();
    const QColor back = winColorToQColor(currentBackcolor());

    painter.fillRect(outer, back);

    // A one-pixel border in the border colour frames every look.
    const QColor border = winColorToQColor(m_bordercolor);
    fillEdges(painter, outer, border, border);

    const QRect inner = outer.adjusted(1, 1, -1, -1);
    if (inner.width() > 2 && inner.height() > 2) {
        const QColor shadow = winColorToQColor(HoverShadowColor);
        if (down) {
            // Sunken: the shadow sits on the top and left edges only.
            painter.fillRect(QRect(inner.left(), inner.top(), inner.width(), 1), shadow);
            painter.fillRect(QRect(inner.left(), inner.top(), 1, inner.height()), shadow);
        } else if (m_hovered) {
            // Raised: a light top-left edge and a dark bottom-right one.
            fillEdges(painter, inner, back.lighter(135), shadow);
        }
    }

    const QString text = currentCaption();
    if (text.isEmpty())
        return;
    QColor fore = winColorToQColor(currentForecolor());
    if (!isEnabled())
        fore = QColor(128, 128, 128);
    painter.setPen(fore);
    painter.setFont(font());
    QRect textRect = outer.adjusted(2, 2, -2, -2);
    if (down)
        textRect.translate(1, 1);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
}

void HoverButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HoverButton::changeEvent(QEvent *event)
{
    // A disabled button gets no leave event, so do not leave it lit.
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        m_hovered = false;
    QAbstractButton::changeEvent(event);
}
