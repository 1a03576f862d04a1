#include "StatusLine.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

namespace {

// How long a short message holds the status line before the connection state comes back, and how
// much longer each further character keeps it (a reader's pace), up to a limit.
constexpr int MessageMs = 4000;
constexpr int PerCharacterMs = 60;
constexpr int LongestMs = 12000;
// The smallest type a message is written in on one line, and on two.
constexpr double OneLineSmallest = 8.0;
constexpr double TwoLineSmallest = 7.0;

int wrappedHeight(const QFont &font, int width, const QString &text)
{
    return QFontMetrics(font).boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, text).height();
}

// The longest start of text that, with "…" after it, fits in the box on wrapped lines.
QString elidedToFit(const QFont &font, const QSize &box, const QString &text)
{
    qsizetype fits = 0;
    qsizetype low = 0;
    qsizetype high = text.size();
    while (low <= high) {
        const qsizetype mid = (low + high) / 2;
        if (wrappedHeight(font, box.width(), text.left(mid).trimmed() + QChar(0x2026)) <= box.height()) {
            fits = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return text.left(fits).trimmed() + QChar(0x2026);
}

} // namespace

StatusLine::StatusLine(QLabel *line, int rightEdge, int bottomEdge, std::function<QString()> stateText,
                       QObject *parent)
    : QObject(parent), m_line(line), m_rightEdge(rightEdge), m_bottomEdge(bottomEdge),
      m_stateText(std::move(stateText)), m_stateFont(line->font())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        endMessage();
        showState(m_stateText());
    });
}

void StatusLine::showState(const QString &text)
{
    QFont font = m_stateFont;
    while (font.pointSizeF() > OneLineSmallest && QFontMetrics(font).horizontalAdvance(text) > m_line->width())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    m_line->setFont(font);
    m_line->setText(text);
}

int StatusLine::holdMs(const QString &text)
{
    return std::clamp(int(text.size()) * PerCharacterMs, MessageMs, LongestMs);
}

void StatusLine::showMessage(const QString &text, const QString &details)
{
    if (m_geometry.isNull()) {
        m_font = m_line->font();
        m_geometry = m_line->geometry();
    }
    if (m_line->toolTip() != m_shownToolTip)
        m_toolTip = m_line->toolTip();
    QRect wider = m_geometry;
    wider.setRight(m_rightEdge);
    QFont font = m_font;
    while (font.pointSizeF() > OneLineSmallest && QFontMetrics(font).horizontalAdvance(text) > wider.width())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    QString shown = text;
    const bool oneLine = QFontMetrics(font).horizontalAdvance(text) <= wider.width();
    if (!oneLine) {
        // Two lines, in the height from the window's top to `bottomEdge`, centred on the line's own.
        const int room = std::min(m_geometry.center().y(), m_bottomEdge - m_geometry.center().y()) * 2;
        wider.setTop(m_geometry.center().y() - room / 2);
        wider.setHeight(room);
        font.setBold(false);
        while (font.pointSizeF() > TwoLineSmallest && wrappedHeight(font, wider.width(), text) > wider.height())
            font.setPointSizeF(font.pointSizeF() - 0.5);
        if (wrappedHeight(font, wider.width(), text) > wider.height())
            shown = elidedToFit(font, wider.size(), text);
    }
    m_line->setWordWrap(!oneLine);
    m_line->setFont(font);
    m_line->setGeometry(wider);
    m_line->setText(shown);
    m_shownToolTip = details.isEmpty() ? text : text + QLatin1Char('\n') + details;
    m_line->setToolTip(m_shownToolTip);
    m_message = text;
    m_timer.start(holdMs(text + details));
}

void StatusLine::endMessage()
{
    m_timer.stop();
    m_message.clear();
    if (m_geometry.isNull())
        return;
    m_line->setWordWrap(false);
    m_line->setFont(m_font);
    m_line->setGeometry(m_geometry);
    // Unless the line's own tooltip was given anew meanwhile (the arms attached changed).
    if (m_line->toolTip() == m_shownToolTip)
        m_line->setToolTip(m_toolTip);
    m_geometry = QRect();
}
