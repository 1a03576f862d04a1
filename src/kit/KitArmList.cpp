#include "KitArmList.h"

#include "ArmMotion.h"

#include "ProcessClock.h"

#include <QMetaObject>

#include <algorithm>

struct KitArmList::Arm
{
    KitDeviceInfo info;
    std::unique_ptr<KitConnection> connection;
    quint64 serial = 0; // tells a kit from a later one at the same path
};

struct KitArmList::Event
{
    enum Kind { Opened, Closed, Denied, Stalled };
    Kind kind;
    KitDeviceInfo info;
    int stillOpen = 0;
    QString reason;
};

KitArmList::KitArmList(KitTransport &transport, QObject *parent) : ArmLink(parent), m_transport(transport)
{
    connect(&transport, &KitTransport::deviceArrived, this, &KitArmList::onArrived);
    connect(&transport, &KitTransport::deviceRemoved, this, &KitArmList::onRemoved);
}

KitArmList::~KitArmList()
{
    // The stop still goes out; nobody is left to tell.
    blockSignals(true);
    stop();
}

void KitArmList::setReversed(const KitReversed &reversed)
{
    const std::lock_guard guard(m_lock);
    m_reversed = reversed;
}

void KitArmList::start()
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        if (m_started)
            return;
        m_started = true;
        // Without hot-plug the list still works; arrivals and removals just go unnoticed.
        m_transport.startMonitoring();
        for (const KitDeviceInfo &info : m_transport.enumerate())
            tryOpen(info, events);
    }
    tell(events);
}

void KitArmList::stop()
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        if (!m_started)
            return;
        // The last commands asked for (a stop, as a rule) go out before the kits are let go, unless a
        // kit does not take them within the bound; its writer then finishes them as it can.
        const qint64 deadline = ProcessClock::monotonicNs() + qint64(StopDrainMs) * 1'000'000;
        for (const auto &arm : m_arms)
            arm->connection->drain(deadline);
        while (!m_arms.empty())
            closeArm(m_arms.back()->info.path, events);
        m_transport.stopMonitoring();
        m_failures.clear();
        m_deniedTold.clear();
        m_started = false;
    }
    tell(events);
}

int KitArmList::armCount() const
{
    const std::lock_guard guard(m_lock);
    return int(m_arms.size());
}

QStringList KitArmList::describeArms() const
{
    QStringList arms;
    for (const KitDeviceInfo &kit : this->arms())
        arms << QStringLiteral("USB interface kit %1").arg(kit.describe());
    return arms;
}

QList<GuardTarget> KitArmList::stopTargets(bool asLogged) const
{
    // Every motor and the light off.
    const QByteArray stop = KitCommand::encode(0, false);
    QList<GuardTarget> targets;
    for (const KitDeviceInfo &kit : arms()) {
        targets << (asLogged ? GuardTarget{GuardTarget::Kind::Kit, kit.path, stop}
                             : GuardTarget::controlTransfer(kit.path, KitCommand::RequestType, KitCommand::Request,
                                                            KitCommand::Value, KitCommand::Index, stop));
    }
    return targets;
}

QList<KitDeviceInfo> KitArmList::arms() const
{
    const std::lock_guard guard(m_lock);
    QList<KitDeviceInfo> result;
    for (const auto &arm : m_arms)
        result.append(arm->info);
    return result;
}

QList<KitArmList::OpenFailure> KitArmList::openFailures() const
{
    const std::lock_guard guard(m_lock);
    return m_failures;
}

bool KitArmList::light() const
{
    const std::lock_guard guard(m_lock);
    return m_light;
}

bool KitArmList::drain(qint64 deadlineNs)
{
    std::vector<std::shared_ptr<Arm>> arms;
    {
        const std::lock_guard guard(m_lock);
        arms = m_arms;
    }
    // Without the lock, so that a sender on another thread need not wait; kits are only closed on
    // this thread, so the connections stay while they are waited for.
    bool all = true;
    for (const auto &arm : arms)
        all = arm->connection->drain(deadlineNs) && all;
    return all;
}

ArmLink::Sent KitArmList::send(qint16 code, const ArmIds *only)
{
    const std::lock_guard guard(m_lock);
    return sendCommand(code, m_light, only);
}

ArmLink::Sent KitArmList::setLight(bool on, qint16 code)
{
    const std::lock_guard guard(m_lock);
    m_light = on;
    return sendCommand(code, on);
}

