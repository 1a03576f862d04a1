#include "RealtimePriority.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLoggingCategory>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <mutex>

namespace {

Q_LOGGING_CATEGORY(lcRealtime, "tessaro.realtime", QtWarningMsg)

const QString Service = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString Path = QStringLiteral("/org/freedesktop/RealtimeKit1");

std::mutex g_lastMutex;
RealtimePriority::Grant g_last;

RealtimePriority::Grant refused(const QString &reason)
{
    return RealtimePriority::Grant{RealtimePriority::Source::None, 0, reason};
}

// Why a call on the bus came back without an answer, in words.
QString callFault(const QDBusError &error, int timeoutMs)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
        return QStringLiteral("RealtimeKit is not running");
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return QStringLiteral("RealtimeKit did not answer within %1 ms").arg(timeoutMs);
    default:
        break;
    }
    const QString detail = error.message().isEmpty() ? error.name() : error.message();
    if (error.name().startsWith(QStringLiteral("org.freedesktop.DBus.Error.Spawn")))
        return QStringLiteral("RealtimeKit could not be started (%1)").arg(detail);
    return QStringLiteral("RealtimeKit refused (%1)").arg(detail);
}

// RealtimeKit only serves a process whose hard RLIMIT_RTTIME is at most its RTTimeUSecMax.
bool boundRtTime(qint64 maxUs)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const rlim_t bound = rlim_t(maxUs);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= bound)
        return true;
    limit.rlim_max = bound;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > bound)
        limit.rlim_cur = bound;
    return ::setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

} // namespace

namespace RealtimePriority {

QString Grant::describe() const
{
    switch (source) {
    case Source::Direct:
        return QStringLiteral("real-time priority %1 (SCHED_FIFO)").arg(priority);
    case Source::RealtimeKit:
        return QStringLiteral("real-time priority %1 from RealtimeKit").arg(priority);
    case Source::None:
        break;
    }
    return QStringLiteral("no real-time priority: %1").arg(reason);
}

Grant askRealtimeKit(const QDBusConnection &bus, pid_t tid, int priority, int timeoutMs)
{
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        return refused(why.isEmpty() ? QStringLiteral("no system D-Bus") : QStringLiteral("no system D-Bus (%1)").arg(why));
    }
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << Service << QStringLiteral("RTTimeUSecMax");
    const QDBusMessage max = bus.call(get, QDBus::Block, timeoutMs);
    qint64 maxUs = DefaultRtTimeUs;
    if (max.type() == QDBusMessage::ReplyMessage && !max.arguments().isEmpty()) {
        bool ok = false;
        const qint64 value = qdbus_cast<QDBusVariant>(max.arguments().constFirst()).variant().toLongLong(&ok);
        if (ok && value > 0)
            maxUs = value;
    } else if (max.type() == QDBusMessage::ErrorMessage) {
        // An older service without the property still serves; anything else is its answer.
        const QDBusError error(max);
        if (error.type() != QDBusError::UnknownProperty && error.type() != QDBusError::InvalidArgs)
            return refused(callFault(error, timeoutMs));
    }
    if (!boundRtTime(maxUs))
        return refused(QStringLiteral("RLIMIT_RTTIME cannot be set to %1 us").arg(maxUs));

    QDBusMessage make = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("MakeThreadRealtime"));
    make << qulonglong(tid) << uint(priority);
    const QDBusMessage reply = bus.call(make, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return refused(callFault(QDBusError(reply), timeoutMs));
    // The service changes the thread from outside; what counts is what the thread has now.
    if (tid == ::gettid()) {
        int policy = 0;
        sched_param param{};
        // The service sets SCHED_RESET_ON_FORK too, which the policy read back carries.
        if (::pthread_getschedparam(::pthread_self(), &policy, &param) != 0)
            policy = SCHED_OTHER;
        policy &= ~SCHED_RESET_ON_FORK;
        if (policy != SCHED_FIFO && policy != SCHED_RR)
            return refused(QStringLiteral("RealtimeKit answered, but the thread is not real-time"));
        priority = param.sched_priority;
    }
    return Grant{Source::RealtimeKit, priority, {}};
}

Grant takeForCurrentThread()
{
    const int priority = ::sched_get_priority_min(SCHED_FIFO);
    sched_param param{};
    param.sched_priority = priority;
    Grant grant;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0)
        grant = Grant{Source::Direct, priority, {}};
    else
        grant = askRealtimeKit(QDBusConnection::systemBus(), ::gettid(), priority);
    qCInfo(lcRealtime, "run's timing thread: %s", qPrintable(grant.describe()));
    const std::lock_guard<std::mutex> lock(g_lastMutex);
    g_last = grant;
    return grant;
}

Grant lastGrant()
{
    const std::lock_guard<std::mutex> lock(g_lastMutex);
    return g_last;
}

} // namespace RealtimePriority
