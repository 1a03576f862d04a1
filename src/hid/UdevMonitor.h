#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

// Hot-plug of one kind of device, for a transport. A udev monitor of one subsystem (and device type)
// on the "udev" netlink source: an arrival is told only once the rules have run and the node has its
// final permissions. Its socket is watched in the event loop, so nothing runs while no device comes or
// goes. Where no monitor can be had (no udev daemon, a container), the owner polls instead: a tick
// every so often, for it to list its devices again.
class UdevMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UdevMonitor(QObject *parent = nullptr);
    ~UdevMonitor() override;

    // Listens; readable() tells of each event. False, with why, where no monitor can be had; nothing
    // is left open then.
    bool open(const char *subsystem, const char *devtype, QString *why);
    // pollDue() every intervalMs, in place of a monitor.
    void poll(int intervalMs);
    // Stops listening and polling; may be called from a handler of either.
    void close();

    bool isOpen() const { return m_monitor != nullptr; }
    bool isPolling() const { return m_poll.isActive(); }
    // The next event's device, null when there is none; the caller unrefs it.
    udev_device *receive();

Q_SIGNALS:
    void readable();
    void pollDue();

private:
    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_poll;
};
