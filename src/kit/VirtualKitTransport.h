#pragma once

#include "KitTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

struct WrittenCommand
{
    QByteArray bytes; // the transfer's three data bytes
    qint64 monotonicNs = 0;
};

// One in-memory kit. Owned by its transport; the pointer stays valid for the transport's life
// (unplugging keeps the object so that it can be plugged in again).
class VirtualKit
{
public:
    KitDeviceInfo info;
    // Every command taken, in order; any thread may ask while a writer thread writes.
    QList<WrittenCommand> written() const;

    // The next write fails; with deviceGone as an unplugged kit fails it (the connection is dead).
    // With count, that many writes in a row fail.
    void failNextWrite(bool deviceGone = false, int count = 1);
    // Opening fails from now on, as a permission problem or as some other failure.
    void denyOpen(bool permissionDenied);
    void allowOpen();
    // Commands of connections opened from now on go through a writer thread of the connection's own,
    // as on a real kit, with the same bound: a kit held (holdWrites) takes no command until it is let
    // go, and stalls its connection once the bound has passed.
    void useWriterThread() { m_writerThread = true; }
    void holdWrites(bool hold);

    bool isOpen() const { return m_openCount.load() > 0; }
    bool isPlugged() const { return m_plugged.load(); }

private:
    friend class VirtualKitTransport;
    friend class VirtualKitConnection;

    mutable std::mutex m_writtenLock;
    QList<WrittenCommand> m_written;
    std::atomic<int> m_failWrite{0};
    std::atomic<bool> m_failWriteGone{false};
    // Raised by every plug: a connection opened before an unplug stays dead after the replug.
    std::atomic<int> m_generation{0};
    HidTransport::OpenFailure m_denied = HidTransport::OpenFailure::None;
    std::atomic<bool> m_plugged{true};
    // Held by a write from its check that the kit is there until the command is delivered, and by an
    // unplug while it takes the kit away. Recursive because whoever hears a command may unplug.
    std::recursive_mutex m_deliveryLock;
    std::atomic<int> m_openCount{0};
    bool m_writerThread = false;
    std::mutex m_holdLock;
    std::condition_variable m_holdChanged;
    bool m_held = false;
};

// In-memory kits for tests and for people without the hardware: kits can be plugged and unplugged,
// made to fail the next write, to refuse opening or to stop taking commands, and every command written
// to them can be inspected. Everything happens synchronously on the caller's thread; commandWritten is
// emitted on the writing thread.
class VirtualKitTransport : public KitTransport
{
    Q_OBJECT
public:
    using KitTransport::KitTransport;
    ~VirtualKitTransport() override;

    QList<KitDeviceInfo> enumerate() override; // the plugged kits, in order of adding
    std::unique_ptr<KitConnection> open(const KitDeviceInfo &info, QString *error,
                                        HidTransport::OpenFailure *failure = nullptr) override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitoring; }

    // A kit at "virtual/kitN" (bus 0, address N), product 0 or the other id some units report.
    VirtualKit *addKit(bool plugged = true, quint16 productId = KitProductIds[0]);
    void plug(const QString &path);   // deviceArrived while monitoring
    void unplug(const QString &path); // deviceRemoved while monitoring; open connections fail
    VirtualKit *kit(const QString &path) const;
    QList<VirtualKit *> kits() const;

Q_SIGNALS:
    // Emitted for every command a kit takes, after it has been recorded in `written`.
    void commandWritten(const QString &path, const QByteArray &command, qint64 monotonicNs);

private:
    friend class VirtualKitConnection;

    std::vector<std::unique_ptr<VirtualKit>> m_kits;
    bool m_monitoring = false;
};
