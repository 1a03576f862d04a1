#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

// Esc and Space for every window of the program. A key event climbs from the focus widget to its
// parents while nobody takes it, and the application's filters see every step of that climb: only the
// first step counts.
class StopKeyFilter : public QObject
{
public:
    // stop is what the keys do; while `off` says so, they do nothing (the window has closed).
    StopKeyFilter(QObject *parent, std::function<void()> stop, std::function<bool()> off)
        : QObject(parent), m_stop(std::move(stop)), m_off(std::move(off))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_stop;
    std::function<bool()> m_off;
    const QEvent *m_lastEvent = nullptr;
    QPointer<QWidget> m_lastReceiver;
};
