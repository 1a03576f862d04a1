#pragma once

#include "HidTransport.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// One interface kit as the system lists it: a vendor-specific USB device without any HID interface.
struct KitDeviceInfo
{
    // Unique for one plugging in: the usbfs node ("/dev/bus/usb/001/004"; the address is new each
    // time a device is plugged), or a virtual kit's name.
    QString path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    int busNumber = 0;
    int address = 0;
    QString sysPath; // the device's sysfs folder; empty for a virtual kit
    QString manufacturer;
    QString product;
    QString serialNumber;

    // "1267:0000 on bus 1, address 4"
    QString describe() const;
};
Q_DECLARE_METATYPE(KitDeviceInfo)

// An open kit. The command goes out with the kit's vendor control transfer; a write never holds its
// caller up for long (the same contract as HidConnection::writeOutputReport: a device that does not
// take a command within the bound has stalled, and the stall handler says so).
//
// Threads: writeCommand and deviceGone may be called from any thread, one writer at a time; the rest
// belongs to the thread that opened the connection.
class KitConnection
{
public:
    virtual ~KitConnection() = default;

    // True when the command went out, or waits behind one under way that has not stalled.
    virtual bool writeCommand(const QByteArray &command, QString *error) = 0;
    // True once a write failed because the device is no longer there.
    virtual bool deviceGone() const = 0;
    // Called at most once, from a thread of the connection's own, when the kit has not taken a
    // command within the bound.
    virtual void setStallHandler(std::function<void()> handler) = 0;
    // Waits, at most until deadlineNs on the monotonic clock, for the commands handed over to have
    // gone out; true when they have.
    virtual bool drain(qint64 deadlineNs) = 0;
};

// Where kits come from: the USB devices of this machine, or in-memory ones for tests and demos.
class KitTransport : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 KitVendorId = 0x1267;
    // Most kits report product 0; some units report 1.
    static constexpr quint16 KitProductIds[] = {0x0000, 0x0001};
    static bool isKit(quint16 vendorId, quint16 productId);

    using QObject::QObject;
    ~KitTransport() override = default;

    // The kits present, whether or not they can be opened.
    virtual QList<KitDeviceInfo> enumerate() = 0;
    virtual std::unique_ptr<KitConnection> open(const KitDeviceInfo &info, QString *error,
                                                HidTransport::OpenFailure *failure = nullptr) = 0;

    // Arrivals and removals of kits; event driven, nothing runs while nothing happens.
    virtual bool startMonitoring() = 0;
    virtual void stopMonitoring() = 0;

Q_SIGNALS:
    void deviceArrived(const KitDeviceInfo &info);
    void deviceRemoved(const KitDeviceInfo &info);
};
