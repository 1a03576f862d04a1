#pragma once

#include "KitTransport.h"
#include "UdevMonitor.h"

#include <QHash>
#include <QString>

// The interface kits plugged into this machine. They are listed from sysfs (every USB device shows
// its identifiers, bus number and address there, whoever may open it), opened through their usbfs
// node (so that a refusal says why: the node's permissions) and handed to libusb to carry the vendor
// control transfers. libusb is told to discover nothing itself: no thread of its own, no second
// hot-plug monitor.
//
// Arrivals and removals come from a UdevMonitor of USB devices. Where no monitor can be made, that is
// said once on stderr and the kits are listed again every PollIntervalMs instead.
//
// Commands are written on a thread per connection (BoundedWriter); a kit that has not taken one
// within WriteBoundMs stalls its connection. A transfer that finds the device gone marks the
// connection deviceGone.
class RealKitTransport : public KitTransport
{
    Q_OBJECT
public:
    static constexpr int WriteBoundMs = 250;
    static constexpr int PollIntervalMs = 2000;
    // How long libusb waits for the kit to take one transfer before it gives up on it (the stall is
    // told long before, at WriteBoundMs).
    static constexpr int TransferTimeoutMs = 5000;

    explicit RealKitTransport(QObject *parent = nullptr);
    // Another sysfs and /dev, for a test's made-up tree.
    RealKitTransport(const QString &sysfsRoot, const QString &devRoot, QObject *parent = nullptr);
    ~RealKitTransport() override;

    QList<KitDeviceInfo> enumerate() override;
    std::unique_ptr<KitConnection> open(const KitDeviceInfo &info, QString *error,
                                        DeviceOpenFailure *failure = nullptr) override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitor.isOpen() || m_monitor.isPolling(); }
    bool isPolling() const { return m_monitor.isPolling(); }

    // Every USB device of the sysfs tree, kits or not.
    QList<KitDeviceInfo> enumerateUsb() const;
    // The usbfs node of a device: <devRoot>/bus/usb/BBB/DDD.
    static QString nodePath(const QString &devRoot, int busNumber, int address);
    // The PRODUCT property of a USB device's uevent, "1267/0/100" (vendor/product/release in hex).
    static bool parseProductProperty(const QString &product, quint16 *vendorId, quint16 *productId);
    // Lists the kits again and tells each that has gone (deviceRemoved) and each that has come
    // (deviceArrived) since the last listing: the poll's tick where there is no udev monitor.
    void rescan();

private:
    KitDeviceInfo infoFromSysfs(const QString &dir) const;
    void onMonitorReadable();

    QString m_sysfsRoot;
    QString m_devRoot;
    UdevMonitor m_monitor;
    // The kits present at the last listing or event, by path: a removed device has no attributes left
    // to read.
    QHash<QString, KitDeviceInfo> m_known;
};
