#include "PanelToolTips.h"

#include <QHelpEvent>
#include <QStringList>
#include <QToolTip>
#include <QWidget>

namespace {

// What a tooltip adds round its text (frame and margins), with room to spare.
constexpr int TipPadding = 12;
// Where the tooltip goes below and right of the point it is shown for.
constexpr int TipOffsetX = 2;

} // namespace

PanelToolTips::PanelToolTips(QWidget *panel) : QObject(panel), m_panel(panel)
{
    watch(panel);
}

void PanelToolTips::watch(QWidget *widget)
{
    if (widget)
        widget->installEventFilter(this);
}

QString PanelToolTips::wrapped(const QString &text, int width)
{
    const QFontMetrics metrics(QToolTip::font());
    QStringList lines;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
            lines << line;
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines.join(QLatin1Char('\n'));
}

bool PanelToolTips::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip || !m_panel || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->toolTip().isEmpty())
        return QObject::eventFilter(watched, event);

    const QRect panel(m_panel->mapToGlobal(QPoint(0, 0)), m_panel->size());
    const QString text = wrapped(widget->toolTip(), panel.width() - 2 * TipPadding);
    const QFontMetrics metrics(QToolTip::font());
    int tipWidth = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        tipWidth = qMax(tipWidth, metrics.horizontalAdvance(line));
    tipWidth += TipPadding;

    const QPoint at = static_cast<QHelpEvent *>(event)->globalPos();
    const int left = qBound(panel.left(), at.x() + TipOffsetX, panel.right() - tipWidth);
    QToolTip::showText(QPoint(left - TipOffsetX, at.y()), text, widget, widget->rect());
    return true;
}
