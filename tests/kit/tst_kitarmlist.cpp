#include "KitArmList.h"
#include "VirtualKitTransport.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>

Q_DECLARE_METATYPE(KitArmList::OpenFailure)

// The list of interface kits on in-memory kits: what each kit is sent, and how kits come and go.
class TestKitArmList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<KitDeviceInfo>(); }
    void sendsEveryKitTheSameCommands_data();
    void sendsEveryKitTheSameCommands();
    void followsKitsComingAndGoing();
    void tellsARefusalOncePerPlugging();
    void aFailedCommandIsDescribedAGoneKitIsClosed();
    void aStalledKitGetsTheStopAndIsLetGo();
    void stopWaitsForTheLastCommand();
};

namespace {

QStringList hexOf(const VirtualKit *kit)
{
    QStringList out;
    for (const WrittenCommand &c : kit->written())
        out.append(QString::fromLatin1(c.bytes.toHex()));
    return out;
}

// A send as the outlet makes it: whether every kit took the code, the first failure in *error.
bool sendTo(KitArmList &list, qint16 code, QString *error)
{
    const ArmLink::Sent sent = list.send(code);
    *error = sent.error;
    return sent.allTook;
}

bool lightOn(KitArmList &list, bool on, qint16 code, QString *error)
{
    const ArmLink::Sent sent = list.setLight(on, code);
    *error = sent.error;
    return sent.allTook;
}

} // namespace

void TestKitArmList::sendsEveryKitTheSameCommands_data()
{
    // Steps: "c<code>" sends a code, "L1"/"L0" sets the light, "R<motor>" reverses one more motor;
    // then the bytes every kit must have received, in order.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("bytes");
    QStringList everyCode;
    QStringList everyCodeBytes;
    for (int code = 0; code <= 10; ++code) {
        everyCode << QStringLiteral("c%1").arg(code);
        everyCodeBytes << QString::fromLatin1(KitCommand::encode(code, false).toHex());
    }
    QTest::newRow("every code") << everyCode << everyCodeBytes;
    QTest::newRow("the light rides along and survives the stop")
        << QStringList{"c3", "L1", "c0", "c7", "L0", "c0"}
        << QStringList{"100000", "100001", "000001", "000101", "000100", "000000"};
    QTest::newRow("reversed base and gripper")
        << QStringList{"c2", "R0", "c2", "c7", "R4", "c5", "c10", "c1"}
        << QStringList{"000200", "000100", "000200", "020000", "010000", "400000"};
    QTest::newRow("a code without a motion sends nothing")
        << QStringList{"c4", "c11", "c-1", "c0"} << QStringList{"040000", "000000"};
}

void TestKitArmList::sendsEveryKitTheSameCommands()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, bytes);
    VirtualKitTransport transport;
    VirtualKit *first = transport.addKit();
    VirtualKit *second = transport.addKit(true, ArmUsbIds::KitProductIds[1]);
    KitArmList list(transport);
    QSignalSpy opened(&list, &KitArmList::armOpened);
    list.start();
    QCOMPARE(opened.size(), 2);
    QCOMPARE(list.armCount(), 2);
    KitReversed reversed{};
    // The light goes out with the motion its caller holds in force: the last code sent here.
    qint16 inForce = 0;
    for (const QString &step : steps) {
        const int n = step.mid(1).toInt();
        QString error;
        if (step.startsWith(u'c')) {
            const bool motion = n >= 0 && n <= KitCommand::MaxCode;
            QCOMPARE(sendTo(list, qint16(n), &error), motion);
            QCOMPARE(error.isEmpty(), motion);
            if (motion)
                inForce = qint16(n);
            if (!motion)
                QVERIFY2(error.contains(QStringLiteral("code %1 refused").arg(n)), qPrintable(error));
        } else if (step.startsWith(u'L')) {
            QVERIFY(lightOn(list, n == 1, inForce, &error));
            QCOMPARE(list.light(), n == 1);
        } else {
            reversed[size_t(n)] = true;
            list.setReversed(reversed);
        }
    }
    QCOMPARE(hexOf(first), bytes);
    QCOMPARE(hexOf(second), bytes);
}

void TestKitArmList::followsKitsComingAndGoing()
{
    VirtualKitTransport transport;
    KitArmList list(transport);
    QSignalSpy opened(&list, &KitArmList::armOpened);
    QSignalSpy closed(&list, &KitArmList::armClosed);
    VirtualKit *early = transport.addKit();
    VirtualKit *notYet = transport.addKit(false);
    list.start();
    QCOMPARE(opened.size(), 1);
    QVERIFY(early->isOpen());
    QVERIFY(list.send(9).allTook);
    QVERIFY(list.setLight(true, 9).allTook);

    // A kit plugged in while the light is on is lit, its motors still.
    transport.plug(notYet->info.path);
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened.last().at(0).toString(), notYet->info.path);
    QCOMPARE(hexOf(notYet), QStringList{"000001"});
    QVERIFY(list.send(0).allTook);
    QCOMPARE(hexOf(early), (QStringList{"080000", "080001", "000001"}));
    QCOMPARE(hexOf(notYet), (QStringList{"000001", "000001"}));

    transport.unplug(early->info.path);
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.last().at(0).toString(), early->info.path);
    QCOMPARE(closed.last().at(1).toInt(), 1);
    QVERIFY(!early->isOpen());
    QCOMPARE(list.arms().size(), 1);
    QCOMPARE(list.arms().first().path, notYet->info.path);

    // Plugged back in, it is a new kit: opened again, and served.
    transport.plug(early->info.path);
    QCOMPARE(opened.size(), 3);
    QVERIFY(list.send(1).allTook);
    QCOMPARE(hexOf(early).last(), QStringLiteral("400001"));

    // Stopped, the list lets every kit go and hears nothing more.
    list.stop();
    QCOMPARE(closed.size(), 3);
    QCOMPARE(list.armCount(), 0);
    transport.unplug(notYet->info.path);
    transport.plug(notYet->info.path);
    QCOMPARE(opened.size(), 3);
    QVERIFY(!notYet->isOpen());
}

