#include "VirtualHidTransport.h"

#include "ArmUsbIds.h"
#include "ProcessClock.h"

#include <algorithm>

namespace {

QString text(const char *s)
{
    return QString::fromLatin1(s);
}

// How long a device with a writer thread may take a report before its connection has stalled; a
// device node's bound.
constexpr int StallBoundMs = 250;

} // namespace

class VirtualHidConnection : public VirtualConnection<HidConnection>
{
public:
    VirtualHidConnection(VirtualHidTransport *transport, VirtualHidInterface *intf)
        : VirtualConnection(
              intf,
              [transport, intf, generation = intf->generation()](const QByteArray &report) {
                  return intf->deliver(generation, [&] { record(transport, intf, report, HidReportType::Output); });
              },
              text("the device has stopped taking reports"), StallBoundMs),
          m_transport(transport), m_intf(intf)
    {
    }

    QByteArray reportDescriptor() const override { return m_intf->descriptor; }

    static void record(VirtualHidTransport *transport, VirtualHidInterface *intf, const QByteArray &report,
                       HidReportType type)
    {
        const qint64 ns = ProcessClock::monotonicNs();
        if (type == HidReportType::Feature)
            intf->m_feature.insert(quint8(report.at(0)), report);
        intf->written.append(WrittenReport{report, ns, type});
        if (type == HidReportType::Output)
            Q_EMIT transport->reportWritten(intf->info.path, report, ns);
    }

    bool readInputReport(QByteArray &report, int, QString *error) override
    {
        if (!usable(error))
            return false;
        if (m_intf->m_failRead) {
            m_intf->m_failRead = false;
            return fail(error, text("read failed (simulated)"));
        }
        if (m_intf->m_input.isEmpty())
            return fail(error, text("timed out waiting for an input report"));
        report = m_intf->m_input.dequeue();
        return true;
    }

    bool sendFeatureReport(const QByteArray &report, QString *error) override
    {
        if (!usable(error))
            return false;
        if (report.isEmpty())
            return fail(error, text("empty report"));
        return delivered(m_intf->deliver(generation(),
                                         [&] { record(m_transport, m_intf, report, HidReportType::Feature); }),
                         error);
    }

    bool getFeatureReport(QByteArray &report, QString *error) override
    {
        if (!usable(error))
            return false;
        if (m_intf->m_failRead) {
            m_intf->m_failRead = false;
            return fail(error, text("feature read failed (simulated)"));
        }
        const int id = report.isEmpty() ? 0 : quint8(report.at(0));
        const auto it = m_intf->m_feature.constFind(id);
        if (it == m_intf->m_feature.cend())
            return fail(error, text("no such feature report"));
        report = *it;
        return true;
    }

    QString indexedString(int index) const override { return m_intf->strings.value(index); }

private:
    VirtualHidTransport *m_transport;
    VirtualHidInterface *m_intf;
};

void VirtualHidInterface::queueInputReport(const QByteArray &report)
{
    m_input.enqueue(report);
}

void VirtualHidInterface::setFeatureReport(const QByteArray &report)
{
    if (!report.isEmpty())
        m_feature.insert(quint8(report.at(0)), report);
}

void VirtualHidInterface::failNextRead()
{
    m_failRead = true;
}

VirtualHidTransport::~VirtualHidTransport() = default;

VirtualHidInterface *VirtualHidTransport::find(const QString &path) const
{
    const auto it = std::find_if(m_interfaces.begin(), m_interfaces.end(),
                                 [&](const auto &intf) { return intf->info.path == path; });
    return it == m_interfaces.end() ? nullptr : it->get();
}

QList<HidInterfaceInfo> VirtualHidTransport::enumerate()
{
    QList<HidInterfaceInfo> result;
    for (const auto &intf : m_interfaces) {
        if (intf->isPlugged())
            result.append(intf->info);
    }
    return result;
}

QByteArray VirtualHidTransport::peekReportDescriptor(const HidInterfaceInfo &info) const
{
    const VirtualHidInterface *intf = find(info.path);
    return intf && intf->isPlugged() ? intf->descriptor : QByteArray();
}

std::unique_ptr<HidConnection> VirtualHidTransport::open(const HidInterfaceInfo &info, QString *error,
                                                         OpenFailure *failure)
{
    VirtualHidInterface *intf = find(info.path);
    QString why = QStringLiteral("%1: no such device").arg(info.path);
    const OpenFailure refused = intf ? intf->refusal(info.path, &why) : OpenFailure::NotFound;
    if (failure)
        *failure = refused;
    if (refused == OpenFailure::None)
        return std::make_unique<VirtualHidConnection>(this, intf);
    if (error)
        *error = why;
    return nullptr;
}

