#include "GridText.h"

#include "StepFunctions.h"

#include <QAbstractItemView>
#include <QCompleter>
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

    // Digits never begin a name, so in the Time column the list simply never shows.
    auto *names = new QCompleter(StepFunctions::names(), this);
    names->setCaseSensitivity(Qt::CaseInsensitive);
    names->setCompletionMode(QCompleter::PopupCompletion);
    setCompleter(names);
    // After the completer's own filter, so this one sees the keys first.
    names->popup()->installEventFilter(this);
    hide();
}

bool GridText::Accepts(Filter filter, QChar ch)
{
    const char16_t u = ch.unicode();
    if (u == u'\b')
        return true;
    if (filter == Filter::Letters)
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
    // Whatever is typed stays in sight, so that the commit refuses what is not a time ("1e3", "-2")
    // instead of a dropped character making it another number.
    return ch.isPrint();
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
    // A whole name needs no offer, and an open list would take the next click for itself.
    if (QAbstractItemView *list = completer()->popup(); list->isVisible() && !StepFunctions::canonical(this->text()).isEmpty())
        list->hide();
}

void GridText::hideEvent(QHideEvent *event)
{
    completer()->popup()->hide();
    QLineEdit::hideEvent(event);
}

bool GridText::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == completer()->popup() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        completer()->popup()->hide();
        return true;
    }
    return QLineEdit::eventFilter(watched, event);
}

void GridText::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // The focus coming back from the list of names is the same edit going on.
    if (event->reason() != Qt::PopupFocusReason)
        selectAll();
}
