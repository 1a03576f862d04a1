#pragma once

#include "ArmUsbIds.h"
#include "KitTransport.h"
#include "VirtualDevice.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

struct WrittenCommand
{
    QByteArray bytes; // the transfer's three data bytes
    qint64 monotonicNs = 0;
};

// One in-memory kit (plugging, refusing and failing as VirtualDevice).
class VirtualKit : public VirtualDevice
{
public:
    KitDeviceInfo info;
    // Every command taken, in order; any thread may ask while a writer thread writes.
    QList<WrittenCommand> written() const;

private:
    friend class VirtualKitConnection;

    mutable std::mutex m_writtenLock;
    QList<WrittenCommand> m_written;
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
                                        DeviceOpenFailure *failure = nullptr) override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitoring; }

    // A kit at "virtual/kitN" (bus 0, address N), product 0 or the other id some units report.
    VirtualKit *addKit(bool plugged = true, quint16 productId = ArmUsbIds::KitProductIds[0]);
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
