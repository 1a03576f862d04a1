#include "UdevMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

#include <cerrno>
#include <cstring>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

UdevMonitor::UdevMonitor(QObject *parent) : QObject(parent)
{
    connect(&m_poll, &QTimer::timeout, this, &UdevMonitor::pollDue);
}

UdevMonitor::~UdevMonitor()
{
    close();
}

bool UdevMonitor::open(const char *subsystem, const char *devtype, QString *why)
{
    close();
    m_udev = udev_new();
    if (!m_udev) {
        *why = QStringLiteral("udev_new failed");
        return false;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor) {
        *why = QStringLiteral("cannot listen to udev: %1").arg(errnoText());
        close();
        return false;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, subsystem, devtype) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        *why = QStringLiteral("cannot receive udev events: %1").arg(errnoText());
        close();
        return false;
    }
    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdevMonitor::readable);
    return true;
}

void UdevMonitor::poll(int intervalMs)
{
    m_poll.start(intervalMs);
}

void UdevMonitor::close()
{
    if (m_notifier) {
        // May be closing from the notifier's own signal.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    m_monitor = nullptr;
    if (m_udev)
        udev_unref(m_udev);
    m_udev = nullptr;
    m_poll.stop();
}

udev_device *UdevMonitor::receive()
{
    return m_monitor ? udev_monitor_receive_device(m_monitor) : nullptr;
}
