#include "HIDagentX.h"
#include "ProcessClock.h"
#include "RealHidTransport.h"
#include "VirtualArm.h"
#include "VirtualArmLog.h"
#include "VirtualHidTransport.h"

#include <QFile>
#include <QRegularExpression>
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
    void deviceName_data();
    void deviceName();
    void plugAndUnplugFollowMonitoring();
    void pathsAreUnique();
    void connectionRecordsAndFails();
    void openRefusals();
    void armDecodesCommandsWrittenThroughTheAgent_data();
    void armDecodesCommandsWrittenThroughTheAgent();
    void decodeCommand_data();
    void decodeCommand();
    void logLinesParseBack();
    void logOpenFailure();
    void processClock();
    void descriptorPathForNode_data();
    void descriptorPathForNode();
    void parseHidId_data();
    void parseHidId();
    void failureFromErrno_data();
    void failureFromErrno();
    void realOpenOfMissingNode();
};

void TestVirtualTransport::deviceName_data()
{
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("arm") << 0x1E6F << 0x1113 << "Robotic Arm"
                         << "/dev/hidraw3"
                         << "VID_1E6F&PID_1113 Robotic Arm /dev/hidraw3";
    QTest::newRow("small numbers padded") << 0x0001 << 0x00AB << "Pad"
                                          << "/dev/hidraw0"
                                          << "VID_0001&PID_00AB Pad /dev/hidraw0";
    QTest::newRow("no product string") << 0xFFFF << 0x0000 << ""
                                       << "/dev/hidraw12"
                                       << "VID_FFFF&PID_0000 /dev/hidraw12";
    QTest::newRow("lower-case product kept") << 0x046d << 0xc077 << "usb mouse"
                                             << "p"
                                             << "VID_046D&PID_C077 usb mouse p";
}

void TestVirtualTransport::deviceName()
{
    QFETCH(int, vid);
    QFETCH(int, pid);
    QFETCH(QString, product);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    HidInterfaceInfo info;
    info.vendorId = quint16(vid);
    info.productId = quint16(pid);
    info.product = product;
    info.path = path;
    QCOMPARE(info.deviceName(), expected);
    // The way the window matches a configured identity: substring of the trimmed, upper-cased name.
    const QString identity = QStringLiteral("VID_%1&PID_%2")
                                 .arg(QString::number(vid, 16).rightJustified(4, QLatin1Char('0')),
                                      QString::number(pid, 16).rightJustified(4, QLatin1Char('0')))
                                 .toUpper();
    QVERIFY(info.deviceName().trimmed().toUpper().contains(identity));
}

void TestVirtualTransport::plugAndUnplugFollowMonitoring()
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
    // The interface stays known, so that it can come back.
    QCOMPARE(transport.interface(arm->info.path), arm);

    transport.stopMonitoring();
    transport.plug(arm->info.path);
    QCOMPARE(arrived.count(), 1);
    QVERIFY(arm->isPlugged());
}

void TestVirtualTransport::pathsAreUnique()
{
    VirtualHidTransport transport;
    VirtualHidInterface *a = transport.addArm();
    VirtualHidInterface *b = transport.addArm();
    const auto split = transport.addSplitArm();
    QVERIFY(a->info.path != b->info.path);
    QVERIFY(split.first->info.path != split.second->info.path);
    QCOMPARE(split.first->info.vendorId, split.second->info.vendorId);
    QCOMPARE(split.first->info.productId, quint16(0x1113));
    QVERIFY(split.first->info.interfaceNumber != split.second->info.interfaceNumber);
    QVERIFY(!transport.addInterface(a->info, QByteArray()));
    VirtualHidInterface *generated = transport.addInterface(HidInterfaceInfo(), QByteArray());
    QVERIFY(generated && !generated->info.path.isEmpty());
    QCOMPARE(transport.interfaces().size(), 5);
}

void TestVirtualTransport::connectionRecordsAndFails()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    QSignalSpy written(&transport, &VirtualHidTransport::reportWritten);
    QString error;
    std::unique_ptr<HidConnection> c = transport.open(arm->info, &error);
    QVERIFY(c);
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
}

void TestVirtualTransport::openRefusals()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    VirtualHidInterface *gone = transport.addArm(false);
    HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
    QString error;

    arm->denyOpen(true);
    QVERIFY(!transport.open(arm->info, &error, &failure));
    QCOMPARE(failure, HidTransport::OpenFailure::PermissionDenied);
    arm->denyOpen(false);
    QVERIFY(!transport.open(arm->info, &error, &failure));
    QCOMPARE(failure, HidTransport::OpenFailure::Other);
    QVERIFY(!transport.open(gone->info, &error, &failure));
    QCOMPARE(failure, HidTransport::OpenFailure::NotFound);
    arm->allowOpen();
    QVERIFY(transport.open(arm->info, &error, &failure));
    QCOMPARE(failure, HidTransport::OpenFailure::None);
}

