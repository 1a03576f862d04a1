#include "HidArmLink.h"

#include "ArmDeviceList.h"
#include "ArmMotion.h"
#include "ArmUsbIds.h"
#include "HIDagentX.h"
#include "TVantor.h"

#include <QMetaObject>

#include <utility>

// A call of the link's own: what the component's events collect meanwhile is told once it ends, with
// the component's lock released.
class HidArmLink::Serving
{
public:
    explicit Serving(HidArmLink &link) : m_link(link) { ++m_link.m_serving; }
    ~Serving()
    {
        if (--m_link.m_serving == 0)
            m_link.tell();
    }
    Serving(const Serving &) = delete;
    Serving &operator=(const Serving &) = delete;

private:
    HidArmLink &m_link;
};

HidArmLink::HidArmLink(HidTransport *transport, QObject *parent)
    : ArmLink(parent), m_agent(std::make_unique<HIDagentX>(transport)),
      m_devices(std::make_unique<ArmDeviceList>(*m_agent, this))
{
    // Design-time settings of the component.
    m_agent->SetLogFile(QStringLiteral("HidLog.txt"));
    m_agent->SetLogging(false);
    m_agent->SetTimeOut(3000);
    HIDagentX *agent = m_agent.get();
    connect(agent, &HIDagentX::OnIntfOpened, this,
            [this](int index, int handle, int, const QString &) { onIntfOpened(index, handle); });
    connect(agent, &HIDagentX::OnIntfClosed, this, &HidArmLink::onIntfClosed);
    connect(agent, &HIDagentX::OnRptArrived, this, [this](int inIntf, int all) {
        tolerate([&] { m_devices->OnRptArrived(inIntf, all); });
    });
    connect(agent, &HIDagentX::OnOpenDenied, this, [this](const HidInterfaceInfo &info, const QString &reason) {
        collect(Event{Event::Denied, info.path, 0, reason});
    });
    connect(agent, &HIDagentX::OnWriteStalled, this, [this](int handle, const QString &) { onWriteStalled(handle); });
    connect(agent, &HIDagentX::OnDeviceArrival, this, &HidArmLink::onArrival);
    // After the component's own handlers of the same notifications (made with it, above), so these run
    // once it has let go of its lock: what its events collected is told here.
    connect(transport, &HidTransport::interfaceArrived, this, [this] { tell(); });
    connect(transport, &HidTransport::interfaceRemoved, this, [this] { tell(); });
}

HidArmLink::~HidArmLink()
{
    // The component closes its interfaces when it goes; nobody is left to tell.
    blockSignals(true);
    m_agent->disconnect(this);
}

bool HidArmLink::deviceNameMatches(const QString &deviceName) const
{
    const QString name = deviceName.trimmed().toUpper();
    if (name.isEmpty())
        return false;
    return name.contains(m_identity, Qt::CaseSensitive);
}

void HidArmLink::start()
{
    const Serving serving(*this);
    tolerate([this] {
        m_agent->SetShowOperations(false);
        m_agent->SetVerbose(false);
        m_agent->StartAgent();
    });
    tolerate([this] {
        m_agent->SetVID_To_Match(ArmUsbIds::HidVendorId);
        m_agent->SetPID_To_Match(ArmUsbIds::HidProductId);
        m_agent->SetSearchOnPID(true);
        m_agent->SetSearchOnVID(true);
        m_agent->OpenMatchingIntfs();
    });
}

void HidArmLink::stop()
{
    const Serving serving(*this);
    tolerate([this] { m_agent->StopAgent(); });
}

int HidArmLink::armCount() const
{
    const auto guard = m_agent->lock();
    int count = 0;
    for (int i = 0; i < m_agent->IntfCount(); ++i) {
        if (deviceNameMatches(m_agent->IntfInfoAt(i).deviceName()))
            ++count;
    }
    return count;
}

QStringList HidArmLink::describeArms() const
{
    const auto guard = m_agent->lock();
    QStringList arms;
    for (int i = 0; i < m_agent->IntfCount(); ++i) {
        const HidInterfaceInfo info = m_agent->IntfInfoAt(i);
        if (deviceNameMatches(info.deviceName()))
            arms << QStringLiteral("HID board %1:%2, %3")
                        .arg(info.vendorId, 4, 16, QLatin1Char('0'))
                        .arg(info.productId, 4, 16, QLatin1Char('0'))
                        .arg(info.path);
    }
    return arms;
}

