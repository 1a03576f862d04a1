#pragma once

#include "HidTransport.h"
#include "UdevMonitor.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

// The hidraw devices of this machine: hidapi for enumeration and report reads, libudev for hot-plug.
// Arrivals and removals come from a UdevMonitor of hidraw. Where no monitor can be made, that is said
// once on stderr and the nodes are listed again every PollIntervalMs instead.
//
// Output reports are written on a thread per connection (BoundedWriter) through a descriptor of their
// own; a report the device has not taken within WriteBoundMs stalls the connection. A read or write that
// fails because the node has gone (or now belongs to another device) marks the connection deviceGone.
//
// Threads: the transport and everything but a connection's writeOutputReport belong to the thread
// that made the transport.
class RealHidTransport : public HidTransport
{
    Q_OBJECT
public:
    static constexpr int WriteBoundMs = 250;
    static constexpr int PollIntervalMs = 2000;

    explicit RealHidTransport(QObject *parent = nullptr);
    ~RealHidTransport() override;

    QList<HidInterfaceInfo> enumerate() override; // one entry per hidraw node
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo &info, QString *error,
                                        OpenFailure *failure = nullptr) override;
    QByteArray peekReportDescriptor(const HidInterfaceInfo &info) const override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitor.isOpen() || m_monitor.isPolling(); }
    bool isPolling() const { return m_monitor.isPolling(); }

    // What tells one device under a node from the next under the same node: the sysfs path of the
    // node's HID device, whose last part ("0003:1E6F:1113.0007") is numbered anew for every device
    // the kernel makes. Empty when the node is not there.
    static QString nodeIdentity(const QString &node);
    // The change between two listings of node -> identity: the nodes gone (or replaced) and the
    // nodes new (or replacing), each sorted.
    struct ScanChanges
    {
        QStringList removed;
        QStringList arrived;
    };
    static ScanChanges compareScans(const QHash<QString, QString> &before,
                                    const QHash<QString, QString> &after);

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
    void rescan();

    UdevMonitor m_monitor;
    QHash<QString, QString> m_polled; // node -> identity at the last listing
    // What each node was when it arrived: a removed node has no attributes left to read.
    QHash<QString, HidInterfaceInfo> m_known;
};
