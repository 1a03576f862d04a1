#include "KitArmList.h"

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

KitArmList::KitArmList(KitTransport &transport, QObject *parent) : QObject(parent), m_transport(transport)
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

KitReversed KitArmList::reversed() const
{
    const std::lock_guard guard(m_lock);
    return m_reversed;
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

bool KitArmList::isStarted() const
{
    const std::lock_guard guard(m_lock);
    return m_started;
}

int KitArmList::count() const
{
    const std::lock_guard guard(m_lock);
    return int(m_arms.size());
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

bool KitArmList::SendToAll(qint16 code, QString *error, QStringList *failed)
{
    const std::lock_guard guard(m_lock);
    return sendCommand(code, m_light, error, failed);
}

bool KitArmList::SendTo(const QStringList &paths, qint16 code, QString *error, QStringList *failed)
{
    const std::lock_guard guard(m_lock);
    return sendCommand(code, m_light, error, failed, &paths);
}

bool KitArmList::SetLight(bool on, qint16 code, QString *error, QStringList *failed)
{
    const std::lock_guard guard(m_lock);
    m_light = on;
    return sendCommand(code, on, error, failed);
}

bool KitArmList::sendCommand(int code, bool light, QString *error, QStringList *failed, const QStringList *only)
{
    if (code < 0 || code > KitCommand::MaxCode) {
        if (error)
            *error = QStringLiteral("code %1 refused: the interface kit has no motion for it").arg(code);
        return false;
    }
    const QByteArray command = KitCommand::encode(code, light, m_reversed);
    bool allSent = true;
    // Writes do not call back into the list (a kit found gone is closed later, on the list's thread),
    // so the list stays as it is while it is served.
    for (const auto &arm : m_arms) {
        if (only && !only->contains(arm->info.path))
            continue;
        QString why;
        if (arm->connection->writeCommand(command, &why))
            continue;
        if (failed && !arm->connection->deviceGone())
            failed->append(arm->info.path);
        if (arm->connection->deviceGone()) {
            allSent = false;
            m_goneQueued.append(arm->info.path);
            QMetaObject::invokeMethod(this, "closeGoneArms", Qt::QueuedConnection);
            continue;
        }
        if (allSent && error)
            *error = QStringLiteral("code %1%2 (%3) not written to the interface kit %4: %5")
                         .arg(code)
                         .arg(light ? QStringLiteral(" with the light on") : QString())
                         .arg(QString::fromLatin1(command.toHex()))
                         .arg(arm->info.describe(), why);
        allSent = false;
    }
    return allSent;
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
    HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
    std::unique_ptr<KitConnection> connection = m_transport.open(info, &error, &failure);
    if (!connection) {
        if (failure == HidTransport::OpenFailure::None)
            failure = HidTransport::OpenFailure::Other;
        m_failures.append(OpenFailure{info, failure, error});
        if (failure == HidTransport::OpenFailure::PermissionDenied && !m_deniedTold.contains(info.path)) {
            m_deniedTold.insert(info.path);
            events.append(Event{Event::Denied, info, 0, error});
        }
        return;
    }
    auto arm = std::make_shared<Arm>();
    arm->info = info;
    arm->serial = ++m_nextSerial;
    const quint64 serial = arm->serial;
    const QString path = info.path;
    // Told on the writer's own thread: the kit is given up on the list's.
    connection->setStallHandler([this, path, serial] {
        QMetaObject::invokeMethod(this, [this, path, serial] { closeStalled(path, serial); }, Qt::QueuedConnection);
    });
    arm->connection = std::move(connection);
    // A kit comes up dark and still; one joining while the light is on is lit like the others.
    if (m_light)
        arm->connection->writeCommand(KitCommand::encode(0, true, m_reversed), nullptr);
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

void KitArmList::closeStalled(const QString &path, quint64 serial)
{
    QList<Event> events;
    {
        const std::lock_guard guard(m_lock);
        const auto it = std::find_if(m_arms.begin(), m_arms.end(),
                                     [&](const auto &arm) { return arm->info.path == path && arm->serial == serial; });
        if (!m_started || it == m_arms.end())
            return;
        // Waits behind the command the kit is stuck on, in place of anything else, and goes out
        // should the kit ever take that one.
        (*it)->connection->writeCommand(KitCommand::encode(0, m_light, m_reversed), nullptr);
        events.append(Event{Event::Stalled, (*it)->info, 0, QString()});
        closeArm(path, events);
    }
    tell(events);
}

void KitArmList::tell(const QList<Event> &events)
{
    for (const Event &e : events) {
        switch (e.kind) {
        case Event::Opened:
            Q_EMIT armOpened(e.info);
            break;
        case Event::Closed:
            Q_EMIT armClosed(e.info, e.stillOpen);
            break;
        case Event::Denied:
            Q_EMIT openDenied(e.info, e.reason);
            break;
        case Event::Stalled:
            Q_EMIT writeStalled(e.info);
            break;
        }
    }
}
