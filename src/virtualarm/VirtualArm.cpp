#include "VirtualArm.h"

#include "HidValues.h"
#include "ProcessClock.h"

namespace {

const HidVariable *commandVariable(const HidReportLayout &layout)
{
    for (const HidVariable &v : layout.variables) {
        if (v.type == HidReportType::Output && v.usagePage == 0x01 && v.usage == 0x3E)
            return &v;
    }
    return nullptr;
}

} // namespace

VirtualArm::VirtualArm(VirtualHidTransport &transport, QObject *parent)
    : VirtualArm(transport, Shape::OneInterface, parent)
{
}

VirtualArm::VirtualArm(VirtualHidTransport &transport, Shape shape, QObject *parent)
    : QObject(parent), m_transport(transport)
{
    if (shape == Shape::TwoInterfaces) {
        const auto pair = transport.addSplitArm(true);
        m_interfaces = {pair.first, pair.second};
        m_commandInterface = pair.second;
    } else {
        m_commandInterface = transport.addArm(true);
        m_interfaces = {m_commandInterface};
    }
    const HidParseResult parsed = parseReportDescriptor(m_commandInterface->descriptor);
    if (parsed.ok())
        m_layout = *parsed.layout;
    connect(&transport, &VirtualHidTransport::reportWritten, this, &VirtualArm::onReportWritten);
}

VirtualHidInterface *VirtualArm::armInterface() const
{
    return m_commandInterface;
}

void VirtualArm::plugIn()
{
    for (VirtualHidInterface *intf : m_interfaces)
        m_transport.plug(intf->info.path);
}

void VirtualArm::unplug()
{
    const bool wasPowered = isPluggedIn();
    for (VirtualHidInterface *intf : m_interfaces)
        m_transport.unplug(intf->info.path);
    if (wasPowered)
        Q_EMIT powerLost(ProcessClock::monotonicNs());
}

bool VirtualArm::isPluggedIn() const
{
    return m_commandInterface->isPlugged();
}

int VirtualArm::decodeCommand(const HidReportLayout &layout, const QByteArray &deviceReport)
{
    const HidVariable *v = commandVariable(layout);
    if (!v)
        return -1;
    const int byteOffset = layout.usesReportIds ? 1 : 0;
    if (layout.usesReportIds && (deviceReport.isEmpty() || quint8(deviceReport.at(0)) != v->reportId))
        return -1;
    const QByteArrayView data =
        QByteArrayView(deviceReport).sliced(qMin<qsizetype>(byteOffset, deviceReport.size()));
    if ((v->bitOffset + v->bitSize + 7) / 8 > data.size())
        return -1;
    return int(HidValues::getRaw(data, v->bitOffset, v->bitSize, v->isSigned()));
}

void VirtualArm::onReportWritten(const QString &path, const QByteArray &report, qint64 monotonicNs)
{
    if (path != m_commandInterface->info.path)
        return;
    // The ID byte of a device without report IDs never reaches the wire.
    const QByteArray deviceReport = m_layout.usesReportIds ? report : report.mid(1);
    const int code = decodeCommand(m_layout, deviceReport);
    m_lastCode = code;
    ++m_commandCount;
    Q_EMIT commandReceived(code, monotonicNs, deviceReport);
}
