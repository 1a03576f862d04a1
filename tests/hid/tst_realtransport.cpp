#include "BoundedWriter.h"
#include "RealHidTransport.h"

#include <QTest>

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
    // A write's outcome as the caller sees it; a stuck one costs the bound, blocks the writes after it
    // until it returns, and then the writer works again.
    void boundedWrites_data()
    {
        QTest::addColumn<bool>("stall");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("errorNumber");
        QTest::newRow("taken") << false << 0 << int(Outcome::Written) << 0;
        QTest::newRow("device gone") << false << ENODEV << int(Outcome::Failed) << ENODEV;
        QTest::newRow("input/output error") << false << EIO << int(Outcome::Failed) << EIO;
        QTest::newRow("stuck in the kernel") << true << 0 << int(Outcome::TimedOut) << 0;
    }
    void boundedWrites()
    {
        QFETCH(bool, stall);
        QFETCH(int, answer);
        QFETCH(int, outcome);
        QFETCH(int, errorNumber);
        auto device = std::make_shared<StallingDevice>();
        device->stalled = stall;
        device->answer = answer;
        BoundedWriter writer([device](const QByteArray &r) { return device->write(r); }, 50);

        const BoundedWriter::Result first = writer.write(QByteArray::fromHex("0003"));
        QCOMPARE(int(first.outcome), outcome);
        QCOMPARE(first.errorNumber, errorNumber);
        if (stall) {
            // Not queued behind the stuck one: refused at once, and never handed to the device.
            QCOMPARE(int(writer.write(QByteArray::fromHex("0004")).outcome), int(Outcome::StillBusy));
            QCOMPARE(device->count(), 1);
            device->release();
            Outcome next = Outcome::StillBusy;
            const auto writeOnceFree = [&] {
                if (next == Outcome::StillBusy)
                    next = writer.write(QByteArray::fromHex("0005")).outcome;
                return next != Outcome::StillBusy;
            };
            QTRY_VERIFY(writeOnceFree());
            QCOMPARE(int(next), int(Outcome::Written));
        } else {
            QCOMPARE(int(writer.write(QByteArray::fromHex("0005")).outcome),
                     int(answer ? Outcome::Failed : Outcome::Written));
        }
        QCOMPARE(device->reports,
                 QList<QByteArray>({QByteArray::fromHex("0003"), QByteArray::fromHex("0005")}));
    }

    void writerGoesWithoutWaitingForAStuckWrite()
    {
        auto device = std::make_shared<StallingDevice>();
        device->stalled = true;
        std::weak_ptr<StallingDevice> held = device;
        {
            BoundedWriter writer([device](const QByteArray &r) { return device->write(r); }, 20);
            device.reset();
            QCOMPARE(int(writer.write(QByteArray("\0\1", 2)).outcome), int(Outcome::TimedOut));
        }
        // The writer is gone; its thread still holds the device until the write returns.
        const std::shared_ptr<StallingDevice> still = held.lock();
        QVERIFY(still);
        still->release();
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
