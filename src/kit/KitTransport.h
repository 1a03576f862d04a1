#pragma once

#include "DeviceTransport.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

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

// An open kit: its command goes out with write, by the kit's vendor control transfer (DeviceConnection's
// threads and bounds).
using KitConnection = DeviceConnection;

// Where kits come from: the USB devices of this machine, or in-memory ones for tests and demos.
class KitTransport : public QObject, public DeviceSource<KitDeviceInfo, KitConnection>
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~KitTransport() override = default;

Q_SIGNALS:
    void deviceArrived(const KitDeviceInfo &info);
    void deviceRemoved(const KitDeviceInfo &info);
};
