#pragma once

#include "HidTransport.h"

#include <QHash>
#include <QString>

#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// The hidraw devices of this machine: hidapi for enumeration and report I/O, libudev for hot-plug.
// The udev monitor listens on the "udev" netlink source, so an arrival is announced only once the
// rules have run and the node has its final permissions; its socket is watched by a QSocketNotifier,
// so nothing runs while no device comes or goes.
class RealHidTransport : public HidTransport
{
    Q_OBJECT
public:
    explicit RealHidTransport(QObject *parent = nullptr);
    ~RealHidTransport() override;

    QList<HidInterfaceInfo> enumerate() override; // one entry per hidraw node
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo &info, QString *error,
                                        OpenFailure *failure = nullptr) override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitor != nullptr; }

    // "/dev/hidraw3" -> "/sys/class/hidraw/hidraw3/device/report_descriptor"; empty for a path that
    // is not a hidraw node.
    static QString descriptorPathForNode(const QString &node);
    // The HID_ID property of a hid device, "0003:00001E6F:00001113" (bus:vendor:product, hex).
    static bool parseHidId(const QString &hidId, quint16 *vendorId, quint16 *productId,
                           quint16 *bus = nullptr);
    static OpenFailure failureFromErrno(int error);
    // The report descriptor of a hidraw node: from sysfs, else with the HIDIOCGRDESC ioctl.
    static QByteArray readReportDescriptor(const QString &node, QString *error);

private:
    void onMonitorReadable();
    HidInterfaceInfo infoForNode(const QString &node, void *udevDevice);

    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    // What each node was when it arrived: a removed node has no attributes left to read.
    QHash<QString, HidInterfaceInfo> m_known;
};
