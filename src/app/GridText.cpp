#include "GridText.h"

#include <QKeyEvent>
#include <QPalette>
#include <QToolTip>

GridText::GridText(QWidget *parent) : QLineEdit(parent)
{
    setFrame(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, QToolTip::palette().color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    // Paste through a menu or a drop would slip past the character filter.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    hide();
}

bool GridText::Accepts(Filter filter, QChar ch)
{
    const char16_t u = ch.unicode();
    if (u == u'\b')
        return true;
    if (filter == Filter::Letters)
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
    return (u >= u'0' && u <= u'9') || u == u'.';
}

void GridText::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        Q_EMIT EnterPressed();
        return;
    case Qt::Key_Escape:
        event->accept();
        Q_EMIT EscapePressed();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        QLineEdit::keyPressEvent(event);
        return;
    default:
        break;
    }
    // Chords type control characters the filter drops; Shift+Insert pastes like Ctrl+V.
    if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
        event->key() == Qt::Key_Insert) {
        event->accept();
        return;
    }
    const QString text = event->text();
    if (text.isEmpty()) {
        // Shift, Ctrl and other keys that type nothing.
        QLineEdit::keyPressEvent(event);
        return;
    }
    for (const QChar ch : text) {
        if (!Accepts(m_filter, ch)) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void GridText::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    selectAll();
}
