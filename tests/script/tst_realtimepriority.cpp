#include "RealtimePriority.h"
#include <QDBusConnection>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

// RealtimeKit on the test's own bus: makes the thread real-time as it does (as root), or answers late.
class FakeKit : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(qlonglong RTTimeUSecMax READ rtTimeUSecMax)
public:
    bool silent = false;
    rlimit limitWhenAsked{};
    qlonglong rtTimeUSecMax() const { return 150'000; }
public Q_SLOTS:
    void MakeThreadRealtime(qulonglong thread, uint priority)
    {
        ::getrlimit(RLIMIT_RTTIME, &limitWhenAsked);
        const sched_param param{int(priority)};
        silent ? QThread::msleep(600) : void(::sched_setscheduler(pid_t(thread), SCHED_RR | SCHED_RESET_ON_FORK, &param));
    }
};

class TestRealtimePriority : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("said");
        QTest::newRow("no bus") << "" << "no real-time priority: no system D-Bus";
        QTest::newRow("no service") << "absent" << "no real-time priority: RealtimeKit is not running";
        QTest::newRow("silent") << "silent" << "no real-time priority: RealtimeKit did not answer within 200 ms";
        QTest::newRow("granted") << "grant" << (::geteuid() == 0 ? "real-time priority 1 from RealtimeKit"
                                                                 : "no real-time priority: RealtimeKit answered, but");
    }
    void answers()
    {
        QFETCH(QString, service);
        QFETCH(QString, said);
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY2(bus.waitForReadyRead(10'000), "dbus-daemon did not start");
        const QString address = service.isEmpty() ? QStringLiteral("unix:path=/nonexistent") : QString::fromUtf8(bus.readLine().trimmed());
        FakeKit kit;
        kit.silent = service == QLatin1String("silent");
        QThread serviceThread;
        kit.moveToThread(&serviceThread);
        serviceThread.start();
        QDBusConnection serving = QDBusConnection::connectToBus(address, QStringLiteral("service ") + service);
        if (service != QLatin1String("absent") && serving.isConnected())
            QVERIFY(serving.registerService(QStringLiteral("org.freedesktop.RealtimeKit1"))
                    && serving.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &kit, QDBusConnection::ExportAllContents));
        const auto grant = RealtimePriority::askRealtimeKit(QDBusConnection::connectToBus(address, service), ::gettid(), 1, 200);
        const sched_param normal{};
        ::sched_setscheduler(0, SCHED_OTHER, &normal);
        serviceThread.quit();
        serviceThread.wait();
        QVERIFY2(grant.describe().startsWith(said), qPrintable(grant.describe()));
        if (service == QLatin1String("grant"))
            QVERIFY(kit.limitWhenAsked.rlim_max <= 150'000);
    }
};

QTEST_GUILESS_MAIN(TestRealtimePriority)
#include "tst_realtimepriority.moc"
