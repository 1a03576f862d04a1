#include "VirtualKitTransport.h"

#include "ProcessClock.h"


namespace {

// How long a kit with a writer thread may take a command before its connection has stalled: a real
// kit's bound.
constexpr int StallBoundMs = 250;

QString text(const char *s)
{
    return QString::fromLatin1(s);
}

} // namespace

class VirtualKitConnection : public VirtualConnection<KitConnection>
{
public:
    VirtualKitConnection(VirtualKitTransport *transport, VirtualKit *kit)
        : VirtualConnection(
              kit,
              [transport, kit, generation = kit->generation()](const QByteArray &command) {
                  return kit->deliver(generation, [&] { record(transport, kit, command); });
              },
              text("the device has stopped taking commands"), StallBoundMs)
    {
    }

private:
    static void record(VirtualKitTransport *transport, VirtualKit *kit, const QByteArray &command)
    {
        const qint64 ns = ProcessClock::monotonicNs();
        {
            const std::lock_guard<std::mutex> guard(kit->m_writtenLock);
            kit->m_written.append(WrittenCommand{command, ns});
        }
        Q_EMIT transport->commandWritten(kit->info.path, command, ns);
    }
};

QList<WrittenCommand> VirtualKit::written() const
{
    const std::lock_guard<std::mutex> guard(m_writtenLock);
    // A list of the reader's own: one sharing the buffer would let the writer, appending, move the
    // entries out from under a reader that is still copying them.
    return QList<WrittenCommand>(m_written.cbegin(), m_written.cend());
}

VirtualKitTransport::~VirtualKitTransport() = default;

QList<KitDeviceInfo> VirtualKitTransport::enumerate()
{
    QList<KitDeviceInfo> result;
    for (const auto &k : m_kits) {
        if (k->isPlugged())
            result.append(k->info);
    }
    return result;
}

std::unique_ptr<KitConnection> VirtualKitTransport::open(const KitDeviceInfo &info, QString *error,
                                                         OpenFailure *failure)
{
    VirtualKit *k = kit(info.path);
    QString why = QStringLiteral("%1: no such device").arg(info.path);
    const OpenFailure refused = k ? k->refusal(info.path, &why) : OpenFailure::NotFound;
    if (failure)
        *failure = refused;
    if (refused == OpenFailure::None)
        return std::make_unique<VirtualKitConnection>(this, k);
    if (error)
        *error = why;
    return nullptr;
}

bool VirtualKitTransport::startMonitoring()
{
    m_monitoring = true;
    return true;
}

void VirtualKitTransport::stopMonitoring()
{
    m_monitoring = false;
}

VirtualKit *VirtualKitTransport::addKit(bool plugged, quint16 productId)
{
    auto k = std::make_unique<VirtualKit>();
    const int n = int(m_kits.size()) + 1;
    k->info.path = QStringLiteral("virtual/kit%1").arg(n);
    k->info.vendorId = ArmUsbIds::KitVendorId;
    k->info.productId = productId;
    k->info.busNumber = 0;
    k->info.address = n;
    k->info.product = QStringLiteral("Virtual interface kit");
    VirtualKit *raw = k.get();
    m_kits.push_back(std::move(k));
    if (plugged)
        plug(raw->info.path);
    return raw;
}

void VirtualKitTransport::plug(const QString &path)
{
    VirtualKit *k = kit(path);
    if (k && k->setPlugged(true) && m_monitoring)
        Q_EMIT deviceArrived(k->info);
}

void VirtualKitTransport::unplug(const QString &path)
{
    VirtualKit *k = kit(path);
    if (k && k->setPlugged(false) && m_monitoring)
        Q_EMIT deviceRemoved(k->info);
}

VirtualKit *VirtualKitTransport::kit(const QString &path) const
{
    for (const auto &k : m_kits) {
        if (k->info.path == path)
            return k.get();
    }
    return nullptr;
}

QList<VirtualKit *> VirtualKitTransport::kits() const
{
    QList<VirtualKit *> result;
    for (const auto &k : m_kits)
        result.append(k.get());
    return result;
}
