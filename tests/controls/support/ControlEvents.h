#pragma once

#include <QPoint>
#include <QWidget>

#include <functional>

// Mouse input delivered straight to a widget, so that tests do not depend on
// where a headless platform thinks the pointer is.
namespace ControlEvents {

void move(QWidget *widget, QPoint at, Qt::MouseButtons held = {}, Qt::KeyboardModifiers modifiers = {});
void press(QWidget *widget, QPoint at, Qt::MouseButton button = Qt::LeftButton);
void release(QWidget *widget, QPoint at, Qt::MouseButton button = Qt::LeftButton);
void enter(QWidget *widget, QPoint at);
void leave(QWidget *widget);

// Points MacButton's pointer polls at a fixed spot for as long as it lives.
class FakeCursor
{
public:
    FakeCursor();
    ~FakeCursor();
    FakeCursor(const FakeCursor &) = delete;
    FakeCursor &operator=(const FakeCursor &) = delete;

    // Places the pointer at `at` in the client coordinates of `widget`.
    void placeOver(const QWidget *widget, QPoint at);

private:
    QPoint m_global;
};

} // namespace ControlEvents
