#include "RealtimePriority.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

// Stands in for RealtimeKit on a bus of the test's own: answers as told and notes what it was asked.
class FakeKit : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(qlonglong RTTimeUSecMax READ rtTimeUSecMax)
public:
    QString answer;
    qulonglong askedThread = 0;
    rlim_t hardLimitWhenAsked = 0;
    qlonglong rtTimeUSecMax() const { return 150'000; }
public Q_SLOTS:
    void MakeThreadRealtime(qulonglong thread, uint priority)
    {
        askedThread = thread;
        rlimit limit{};
        ::getrlimit(RLIMIT_RTTIME, &limit);
        hardLimitWhenAsked = limit.rlim_max;
        if (answer == QLatin1String("silent")) {
            setDelayedReply(true);
        } else if (answer == QLatin1String("refuse")) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Operation not permitted"));
        } else {
            sched_param param{};
            param.sched_priority = int(priority);
            // As the service does, and allowed as root only.
            ::sched_setscheduler(pid_t(thread), SCHED_RR | SCHED_RESET_ON_FORK, &param);
        }
    }
};

class TestRealtimePriority : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("said");
        QTest::newRow("no bus") << "" << "no real-time priority: no system D-Bus";
        QTest::newRow("no service") << "absent" << "no real-time priority: RealtimeKit is not running";
        QTest::newRow("refused") << "refuse" << "no real-time priority: RealtimeKit refused (Operation not permitted)";
        QTest::newRow("silent") << "silent" << "no real-time priority: RealtimeKit did not answer within 200 ms";
        // The service's word is not taken for it: the thread must be real-time afterwards.
        QTest::newRow("granted") << "grant"
                                 << (::geteuid() == 0 ? "real-time priority 1 from RealtimeKit"
                                                      : "no real-time priority: RealtimeKit answered, but the "
                                                        "thread is not real-time");
    }
    void answers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, said);
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QProcess bus;
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY(bus.waitForReadyRead(10'000));
        const QString address = answer.isEmpty() ? QStringLiteral("unix:path=/nonexistent/bus")
                                                 : QString::fromUtf8(bus.readLine().trimmed());
        const QDBusConnection caller = QDBusConnection::connectToBus(address, QStringLiteral("caller ") + answer);
        FakeKit kit;
        kit.answer = answer;
        QThread service;
        kit.moveToThread(&service);
        service.start();
        QDBusConnection serving = QDBusConnection::connectToBus(address, QStringLiteral("service ") + answer);
        if (answer != QLatin1String("absent") && serving.isConnected()) {
            QVERIFY(serving.registerService(QStringLiteral("org.freedesktop.RealtimeKit1")));
            QVERIFY(serving.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &kit,
                                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        }
        QElapsedTimer clock;
        clock.start();
        const RealtimePriority::Grant grant = RealtimePriority::askRealtimeKit(caller, ::gettid(), 1, 200);
        const qint64 tookMs = clock.elapsed();
        sched_param normal{};
        ::sched_setscheduler(0, SCHED_OTHER, &normal);
        service.quit();
        service.wait();
        QVERIFY2(grant.describe().startsWith(said), qPrintable(grant.describe()));
        // Bounded however the service behaves: two calls of 200 ms at most, with a busy machine's slack.
        QVERIFY2(tookMs < 3000, qPrintable(QString::number(tookMs)));
        if (answer == QLatin1String("refuse") || answer == QLatin1String("grant")) {
            QCOMPARE(kit.askedThread, qulonglong(::gettid()));
            QVERIFY(kit.hardLimitWhenAsked <= 150'000);
        }
        bus.kill();
        bus.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestRealtimePriority)
#include "tst_realtimepriority.moc"
