#include "MotionPanel.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPen>

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
    m_heldCode = *code;
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
    if (m_heldCode == *code)
        m_heldCode = -1;
    Q_EMIT jogReleased(*code);
}

void MotionPanel::focusInEvent(QFocusEvent *event)
{
    QLabel::focusInEvent(event);
    update();
}

void MotionPanel::focusOutEvent(QFocusEvent *event)
{
    QLabel::focusOutEvent(event);
    update();
    if (m_heldCode >= 0) {
        const int code = m_heldCode;
        m_heldCode = -1;
        Q_EMIT jogAbandoned(code);
    }
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
