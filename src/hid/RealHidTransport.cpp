#include "RealHidTransport.h"

#include "BoundedWriter.h"
#include "HidReportDescriptor.h"
#include "ProcessClock.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QtDebug>

#include <hidapi/hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// hid_init/hid_exit are process-wide; every transport holds one reference.
QMutex g_hidapiLock;
int g_hidapiUsers = 0;

void acquireHidapi()
{
    QMutexLocker lock(&g_hidapiLock);
    if (g_hidapiUsers++ == 0)
        hid_init();
}

void releaseHidapi()
{
    QMutexLocker lock(&g_hidapiLock);
    if (--g_hidapiUsers == 0)
        hid_exit();
}

QString fromWide(const wchar_t *s)
{
    return s ? QString::fromWCharArray(s) : QString();
}

QString hidapiError(hid_device *dev)
{
    const QString text = fromWide(hid_error(dev));
    return text.isEmpty() ? QStringLiteral("unknown hidapi error") : text;
}

constexpr int MaxReportBytes = 4096 + 1;

// Errors of a write that say the device itself is gone, whatever the node shows.
bool isGoneError(int error)
{
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN;
}

// A descriptor closed by whoever lets go of it last: the writer thread may outlive the connection.
struct OwnedFd
{
    explicit OwnedFd(int f) : fd(f) {}
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OwnedFd(const OwnedFd &) = delete;
    OwnedFd &operator=(const OwnedFd &) = delete;
    int fd;
};

