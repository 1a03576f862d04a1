#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

// What the transports of both boards share: a HID interface (HidTransport) and a USB interface kit
// (KitTransport) are listed, opened and followed alike, and an open one takes the arm's codes alike.

// Why a device could not be opened.
enum class DeviceOpenFailure { None, NotFound, PermissionDenied, Other };

// An open device of either board.
//
// Threads: write and deviceGone may be called from any thread, one writer at a time (a caller that
// shares a connection between threads serialises its writes itself); every other member belongs to the
// thread that opened the connection. A write never holds its caller up for long: where a device may not
// take what it is given at once, the bytes are handed to a writer of the connection's own, and a device
// that does not take them within a bound has stalled (the stall handler says so).
class DeviceConnection
{
public:
    virtual ~DeviceConnection() = default;

    // Hands the bytes to the device: a HID output report (report ID byte first), or a kit's command.
    // True when they went out, or wait behind a write under way that has not stalled.
    virtual bool write(const QByteArray &bytes, QString *error) = 0;
    // True once a call failed because the device is no longer there (unplugged, or its node removed):
    // the connection is dead for good and should be closed as a removal would close it.
    virtual bool deviceGone() const { return false; }
    // Called at most once, from a thread of the connection's own, when the device has not taken what it
    // was given within the bound: the connection cannot deliver and should be closed. Connections whose
    // writes cannot stall never call it.
    virtual void setStallHandler(std::function<void()> handler) { Q_UNUSED(handler); }
    // Waits, at most until deadlineNs on the monotonic clock, for what was handed over to have gone
    // out; true when it has. Connections that write at once have nothing to wait for.
    virtual bool drain(qint64 deadlineNs)
    {
        Q_UNUSED(deadlineNs);
        return true;
    }
};

// Where devices of one kind come from: this machine's, or in-memory ones for tests and demos. The
// transport, a QObject, adds the signals that tell of arrivals and removals.
template <typename Info, typename Connection> class DeviceSource
{
public:
    using OpenFailure = DeviceOpenFailure;

    virtual ~DeviceSource() = default;

    // The devices present, whether or not they can be opened.
    virtual QList<Info> enumerate() = 0;
    virtual std::unique_ptr<Connection> open(const Info &info, QString *error, OpenFailure *failure = nullptr) = 0;
    // Arrivals and removals; event driven, nothing runs while nothing happens.
    virtual bool startMonitoring() = 0;
    virtual void stopMonitoring() = 0;
};
