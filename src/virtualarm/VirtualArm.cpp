#include "VirtualArm.h"

#include "HidValues.h"
#include "ProcessClock.h"

#include <QThread>

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
    : QObject(parent), m_transport(&transport)
{
    if (shape == Shape::TwoInterfaces) {
        const auto pair = transport.addSplitArm(true);
        m_interfaces = {pair.first, pair.second};
        m_commandInterface = pair.second;
    } else {
        m_commandInterface = transport.addArm(true);
        m_interfaces = {m_commandInterface};
    }
    m_commandPath = m_commandInterface->info.path;
    const HidParseResult parsed = parseReportDescriptor(m_commandInterface->descriptor);
    if (parsed.ok())
        m_layout = *parsed.layout;
    // Direct: the wire's state (lastCode) is right the moment the write returns, whichever thread wrote.
    connect(&transport, &VirtualHidTransport::reportWritten, this, &VirtualArm::onReportWritten,
            Qt::DirectConnection);
}

VirtualArm::VirtualArm(VirtualKitTransport &kits, const KitReversed &wiring, QObject *parent)
    : QObject(parent), m_kits(&kits), m_wiring(wiring)
{
    m_kit = kits.addKit(true);
    m_commandPath = m_kit->info.path;
    connect(&kits, &VirtualKitTransport::commandWritten, this, &VirtualArm::onKitCommandWritten,
            Qt::DirectConnection);
}

VirtualHidInterface *VirtualArm::armInterface() const
{
    return m_commandInterface;
}

void VirtualArm::plugIn()
{
    if (m_kit)
        m_kits->plug(m_kit->info.path);
    for (VirtualHidInterface *intf : m_interfaces)
        m_transport->plug(intf->info.path);
}

void VirtualArm::unplug()
{
    const bool wasPowered = isPluggedIn();
    if (m_kit)
        m_kits->unplug(m_kit->info.path);
    for (VirtualHidInterface *intf : m_interfaces)
        m_transport->unplug(intf->info.path);
    if (!wasPowered)
        return;
    m_light = false;
    const qint64 ns = ProcessClock::monotonicNs();
    if (m_lightTold) {
        m_lightTold = false;
        Q_EMIT lightChanged(false, ns);
    }
    Q_EMIT powerLost(ns);
}

bool VirtualArm::isPluggedIn() const
{
    return m_kit ? m_kit->isPlugged() : m_commandInterface->isPlugged();
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
    if (path != m_commandPath)
        return;
    // The ID byte of a device without report IDs never reaches the wire.
    const QByteArray deviceReport = m_layout.usesReportIds ? report : report.mid(1);
    receive(Received{decodeCommand(m_layout, deviceReport), monotonicNs, deviceReport, false});
}

void VirtualArm::onKitCommandWritten(const QString &path, const QByteArray &command, qint64 monotonicNs)
{
    if (path != m_commandPath)
        return;
    const KitCommand::Decoded decoded = KitCommand::decode(command, m_wiring);
    receive(Received{decoded.code, monotonicNs, command, decoded.light});
}

void VirtualArm::receive(const Received &received)
{
    m_lastCode = received.code;
    m_light = received.light;
    ++m_commandCount;
    const bool here = QThread::currentThread() == thread();
    {
        const std::lock_guard<std::mutex> lock(m_receivedMutex);
        m_received.append(received);
    }
    if (here) {
        deliverReceived(-1);
        return;
    }
    // One queued call per report, so that they interleave in order with whatever else the writing
    // thread sends this thread's way. Called by name: the report itself goes through the mutex.
    QMetaObject::invokeMethod(this, "deliverOne", Qt::QueuedConnection);
}

void VirtualArm::deliverOne()
{
    deliverReceived(1);
}

void VirtualArm::deliverReceived(int most)
{
    // A receiver that writes again lands here nested; the outer call emits it after what came before.
    if (m_delivering) {
        m_drainAll = true;
        return;
    }
    m_delivering = true;
    m_drainAll = most < 0;
    for (int delivered = 0; m_drainAll || delivered < most; ++delivered) {
        Received next;
        {
            const std::lock_guard<std::mutex> lock(m_receivedMutex);
            if (m_received.isEmpty())
                break;
            next = m_received.takeFirst();
        }
        if (next.light != m_lightTold) {
            m_lightTold = next.light;
            Q_EMIT lightChanged(next.light, next.monotonicNs);
        }
        Q_EMIT commandReceived(next.code, next.monotonicNs, next.report);
    }
    m_delivering = false;
}