int writeWhole(int fd, const QByteArray &report)
{
    for (;;) {
        if (::write(fd, report.constData(), size_t(report.size())) >= 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

class RealHidConnection : public HidConnection
{
public:
    RealHidConnection(hid_device *dev, QByteArray descriptor, const QString &node, int writeFd)
        : m_dev(dev), m_descriptor(std::move(descriptor)), m_node(node),
          m_identity(RealHidTransport::nodeIdentity(node)),
          m_writer([fd = std::make_shared<OwnedFd>(writeFd)](
                       const QByteArray &report) { return writeWhole(fd->fd, report); },
                   RealHidTransport::WriteBoundMs)
    {
        const HidParseResult parsed = parseReportDescriptor(m_descriptor);
        m_usesIds = parsed.ok() && parsed.layout->usesReportIds;
        acquireHidapi();
    }
    ~RealHidConnection() override
    {
        hid_close(m_dev);
        releaseHidapi();
    }

    bool deviceGone() const override { return m_gone.load(); }

    QByteArray reportDescriptor() const override { return m_descriptor; }

    bool write(const QByteArray &report, QString *error) override
    {
        if (report.isEmpty())
            return fail(error, QStringLiteral("empty report"));
        if (m_gone.load())
            return fail(error, QStringLiteral("device disconnected"));
        int failed = -1; // the errno value of a failed write
        if (m_writer.handOver(report, error,
                              QStringLiteral("the device has not taken a report for over %1 ms")
                                  .arg(RealHidTransport::WriteBoundMs),
                              QString(), &failed))
            return true;
        if (failed >= 0)
            noteFailure(failed);
        return false;
    }

    void setStallHandler(std::function<void()> handler) override
    {
        m_writer.setStallHandler(std::move(handler));
    }
    bool drain(qint64 deadlineNs) override { return m_writer.drain(deadlineNs); }

    bool readInputReport(QByteArray &report, int timeoutMs, QString *error) override
    {
        const int wanted = m_usesIds && !report.isEmpty() ? quint8(report.at(0)) : 0;
        const qint64 deadline = ProcessClock::monotonicNs() + qint64(qMax(0, timeoutMs)) * 1'000'000;
        QByteArray buffer(MaxReportBytes, '\0');
        auto *data = reinterpret_cast<unsigned char *>(buffer.data());
        for (;;) {
            const qint64 left = deadline - ProcessClock::monotonicNs();
            const int waitMs = left <= 0 ? 0 : int((left + 999'999) / 1'000'000);
            const int n = hid_read_timeout(m_dev, data, size_t(buffer.size()), waitMs);
            if (n < 0) {
                noteFailure(0);
                return fail(error, hidapiError(m_dev));
            }
            if (n == 0)
                return fail(error, QStringLiteral("timed out waiting for an input report"));
            if (!m_usesIds) {
                report = char(0) + buffer.left(n);
                return true;
            }
            // Reports with other IDs are not what was asked for; wait on for the right one.
            if (data[0] == wanted) {
                report = buffer.left(n);
                return true;
            }
            if (left <= 0)
                return fail(error, QStringLiteral("timed out waiting for input report %1").arg(wanted));
        }
    }

    bool sendFeatureReport(const QByteArray &report, QString *error) override
    {
        if (report.isEmpty())
            return fail(error, QStringLiteral("empty report"));
        const int n = hid_send_feature_report(
            m_dev, reinterpret_cast<const unsigned char *>(report.constData()), size_t(report.size()));
        if (n < 0) {
            noteFailure(0);
            return fail(error, hidapiError(m_dev));
        }
        return true;
    }

    bool getFeatureReport(QByteArray &report, QString *error) override
    {
        QByteArray buffer(MaxReportBytes, '\0');
        buffer[0] = report.isEmpty() ? char(0) : report.at(0);
        const int n = hid_get_feature_report(m_dev, reinterpret_cast<unsigned char *>(buffer.data()),
                                             size_t(buffer.size()));
        if (n < 0) {
            noteFailure(0);
            return fail(error, hidapiError(m_dev));
        }
        report = buffer.left(n);
        return true;
    }

    QString indexedString(int index) const override
    {
        wchar_t text[256] = {};
        if (hid_get_indexed_string(m_dev, index, text, 255) < 0)
            return QString();
        return QString::fromWCharArray(text);
    }

private:
    static bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    // hidapi's own errno is not reliable after a failure, so besides the write's own error the node
    // is asked: gone, or now another device's, means this connection is dead.
    void noteFailure(int errorNumber)
    {
        if (isGoneError(errorNumber) || RealHidTransport::nodeIdentity(m_node) != m_identity)
            m_gone.store(true);
    }

    hid_device *m_dev;
    QByteArray m_descriptor;
    QString m_node;
    QString m_identity;
    bool m_usesIds = false;
    std::atomic<bool> m_gone{false};
    BoundedWriter m_writer;
};

HidInterfaceInfo infoFromHidapi(const hid_device_info *d)
{
    HidInterfaceInfo info;
    info.path = QString::fromLocal8Bit(d->path);
    info.vendorId = d->vendor_id;
    info.productId = d->product_id;
    info.releaseNumber = d->release_number;
    info.manufacturer = fromWide(d->manufacturer_string);
    info.product = fromWide(d->product_string);
    info.serialNumber = fromWide(d->serial_number);
    info.interfaceNumber = d->interface_number;
    return info;
}

QList<HidInterfaceInfo> enumerateAll()
{
    QList<HidInterfaceInfo> result;
    QSet<QString> seen;
    hid_device_info *list = hid_enumerate(0, 0);
    // hidapi lists a node once per top-level collection; the program deals in nodes.
    for (const hid_device_info *d = list; d; d = d->next) {
        HidInterfaceInfo info = infoFromHidapi(d);
        if (seen.contains(info.path))
            continue;
        seen.insert(info.path);
        result.append(info);
    }
    hid_free_enumeration(list);
    return result;
}

QString udevText(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

RealHidTransport::RealHidTransport(QObject *parent) : HidTransport(parent)
{
    acquireHidapi();
    connect(&m_monitor, &UdevMonitor::readable, this, &RealHidTransport::onMonitorReadable);
    connect(&m_monitor, &UdevMonitor::pollDue, this, &RealHidTransport::rescan);
}

RealHidTransport::~RealHidTransport()
{
    stopMonitoring();
    releaseHidapi();
}

QList<HidInterfaceInfo> RealHidTransport::enumerate()
{
    const QList<HidInterfaceInfo> all = enumerateAll();
    for (const HidInterfaceInfo &info : all)
        m_known.insert(info.path, info);
    return all;
}

std::unique_ptr<HidConnection> RealHidTransport::open(const HidInterfaceInfo &info, QString *error,
                                                      OpenFailure *failure)
{
    auto refuse = [&](OpenFailure kind, const QString &message) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(info.path, message);
        if (failure)
            *failure = kind;
        return std::unique_ptr<HidConnection>();
    };
    const QByteArray node = info.path.toLocal8Bit();
    // hid_open_path does not say why it failed; the node's access rights do.
    if (::access(node.constData(), R_OK | W_OK) != 0) {
        const int e = errno;
        return refuse(failureFromErrno(e), QString::fromLocal8Bit(std::strerror(e)));
    }
    QString descriptorError;
    const QByteArray descriptor = readReportDescriptor(info.path, &descriptorError);
    if (descriptor.isEmpty())
        return refuse(OpenFailure::Other, descriptorError);
    errno = 0;
    hid_device *dev = hid_open_path(node.constData());
    if (!dev) {
        const int e = errno;
        return refuse(e ? failureFromErrno(e) : OpenFailure::Other, hidapiError(nullptr));
    }
    // Writes go through a descriptor of their own, so that the writer thread shares no state with
    // hidapi's reads.
    const int writeFd = ::open(node.constData(), O_RDWR | O_CLOEXEC);
    if (writeFd < 0) {
        const int e = errno;
        hid_close(dev);
        return refuse(failureFromErrno(e), QString::fromLocal8Bit(std::strerror(e)));
    }
    if (failure)
        *failure = OpenFailure::None;
    return std::make_unique<RealHidConnection>(dev, descriptor, info.path, writeFd);
}

HidTransport::OpenFailure RealHidTransport::failureFromErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return OpenFailure::PermissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailure::NotFound;
    default:
        return OpenFailure::Other;
    }
}

QString RealHidTransport::descriptorPathForNode(const QString &node)
{
    static const QRegularExpression pattern(QStringLiteral("^/dev/(hidraw\\d+)$"));
    const QRegularExpressionMatch m = pattern.match(node);
    if (!m.hasMatch())
        return QString();
    return QStringLiteral("/sys/class/hidraw/%1/device/report_descriptor").arg(m.captured(1));
}

bool RealHidTransport::parseHidId(const QString &hidId, quint16 *vendorId, quint16 *productId, quint16 *bus)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8})$"));
    const QRegularExpressionMatch m = pattern.match(hidId.trimmed());
    if (!m.hasMatch())
        return false;
    bool ok[3] = {};
    const quint32 b = m.captured(1).toUInt(&ok[0], 16);
    const quint32 v = m.captured(2).toUInt(&ok[1], 16);
    const quint32 p = m.captured(3).toUInt(&ok[2], 16);
    // The kernel writes 32-bit fields, but USB identifiers are 16 bits: anything above is not one.
    if (!ok[0] || !ok[1] || !ok[2] || b > 0xFFFF || v > 0xFFFF || p > 0xFFFF)
        return false;
    if (vendorId)
        *vendorId = quint16(v);
    if (productId)
        *productId = quint16(p);
    if (bus)
        *bus = quint16(b);
    return true;
}

