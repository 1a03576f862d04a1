#include "KitCommand.h"
#include "RealKitTransport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The interface kit's command bytes, and how kits are found in sysfs.
class TestKitCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodesEveryCode_data();
    void encodesEveryCode();
    void refusesWhatIsNoCommand_data();
    void refusesWhatIsNoCommand();
    void readsTheProductProperty_data();
    void readsTheProductProperty();
    void findsKitsInSysfs();
};

namespace {

// The reversed motors as a mask in the rows of a table, bit i for motor i.
int only(ArmJoint motor)
{
    return 1 << int(motor);
}

int all()
{
    return (1 << ArmJointCount) - 1;
}

KitReversed fromMask(int mask)
{
    KitReversed r{};
    for (int m = 0; m < ArmJointCount; ++m)
        r[size_t(m)] = (mask >> m & 1) != 0;
    return r;
}

} // namespace

void TestKitCommand::encodesEveryCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("reversedMask");
    QTest::addColumn<QByteArray>("bytes"); // with the light off
    // As built: each code one motor's bit.
    const struct
    {
        int code;
        const char *hex;
    } asBuilt[] = {{0, "000000"},  {1, "400000"}, {2, "000200"}, {3, "100000"}, {4, "040000"}, {5, "010000"},
                   {6, "800000"},  {7, "000100"}, {8, "200000"}, {9, "080000"}, {10, "020000"}};
    for (const auto &c : asBuilt)
        QTest::addRow("code %d", c.code) << c.code << 0 << QByteArray::fromHex(c.hex);
    // A reversed motor takes its other bit; the other motors are not touched.
    QTest::newRow("base reversed, CCW") << 2 << only(ArmJoint::Base) << QByteArray::fromHex("000100");
    QTest::newRow("base reversed, CW") << 7 << only(ArmJoint::Base) << QByteArray::fromHex("000200");
    QTest::newRow("base reversed, shoulder up") << 1 << only(ArmJoint::Base) << QByteArray::fromHex("400000");
    QTest::newRow("shoulder reversed, up") << 1 << only(ArmJoint::Shoulder) << QByteArray::fromHex("800000");
    QTest::newRow("elbow reversed, down") << 8 << only(ArmJoint::Elbow) << QByteArray::fromHex("100000");
    QTest::newRow("wrist reversed, up") << 4 << only(ArmJoint::Wrist) << QByteArray::fromHex("080000");
    QTest::newRow("gripper reversed, close") << 5 << only(ArmJoint::Gripper) << QByteArray::fromHex("020000");
    QTest::newRow("gripper reversed, open") << 10 << only(ArmJoint::Gripper) << QByteArray::fromHex("010000");
    QTest::newRow("all reversed, stop") << 0 << all() << QByteArray::fromHex("000000");
    QTest::newRow("all reversed, elbow up") << 3 << all() << QByteArray::fromHex("200000");
    // Several motors at once: each its own bit.
    QTest::newRow("shoulder and elbow up") << armCombinedCode({0, 1, 1, 0, 0}) << 0 << QByteArray::fromHex("500000");
    QTest::newRow("base CW reversed, wrist down, gripper open")
        << armCombinedCode({-1, 0, 0, -1, 1}) << only(ArmJoint::Base) << QByteArray::fromHex("0a0200");
}

void TestKitCommand::encodesEveryCode()
{
    QFETCH(int, code);
    QFETCH(int, reversedMask);
    QFETCH(QByteArray, bytes);
    const KitReversed reversed = fromMask(reversedMask);
    QCOMPARE(KitCommand::encode(code, false, reversed).toHex(), bytes.toHex());
    // The light is byte 2's bit 0 whatever the motors do, code 0 included.
    QByteArray lit = bytes;
    lit[2] = char(KitCommand::LightBit);
    QCOMPARE(KitCommand::encode(code, true, reversed).toHex(), lit.toHex());
    // Read back with the same wiring, the command is the code it was made from, light and all.
    for (const QByteArray &sent : {bytes, lit}) {
        const KitCommand::Decoded d = KitCommand::decode(sent, reversed);
        QCOMPARE(d.code, code);
        QCOMPARE(d.light, sent == lit);
    }
    // A motor's two bits are never both set: one bit per motor the code turns.
    int bits = 0;
    for (const char b : bytes.left(2))
        bits += qPopulationCount(quint8(b));
    QCOMPARE(bits, armCodeParts(code).count);
}

void TestKitCommand::refusesWhatIsNoCommand_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("two bytes") << QByteArray::fromHex("4000");
    QTest::newRow("four bytes") << QByteArray::fromHex("40000000");
    QTest::newRow("shoulder both ways") << QByteArray::fromHex("c00000");
    QTest::newRow("base both ways") << QByteArray::fromHex("000300");
    QTest::newRow("one motor both ways beside another") << QByteArray::fromHex("310000");
    QTest::newRow("an unknown bit of byte 1") << QByteArray::fromHex("000400");
    QTest::newRow("an unknown bit of byte 2") << QByteArray::fromHex("000002");
}

void TestKitCommand::refusesWhatIsNoCommand()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(KitCommand::decode(bytes).code, -1);
    // Codes the kit has no motion for make no command at all.
    for (const int code : {-1, 11, 255, ArmCombinedFlag | 0x3, ArmCombinedFlag | 0x1})
        QVERIFY(KitCommand::encode(code, true).isEmpty());
}