void TestVirtualTransport::armDecodesCommandsWrittenThroughTheAgent_data()
{
    QTest::addColumn<bool>("split");
    QTest::newRow("one interface") << false;
    QTest::newRow("two interfaces") << true;
}

void TestVirtualTransport::armDecodesCommandsWrittenThroughTheAgent()
{
    QFETCH(bool, split);
    VirtualHidTransport transport;
    VirtualArm arm(transport, split ? VirtualArm::Shape::TwoInterfaces : VirtualArm::Shape::OneInterface);
    QCOMPARE(arm.interfaces().size(), split ? 2 : 1);
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs());
    QSignalSpy received(&arm, &VirtualArm::commandReceived);

    agent.SelectIntf(agent.IntfCount() - 1);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    QVERIFY(cmd >= 0);
    agent.SelectRpt(agent.VarRptIndex(cmd));
    for (int code : {1, 10, 0}) {
        agent.SetVarUnScaledValue(cmd, code);
        QVERIFY(agent.WriteRpt());
    }
    QCOMPARE(received.count(), 3);
    QCOMPARE(received.at(0).at(0).toInt(), 1);
    QCOMPARE(received.at(1).at(0).toInt(), 10);
    QCOMPARE(received.at(2).at(0).toInt(), 0);
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

void TestVirtualTransport::decodeCommand_data()
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
    const QByteArray withId = hex("0501"
                                  "0900"
                                  "a101"
                                  "8503"
                                  "7508"
                                  "9501"
                                  "9103"
                                  "1500"
                                  "27ffff0000"
                                  "7510"
                                  "093e"
                                  "9102"
                                  "c0");
    QTest::newRow("id and offset") << withId << hex("03ff0901") << 0x109;
    QTest::newRow("other report id") << withId << hex("04ff0901") << -1;
    QTest::newRow("short report") << withId << hex("03ff09") << -1;
}

void TestVirtualTransport::decodeCommand()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(QByteArray, report);
    QFETCH(int, code);
    const HidParseResult parsed = parseReportDescriptor(descriptor);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error.toString()));
    QCOMPARE(VirtualArm::decodeCommand(*parsed.layout, report), code);
}

void TestVirtualTransport::logLinesParseBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("arm.log"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier run\n");
    }
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    VirtualArmLog log(arm);
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));

    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs());
    agent.SelectIntf(0);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    agent.SelectRpt(agent.VarRptIndex(cmd));
    const QList<int> codes = {3, 10, 0};
    for (int code : codes) {
        agent.SetVarUnScaledValue(cmd, code);
        QVERIFY(agent.WriteRpt());
        // Flushed as written: the file holds the line before the next command.
        QFile peek(path);
        QVERIFY(peek.open(QIODevice::ReadOnly));
        QVERIFY(peek.readAll().endsWith(
            QStringLiteral(" %1 %2\n").arg(code).arg(code, 2, 16, QLatin1Char('0')).toLatin1()));
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QStringLiteral("earlier run"));
    static const QRegularExpression line(QStringLiteral("^(\\d+\\.\\d{6}) (\\d+) ([0-9a-f]+)$"));
    double previous = 0;
    const double now = ProcessClock::secondsSinceStart();
    for (int i = 0; i < codes.size(); ++i) {
        const QRegularExpressionMatch m = line.match(lines.at(i + 1));
        QVERIFY2(m.hasMatch(), qPrintable(lines.at(i + 1)));
        const double seconds = m.captured(1).toDouble();
        QVERIFY(seconds >= previous);
        QVERIFY(seconds <= now);
        previous = seconds;
        QCOMPARE(m.captured(2).toInt(), codes.at(i));
        QCOMPARE(QByteArray::fromHex(m.captured(3).toLatin1()), QByteArray(1, char(codes.at(i))));
        // The time is that of the recorded write.
        const qint64 ns = arm.armInterface()->written.at(i).monotonicNs;
        QCOMPARE(m.captured(1), QString::number(ProcessClock::secondsAt(ns), 'f', 6));
    }
}

void TestVirtualTransport::logOpenFailure()
{
    QTemporaryDir dir;
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    VirtualArmLog log(arm);
    QString error;
    QVERIFY(!log.open(dir.path(), &error)); // a directory
    QVERIFY(error.startsWith(dir.path()));
    QVERIFY(!log.isOpen());
}