QByteArray RealHidTransport::peekReportDescriptor(const HidInterfaceInfo &info) const
{
    return readReportDescriptor(info.path, nullptr);
}

QByteArray RealHidTransport::readReportDescriptor(const QString &node, QString *error)
{
    const QString sysfs = descriptorPathForNode(node);
    if (!sysfs.isEmpty()) {
        QFile file(sysfs);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.read(HID_MAX_DESCRIPTOR_SIZE);
            if (!bytes.isEmpty())
                return bytes;
        }
    }
    const QByteArray path = node.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot read the report descriptor: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return QByteArray();
    }
    int size = 0;
    hidraw_report_descriptor desc{};
    QByteArray bytes;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
        desc.size = quint32(size);
        if (::ioctl(fd, HIDIOCGRDESC, &desc) == 0)
            bytes = QByteArray(reinterpret_cast<const char *>(desc.value), size);
    }
    const int e = errno;
    ::close(fd);
    if (bytes.isEmpty() && error)
        *error = QStringLiteral("cannot read the report descriptor: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(e)));
    return bytes;
}

bool RealHidTransport::startMonitoring()
{
    if (isMonitoring())
        return true;
    // Nodes present now can be told apart on removal too.
    enumerate();
    QString why;
    if (m_monitor.open("hidraw", nullptr, &why))
        return true;
    stopMonitoring();
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        qWarning().noquote() << QStringLiteral(
                                    "No udev monitor (%1): looking for HID devices every %2 s instead.")
                                    .arg(why)
                                    .arg(PollIntervalMs / 1000);
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        m_polled.insert(it.key(), nodeIdentity(it.key()));
    m_monitor.poll(PollIntervalMs);
    return true;
}

