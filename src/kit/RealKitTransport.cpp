#include "RealKitTransport.h"

#include "ArmUsbIds.h"
#include "BoundedWriter.h"
#include "KitCommand.h"
#include "RealHidTransport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <libudev.h>
#include <libusb.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// One libusb context for the process, made on the first open and ended with the last connection.
// It discovers nothing: the program lists kits itself and hands libusb the descriptor it opened.
std::shared_ptr<libusb_context> sharedContext(QString *error)
{
    static std::mutex lock;
    static std::weak_ptr<libusb_context> current;
    const std::lock_guard<std::mutex> guard(lock);
    if (std::shared_ptr<libusb_context> ctx = current.lock())
        return ctx;
    libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
    libusb_context *raw = nullptr;
    const int r = libusb_init(&raw);
    if (r != LIBUSB_SUCCESS) {
        *error = QStringLiteral("libusb: %1").arg(QString::fromUtf8(libusb_strerror(r)));
        return {};
    }
    std::shared_ptr<libusb_context> ctx(raw, libusb_exit);
    current = ctx;
    return ctx;
}

int errnoFromLibusb(int r)
{
    switch (r) {
    case LIBUSB_ERROR_NO_DEVICE:
        return ENODEV;
    case LIBUSB_ERROR_ACCESS:
        return EACCES;
    case LIBUSB_ERROR_TIMEOUT:
        return ETIMEDOUT;
    case LIBUSB_ERROR_PIPE:
        return EPIPE;
    case LIBUSB_ERROR_BUSY:
        return EBUSY;
    case LIBUSB_ERROR_INTERRUPTED:
        return EINTR;
    case LIBUSB_ERROR_NO_MEM:
        return ENOMEM;
    case LIBUSB_ERROR_NOT_FOUND:
        return ENOENT;
    default:
        return EIO;
    }
}

// The open device: its usbfs descriptor and libusb's handle on it, released by whoever lets go last
// (the writer thread may outlive the connection).
struct OpenKit
{
    std::shared_ptr<libusb_context> context;
    libusb_device_handle *handle = nullptr;
    int fd = -1;
    std::atomic<bool> gone{false};

    ~OpenKit()
    {
        if (handle)
            libusb_close(handle);
        if (fd >= 0)
            ::close(fd);
    }

    int transfer(const QByteArray &command)
    {
        QByteArray data = command;
        const int r =
            libusb_control_transfer(handle, KitCommand::RequestType, KitCommand::Request, KitCommand::Value,
                                    KitCommand::Index, reinterpret_cast<unsigned char *>(data.data()),
                                    quint16(data.size()), RealKitTransport::TransferTimeoutMs);
        if (r == data.size())
            return 0;
        const int error = r < 0 ? errnoFromLibusb(r) : EIO;
        if (error == ENODEV)
            gone.store(true);
        return error;
    }
};

class RealKitConnection : public KitConnection
{
public:
    explicit RealKitConnection(std::shared_ptr<OpenKit> kit)
        : m_kit(kit), m_writer([kit](const QByteArray &command) { return kit->transfer(command); },
                               RealKitTransport::WriteBoundMs)
    {
    }

    bool write(const QByteArray &command, QString *error) override
    {
        if (m_kit->gone.load())
            return fail(error, QStringLiteral("device disconnected"));
        // A transfer that finds the kit gone marks it so itself.
        return m_writer.handOver(command, error,
                                 QStringLiteral("the device has not taken a command for over %1 ms")
                                     .arg(RealKitTransport::WriteBoundMs));
    }

    bool deviceGone() const override { return m_kit->gone.load(); }
    void setStallHandler(std::function<void()> handler) override
    {
        m_writer.setStallHandler(std::move(handler));
    }
    bool drain(qint64 deadlineNs) override { return m_writer.drain(deadlineNs); }

private:
    static bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    std::shared_ptr<OpenKit> m_kit;
    BoundedWriter m_writer;
};

QString readAttribute(const QString &dir, const char *name)
{
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).trimmed();
}

QString udevText(const char *s)
{
    return s ? QString::fromUtf8(s).trimmed() : QString();
}

} // namespace