void TestVirtualTransport::processClock()
{
    QCOMPARE(ProcessClock::secondsAt(ProcessClock::startNs()), 0.0);
    ProcessClock::markStart(); // only the first start counts
    const qint64 start = ProcessClock::startNs();
    const qint64 a = ProcessClock::monotonicNs();
    const qint64 b = ProcessClock::monotonicNs();
    QVERIFY(start <= a);
    QVERIFY(a <= b);
    QCOMPARE(ProcessClock::startNs(), start);
    QVERIFY(ProcessClock::secondsSinceStart() >= ProcessClock::secondsAt(b));
    QCOMPARE(ProcessClock::secondsAt(start + 1'500'000'000), 1.5);
}

void TestVirtualTransport::descriptorPathForNode_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("expected");
    QTest::newRow("hidraw3") << "/dev/hidraw3"
                             << "/sys/class/hidraw/hidraw3/device/report_descriptor";
    QTest::newRow("hidraw12") << "/dev/hidraw12"
                              << "/sys/class/hidraw/hidraw12/device/report_descriptor";
    QTest::newRow("no number") << "/dev/hidraw"
                               << "";
    QTest::newRow("other device") << "/dev/ttyUSB0"
                                  << "";
    QTest::newRow("path escape") << "/dev/hidraw1/../../etc"
                                 << "";
    QTest::newRow("virtual") << "virtual/arm0"
                             << "";
}

void TestVirtualTransport::descriptorPathForNode()
{
    QFETCH(QString, node);
    QFETCH(QString, expected);
    QCOMPARE(RealHidTransport::descriptorPathForNode(node), expected);
}

void TestVirtualTransport::parseHidId_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("bus");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::newRow("usb arm") << "0003:00001E6F:00001113" << true << 3 << 0x1E6F << 0x1113;
    QTest::newRow("lower case") << "0005:0000046d:0000b01a" << true << 5 << 0x046D << 0xB01A;
    QTest::newRow("trailing newline") << "0003:00001E6F:00001113\n" << true << 3 << 0x1E6F << 0x1113;
    QTest::newRow("vendor above 16 bits") << "0003:00011E6F:00001113" << false << 0 << 0 << 0;
    QTest::newRow("two fields") << "0003:00001E6F" << false << 0 << 0 << 0;
    QTest::newRow("not hex") << "0003:0000XE6F:00001113" << false << 0 << 0 << 0;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0;
}

void TestVirtualTransport::parseHidId()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, bus);
    QFETCH(int, vid);
    QFETCH(int, pid);
    quint16 b = 0xAAAA, v = 0xAAAA, p = 0xAAAA;
    QCOMPARE(RealHidTransport::parseHidId(text, &v, &p, &b), ok);
    if (ok) {
        QCOMPARE(int(b), bus);
        QCOMPARE(int(v), vid);
        QCOMPARE(int(p), pid);
    } else {
        QCOMPARE(v, quint16(0xAAAA)); // untouched on failure
    }
}

void TestVirtualTransport::failureFromErrno_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<HidTransport::OpenFailure>("expected");
    QTest::newRow("EACCES") << EACCES << HidTransport::OpenFailure::PermissionDenied;
    QTest::newRow("EPERM") << EPERM << HidTransport::OpenFailure::PermissionDenied;
    QTest::newRow("ENOENT") << ENOENT << HidTransport::OpenFailure::NotFound;
    QTest::newRow("ENODEV") << ENODEV << HidTransport::OpenFailure::NotFound;
    QTest::newRow("EBUSY") << EBUSY << HidTransport::OpenFailure::Other;
}

void TestVirtualTransport::failureFromErrno()
{
    QFETCH(int, error);
    QFETCH(HidTransport::OpenFailure, expected);
    QCOMPARE(RealHidTransport::failureFromErrno(error), expected);
}

void TestVirtualTransport::realOpenOfMissingNode()
{
    RealHidTransport transport;
    HidInterfaceInfo info;
    info.path = QStringLiteral("/dev/hidraw-does-not-exist");
    QString error;
    HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
    QVERIFY(!transport.open(info, &error, &failure));
    QCOMPARE(failure, HidTransport::OpenFailure::NotFound);
    QVERIFY(error.startsWith(info.path));
    QVERIFY(RealHidTransport::readReportDescriptor(info.path, &error).isEmpty());
}

QTEST_GUILESS_MAIN(TestVirtualTransport)
#include "tst_virtualtransport.moc"