void TestKitArmList::tellsARefusalOncePerPlugging()
{
    VirtualKitTransport transport;
    VirtualKit *refused = transport.addKit();
    VirtualKit *broken = transport.addKit();
    refused->denyOpen(true);
    broken->denyOpen(false);
    KitArmList list(transport);
    QSignalSpy denied(&list, &KitArmList::openDenied);
    list.start();
    QCOMPARE(list.armCount(), 0);
    // Only a refusal of permission is news for the operator; both are listed with their reasons.
    QCOMPARE(denied.size(), 1);
    QCOMPARE(denied.first().at(0).toString(), refused->info.path);
    QVERIFY(denied.first().at(1).toString().contains(QStringLiteral("Permission denied")));
    const QList<KitArmList::OpenFailure> failures = list.openFailures();
    QCOMPARE(failures.size(), 2);
    QCOMPARE(failures[0].kind, DeviceOpenFailure::PermissionDenied);
    QCOMPARE(failures[1].kind, DeviceOpenFailure::Other);

    // Plugged in again, still refused: told again, as a new plugging in.
    transport.unplug(refused->info.path);
    QCOMPARE(list.openFailures().size(), 1);
    transport.plug(refused->info.path);
    QCOMPARE(denied.size(), 2);
    // With access granted, the next plugging in opens it and the refusal is forgotten.
    refused->allowOpen();
    transport.unplug(refused->info.path);
    transport.plug(refused->info.path);
    QCOMPARE(denied.size(), 2);
    QCOMPARE(list.armCount(), 1);
    QCOMPARE(list.openFailures().size(), 1);
    QCOMPARE(list.openFailures().first().info.path, broken->info.path);
}

void TestKitArmList::aFailedCommandIsDescribedAGoneKitIsClosed()
{
    VirtualKitTransport transport;
    VirtualKit *failing = transport.addKit();
    VirtualKit *fine = transport.addKit();
    KitArmList list(transport);
    QSignalSpy closed(&list, &KitArmList::armClosed);
    list.start();

    failing->failNextWrite();
    QString error;
    QVERIFY(!sendTo(list, 6, &error));
    QVERIFY2(error.contains(QStringLiteral("800000")) && error.contains(QStringLiteral("code 6")) &&
                 error.contains(failing->info.describe()),
             qPrintable(error));
    // The other kit is served all the same, and the failing one stays.
    QCOMPARE(hexOf(fine), QStringList{"800000"});
    QCOMPARE(list.armCount(), 2);

    // A kit found gone is a removal, not a failure to describe: it is closed once back in the loop.
    failing->failNextWrite(true);
    error.clear();
    QVERIFY(!sendTo(list, 0, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(hexOf(fine), (QStringList{"800000", "000000"}));
    QTRY_COMPARE(closed.size(), 1);
    QCOMPARE(closed.first().at(0).toString(), failing->info.path);
    QCOMPARE(list.armCount(), 1);
}

void TestKitArmList::aStalledKitGetsTheStopAndIsLetGo()
{
    VirtualKitTransport transport;
    VirtualKit *stuck = transport.addKit();
    stuck->useWriterThread();
    KitArmList list(transport);
    QSignalSpy stalled(&list, &KitArmList::writeStalled);
    QSignalSpy closed(&list, &KitArmList::armClosed);
    list.start();
    QVERIFY(list.setLight(true, 0).allTook);
    // Taken before the kit stops taking anything (the writer may be slow to get to it).
    QTRY_COMPARE(hexOf(stuck), QStringList{"000001"});
    stuck->holdWrites(true);
    // Taken as under way: the kit has the bound to take it.
    QVERIFY(list.send(3).allTook);
    QVERIFY(list.send(8).allTook);
    QVERIFY(stalled.wait(5000));
    QCOMPARE(stalled.first().at(0).toString(), stuck->info.path);
    // Let go right after it is told, without waiting for the kit.
    QCOMPARE(closed.size(), 1);
    QCOMPARE(list.armCount(), 0);
    QVERIFY(list.send(4).allTook);

    // Should the kit take what it was stuck on, the stop follows it, in place of anything else, and
    // keeps the light on.
    stuck->holdWrites(false);
    QTRY_COMPARE_WITH_TIMEOUT(hexOf(stuck), (QStringList{"000001", "100001", "000001"}), 5000);
}

void TestKitArmList::stopWaitsForTheLastCommand()
{
    VirtualKitTransport transport;
    VirtualKit *slow = transport.addKit();
    slow->useWriterThread();
    KitArmList list(transport);
    list.start();
    slow->holdWrites(true);
    QVERIFY(list.send(10).allTook);
    QVERIFY(list.send(0).allTook);
    // The kit takes its time, well inside the wait of a stop.
    std::thread release([slow] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        slow->holdWrites(false);
    });
    list.stop();
    const QStringList got = hexOf(slow);
    release.join();
    QCOMPARE(got, (QStringList{"020000", "000000"}));
}

QTEST_GUILESS_MAIN(TestKitArmList)
#include "tst_kitarmlist.moc"
