#include "ControlEvents.h"

#include "MacButton.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QMouseEvent>

namespace ControlEvents {

namespace {

void send(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
          Qt::KeyboardModifiers modifiers)
{
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

void move(QWidget *widget, QPoint at, Qt::MouseButtons held, Qt::KeyboardModifiers modifiers)
{
    send(widget, QEvent::MouseMove, at, Qt::NoButton, held, modifiers);
}

void press(QWidget *widget, QPoint at, Qt::MouseButton button)
{
    send(widget, QEvent::MouseButtonPress, at, button, button, Qt::NoModifier);
}

void release(QWidget *widget, QPoint at, Qt::MouseButton button)
{
    send(widget, QEvent::MouseButtonRelease, at, button, Qt::NoButton, Qt::NoModifier);
}

void enter(QWidget *widget, QPoint at)
{
    const QPointF local(at);
    QEnterEvent event(local, local, QPointF(widget->mapToGlobal(at)));
    QCoreApplication::sendEvent(widget, &event);
}

void leave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

FakeCursor::FakeCursor()
{
    MacButton::setCursorSource([this] { return m_global; });
}

FakeCursor::~FakeCursor()
{
    MacButton::setCursorSource({});
}

void FakeCursor::placeOver(const QWidget *widget, QPoint at)
{
    m_global = widget->mapToGlobal(at);
}

} // namespace ControlEvents
