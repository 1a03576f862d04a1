#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include <memory>

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

// An open interface. Report buffers start with the report ID byte (0 when the device uses no IDs).
//
// Threads: writeOutputReport and deviceGone may be called from any thread, one writer at a time (a
// caller that shares a connection between threads serialises its writes itself); every other member
// belongs to the thread that opened the connection. A write never holds its caller up for long: where a
// device may not take a report at once, the report is handed to a writer of the connection's own, and
// a device that does not take one within a bound has stalled (the stall handler says so).
class HidConnection
{
public:
    virtual ~HidConnection() = default;

    virtual QByteArray reportDescriptor() const = 0;
    virtual bool writeOutputReport(const QByteArray &report, QString *error) = 0;
    // True once a call failed because the device is no longer there (unplugged, or its node removed):
    // the connection is dead for good and should be closed as a removal would close it.
    virtual bool deviceGone() const { return false; }
    // Called at most once, from a thread of the connection's own, when the device has not taken an
    // output report within the bound: the connection cannot deliver what it is given and should be
    // closed. Connections whose writes cannot stall never call it.
    virtual void setStallHandler(std::function<void()> handler) { Q_UNUSED(handler); }
    // Waits, at most until deadlineNs on the monotonic clock, for the output reports handed over to
    // have gone out; true when they have. Connections that write at once have nothing to wait for.
    virtual bool drain(qint64 deadlineNs) { Q_UNUSED(deadlineNs); return true; }
    // report[0] holds the wanted ID on entry when the device uses IDs; the whole report on return.
    // A timeout is a failure.
    virtual bool readInputReport(QByteArray &report, int timeoutMs, QString *error) = 0;
    virtual bool sendFeatureReport(const QByteArray &report, QString *error) = 0;
    virtual bool getFeatureReport(QByteArray &report, QString *error) = 0;
    // A string descriptor of the device by index; empty when there is none.
    virtual QString indexedString(int index) const = 0;
};

// Where interfaces come from: the real hidraw devices, or in-memory ones for tests and demos.
class HidTransport : public QObject
{
    Q_OBJECT
public:
    enum class OpenFailure { None, NotFound, PermissionDenied, Other };

    using QObject::QObject;
    ~HidTransport() override = default;

    virtual QList<HidInterfaceInfo> enumerate() = 0;
    virtual std::unique_ptr<HidConnection> open(const HidInterfaceInfo &info, QString *error,
                                                OpenFailure *failure = nullptr) = 0;
    // The interface's report descriptor where it can be read without opening the interface (the kernel
    // shows it to every user), so that a search for one kind of device leaves the others alone and can
    // tell a refused device of its kind from any other; empty where it cannot be read that way.
    virtual QByteArray peekReportDescriptor(const HidInterfaceInfo &info) const
    {
        Q_UNUSED(info);
        return QByteArray();
    }

    // Hot-plug notifications; event driven, nothing runs while nothing happens.
    virtual bool startMonitoring() = 0;
    virtual void stopMonitoring() = 0;

Q_SIGNALS:
    void interfaceArrived(const HidInterfaceInfo &info);
    void interfaceRemoved(const HidInterfaceInfo &info);
};