void TestKitCommand::readsTheProductProperty_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::newRow("kit") << "1267/0/100" << true << 0x1267 << 0;
    QTest::newRow("other kit") << "1267/1/100" << true << 0x1267 << 1;
    QTest::newRow("hid board") << "1e6f/1113/201" << true << 0x1E6F << 0x1113;
    QTest::newRow("two fields") << "1267/0" << false << 0 << 0;
    QTest::newRow("not hex") << "12g7/0/1" << false << 0 << 0;
    QTest::newRow("too wide") << "11267/0/1" << false << 0 << 0;
}

void TestKitCommand::readsTheProductProperty()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, vendor);
    QFETCH(int, product);
    quint16 readVendor = 0;
    quint16 readProduct = 0;
    QCOMPARE(RealKitTransport::parseProductProperty(text, &readVendor, &readProduct), ok);
    if (ok) {
        QCOMPARE(int(readVendor), vendor);
        QCOMPARE(int(readProduct), product);
    }
}

void TestKitCommand::findsKitsInSysfs()
{
    QTemporaryDir root;
    const QString devices = root.filePath(QStringLiteral("sys/bus/usb/devices"));
    const auto device = [&](const QString &name, const QByteArray &vendor, const QByteArray &product, int bus,
                            int address) {
        const QString dir = devices + u'/' + name;
        QVERIFY(QDir().mkpath(dir));
        const QList<QPair<QString, QByteArray>> attributes{{QStringLiteral("idVendor"), vendor + '\n'},
                                                           {QStringLiteral("idProduct"), product + '\n'},
                                                           {QStringLiteral("busnum"), QByteArray::number(bus) + '\n'},
                                                           {QStringLiteral("devnum"), QByteArray::number(address) + '\n'}};
        for (const auto &[attribute, value] : attributes) {
            QFile f(dir + u'/' + attribute);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(value);
        }
    };
    device(QStringLiteral("1-1"), "1267", "0000", 1, 4);
    device(QStringLiteral("1-2"), "1e6f", "1113", 1, 5); // the HID board: not a kit
    device(QStringLiteral("2-1.3"), "1267", "0001", 2, 17);
    device(QStringLiteral("2-2"), "1267", "0002", 2, 18); // another product of the kit's maker
    QVERIFY(QDir().mkpath(devices + QStringLiteral("/1-1:1.0"))); // an interface: no identifiers
    QFile product(devices + QStringLiteral("/1-1/product"));
    QVERIFY(product.open(QIODevice::WriteOnly));
    product.write("USB Robotic Arm\n");
    product.close();

    const QString dev = root.filePath(QStringLiteral("dev"));
    RealKitTransport transport(root.filePath(QStringLiteral("sys")), dev);
    QCOMPARE(transport.enumerateUsb().size(), 4);
    const QList<KitDeviceInfo> kits = transport.enumerate();
    QCOMPARE(kits.size(), 2);
    QCOMPARE(kits[0].path, dev + QStringLiteral("/bus/usb/001/004"));
    QCOMPARE(kits[0].busNumber, 1);
    QCOMPARE(kits[0].address, 4);
    QCOMPARE(kits[0].productId, quint16(0));
    QCOMPARE(kits[0].product, QStringLiteral("USB Robotic Arm"));
    QCOMPARE(kits[0].describe(), QStringLiteral("1267:0000 on bus 1, address 4"));
    QCOMPARE(kits[1].path, dev + QStringLiteral("/bus/usb/002/017"));
    QCOMPARE(kits[1].productId, quint16(1));

    // Listed again, as every two seconds without udev: a kit gone and a kit come are told, each once.
    qRegisterMetaType<KitDeviceInfo>();
    QSignalSpy arrived(&transport, &KitTransport::deviceArrived);
    QSignalSpy removed(&transport, &KitTransport::deviceRemoved);
    QVERIFY(QDir(devices + QStringLiteral("/2-1.3")).removeRecursively());
    device(QStringLiteral("3-1"), "1267", "0000", 3, 2);
    transport.rescan();
    transport.rescan();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.first().at(0).value<KitDeviceInfo>().path, dev + QStringLiteral("/bus/usb/002/017"));
    QCOMPARE(arrived.size(), 1);
    QCOMPARE(arrived.first().at(0).value<KitDeviceInfo>().path, dev + QStringLiteral("/bus/usb/003/002"));
    // The same port with a new address is a new kit: the old one goes, the new one comes.
    device(QStringLiteral("3-1"), "1267", "0000", 3, 3);
    transport.rescan();
    QCOMPARE(removed.size(), 2);
    QCOMPARE(arrived.size(), 2);
    QCOMPARE(arrived.last().at(0).value<KitDeviceInfo>().address, 3);

    // No node: not found. A node that is no USB device: refused by libusb, said so.
    QString error;
    DeviceOpenFailure failure = DeviceOpenFailure::None;
    QVERIFY(!transport.open(kits[0], &error, &failure));
    QCOMPARE(failure, DeviceOpenFailure::NotFound);
    QVERIFY2(error.startsWith(kits[0].path), qPrintable(error));
    QVERIFY(QDir().mkpath(dev + QStringLiteral("/bus/usb/002")));
    QFile node(kits[1].path);
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QVERIFY(!transport.open(kits[1], &error, &failure));
    QVERIFY(failure != DeviceOpenFailure::None);
    // A node the user may not open is a refusal of permission (root opens anything).
    if (::geteuid() != 0) {
        QVERIFY(node.setPermissions(QFileDevice::ReadOwner));
        QVERIFY(!transport.open(kits[1], &error, &failure));
        QCOMPARE(failure, DeviceOpenFailure::PermissionDenied);
    }
}

QTEST_GUILESS_MAIN(TestKitCommand)
#include "tst_kitcommand.moc"