ArmLink::Sent KitArmList::sendCommand(int code, bool light, const ArmIds *only)
{
    Sent sent;
    sent.took = int(m_arms.size());
    if (code != 0 && !armCodeMoves(code)) {
        sent.error = QStringLiteral("code %1 refused: the interface kit has no motion for it").arg(code);
        sent.allTook = false;
        return sent;
    }
    const QByteArray command = KitCommand::encode(code, light, m_reversed);
    // Writes do not call back into the list (a kit found gone is closed later, on the list's thread),
    // so the list stays as it is while it is served.
    for (const auto &arm : m_arms) {
        if (only && !only->contains(arm->serial))
            continue;
        QString why;
        if (arm->connection->write(command, &why))
            continue;
        if (arm->connection->deviceGone()) {
            sent.allTook = false;
            m_goneQueued.append(arm->info.path);
            QMetaObject::invokeMethod(this, "closeGoneArms", Qt::QueuedConnection);
            continue;
        }
        sent.failed.append(arm->serial);
        if (sent.allTook)
            sent.error = QStringLiteral("code %1%2 (%3) not written to the interface kit %4: %5")
                             .arg(code)
                             .arg(light ? QStringLiteral(" with the light on") : QString())
                             .arg(QString::fromLatin1(command.toHex()))
                             .arg(arm->info.describe(), why);
        sent.allTook = false;
    }
    sent.took -= int(sent.failed.size());
    return sent;
}

void KitArmList::tryOpen(const KitDeviceInfo &info, QList<Event> &events)
{
    const bool open = std::any_of(m_arms.begin(), m_arms.end(),
                                  [&](const auto &arm) { return arm->info.path == info.path; });
    if (open)
        return;
    m_failures.erase(std::remove_if(m_failures.begin(), m_failures.end(),
                                    [&](const OpenFailure &f) { return f.info.path == info.path; }),
                     m_failures.end());
    QString error;
    DeviceOpenFailure failure = DeviceOpenFailure::None;
    std::unique_ptr<KitConnection> connection = m_transport.open(info, &error, &failure);
    if (!connection) {
        if (failure == DeviceOpenFailure::None)
            failure = DeviceOpenFailure::Other;
        m_failures.append(OpenFailure{info, failure, error});
        if (failure == DeviceOpenFailure::PermissionDenied && !m_deniedTold.contains(info.path)) {
            m_deniedTold.insert(info.path);
            events.append(Event{Event::Denied, info, 0, error});
        }
        return;
    }
    auto arm = std::make_shared<Arm>();
    arm->info = info;
    arm->serial = ++m_nextSerial;
    const quint64 serial = arm->serial;
    // Told on the writer's own thread: the kit is given up on the list's.
    connection->setStallHandler([this, serial] {
        QMetaObject::invokeMethod(this, [this, serial] { closeStalled(serial); }, Qt::QueuedConnection);
    });
    arm->connection = std::move(connection);
    // A kit comes up dark and still; one joining while the light is on is lit like the others.
    if (m_light)
        arm->connection->write(KitCommand::encode(0, true, m_reversed), nullptr);
    m_arms.push_back(std::move(arm));
    events.append(Event{Event::Opened, info, 0, QString()});
}

void KitArmList::closeArm(const QString &path, QList<Event> &events)
{
    const auto it = std::find_if(m_arms.begin(), m_arms.end(), [&](const auto &arm) { return arm->info.path == path; });
    if (it == m_arms.end())
        return;
    const std::shared_ptr<Arm> gone = *it;
    m_arms.erase(it);
    gone->connection.reset();
    events.append(Event{Event::Closed, gone->info, int(m_arms.size()), QString()});
}

void KitArmList::onArrived(const KitDeviceInfo &info)
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        if (!m_started)
            return;
        tryOpen(info, events);
    }
    tell(events);
}

void KitArmList::onRemoved(const KitDeviceInfo &info)
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        if (!m_started)
            return;
        closeArm(info.path, events);
        m_failures.erase(std::remove_if(m_failures.begin(), m_failures.end(),
                                        [&](const OpenFailure &f) { return f.info.path == info.path; }),
                         m_failures.end());
        m_deniedTold.remove(info.path);
    }
    tell(events);
}

void KitArmList::closeGoneArms()
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        const QStringList paths = std::exchange(m_goneQueued, {});
        for (const QString &path : paths) {
            const auto it = std::find_if(m_arms.begin(), m_arms.end(),
                                         [&](const auto &arm) { return arm->info.path == path; });
            // Only the connection that found its kit gone: one opened since at the same path stays.
            if (it != m_arms.end() && (*it)->connection->deviceGone())
                closeArm(path, events);
        }
    }
    tell(events);
}

void KitArmList::closeStalled(quint64 serial)
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        const auto it = std::find_if(m_arms.begin(), m_arms.end(), [&](const auto &arm) { return arm->serial == serial; });
        if (!m_started || it == m_arms.end())
            return;
        // Waits behind the command the kit is stuck on, in place of anything else, and goes out
        // should the kit ever take that one.
        (*it)->connection->write(KitCommand::encode(0, m_light, m_reversed), nullptr);
        events.append(Event{Event::Stalled, (*it)->info, 0, QString()});
        closeArm((*it)->info.path, events);
    }
    tell(events);
}

void KitArmList::tell(const QList<Event> &events)
{
    for (const Event &e : events) {
        switch (e.kind) {
        case Event::Opened:
            Q_EMIT armOpened(e.info.path);
            break;
        case Event::Closed:
            Q_EMIT armClosed(e.info.path, e.stillOpen);
            break;
        case Event::Denied:
            Q_EMIT openDenied(e.info.path, e.reason);
            break;
        case Event::Stalled:
            Q_EMIT writeStalled(e.info.path);
            break;
        }
    }
}