RealKitTransport::RealKitTransport(QObject *parent)
    : RealKitTransport(QStringLiteral("/sys"), QStringLiteral("/dev"), parent)
{
}

RealKitTransport::RealKitTransport(const QString &sysfsRoot, const QString &devRoot, QObject *parent)
    : KitTransport(parent), m_sysfsRoot(sysfsRoot), m_devRoot(devRoot)
{
    connect(&m_monitor, &UdevMonitor::readable, this, &RealKitTransport::onMonitorReadable);
    connect(&m_monitor, &UdevMonitor::pollDue, this, &RealKitTransport::rescan);
}

RealKitTransport::~RealKitTransport()
{
    stopMonitoring();
}

QString RealKitTransport::nodePath(const QString &devRoot, int busNumber, int address)
{
    return QStringLiteral("%1/bus/usb/%2/%3")
        .arg(devRoot)
        .arg(busNumber, 3, 10, QLatin1Char('0'))
        .arg(address, 3, 10, QLatin1Char('0'));
}

bool RealKitTransport::parseProductProperty(const QString &product, quint16 *vendorId, quint16 *productId)
{
    const QStringList parts = product.trimmed().split(QLatin1Char('/'));
    if (parts.size() != 3)
        return false;
    bool okVendor = false;
    bool okProduct = false;
    const uint v = parts[0].toUInt(&okVendor, 16);
    const uint p = parts[1].toUInt(&okProduct, 16);
    if (!okVendor || !okProduct || v > 0xFFFF || p > 0xFFFF)
        return false;
    *vendorId = quint16(v);
    *productId = quint16(p);
    return true;
}

KitDeviceInfo RealKitTransport::infoFromSysfs(const QString &dir) const
{
    KitDeviceInfo info;
    bool ok[4] = {};
    const uint vendor = readAttribute(dir, "idVendor").toUInt(&ok[0], 16);
    const uint product = readAttribute(dir, "idProduct").toUInt(&ok[1], 16);
    info.busNumber = readAttribute(dir, "busnum").toInt(&ok[2]);
    info.address = readAttribute(dir, "devnum").toInt(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || vendor > 0xFFFF || product > 0xFFFF)
        return KitDeviceInfo();
    info.vendorId = quint16(vendor);
    info.productId = quint16(product);
    info.path = nodePath(m_devRoot, info.busNumber, info.address);
    info.sysPath = QFileInfo(dir).canonicalFilePath();
    info.manufacturer = readAttribute(dir, "manufacturer");
    info.product = readAttribute(dir, "product");
    info.serialNumber = readAttribute(dir, "serial");
    return info;
}

QList<KitDeviceInfo> RealKitTransport::enumerateUsb() const
{
    QList<KitDeviceInfo> result;
    const QDir devices(m_sysfsRoot + QStringLiteral("/bus/usb/devices"));
    // Interfaces ("1-1:1.0") have no identifiers of their own and are passed over.
    const QStringList names = devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &name : names) {
        const KitDeviceInfo info = infoFromSysfs(devices.filePath(name));
        if (!info.path.isEmpty())
            result.append(info);
    }
    return result;
}

QList<KitDeviceInfo> RealKitTransport::enumerate()
{
    QList<KitDeviceInfo> kits;
    for (const KitDeviceInfo &info : enumerateUsb()) {
        if (ArmUsbIds::isKit(info.vendorId, info.productId)) {
            kits.append(info);
            m_known.insert(info.path, info);
        }
    }
    return kits;
}

