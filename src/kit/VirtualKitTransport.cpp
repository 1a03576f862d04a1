#include "VirtualKitTransport.h"

#include "BoundedWriter.h"
#include "ProcessClock.h"

#include <cerrno>

namespace {

// How long a kit with a writer thread may take a command before its connection has stalled: a real
// kit's bound.
constexpr int StallBoundMs = 250;

QString text(const char *s)
{
    return QString::fromLatin1(s);
}

} // namespace

class VirtualKitConnection : public KitConnection
{
public:
    VirtualKitConnection(VirtualKitTransport *transport, VirtualKit *kit)
        : m_transport(transport), m_kit(kit), m_generation(kit->m_generation.load())
    {
        ++m_kit->m_openCount;
        if (m_kit->m_writerThread) {
            // The writer may finish a held command after the connection has gone: it keeps to what
            // outlives the connection.
            m_writer = std::make_unique<BoundedWriter>(
                [transport, kit, generation = m_generation](const QByteArray &command) {
                    {
                        std::unique_lock<std::mutex> hold(kit->m_holdLock);
                        kit->m_holdChanged.wait(hold, [kit] { return !kit->m_held; });
                    }
                    return deliver(transport, kit, generation, command);
                },
                StallBoundMs);
        }
    }
    ~VirtualKitConnection() override { --m_kit->m_openCount; }

    bool writeCommand(const QByteArray &command, QString *error) override
    {
        if (!usable(error))
            return false;
        if (!m_writer) {
            const int e = deliver(m_transport, m_kit, m_generation, command);
            if (e == 0)
                return true;
            m_gone = m_gone || e == ENODEV;
            return fail(error, e == ENODEV ? text("No such device (simulated)") : text("write failed (simulated)"));
        }
        const bool stalled = m_writer->stalled();
        const BoundedWriter::Result r = m_writer->write(command);
        switch (r.outcome) {
        case BoundedWriter::Outcome::Written:
            return true;
        case BoundedWriter::Outcome::Failed:
            m_gone = m_gone || r.errorNumber == ENODEV;
            return fail(error, text("write failed"));
        case BoundedWriter::Outcome::Pending:
            return !stalled || fail(error, text("the device has stopped taking commands"));
        }
        return false;
    }

    bool deviceGone() const override { return m_gone; }
    void setStallHandler(std::function<void()> handler) override
    {
        if (m_writer)
            m_writer->setStallHandler(std::move(handler));
    }
    bool drain(qint64 deadlineNs) override { return !m_writer || m_writer->drain(deadlineNs); }

private:
    // 0 when the kit took the command, else an errno value.
    static int deliver(VirtualKitTransport *transport, VirtualKit *kit, int generation, const QByteArray &command)
    {
        const std::lock_guard delivery(kit->m_deliveryLock);
        if (!kit->m_plugged || kit->m_generation != generation)
            return ENODEV;
        int failing = kit->m_failWrite.load();
        while (failing > 0 && !kit->m_failWrite.compare_exchange_weak(failing, failing - 1)) {
        }
        if (failing > 0)
            return kit->m_failWriteGone ? ENODEV : EIO;
        const qint64 ns = ProcessClock::monotonicNs();
        {
            const std::lock_guard<std::mutex> guard(kit->m_writtenLock);
            kit->m_written.append(WrittenCommand{command, ns});
        }
        Q_EMIT transport->commandWritten(kit->info.path, command, ns);
        return 0;
    }

    static bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    bool usable(QString *error)
    {
        if (!m_kit->m_plugged || m_kit->m_generation != m_generation) {
            m_gone = true;
            return fail(error, text("device disconnected"));
        }
        return true;
    }

    VirtualKitTransport *m_transport;
    VirtualKit *m_kit;
    int m_generation;
    std::atomic<bool> m_gone{false};
    std::unique_ptr<BoundedWriter> m_writer;
};

QList<WrittenCommand> VirtualKit::written() const
{
    const std::lock_guard<std::mutex> guard(m_writtenLock);
    // A list of the reader's own: one sharing the buffer would let the writer, appending, move the
    // entries out from under a reader that is still copying them.
    return QList<WrittenCommand>(m_written.cbegin(), m_written.cend());
}

void VirtualKit::failNextWrite(bool deviceGone, int count)
{
    m_failWriteGone = deviceGone;
    m_failWrite = count;
}

void VirtualKit::denyOpen(bool permissionDenied)
{
    m_denied = permissionDenied ? HidTransport::OpenFailure::PermissionDenied : HidTransport::OpenFailure::Other;
}

void VirtualKit::allowOpen()
{
    m_denied = HidTransport::OpenFailure::None;
}

void VirtualKit::holdWrites(bool hold)
{
    {
        const std::lock_guard<std::mutex> guard(m_holdLock);
        m_held = hold;
    }
    m_holdChanged.notify_all();
}

VirtualKitTransport::~VirtualKitTransport() = default;

QList<KitDeviceInfo> VirtualKitTransport::enumerate()
{
    QList<KitDeviceInfo> result;
    for (const auto &k : m_kits) {
        if (k->m_plugged)
            result.append(k->info);
    }
    return result;
}

std::unique_ptr<KitConnection> VirtualKitTransport::open(const KitDeviceInfo &info, QString *error,
                                                         HidTransport::OpenFailure *failure)
{
    auto refuse = [&](HidTransport::OpenFailure kind, const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(info.path, why);
        if (failure)
            *failure = kind;
        return std::unique_ptr<KitConnection>();
    };
    VirtualKit *k = kit(info.path);
    if (!k || !k->m_plugged)
        return refuse(HidTransport::OpenFailure::NotFound, text("No such device"));
    if (k->m_denied == HidTransport::OpenFailure::PermissionDenied)
        return refuse(k->m_denied, text("Permission denied"));
    if (k->m_denied != HidTransport::OpenFailure::None)
        return refuse(k->m_denied, text("cannot open (simulated)"));
    if (failure)
        *failure = HidTransport::OpenFailure::None;
    return std::make_unique<VirtualKitConnection>(this, k);
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
    k->info.vendorId = KitVendorId;
    k->info.productId = productId;
    k->info.busNumber = 0;
    k->info.address = n;
    k->info.product = QStringLiteral("Virtual interface kit");
    k->m_plugged = false;
    VirtualKit *raw = k.get();
    m_kits.push_back(std::move(k));
    if (plugged)
        plug(raw->info.path);
    return raw;
}

void VirtualKitTransport::plug(const QString &path)
{
    VirtualKit *k = kit(path);
    if (!k || k->m_plugged)
        return;
    {
        const std::lock_guard delivery(k->m_deliveryLock);
        ++k->m_generation;
        k->m_plugged = true;
    }
    if (m_monitoring)
        Q_EMIT deviceArrived(k->info);
}

void VirtualKitTransport::unplug(const QString &path)
{
    VirtualKit *k = kit(path);
    if (!k || !k->m_plugged)
        return;
    {
        const std::lock_guard delivery(k->m_deliveryLock);
        k->m_plugged = false;
    }
    if (m_monitoring)
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