bool VirtualHidTransport::startMonitoring()
{
    m_monitoring = true;
    return true;
}

void VirtualHidTransport::stopMonitoring()
{
    m_monitoring = false;
}

VirtualHidInterface *VirtualHidTransport::addInterface(const HidInterfaceInfo &info,
                                                       const QByteArray &descriptor, bool plugged)
{
    auto intf = std::make_unique<VirtualHidInterface>();
    intf->info = info;
    if (intf->info.path.isEmpty()) {
        do
            intf->info.path = QStringLiteral("virtual/hid%1").arg(m_nextPath++);
        while (find(intf->info.path));
    } else if (find(info.path)) {
        return nullptr;
    }
    intf->descriptor = descriptor;
    VirtualHidInterface *raw = intf.get();
    m_interfaces.push_back(std::move(intf));
    if (plugged)
        plug(raw->info.path);
    return raw;
}

void VirtualHidTransport::plug(const QString &path)
{
    VirtualHidInterface *intf = find(path);
    if (intf && intf->setPlugged(true) && m_monitoring)
        Q_EMIT interfaceArrived(intf->info);
}

void VirtualHidTransport::unplug(const QString &path)
{
    VirtualHidInterface *intf = find(path);
    if (intf && intf->setPlugged(false) && m_monitoring)
        Q_EMIT interfaceRemoved(intf->info);
}

void VirtualHidTransport::unplugUnannounced(const QString &path)
{
    if (VirtualHidInterface *intf = find(path))
        intf->setPlugged(false);
}

VirtualHidInterface *VirtualHidTransport::interface(const QString &path)
{
    return find(path);
}

QList<VirtualHidInterface *> VirtualHidTransport::interfaces() const
{
    QList<VirtualHidInterface *> result;
    for (const auto &intf : m_interfaces)
        result.append(intf.get());
    return result;
}

HidInterfaceInfo VirtualHidTransport::armInfo(const QString &path, int interfaceNumber)
{
    HidInterfaceInfo info;
    info.path = path;
    info.vendorId = ArmUsbIds::HidVendorId;
    info.productId = ArmUsbIds::HidProductId;
    info.releaseNumber = 0x0100;
    info.manufacturer = QStringLiteral("Tessaro");
    info.product = QStringLiteral("Robotic Arm (virtual)");
    info.interfaceNumber = interfaceNumber;
    return info;
}

VirtualHidInterface *VirtualHidTransport::addArm(bool plugged)
{
    int n = 0;
    while (find(QStringLiteral("virtual/arm%1").arg(n)))
        ++n;
    return addInterface(armInfo(QStringLiteral("virtual/arm%1").arg(n)), armReportDescriptor(), plugged);
}

QPair<VirtualHidInterface *, VirtualHidInterface *> VirtualHidTransport::addSplitArm(bool plugged)
{
    int n = 0;
    while (find(QStringLiteral("virtual/splitarm%1.0").arg(n)))
        ++n;
    VirtualHidInterface *in = addInterface(armInfo(QStringLiteral("virtual/splitarm%1.0").arg(n), 0),
                                           armInputReportDescriptor(), plugged);
    VirtualHidInterface *out = addInterface(armInfo(QStringLiteral("virtual/splitarm%1.1").arg(n), 1),
                                            armOutputReportDescriptor(), plugged);
    return {in, out};
}

VirtualHidInterface *VirtualHidTransport::addNumbered(const QString &stem, HidInterfaceInfo info,
                                                      const QByteArray &descriptor, bool plugged)
{
    int n = 0;
    while (find(stem + QString::number(n)))
        ++n;
    info.path = stem + QString::number(n);
    info.interfaceNumber = 0;
    return addInterface(info, descriptor, plugged);
}

VirtualHidInterface *VirtualHidTransport::addOtherDevice(bool plugged)
{
    HidInterfaceInfo info;
    info.vendorId = MouseVendorId;
    info.productId = MouseProductId;
    info.releaseNumber = 0x0200;
    info.manufacturer = QStringLiteral("Pointer Works");
    info.product = QStringLiteral("Optical Mouse (virtual)");
    return addNumbered(QStringLiteral("virtual/mouse"), info, mouseReportDescriptor(), plugged);
}

namespace {

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    out.reserve(qsizetype(list.size()));
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

} // namespace

// No report IDs: input report = X, Y (one byte each); output report = the command code (one byte).
QByteArray VirtualHidTransport::armReportDescriptor()
{
    return bytes({
        0x05, 0x01,       // Usage Page (Generic Desktop)
        0x09, 0x00,       // Usage (Undefined)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x01,       //   Report Count (1)
        0x09, 0x30,       //   Usage (X)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x09, 0x31,       //   Usage (Y)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x09, 0x3E,       //   Usage (0x3E)
        0x91, 0x02,       //   Output (Data, Variable, Absolute)
        0xC0,             // End Collection
    });
}

