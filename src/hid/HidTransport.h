#pragma once

#include "DeviceTransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// One HID interface as the operating system lists it.
struct HidInterfaceInfo
{
    QString path; // unique per interface: the hidraw node, or a virtual interface's name
    quint16 vendorId = 0;
    quint16 productId = 0;
    quint16 releaseNumber = 0;
    QString manufacturer;
    QString product;
    QString serialNumber;
    int interfaceNumber = -1;

    // "VID_1E6F&PID_1113 <product> <path>": the identifiers first, so that a device identity such as
    // "VID_1E6F&PID_1113" is found in it by a plain substring search.
    QString deviceName() const;
};

// An open interface. Report buffers start with the report ID byte (0 when the device uses no IDs); an
// output report goes out with write (DeviceConnection's threads and bounds).
class HidConnection : public DeviceConnection
{
public:
    bool writeOutputReport(const QByteArray &report, QString *error) { return write(report, error); }

    virtual QByteArray reportDescriptor() const = 0;
    // report[0] holds the wanted ID on entry when the device uses IDs; the whole report on return.
    // A timeout is a failure.
    virtual bool readInputReport(QByteArray &report, int timeoutMs, QString *error) = 0;
    virtual bool sendFeatureReport(const QByteArray &report, QString *error) = 0;
    virtual bool getFeatureReport(QByteArray &report, QString *error) = 0;
    // A string descriptor of the device by index; empty when there is none.
    virtual QString indexedString(int index) const = 0;
};

// Where interfaces come from: the real hidraw devices, or in-memory ones for tests and demos.
class HidTransport : public QObject, public DeviceSource<HidInterfaceInfo, HidConnection>
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~HidTransport() override = default;

    // The interface's report descriptor where it can be read without opening the interface (the kernel
    // shows it to every user), so that a search for one kind of device leaves the others alone and can
    // tell a refused device of its kind from any other; empty where it cannot be read that way.
    virtual QByteArray peekReportDescriptor(const HidInterfaceInfo &info) const
    {
        Q_UNUSED(info);
        return QByteArray();
    }

Q_SIGNALS:
    void interfaceArrived(const HidInterfaceInfo &info);
    void interfaceRemoved(const HidInterfaceInfo &info);
};