QList<GuardTarget> HidArmLink::stopTargets(bool asLogged) const
{
    const auto guard = m_agent->lock();
    QList<GuardTarget> targets;
    for (int i = 1; i <= m_devices->Count(); ++i) {
        QString path;
        bool numbered = false;
        // The output report with code 0 as the arm would be written it.
        const QByteArray report = m_devices->Item(i)->OutputRptBWith(0, &path, &numbered);
        if (report.isEmpty())
            continue;
        // A device without report IDs never sees the ID byte, nor does its log.
        targets << GuardTarget{GuardTarget::Kind::Hid, path, !asLogged || numbered ? report : report.mid(1)};
    }
    return targets;
}

QString HidArmLink::severalRefusal() const
{
    return QStringLiteral("the HID board drives one motor at a time: several at once need the USB interface kit");
}

ArmLink::Sent HidArmLink::send(qint16 code, const ArmIds *only)
{
    Sent sent;
    if (armCodeCombined(code)) {
        sent.allTook = false;
        sent.error = severalRefusal();
        return sent;
    }
    const auto guard = m_agent->lock();
    const int listed = m_devices->Count();
    try {
        sent.allTook = m_devices->SendToAll(code, &sent.error, &sent.failed, only);
    } catch (const std::exception &e) {
        sent.error = QString::fromLocal8Bit(e.what());
        sent.allTook = false;
        // Served again, none of them is known to have taken it.
        if (only)
            sent.failed = *only;
    }
    sent.took = listed - int(sent.failed.size());
    return sent;
}

void HidArmLink::onIntfOpened(int index, int handle)
{
    tolerate([this] { m_devices->OnIntfOpened(); });
    const QString path = m_agent->IntfInfoAt(index).path;
    m_paths.insert(handle, path);
    collect(Event{Event::Opened, path, 0, QString()});
}

void HidArmLink::onIntfClosed(int stillOpen, const QString &name, int handle)
{
    tolerate([&] { m_devices->OnIntfClosed(stillOpen, name, handle); });
    collect(Event{Event::Closed, m_paths.take(handle), stillOpen, QString()});
}

void HidArmLink::onWriteStalled(int handle)
{
    // Told while the interface is still open: its device objects are handed the stop, which waits
    // behind the report the device is stuck on and goes out should it ever take that one.
    ArmIds stalled;
    tolerate([&] {
        for (int i = 1; i <= m_devices->Count(); ++i) {
            if (m_devices->Item(i)->HasHandle(handle))
                stalled.append(quint64(m_devices->Item(i)->ClassDebugID()));
        }
    });
    tolerate([&] { m_devices->SendToAll(0, nullptr, nullptr, &stalled); });
    collect(Event{Event::Stalled, m_paths.value(handle), 0, QString()});
}

void HidArmLink::onArrival()
{
    // Another interface may be the arm's. Inside the component's hot-plug handler, under its lock: what
    // this opens is told by the link's own handler of the same notification, which runs next.
    tolerate([this] { m_agent->OpenMatchingIntfs(); });
}

void HidArmLink::collect(const Event &event)
{
    m_events.append(event);
    // Not inside a call of the link's own: the component closed an interface from its event loop.
    if (m_serving == 0 && !m_tellPosted) {
        m_tellPosted = true;
        QMetaObject::invokeMethod(this, "tell", Qt::QueuedConnection);
    }
}

void HidArmLink::tell()
{
    m_tellPosted = false;
    const QList<Event> events = std::exchange(m_events, {});
    for (const Event &e : events) {
        switch (e.kind) {
        case Event::Opened:
            Q_EMIT armOpened(e.path);
            break;
        case Event::Closed:
            Q_EMIT armClosed(e.path, e.stillOpen);
            break;
        case Event::Denied:
            Q_EMIT openDenied(e.path, e.reason);
            break;
        case Event::Stalled:
            Q_EMIT writeStalled(e.path);
            break;
        }
    }
}
