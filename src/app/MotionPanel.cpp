#include "MotionPanel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPen>

#include <utility>

namespace {

struct JogKey
{
    int key;
    int code;
    const char *name;
};

// clang-format off
constexpr JogKey JogKeys[] = {
    {Qt::Key_Left,  2,  "Left"},  {Qt::Key_Right, 7, "Right"},
    {Qt::Key_Up,    1,  "Up"},    {Qt::Key_Down,  6, "Down"},
    {Qt::Key_W,     3,  "W"},     {Qt::Key_S,     8, "S"},
    {Qt::Key_E,     4,  "E"},     {Qt::Key_D,     9, "D"},
    {Qt::Key_O,     10, "O"},     {Qt::Key_C,     5, "C"},
};
// clang-format on

} // namespace

MotionPanel::MotionPanel(QWidget *parent) : QLabel(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

std::optional<int> MotionPanel::codeForKey(int key)
{
    for (const JogKey &entry : JogKeys) {
        if (entry.key == key)
            return entry.code;
    }
    return std::nullopt;
}

QString MotionPanel::keyNameForCode(int code)
{
    for (const JogKey &entry : JogKeys) {
        if (entry.code == code)
            return QString::fromLatin1(entry.name);
    }
    return {};
}

void MotionPanel::keyPressEvent(QKeyEvent *event)
{
    const std::optional<int> code = codeForKey(event->key());
    // With Ctrl or Alt the key is somebody's shortcut, not a jog.
    if (!code || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        QLabel::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat())
        return;
    // Another key while one is held switches to its motion; a release of the first one still waiting to
    // be told is told first, so the window never sees two keys held.
    if (m_heldCode >= 0 && m_release.isActive())
        endHold(false);
    m_heldCode = *code;
    m_heldKey = event->key();
    qApp->installEventFilter(this);
    Q_EMIT jogPressed(*code);
}

void MotionPanel::keyReleaseEvent(QKeyEvent *event)
{
    const std::optional<int> code = codeForKey(event->key());
    if (!code) {
        QLabel::keyReleaseEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat())
        return;
    // A key let go that is no longer the one held (another key took over since).
    Q_EMIT jogReleased(*code);
}

bool MotionPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (m_heldCode < 0)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // The held key's own presses and releases, at the first object they are delivered to (the
        // window, before its focus widget): nothing else takes them while the key is down.
        return heldKeyEvent(static_cast<QKeyEvent *>(event));
    case QEvent::ApplicationStateChange:
        // Another program has the keyboard: the release will go there.
        if (watched == qApp && QGuiApplication::applicationState() != Qt::ApplicationActive)
            endHold(true);
        return false;
    default:
        return false;
    }
}

bool MotionPanel::heldKeyEvent(const QKeyEvent *event)
{
    if (event->key() != m_heldKey)
        return false;
    if (event->type() == QEvent::KeyPress) {
        // The press of an auto-repeat: the key is still down.
        m_release.stop();
        return true;
    }
    if (!event->isAutoRepeat() && !m_release.isActive())
        m_release.start(RepeatGapMs, Qt::PreciseTimer, this);
    return true;
}

void MotionPanel::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_release.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    endHold(false);
}

void MotionPanel::endHold(bool abandoned)
{
    m_release.stop();
    const int code = std::exchange(m_heldCode, -1);
    m_heldKey = 0;
    qApp->removeEventFilter(this);
    if (code < 0)
        return;
    if (abandoned)
        Q_EMIT jogAbandoned(code);
    else
        Q_EMIT jogReleased(code);
}

void MotionPanel::focusInEvent(QFocusEvent *event)
{
    QLabel::focusInEvent(event);
    update();
}

void MotionPanel::focusOutEvent(QFocusEvent *event)
{
    // A key held down goes on being followed: its release ends its motion wherever it is let go.
    QLabel::focusOutEvent(event);
    update();
}

void MotionPanel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // Dark and light dashes together show on both the pale sky and the dark floor of the picture.
    QPainter painter(this);
    const QRect edge = rect().adjusted(1, 1, -2, -2);
    QPen light(QColor(255, 255, 255), 2, Qt::SolidLine);
    painter.setPen(light);
    painter.drawRect(edge);
    QPen dark(QColor(20, 60, 140), 2, Qt::DashLine);
    painter.setPen(dark);
    painter.drawRect(edge);
}