std::unique_ptr<KitConnection> RealKitTransport::open(const KitDeviceInfo &info, QString *error,
                                                      DeviceOpenFailure *failure)
{
    auto refuse = [&](DeviceOpenFailure kind, const QString &message) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(info.path, message);
        if (failure)
            *failure = kind;
        return std::unique_ptr<KitConnection>();
    };
    const QByteArray node = info.path.toLocal8Bit();
    // Opened here rather than by libusb, so that a refusal keeps its errno: no permission is told as
    // a HID arm's is.
    const int fd = ::open(node.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        return refuse(RealHidTransport::failureFromErrno(e), QString::fromLocal8Bit(std::strerror(e)));
    }
    auto kit = std::make_shared<OpenKit>();
    kit->fd = fd;
    QString why;
    kit->context = sharedContext(&why);
    if (!kit->context)
        return refuse(DeviceOpenFailure::Other, why);
    const int r = libusb_wrap_sys_device(kit->context.get(), intptr_t(fd), &kit->handle);
    if (r != LIBUSB_SUCCESS) {
        kit->handle = nullptr;
        const int e = errnoFromLibusb(r);
        return refuse(RealHidTransport::failureFromErrno(e),
                      QStringLiteral("libusb: %1").arg(QString::fromUtf8(libusb_strerror(r))));
    }
    if (failure)
        *failure = DeviceOpenFailure::None;
    return std::make_unique<RealKitConnection>(std::move(kit));
}

bool RealKitTransport::startMonitoring()
{
    if (isMonitoring())
        return true;
    m_known.clear();
    enumerate();
    QString why;
    if (m_monitor.open("usb", "usb_device", &why))
        return true;
    const QHash<QString, KitDeviceInfo> known = m_known;
    stopMonitoring();
    m_known = known;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        qWarning().noquote()
            << QStringLiteral("No udev monitor (%1): looking for USB interface kits every %2 s instead.")
                   .arg(why)
                   .arg(PollIntervalMs / 1000);
    m_monitor.poll(PollIntervalMs);
    return true;
}

void RealKitTransport::stopMonitoring()
{
    // May be called from a handler of the poll's own tick.
    m_monitor.close();
}

void RealKitTransport::rescan()
{
    QHash<QString, KitDeviceInfo> now;
    for (const KitDeviceInfo &info : enumerateUsb()) {
        if (ArmUsbIds::isKit(info.vendorId, info.productId))
            now.insert(info.path, info);
    }
    // The path holds the address, which is new for every plugging in: a path is one device.
    QStringList removed;
    QStringList arrived;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
        if (!now.contains(it.key()))
            removed.append(it.key());
    }
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (!m_known.contains(it.key()))
            arrived.append(it.key());
    }
    removed.sort();
    arrived.sort();
    // A handler may stop the polling: what is left is told no more.
    const bool polling = m_monitor.isPolling();
    for (const QString &path : removed) {
        const KitDeviceInfo info = m_known.take(path);
        Q_EMIT deviceRemoved(info);
        if (polling && !m_monitor.isPolling())
            return;
    }
    for (const QString &path : arrived) {
        m_known.insert(path, now.value(path));
        Q_EMIT deviceArrived(now.value(path));
        if (polling && !m_monitor.isPolling())
            return;
    }
}

void RealKitTransport::onMonitorReadable()
{
    udev_device *device = m_monitor.receive();
    if (!device)
        return;
    const QString action = udevText(udev_device_get_action(device));
    const QString node = udevText(udev_device_get_devnode(device));
    if (action == QLatin1String("add") && !node.isEmpty()) {
        KitDeviceInfo info;
        const bool known = parseProductProperty(udevText(udev_device_get_property_value(device, "PRODUCT")),
                                                &info.vendorId, &info.productId);
        if (known && ArmUsbIds::isKit(info.vendorId, info.productId)) {
            info.path = node;
            info.busNumber = udevText(udev_device_get_property_value(device, "BUSNUM")).toInt();
            info.address = udevText(udev_device_get_property_value(device, "DEVNUM")).toInt();
            info.sysPath = udevText(udev_device_get_syspath(device));
            info.manufacturer = udevText(udev_device_get_sysattr_value(device, "manufacturer"));
            info.product = udevText(udev_device_get_sysattr_value(device, "product"));
            info.serialNumber = udevText(udev_device_get_sysattr_value(device, "serial"));
            m_known.insert(node, info);
            udev_device_unref(device);
            Q_EMIT deviceArrived(info);
            return;
        }
    } else if (action == QLatin1String("remove") && m_known.contains(node)) {
        const KitDeviceInfo info = m_known.take(node);
        udev_device_unref(device);
        Q_EMIT deviceRemoved(info);
        return;
    }
    udev_device_unref(device);
}
