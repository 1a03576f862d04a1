#include "StopKeyFilter.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool isTextField(const QWidget *widget)
{
    if (!widget)
        return false;
    if (qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
        qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget))
        return true;
    const auto *combo = qobject_cast<const QComboBox *>(widget);
    return combo && combo->isEditable();
}

} // namespace

bool StopKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Escape && key->key() != Qt::Key_Space)
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    const bool climbing = event == m_lastEvent && m_lastReceiver && m_lastReceiver != widget &&
                          widget->isAncestorOf(m_lastReceiver);
    m_lastEvent = event;
    m_lastReceiver = widget;
    if (climbing || key->isAutoRepeat() || m_off())
        return false;
    if (key->key() == Qt::Key_Space) {
        if (isTextField(widget))
            return false;
        m_stop();
        // Taken, so that a focused button is not clicked by it as well.
        return true;
    }
    // Esc goes on to the widget too: a cell editor drops its edit, a dialog closes.
    m_stop();
    return false;
}
