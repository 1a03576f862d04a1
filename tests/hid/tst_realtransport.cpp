#include "BoundedWriter.h"
#include "RealHidTransport.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// A device the test holds back: writes block until released, and every report handed over is kept.
struct StallingDevice
{
    std::mutex lock;
    std::condition_variable released;
    bool stalled = false;
    int answer = 0;
    QList<QByteArray> reports;

    int write(const QByteArray &report)
    {
        std::unique_lock<std::mutex> guard(lock);
        reports.append(report);
        released.wait(guard, [&] { return !stalled; });
        return answer;
    }
    void release()
    {
        std::lock_guard<std::mutex> guard(lock);
        stalled = false;
        released.notify_all();
    }
    int count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return int(reports.size());
    }
};

using Outcome = BoundedWriter::Outcome;

} // namespace

class TestRealTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A write's outcome as the caller sees it. A device that does not take a report holds nobody up:
    // the reports asked for meanwhile wait in the writer, each in place of the one before, so the
    // device receives the stuck report and then only the last one asked for; once the stuck write has
    // taken longer than the bound, the stall is told, once.
    void boundedWrites_data()
    {
        QTest::addColumn<bool>("stall");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("errorNumber");
        QTest::newRow("taken") << false << 0 << int(Outcome::Written) << 0;
        QTest::newRow("device gone") << false << ENODEV << int(Outcome::Failed) << ENODEV;
        QTest::newRow("input/output error") << false << EIO << int(Outcome::Failed) << EIO;
        QTest::newRow("stuck in the kernel") << true << 0 << int(Outcome::Pending) << 0;
    }
    void boundedWrites()
    {
        QFETCH(bool, stall);
        QFETCH(int, answer);
        QFETCH(int, outcome);
        QFETCH(int, errorNumber);
        constexpr int BoundMs = 250;
        auto device = std::make_shared<StallingDevice>();
        device->stalled = stall;
        device->answer = answer;
        // Grace as long as the bound: a loaded machine may start the writer's thread late, and only a
        // stuck device may leave a first write pending.
        BoundedWriter writer([device](const QByteArray &r) { return device->write(r); }, BoundMs, BoundMs);
        std::atomic<int> stalls{0};
        writer.setStallHandler([&] { ++stalls; });

        const BoundedWriter::Result first = writer.write(QByteArray::fromHex("0003"));
        QCOMPARE(int(first.outcome), outcome);
        QCOMPARE(first.errorNumber, errorNumber);
        if (stall) {
            // Behind the stuck write, the motion and then the stop wait without holding the caller.
            QElapsedTimer waited;
            waited.start();
            QCOMPARE(int(writer.write(QByteArray::fromHex("0004")).outcome), int(Outcome::Pending));
            QCOMPARE(int(writer.write(QByteArray::fromHex("0000")).outcome), int(Outcome::Pending));
            QVERIFY2(waited.elapsed() < BoundMs / 2, qPrintable(QString::number(waited.elapsed())));
            // The stuck one reaches the device, perhaps only after its grace has run out.
            QTRY_COMPARE(device->count(), 1);
            QTRY_COMPARE(stalls.load(), 1);
            QVERIFY(writer.stalled());
            device->release();
            QTRY_COMPARE(device->count(), 2);
        } else {
            QCOMPARE(int(writer.write(QByteArray::fromHex("0000")).outcome),
                     int(answer ? Outcome::Failed : Outcome::Written));
        }
        QCOMPARE(device->reports,
                 QList<QByteArray>({QByteArray::fromHex("0003"), QByteArray::fromHex("0000")}));
        QTest::qWait(50);
        QCOMPARE(device->count(), 2);
        QCOMPARE(stalls.load(), stall ? 1 : 0);
    }

    // The writer may go while the device is stuck: the stop waiting behind the stuck report still
    // reaches the device when it takes that one, and the device is let go after it.
    void writerGoesWithoutWaitingForAStuckWrite()
    {
        auto device = std::make_shared<StallingDevice>();
        device->stalled = true;
        std::weak_ptr<StallingDevice> held = device;
        {
            BoundedWriter writer([device](const QByteArray &r) { return device->write(r); }, 20);
            device.reset();
            QCOMPARE(int(writer.write(QByteArray("\0\1", 2)).outcome), int(Outcome::Pending));
            QCOMPARE(int(writer.write(QByteArray("\0\0", 2)).outcome), int(Outcome::Pending));
        }
        // The writer is gone; its thread still holds the device until the write returns.
        const std::shared_ptr<StallingDevice> still = held.lock();
        QVERIFY(still);
        still->release();
        QTRY_COMPARE(still->count(), 2);
        QCOMPARE(still->reports.last(), QByteArray("\0\0", 2));
        QTRY_VERIFY(held.use_count() == 1);
    }

    void compareScans_data()
    {
        using Scan = QHash<QString, QString>;
        QTest::addColumn<Scan>("before");
        QTest::addColumn<Scan>("after");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("arrived");
        const QString a = QStringLiteral("/dev/hidraw0"), b = QStringLiteral("/dev/hidraw1");
        const QString armOld = QStringLiteral("/sys/devices/virtual/misc/uhid/0003:1E6F:1113.0001");
        const QString armNew = QStringLiteral("/sys/devices/virtual/misc/uhid/0003:1E6F:1113.0002");
        const QString mouse = QStringLiteral("/sys/devices/pci0000:00/usb1/1-1/0003:2A7B:0101.0003");
        QTest::newRow("nothing changed") << Scan{{a, armOld}, {b, mouse}} << Scan{{a, armOld}, {b, mouse}}
                                         << QStringList() << QStringList();
        QTest::newRow("plugged") << Scan{{b, mouse}} << Scan{{a, armOld}, {b, mouse}} << QStringList()
                                 << QStringList{a};
        QTest::newRow("unplugged") << Scan{{a, armOld}, {b, mouse}} << Scan{{a, armOld}} << QStringList{b}
                                   << QStringList();
        QTest::newRow("replugged between two looks")
            << Scan{{a, armOld}, {b, mouse}} << Scan{{a, armNew}, {b, mouse}} << QStringList{a}
            << QStringList{a};
        QTest::newRow("everything swapped") << Scan{{a, armOld}, {b, mouse}} << Scan{{a, mouse}, {b, armNew}}
                                            << QStringList{a, b} << QStringList{a, b};
    }
    void compareScans()
    {
        using Scan = QHash<QString, QString>;
        QFETCH(Scan, before);
        QFETCH(Scan, after);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, arrived);
        const RealHidTransport::ScanChanges changes = RealHidTransport::compareScans(before, after);
        QCOMPARE(changes.removed, removed);
        QCOMPARE(changes.arrived, arrived);
    }
};

QTEST_GUILESS_MAIN(TestRealTransport)
#include "tst_realtransport.moc"