void RealHidTransport::stopMonitoring()
{
    // May be called from a handler of the poll's own tick.
    m_monitor.close();
    m_polled.clear();
}

QString RealHidTransport::nodeIdentity(const QString &node)
{
    const QString descriptor = descriptorPathForNode(node);
    if (descriptor.isEmpty())
        return QString();
    // ".../hidrawN/device/report_descriptor" -> ".../hidrawN/device"
    return QFileInfo(descriptor.left(descriptor.lastIndexOf(QLatin1Char('/')))).canonicalFilePath();
}

RealHidTransport::ScanChanges RealHidTransport::compareScans(const QHash<QString, QString> &before,
                                                             const QHash<QString, QString> &after)
{
    ScanChanges changes;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const auto now = after.constFind(it.key());
        if (now == after.cend() || *now != it.value())
            changes.removed.append(it.key());
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const auto then = before.constFind(it.key());
        if (then == before.cend() || *then != it.value())
            changes.arrived.append(it.key());
    }
    changes.removed.sort();
    changes.arrived.sort();
    return changes;
}

void RealHidTransport::rescan()
{
    QHash<QString, QString> now;
    QHash<QString, HidInterfaceInfo> infos;
    for (const HidInterfaceInfo &info : enumerateAll()) {
        now.insert(info.path, nodeIdentity(info.path));
        infos.insert(info.path, info);
    }
    const ScanChanges changes = compareScans(m_polled, now);
    m_polled = now;
    for (const QString &node : changes.removed) {
        HidInterfaceInfo info = m_known.take(node);
        info.path = node;
        Q_EMIT interfaceRemoved(info);
        if (!m_monitor.isPolling())
            return; // a handler stopped monitoring
    }
    for (const QString &node : changes.arrived) {
        const HidInterfaceInfo info = infos.value(node);
        m_known.insert(node, info);
        Q_EMIT interfaceArrived(info);
        if (!m_monitor.isPolling())
            return;
    }
}

HidInterfaceInfo RealHidTransport::infoForNode(const QString &node, void *device)
{
    for (const HidInterfaceInfo &info : enumerateAll()) {
        if (info.path == node)
            return info;
    }
    // hidapi could not describe it (it may be gone again already): take what udev knows.
    HidInterfaceInfo info;
    info.path = node;
    udev_device *hid =
        udev_device_get_parent_with_subsystem_devtype(static_cast<udev_device *>(device), "hid", nullptr);
    if (hid) {
        parseHidId(udevText(udev_device_get_property_value(hid, "HID_ID")), &info.vendorId, &info.productId);
        info.product = udevText(udev_device_get_property_value(hid, "HID_NAME"));
        info.serialNumber = udevText(udev_device_get_property_value(hid, "HID_UNIQ"));
    }
    return info;
}

void RealHidTransport::onMonitorReadable()
{
    udev_device *device = m_monitor.receive();
    if (!device)
        return;
    const QString action = udevText(udev_device_get_action(device));
    const QString node = udevText(udev_device_get_devnode(device));
    if (!node.isEmpty()) {
        if (action == QLatin1String("add")) {
            const HidInterfaceInfo info = infoForNode(node, device);
            m_known.insert(node, info);
            Q_EMIT interfaceArrived(info);
        } else if (action == QLatin1String("remove")) {
            HidInterfaceInfo info = m_known.take(node);
            info.path = node;
            Q_EMIT interfaceRemoved(info);
        }
    }
    udev_device_unref(device);
}
