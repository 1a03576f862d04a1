#pragma once

#include "BoundedWriter.h"
#include "DeviceTransport.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// One in-memory device of either board (VirtualHidInterface, VirtualKit): what plugging it in and out,
// refusing to open it, failing its writes and holding them up have in common. Owned by its transport,
// which keeps it for its own life: unplugging keeps the object so that it can be plugged in again.
class VirtualDevice
{
public:
    VirtualDevice() = default;
    virtual ~VirtualDevice() = default;
    VirtualDevice(const VirtualDevice &) = delete;
    VirtualDevice &operator=(const VirtualDevice &) = delete;

    // The next write fails; with deviceGone as an unplugged device fails it (the connection is dead).
    // With count, that many writes in a row fail.
    void failNextWrite(bool deviceGone = false, int count = 1);
    // Opening fails from now on, as a permission problem or as some other failure.
    void denyOpen(bool permissionDenied);
    void allowOpen();
    // Writes of connections opened from now on go through a writer thread of the connection's own, as
    // on a device node, with the same bound: a device held (holdWrites) takes nothing until it is let
    // go, and stalls its connection once the bound has passed.
    void useWriterThread() { m_writerThread = true; }
    void holdWrites(bool hold);

    bool isOpen() const { return m_openCount.load() > 0; }
    bool isPlugged() const { return m_plugged.load(); }

    // For the transports and their connections.
    //
    // Plugs the device in or out; false when it already was. Every plugging in is a new generation: a
    // connection opened before an unplug stays dead after the replug, as a file descriptor of a
    // removed device node does.
    bool setPlugged(bool plugged);
    int generation() const { return m_generation.load(); }
    // Why open() refuses the device at `path` (NotFound while unplugged), with the error it gives;
    // None when it may be opened.
    DeviceOpenFailure refusal(const QString &path, QString *error) const;
    // Hands bytes to the device as a connection opened at `generation` writes them: 0 when it took them
    // (record is called, under the delivery lock), else ENODEV (unplugged, or plugged in again since)
    // or EIO (a write made to fail).
    int deliver(int generation, const std::function<void()> &record);
    // Returns once the device is not held.
    void waitWhileHeld();
    bool writesOnThread() const { return m_writerThread; }
    void opened() { ++m_openCount; }
    void closed() { --m_openCount; }

private:
    // A write may come from another thread than plugging and the test's arrangements.
    std::atomic<int> m_failWrite{0};
    std::atomic<bool> m_failWriteGone{false};
    std::atomic<int> m_generation{0};
    std::atomic<DeviceOpenFailure> m_denied{DeviceOpenFailure::None};
    std::atomic<bool> m_plugged{false};
    // Held by a write from its check that the device is there until the bytes are delivered, and by a
    // plug or unplug while it changes that: bytes either reach the device before it goes or fail, as
    // with a kernel device node. Recursive because whoever hears the bytes may unplug the device.
    std::recursive_mutex m_deliveryLock;
    std::atomic<int> m_openCount{0};
    bool m_writerThread = false;
    std::mutex m_holdLock;
    std::condition_variable m_holdChanged;
    bool m_held = false;
};

// The writing side of a connection to a VirtualDevice, for either board's connection type: the
// generation check, the writer thread of a device that writes on one, and what a write tells its
// caller. `Deliver` hands the bytes to the device (VirtualDevice::deliver with the device's record).
template <typename Connection> class VirtualConnection : public Connection
{
public:
    using Deliver = std::function<int(const QByteArray &bytes)>;

    // stalledText: what a write says once the device has stalled.
    VirtualConnection(VirtualDevice *device, Deliver deliver, QString stalledText, int stallBoundMs)
        : m_device(device), m_generation(device->generation()), m_deliver(std::move(deliver)),
          m_stalledText(std::move(stalledText))
    {
        m_device->opened();
        if (m_device->writesOnThread()) {
            // The writer may finish held bytes after the connection has gone: it keeps to what
            // outlives the connection.
            m_writer = std::make_unique<BoundedWriter>(
                [device, deliverNow = m_deliver](const QByteArray &bytes) {
                    device->waitWhileHeld();
                    return deliverNow(bytes);
                },
                stallBoundMs);
        }
    }
    ~VirtualConnection() override { m_device->closed(); }

    bool write(const QByteArray &bytes, QString *error) override
    {
        if (!usable(error))
            return false;
        if (bytes.isEmpty())
            return fail(error, QStringLiteral("empty report"));
        if (m_writer) {
            int failed = 0;
            const bool ok = m_writer->handOver(bytes, error, m_stalledText, QStringLiteral("write failed"), &failed);
            if (failed == ENODEV)
                m_gone = true;
            return ok;
        }
        return delivered(m_deliver(bytes), error);
    }

    bool deviceGone() const override { return m_gone.load(); }
    void setStallHandler(std::function<void()> handler) override
    {
        if (m_writer)
            m_writer->setStallHandler(std::move(handler));
    }
    bool drain(qint64 deadlineNs) override { return !m_writer || m_writer->drain(deadlineNs); }

protected:
    static bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    // False, the connection dead for good, once its device has been unplugged.
    bool usable(QString *error)
    {
        if (!m_device->isPlugged() || m_device->generation() != m_generation) {
            m_gone = true;
            return fail(error, QStringLiteral("device disconnected"));
        }
        return true;
    }

    int generation() const { return m_generation; }

    // What a write handed straight to the device tells, from VirtualDevice::deliver's outcome.
    bool delivered(int errorNumber, QString *error)
    {
        if (errorNumber == 0)
            return true;
        if (errorNumber == ENODEV)
            m_gone = true;
        return fail(error, errorNumber == ENODEV ? QStringLiteral("No such device (simulated)")
                                                 : QStringLiteral("write failed (simulated)"));
    }

private:
    VirtualDevice *m_device;
    int m_generation;
    Deliver m_deliver;
    QString m_stalledText;
    std::atomic<bool> m_gone{false};
    std::unique_ptr<BoundedWriter> m_writer;
};
