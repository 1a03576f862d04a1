#include "StatusLine.h"

#include <QFontMetrics>
#include <QLabel>

namespace {

// How long a message holds the status line before the connection state comes back.
constexpr int MessageMs = 4000;

} // namespace

StatusLine::StatusLine(QLabel *line, int rightEdge, std::function<QString()> stateText, QObject *parent)
    : QObject(parent), m_line(line), m_rightEdge(rightEdge), m_stateText(std::move(stateText))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        endMessage();
        m_line->setText(m_stateText());
    });
}

void StatusLine::showMessage(const QString &text)
{
    if (!m_timer.isActive()) {
        m_font = m_line->font();
        m_geometry = m_line->geometry();
    }
    QRect wider = m_geometry;
    wider.setRight(m_rightEdge);
    QFont font = m_font;
    while (font.pointSizeF() > 7.0 && QFontMetrics(font).horizontalAdvance(text) > wider.width())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    m_line->setFont(font);
    m_line->setGeometry(wider);
    m_line->setText(text);
    m_timer.start(MessageMs);
}

void StatusLine::endMessage()
{
    if (!m_timer.isActive() && m_geometry.isNull())
        return;
    m_timer.stop();
    m_line->setFont(m_font);
    m_line->setGeometry(m_geometry);
    m_geometry = QRect();
}
