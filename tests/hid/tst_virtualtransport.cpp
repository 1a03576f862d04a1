#include "HIDagentX.h"
#include "ProcessClock.h"
#include "RealHidTransport.h"
#include "VirtualArm.h"
#include "VirtualArmLog.h"
#include "VirtualHidTransport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestVirtualTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceName_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("expected");
        QTest::newRow("arm") << 0x1E6F << 0x1113 << QStringLiteral("Robotic Arm")
                             << "VID_1E6F&PID_1113 Robotic Arm /dev/hidraw12";
        QTest::newRow("small numbers padded")
            << 0x0001 << 0x00AB << QStringLiteral("Pad") << "VID_0001&PID_00AB Pad /dev/hidraw12";
        QTest::newRow("no product string")
            << 0xFFFF << 0x0000 << QString() << "VID_FFFF&PID_0000 /dev/hidraw12";
        QTest::newRow("lower-case product kept")
            << 0x046d << 0xc077 << QStringLiteral("usb mouse") << "VID_046D&PID_C077 usb mouse /dev/hidraw12";
    }

    void deviceName()
    {
        QFETCH(int, vid);
        QFETCH(int, pid);
        QFETCH(QString, product);
        QFETCH(QString, expected);
        HidInterfaceInfo info;
        info.vendorId = quint16(vid);
        info.productId = quint16(pid);
        info.product = product;
        info.path = QStringLiteral("/dev/hidraw12");
        QCOMPARE(info.deviceName(), expected);
    }

    void plugAndUnplugFollowMonitoring()
    {
        VirtualHidTransport transport;
        QSignalSpy arrived(&transport, &HidTransport::interfaceArrived);
        QSignalSpy removed(&transport, &HidTransport::interfaceRemoved);
        VirtualHidInterface *arm = transport.addArm();
        VirtualHidInterface *mouse = transport.addOtherDevice(false);
        QCOMPARE(arrived.count(), 0); // not monitoring
        QCOMPARE(transport.enumerate().size(), 1);
        QCOMPARE(transport.enumerate().at(0).path, arm->info.path);

        QVERIFY(transport.startMonitoring());
        transport.plug(mouse->info.path);
        transport.plug(mouse->info.path); // already in: nothing happens
        QCOMPARE(arrived.count(), 1);
        QCOMPARE(arrived.at(0).at(0).value<HidInterfaceInfo>().vendorId, VirtualHidTransport::MouseVendorId);
        QCOMPARE(transport.enumerate().size(), 2);

        transport.unplug(arm->info.path);
        transport.unplug(arm->info.path);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).value<HidInterfaceInfo>().path, arm->info.path);
        QCOMPARE(transport.enumerate().size(), 1);
        QVERIFY(!arm->isPlugged());
        QCOMPARE(transport.interface(arm->info.path), arm); // still known, so that it can come back

        transport.stopMonitoring();
        transport.plug(arm->info.path);
        QCOMPARE(arrived.count(), 1);
        QVERIFY(arm->isPlugged());

        // Every interface gets a path of its own; a path already in use is refused.
        VirtualHidInterface *second = transport.addArm();
        const auto split = transport.addSplitArm();
        QVERIFY(arm->info.path != second->info.path);
        QVERIFY(split.first->info.path != split.second->info.path);
        QCOMPARE(split.first->info.vendorId, split.second->info.vendorId);
        QVERIFY(split.first->info.interfaceNumber != split.second->info.interfaceNumber);
        QVERIFY(!transport.addInterface(arm->info, QByteArray()));
        VirtualHidInterface *generated = transport.addInterface(HidInterfaceInfo(), QByteArray());
        QVERIFY(generated && !generated->info.path.isEmpty());
        QCOMPARE(transport.interfaces().size(), 6);
    }

    void openRefusalsThenConnectionRecordsAndFails()
    {
        VirtualHidTransport transport;
        VirtualHidInterface *arm = transport.addArm(false);
        QSignalSpy written(&transport, &VirtualHidTransport::reportWritten);
        HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
        QString error;
        QVERIFY(!transport.open(arm->info, &error, &failure));
        QCOMPARE(failure, HidTransport::OpenFailure::NotFound);
        transport.plug(arm->info.path);
        arm->denyOpen(true);
        QVERIFY(!transport.open(arm->info, &error, &failure));
        QCOMPARE(failure, HidTransport::OpenFailure::PermissionDenied);
        arm->denyOpen(false);
        QVERIFY(!transport.open(arm->info, &error, &failure));
        QCOMPARE(failure, HidTransport::OpenFailure::Other);
        arm->allowOpen();
        std::unique_ptr<HidConnection> c = transport.open(arm->info, &error, &failure);
        QVERIFY(c);
        QCOMPARE(failure, HidTransport::OpenFailure::None);
        QVERIFY(arm->isOpen());
        QCOMPARE(c->reportDescriptor(), VirtualHidTransport::armReportDescriptor());

        QVERIFY(c->writeOutputReport(hex("0001"), &error));
        QVERIFY(c->writeOutputReport(hex("0002"), &error));
        arm->failNextWrite();
        QVERIFY(!c->writeOutputReport(hex("0003"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(c->sendFeatureReport(hex("0407"), &error));
        QCOMPARE(arm->written.size(), 3);
        QCOMPARE(arm->written.at(0).bytes, hex("0001"));
        QCOMPARE(arm->written.at(1).bytes, hex("0002"));
        QCOMPARE(arm->written.at(2).type, HidReportType::Feature);
        QVERIFY(arm->written.at(0).monotonicNs <= arm->written.at(1).monotonicNs);
        QVERIFY(arm->written.at(1).monotonicNs <= arm->written.at(2).monotonicNs);
        QCOMPARE(written.count(), 2); // output reports only
        QCOMPARE(written.at(1).at(1).toByteArray(), hex("0002"));
        QCOMPARE(written.at(1).at(2).toLongLong(), arm->written.at(1).monotonicNs);
        QByteArray feature = hex("04");
        QVERIFY(c->getFeatureReport(feature, &error));
        QCOMPARE(feature, hex("0407"));

        arm->queueInputReport(hex("000102"));
        arm->queueInputReport(hex("000304"));
        QByteArray in;
        QVERIFY(c->readInputReport(in, 10, &error));
        QCOMPARE(in, hex("000102"));
        arm->failNextRead();
        QVERIFY(!c->readInputReport(in, 10, &error));
        QVERIFY(c->readInputReport(in, 10, &error));
        QCOMPARE(in, hex("000304"));
        QVERIFY(!c->readInputReport(in, 10, &error)); // empty queue: timeout

        transport.unplug(arm->info.path);
        QVERIFY(!c->writeOutputReport(hex("0005"), &error));
        QCOMPARE(error, QStringLiteral("device disconnected"));
        QCOMPARE(arm->written.size(), 3);
        c.reset();
        QVERIFY(!arm->isOpen());

        // The real transport says the same of a node that is not there.
        RealHidTransport real;
        HidInterfaceInfo missing;
        missing.path = QStringLiteral("/dev/hidraw-does-not-exist");
        QVERIFY(!real.open(missing, &error, &failure));
        QCOMPARE(failure, HidTransport::OpenFailure::NotFound);
        QVERIFY(error.startsWith(missing.path));
        QVERIFY(RealHidTransport::readReportDescriptor(missing.path, &error).isEmpty());
    }

    void armDecodesAndLogsCommandsWrittenThroughTheAgent_data()
    {
        QTest::addColumn<bool>("split");
        QTest::newRow("one interface") << false;
        QTest::newRow("two interfaces") << true;
    }

    void armDecodesAndLogsCommandsWrittenThroughTheAgent()
    {
        QFETCH(bool, split);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("arm.log"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier run\n");
        old.close();
        VirtualHidTransport transport;
        VirtualArm arm(transport, split ? VirtualArm::Shape::TwoInterfaces : VirtualArm::Shape::OneInterface);
        QCOMPARE(arm.interfaces().size(), split ? 2 : 1);
        VirtualArmLog log(arm);
        QString error;
        QVERIFY(!log.open(dir.path(), &error)); // a directory
        QVERIFY(error.startsWith(dir.path()));
        QVERIFY(!log.isOpen());
        QVERIFY2(log.open(path, &error), qPrintable(error));

        HIDagentX agent(&transport);
        QSignalSpy received(&arm, &VirtualArm::commandReceived);
        agent.StartAgent();
        QVERIFY(agent.OpenMatchingIntfs());
        agent.SelectIntf(agent.IntfCount() - 1);
        const int cmd = agent.FindVar(1, 0x3E, 1, false);
        QVERIFY(cmd >= 0);
        agent.SelectRpt(agent.VarRptIndex(cmd));
        const QList<int> codes = {1, 10, 0};
        QStringList lines = {QStringLiteral("earlier run")};
        for (int i = 0; i < codes.size(); ++i) {
            agent.SetVarUnScaledValue(cmd, codes.at(i));
            QVERIFY(agent.WriteRpt());
            // Appended and flushed as written, stamped with the time of the recorded write.
            const qint64 ns = arm.armInterface()->written.at(i).monotonicNs;
            lines << QStringLiteral("%1 %2 %3")
                         .arg(QString::number(ProcessClock::secondsAt(ns), 'f', 6))
                         .arg(codes.at(i))
                         .arg(codes.at(i), 2, 16, QLatin1Char('0'));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
            QCOMPARE(QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), lines);
        }
        QCOMPARE(received.count(), 3);
        for (int i = 0; i < codes.size(); ++i)
            QCOMPARE(received.at(i).at(0).toInt(), codes.at(i));
        // The arm sees the report without the ID byte its descriptor does not use.
        QCOMPARE(received.at(1).at(2).toByteArray(), hex("0a"));
        QCOMPARE(received.at(1).at(1).toLongLong(), arm.armInterface()->written.at(1).monotonicNs);
        QCOMPARE(arm.lastCode(), 0);
        QCOMPARE(arm.commandCount(), 3);

        QSignalSpy closed(&agent, &HIDagentX::OnIntfClosed);
        arm.unplug();
        QVERIFY(!arm.isPluggedIn());
        QCOMPARE(closed.count(), split ? 2 : 1);
        arm.plugIn();
        QVERIFY(agent.OpenMatchingIntfs());
        QCOMPARE(agent.IntfCount(), split ? 2 : 1);
    }

    void decodeCommand_data()
    {
        QTest::addColumn<QByteArray>("descriptor");
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("code");
        const QByteArray arm = VirtualHidTransport::armReportDescriptor();
        QTest::newRow("arm") << arm << hex("07") << 7;
        QTest::newRow("arm, empty report") << arm << QByteArray() << -1;
        QTest::newRow("mouse has no command")
            << VirtualHidTransport::mouseReportDescriptor() << hex("0000") << -1;
        // ID 3; a padding byte, then the command as 16 bits.
        const QByteArray withId = hex("05010900a101 8503 750895019103 150027ffff00007510 093e9102 c0");
        QTest::newRow("id and offset") << withId << hex("03ff0901") << 0x109;
        QTest::newRow("other report id") << withId << hex("04ff0901") << -1;
        QTest::newRow("short report") << withId << hex("03ff09") << -1;
    }

    void decodeCommand()
    {
        QFETCH(QByteArray, descriptor);
        QFETCH(QByteArray, report);
        QFETCH(int, code);
        const HidParseResult parsed = parseReportDescriptor(descriptor);
        QVERIFY2(parsed.ok(), qPrintable(parsed.error.toString()));
        QCOMPARE(VirtualArm::decodeCommand(*parsed.layout, report), code);
    }

    void processClock()
    {
        QCOMPARE(ProcessClock::secondsAt(ProcessClock::startNs()), 0.0);
        ProcessClock::markStart(); // only the first start counts
        const qint64 start = ProcessClock::startNs();
        const qint64 a = ProcessClock::monotonicNs();
        const qint64 b = ProcessClock::monotonicNs();
        QVERIFY(start <= a && a <= b);
        QCOMPARE(ProcessClock::startNs(), start);
        QVERIFY(ProcessClock::secondsSinceStart() >= ProcessClock::secondsAt(b));
        QCOMPARE(ProcessClock::secondsAt(start + 1'500'000'000), 1.5);
    }

    void descriptorPathForNode_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("expected");
        const QString sys = QStringLiteral("/sys/class/hidraw/hidraw%1/device/report_descriptor");
        QTest::newRow("hidraw3") << QStringLiteral("/dev/hidraw3") << sys.arg(3);
        QTest::newRow("hidraw12") << QStringLiteral("/dev/hidraw12") << sys.arg(12);
        QTest::newRow("no number") << QStringLiteral("/dev/hidraw") << QString();
        QTest::newRow("other device") << QStringLiteral("/dev/ttyUSB0") << QString();
        QTest::newRow("path escape") << QStringLiteral("/dev/hidraw1/../../etc") << QString();
        QTest::newRow("virtual") << QStringLiteral("virtual/arm0") << QString();
    }

    void descriptorPathForNode()
    {
        QFETCH(QString, node);
        QFETCH(QString, expected);
        QCOMPARE(RealHidTransport::descriptorPathForNode(node), expected);
    }

    void parseHidId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QList<int>>("busVidPid"); // left untouched on failure
        const QList<int> untouched = {0xAAAA, 0xAAAA, 0xAAAA};
        QTest::newRow("usb arm") << "0003:00001E6F:00001113" << true << QList<int>{3, 0x1E6F, 0x1113};
        QTest::newRow("lower case") << "0005:0000046d:0000b01a" << true << QList<int>{5, 0x046D, 0xB01A};
        QTest::newRow("trailing newline") << "0003:00001E6F:00001113\n"
                                          << true << QList<int>{3, 0x1E6F, 0x1113};
        QTest::newRow("vendor above 16 bits") << "0003:00011E6F:00001113" << false << untouched;
        QTest::newRow("two fields") << "0003:00001E6F" << false << untouched;
        QTest::newRow("not hex") << "0003:0000XE6F:00001113" << false << untouched;
        QTest::newRow("empty") << "" << false << untouched;
    }

    void parseHidId()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QList<int>, busVidPid);
        quint16 b = 0xAAAA, v = 0xAAAA, p = 0xAAAA;
        QCOMPARE(RealHidTransport::parseHidId(text, &v, &p, &b), ok);
        QCOMPARE(QList<int>({b, v, p}), busVidPid);
    }

    void failureFromErrno_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<HidTransport::OpenFailure>("expected");
        QTest::newRow("EACCES") << EACCES << HidTransport::OpenFailure::PermissionDenied;
        QTest::newRow("EPERM") << EPERM << HidTransport::OpenFailure::PermissionDenied;
        QTest::newRow("ENOENT") << ENOENT << HidTransport::OpenFailure::NotFound;
        QTest::newRow("ENODEV") << ENODEV << HidTransport::OpenFailure::NotFound;
        QTest::newRow("EBUSY") << EBUSY << HidTransport::OpenFailure::Other;
    }

    void failureFromErrno()
    {
        QFETCH(int, error);
        QFETCH(HidTransport::OpenFailure, expected);
        QCOMPARE(RealHidTransport::failureFromErrno(error), expected);
    }
};

QTEST_GUILESS_MAIN(TestVirtualTransport)
#include "tst_virtualtransport.moc"
