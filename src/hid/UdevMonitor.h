#pragma once

#include <QString>

struct udev;
struct udev_device;
struct udev_monitor;

// A udev monitor of one subsystem (and device type), on the "udev" netlink source: an arrival is told
// only once the rules have run and the node has its final permissions. The owner watches fd() in its
// event loop, so nothing runs while no device comes or goes. Closes itself.
class UdevMonitor
{
public:
    UdevMonitor() = default;
    ~UdevMonitor() { close(); }
    UdevMonitor(const UdevMonitor &) = delete;
    UdevMonitor &operator=(const UdevMonitor &) = delete;

    // False, with why, where no monitor can be had (no udev daemon, a container); nothing is left open.
    bool open(const char *subsystem, const char *devtype, QString *why);
    void close();
    bool isOpen() const { return m_monitor != nullptr; }
    int fd() const;
    // The next event's device, null when there is none; the caller unrefs it.
    udev_device *receive();

private:
    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
};