QByteArray VirtualHidTransport::armInputReportDescriptor()
{
    return bytes({
        0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, // X
        0x09, 0x31, 0x81, 0x02,                               // Y
        0xC0,
    });
}

QByteArray VirtualHidTransport::armOutputReportDescriptor()
{
    return bytes({
        0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x95, 0x01, 0x09, 0x3E, 0x91, 0x02, // command code
        0xC0,
    });
}

VirtualHidInterface *VirtualHidTransport::addGamepad(bool plugged)
{
    HidInterfaceInfo info;
    info.vendorId = GamepadVendorId;
    info.productId = GamepadProductId;
    info.releaseNumber = 0x0100;
    info.manufacturer = QStringLiteral("Playfield");
    info.product = QStringLiteral("Dual Stick Pad (virtual)");
    return addNumbered(QStringLiteral("virtual/pad"), info, gamepadReportDescriptor(), plugged);
}

QByteArray VirtualHidTransport::gamepadReport(quint8 x, quint8 y, quint8 rz, quint8 hat, quint16 buttons)
{
    QByteArray report(6, '\0');
    report[1] = char(x);
    report[2] = char(y);
    report[3] = char(rz);
    report[4] = char((hat & 0x0F) | ((buttons & 0x0F) << 4));
    report[5] = char((buttons >> 4) & 0x3F);
    return report;
}

QByteArray VirtualHidTransport::gamepadReportDescriptor()
{
    return bytes({
        0x05, 0x01,       // Usage Page (Generic Desktop)
        0x09, 0x05,       // Usage (Game Pad)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x03,       //   Report Count (3)
        0x09, 0x30,       //   Usage (X)
        0x09, 0x31,       //   Usage (Y)
        0x09, 0x35,       //   Usage (Rz)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x09, 0x39,       //   Usage (Hat Switch)
        0x25, 0x07,       //   Logical Maximum (7)
        0x35, 0x00,       //   Physical Minimum (0)
        0x46, 0x3B, 0x01, //   Physical Maximum (315)
        0x65, 0x14,       //   Unit (degrees)
        0x75, 0x04,       //   Report Size (4)
        0x95, 0x01,       //   Report Count (1)
        0x81, 0x42,       //   Input (Data, Variable, Absolute, Null State)
        0x65, 0x00,       //   Unit (none)
        0x05, 0x09,       //   Usage Page (Button)
        0x19, 0x01,       //   Usage Minimum (1)
        0x29, 0x0A,       //   Usage Maximum (10)
        0x25, 0x01,       //   Logical Maximum (1)
        0x75, 0x01,       //   Report Size (1)
        0x95, 0x0A,       //   Report Count (10)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x75, 0x02,       //   Report Size (2)
        0x95, 0x01,       //   Report Count (1)
        0x81, 0x03,       //   Input (Constant)
        0xC0,             // End Collection
    });
}

// The usual boot-style mouse: three buttons, five bits of padding, relative X and Y.
QByteArray VirtualHidTransport::mouseReportDescriptor()
{
    return bytes({
        0x05, 0x01, // Usage Page (Generic Desktop)
        0x09, 0x02, // Usage (Mouse)
        0xA1, 0x01, // Collection (Application)
        0x09, 0x01, //   Usage (Pointer)
        0xA1, 0x00, //   Collection (Physical)
        0x05, 0x09, //     Usage Page (Button)
        0x19, 0x01, //     Usage Minimum (1)
        0x29, 0x03, //     Usage Maximum (3)
        0x15, 0x00, //     Logical Minimum (0)
        0x25, 0x01, //     Logical Maximum (1)
        0x95, 0x03, //     Report Count (3)
        0x75, 0x01, //     Report Size (1)
        0x81, 0x02, //     Input (Data, Variable, Absolute)
        0x95, 0x01, //     Report Count (1)
        0x75, 0x05, //     Report Size (5)
        0x81, 0x03, //     Input (Constant)
        0x05, 0x01, //     Usage Page (Generic Desktop)
        0x09, 0x30, //     Usage (X)
        0x09, 0x31, //     Usage (Y)
        0x15, 0x81, //     Logical Minimum (-127)
        0x25, 0x7F, //     Logical Maximum (127)
        0x75, 0x08, //     Report Size (8)
        0x95, 0x02, //     Report Count (2)
        0x81, 0x06, //     Input (Data, Variable, Relative)
        0xC0,       //   End Collection
        0xC0,       // End Collection
    });
}
