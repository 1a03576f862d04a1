#include "ArmSimulator.h"
#include "ArmTransport.h"
#include "KitArmList.h"
#include "VirtualArm.h"
#include "VirtualArmLog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The virtual arm posing as the interface kit: what it reads from each command the program sends.
class TestVirtualKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsEveryCode_data();
    void readsEveryCode();
    void showsTheLightAndLosesItUnplugged();
    void isMadeForTheCommandLine();
};

namespace {

KitReversed fromMask(int mask)
{
    KitReversed r{};
    for (int m = 0; m < ArmJointCount; ++m)
        r[size_t(m)] = (mask >> m & 1) != 0;
    return r;
}

// The motor a code turns, as the kit's table has it.
ArmJoint motorOf(int code)
{
    for (const KitCommand::CodeBit &c : KitCommand::codeBits) {
        if (c.code == code)
            return c.motor;
    }
    return ArmJoint::Base;
}

} // namespace

void TestVirtualKit::readsEveryCode_data()
{
    QTest::addColumn<int>("programReversed");
    QTest::addColumn<int>("armWiring");
    QTest::newRow("as built") << 0 << 0;
    // The virtual kit wired as the program expects: every motor turns as the program meant.
    QTest::newRow("base and wrist reversed on both sides") << 0b01001 << 0b01001;
    // Wired as built while the program reverses the base and the elbow: those arrive the other way.
    QTest::newRow("program reverses, arm as built") << 0b00101 << 0;
}

void TestVirtualKit::readsEveryCode()
{
    QFETCH(int, programReversed);
    QFETCH(int, armWiring);
    VirtualKitTransport kits;
    VirtualArm arm(kits, fromMask(armWiring));
    QCOMPARE(arm.kind(), VirtualArm::Kind::Kit);
    QVERIFY(!arm.armInterface());
    ArmSimulator simulator;
    simulator.attach(arm);
    QSignalSpy received(&arm, &VirtualArm::commandReceived);
    KitArmList list(kits);
    list.setReversed(fromMask(programReversed));
    list.start();
    QCOMPARE(list.armCount(), 1);
    for (int code = 1; code <= KitCommand::MaxCode; ++code) {
        const bool swapped = ((programReversed ^ armWiring) >> int(motorOf(code)) & 1) != 0;
        const int expected = swapped ? ArmSimulator::oppositeCode(code) : code;
        for (const int sent : {code, 0}) {
            QVERIFY(list.send(qint16(sent)).allTook);
            QCOMPARE(received.size(), 1);
            const int got = received.takeFirst().at(0).toInt();
            QCOMPARE(got, sent == 0 ? 0 : expected);
            QCOMPARE(arm.lastCode(), got);
            QCOMPARE(simulator.code(), got);
        }
    }
    QCOMPARE(arm.commandCount(), 2 * KitCommand::MaxCode);
    QCOMPARE(arm.kitDevice()->written().size(), 2 * KitCommand::MaxCode);
}

void TestVirtualKit::showsTheLightAndLosesItUnplugged()
{
    VirtualKitTransport kits;
    VirtualArm arm(kits);
    QSignalSpy light(&arm, &VirtualArm::lightChanged);
    QSignalSpy power(&arm, &VirtualArm::powerLost);
    KitArmList list(kits);
    list.start();
    QVERIFY(list.send(2).allTook);
    QVERIFY(list.setLight(true, 2).allTook);
    QVERIFY(list.send(0).allTook);
    QVERIFY(list.setLight(true, 0).allTook); // no change, nothing told
    QCOMPARE(light.size(), 1);
    QCOMPARE(light.first().at(0).toBool(), true);
    QVERIFY(arm.light());
    // The motors stopped with the light on: the code is 0 and the light stays.
    QCOMPARE(arm.lastCode(), 0);
    arm.unplug();
    QCOMPARE(power.size(), 1);
    QCOMPARE(light.size(), 2);
    QCOMPARE(light.last().at(0).toBool(), false);
    QVERIFY(!arm.light());
    QCOMPARE(list.armCount(), 0);
    arm.plugIn();
    QCOMPARE(list.armCount(), 1);
    // Plugged back in while the program's light is on, the kit is lit again.
    QTRY_COMPARE(light.size(), 3);
    QVERIFY(arm.light());
}

void TestVirtualKit::isMadeForTheCommandLine()
{
    ArmTransport::Virtual which = ArmTransport::Virtual::None;
    QVERIFY(ArmTransport::parseKind(QStringLiteral("KIT"), &which));
    QCOMPARE(which, ArmTransport::Virtual::Kit);
    QVERIFY(ArmTransport::parseKind(QStringLiteral("hid"), &which));
    QCOMPARE(which, ArmTransport::Virtual::Hid);
    QVERIFY(!ArmTransport::parseKind(QStringLiteral("usb"), &which));

    // Posing as the kit, the arm is the only arm: no HID arm, and the log shows the three bytes.
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("arm.log"));
    ArmTransport arms;
    QString error;
    QVERIFY2(arms.make(ArmTransport::Virtual::Kit, logPath, &error), qPrintable(error));
    QVERIFY(arms.transport->enumerate().isEmpty());
    QCOMPARE(arms.kits->enumerate().size(), 1);
    {
        KitArmList list(*arms.kits);
        list.start();
        QVERIFY(list.send(7).allTook);
        QVERIFY(list.setLight(true, 7).allTook);
    }
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    // The list's end sends nothing of its own: two commands, two lines.
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].endsWith(" 7 000100"), lines[0].constData());
    QVERIFY2(lines[1].endsWith(" 7 000101"), lines[1].constData());

    // Posing as the HID board, there is no kit.
    QVERIFY(arms.make(ArmTransport::Virtual::Hid, QString(), &error));
    QVERIFY(arms.kits->enumerate().isEmpty());
    QCOMPARE(arms.arm->kind(), VirtualArm::Kind::Hid);
}

QTEST_GUILESS_MAIN(TestVirtualKit)
#include "tst_virtualkit.moc"
