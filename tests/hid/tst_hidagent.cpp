#include "HIDagentX.h"
#include "HidError.h"
#include "ProcessClock.h"
#include "VirtualHidTransport.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

namespace {

constexpr int Arm = (0x1E6F << 16) | 0x1113;

void searchArm(HIDagentX &agent)
{
    agent.SetVID_To_Match(0x1E6F);
    agent.SetPID_To_Match(0x1113);
    agent.SetSearchOnPID(true);
    agent.SetSearchOnVID(true);
}

int errorNumber(const std::function<void()> &call)
{
    try {
        call();
    } catch (const HidError &e) {
        return e.number();
    }
    return 0;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestHidAgent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensOnlyMatchingInterfaces_data();
    void opensOnlyMatchingInterfaces();
    void openedEventRunsInsideTheSearch();
    void armVariablesAndAttributes();
    void splitArmNumbersVariablesAcrossInterfaces();
    void valueReachesReportBytes_data();
    void valueReachesReportBytes();
    void rejectsValuesOutsideTheField_data();
    void rejectsValuesOutsideTheField();
    void failingWriteReturnsFalse();
    void readFillsBufferAndRaisesArrival();
    void readFailures();
    void unplugClosesThenReportsRemoval();
    void arrivalOnlyAnnounces();
    void closeRenumbersTheLists();
    void handlesAreNeverReused();
    void permissionDeniedIsReportedOncePerPath();
    void undecodableDescriptorIsNotOpened();
    void stopClosesEverything();
    void throwingHandlerDoesNotStopTheSearch();
    void operationsNeedAStartedAgentAndValidIndexes();
};

void TestHidAgent::opensOnlyMatchingInterfaces_data()
{
    QTest::addColumn<bool>("onVid");
    QTest::addColumn<bool>("onPid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("expectedOpen");
    QTest::addColumn<bool>("expectedResult");

    // arm + mouse + split arm (2) are present
    QTest::newRow("vid and pid") << true << true << 0x1113 << 3 << true;
    QTest::newRow("vid only, wrong pid ignored") << true << false << 0x9999 << 3 << true;
    QTest::newRow("vid and wrong pid") << true << true << 0x9999 << 0 << false;
    QTest::newRow("no criteria opens all") << false << false << 0 << 4 << true;
}

void TestHidAgent::opensOnlyMatchingInterfaces()
{
    QFETCH(bool, onVid);
    QFETCH(bool, onPid);
    QFETCH(int, pid);
    QFETCH(int, expectedOpen);
    QFETCH(bool, expectedResult);

    VirtualHidTransport transport;
    transport.addArm();
    VirtualHidInterface *mouse = transport.addOtherDevice();
    transport.addSplitArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    agent.SetVID_To_Match(0x1E6F);
    agent.SetPID_To_Match(pid);
    agent.SetSearchOnVID(onVid);
    agent.SetSearchOnPID(onPid);
    QSignalSpy opened(&agent, &HIDagentX::OnIntfOpened);

    QCOMPARE(agent.OpenMatchingIntfs(), expectedResult);
    QCOMPARE(agent.IntfCount(), expectedOpen);
    QCOMPARE(opened.count(), expectedOpen);
    QCOMPARE(mouse->isOpen(), !onVid && !onPid);
    // A second search opens nothing twice.
    QCOMPARE(agent.OpenMatchingIntfs(), expectedResult);
    QCOMPARE(agent.IntfCount(), expectedOpen);
    QCOMPARE(opened.count(), expectedOpen);
}

void TestHidAgent::openedEventRunsInsideTheSearch()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);

    bool inside = false;
    bool searching = false;
    QList<QVariant> args;
    connect(&agent, &HIDagentX::OnIntfOpened, &agent,
            [&](int index, int handle, int vidPid, const QString &name) {
                inside = searching;
                args = {index, handle, vidPid, name};
                // The new interface is already listed and selectable from the handler.
                QCOMPARE(agent.IntfCount(), 1);
                QCOMPARE(agent.SelectIntf(agent.IntfCount() - 1), handle);
                QCOMPARE(agent.IntfVID(), 0x1E6F);
            });
    searching = true;
    QVERIFY(agent.OpenMatchingIntfs());
    searching = false;
    QVERIFY(inside);
    QCOMPARE(args.at(0).toInt(), 0);
    QVERIFY(args.at(1).toInt() != 0);
    QCOMPARE(args.at(2).toInt(), Arm);
    QCOMPARE(args.at(3).toString(),
             QStringLiteral("VID_1E6F&PID_1113 Robotic Arm (virtual) ") + arm->info.path);
}

void TestHidAgent::armVariablesAndAttributes()
{
    VirtualHidTransport transport;
    transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QVERIFY(agent.OpenMatchingIntfs());
    const int handle = agent.SelectIntf(0);
    QCOMPARE(agent.IntfHandle(), handle);
    QCOMPARE(agent.IntfPID(), 0x1113);

    QCOMPARE(agent.VarCount(), 3);
    QCOMPARE(agent.RptCount(), 2);
    const int x = agent.FindVar(1, 0x30, 0, false);
    const int y = agent.FindVar(1, 0x31, 0, false);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    QCOMPARE(x, 0);
    QCOMPARE(y, 1);
    QCOMPARE(cmd, 2);
    QVERIFY(agent.FindVar(1, 0x3E, 0, false) < 0); // wrong report type
    QVERIFY(agent.FindVar(1, 0x32, 0, false) < 0);
    QCOMPARE(agent.VarRptIndex(x), agent.VarRptIndex(y));
    QVERIFY(agent.VarRptIndex(cmd) != agent.VarRptIndex(x));

    agent.SelectVar(cmd);
    QCOMPARE(agent.CurrentVar(), cmd);
    QVERIFY(agent.AbsoluteNotRelative());
    QVERIFY(!agent.ArrayNotVariable());
    QVERIFY(agent.BitsNotBuffer());
    QVERIFY(!agent.HasNullState());
    QVERIFY(agent.Linear());
    QVERIFY(!agent.NoPrefState());
    QVERIFY(agent.NoWrap());
    QVERIFY(!agent.Volatile());
    QCOMPARE(agent.LogicalMinimum(), 0);
    QCOMPARE(agent.LogicalMaximum(), 255);
    QCOMPARE(agent.SizeInBits(), 8);
    QCOMPARE(agent.StringDescriptor(), QString());
    QVERIFY(!agent.VarIsButton(cmd));

    QCOMPARE(agent.ScaleMode(), 0);
    agent.SetScaleMode(1);
    agent.SetVarName(cmd, QStringLiteral("OutVar1"));
    agent.SelectVar(x);
    QCOMPARE(agent.ScaleMode(), 0); // per variable
    agent.SelectVar(cmd);
    QCOMPARE(agent.ScaleMode(), 1);
    QCOMPARE(agent.VarName(cmd), QStringLiteral("OutVar1"));
    QCOMPARE(errorNumber([&] { agent.SetScaleMode(3); }), int(HIDagentX::BadScaleMode));
}

void TestHidAgent::splitArmNumbersVariablesAcrossInterfaces()
{
    VirtualHidTransport transport;
    transport.addOtherDevice();
    const auto split = transport.addSplitArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(agent.IntfCount(), 2);

    agent.SelectIntf(0);
    QCOMPARE(agent.IntfInfo().path, split.first->info.path);
    QCOMPARE(agent.FindVar(1, 0x30, 0, false), 0);
    QVERIFY(agent.FindVar(1, 0x3E, 1, false) < 0);

    agent.SelectIntf(1);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    QCOMPARE(cmd, 2); // after the two of the first interface
    QCOMPARE(agent.VarRptIndex(cmd), 1);
    QVERIFY(agent.FindVar(1, 0x30, 0, false) < 0); // only the current interface is searched

    agent.SetVarUnScaledValue(cmd, 7);
    agent.SelectRpt(agent.VarRptIndex(cmd));
    QVERIFY(agent.WriteRpt());
    QCOMPARE(split.second->written.size(), 1);
    QCOMPARE(split.second->written.at(0).bytes, hex("0007"));
    QVERIFY(split.first->written.isEmpty());
}

void TestHidAgent::valueReachesReportBytes_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("usage");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("readBack");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray arm = VirtualHidTransport::armReportDescriptor();
    QTest::newRow("arm stop") << arm << 0x3E << 0.0 << 0 << hex("0000");
    QTest::newRow("arm code 10") << arm << 0x3E << 10.0 << 10 << hex("000a");
    QTest::newRow("arm 255") << arm << 0x3E << 255.0 << 255 << hex("00ff");
    QTest::newRow("half rounds to even") << arm << 0x3E << 2.5 << 2 << hex("0002");
    // Report ID 2; a 4-bit field after a 4-bit one, a 16-bit field after that.
    const QByteArray withId = hex("0501"
                                  "0900"
                                  "a101"
                                  "8502"
                                  "1500"
                                  "250f"
                                  "7504"
                                  "9501"
                                  "0940"
                                  "9102"
                                  "093e"
                                  "9102"
                                  "1500"
                                  "27ffff0000"
                                  "7510"
                                  "0941"
                                  "9102"
                                  "c0");
    QTest::newRow("report id and nibble") << withId << 0x3E << 9.0 << 9 << hex("02900000");
    QTest::newRow("16-bit little endian") << withId << 0x41 << 4660.0 << 4660 << hex("02003412");
}

void TestHidAgent::valueReachesReportBytes()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, usage);
    QFETCH(double, value);
    QFETCH(int, readBack);
    QFETCH(QByteArray, expected);

    VirtualHidTransport transport;
    HidInterfaceInfo info = VirtualHidTransport::armInfo(QStringLiteral("virtual/custom"));
    VirtualHidInterface *intf = transport.addInterface(info, descriptor);
    QVERIFY(intf);
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QVERIFY(agent.OpenMatchingIntfs());
    agent.SelectIntf(0);
    const int v = agent.FindVar(1, usage, 1, false);
    QVERIFY(v >= 0);
    agent.SetVarUnScaledValue(v, value);
    QCOMPARE(agent.VarUnScaledValue(v), readBack);
    agent.SetCurrentRptNum(agent.VarRptIndex(v));
    const qint64 before = ProcessClock::monotonicNs();
    QVERIFY(agent.WriteRpt());
    QCOMPARE(intf->written.size(), 1);
    QCOMPARE(intf->written.at(0).bytes, expected);
    QCOMPARE(intf->written.at(0).type, HidReportType::Output);
    QVERIFY(intf->written.at(0).monotonicNs >= before);
}

void TestHidAgent::rejectsValuesOutsideTheField_data()
{
    QTest::addColumn<int>("usage");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");

    QTest::newRow("above logical max") << 0x3E << 256.0 << int(HIDagentX::ValueOutOfRange);
    QTest::newRow("negative") << 0x3E << -1.0 << int(HIDagentX::ValueOutOfRange);
    QTest::newRow("not a number") << 0x3E << std::nan("") << int(HidError::Overflow);
    QTest::newRow("beyond 32 bits") << 0x3E << 3e10 << int(HidError::Overflow);
    QTest::newRow("nibble above 15") << 0x40 << 16.0 << int(HIDagentX::ValueOutOfRange);
}

void TestHidAgent::rejectsValuesOutsideTheField()
{
    QFETCH(int, usage);
    QFETCH(double, value);
    QFETCH(int, error);

    // Usage 0x3E: 8 bits 0..255; usage 0x40: 4 bits 0..15 (no logical range of its own).
    const QByteArray descriptor = hex("0501"
                                      "0900"
                                      "a101"
                                      "1500"
                                      "26ff00"
                                      "7508"
                                      "9501"
                                      "093e"
                                      "9102"
                                      "1500"
                                      "2500"
                                      "7504"
                                      "0940"
                                      "9102"
                                      "c0");
    VirtualHidTransport transport;
    VirtualHidInterface *intf = transport.addInterface(VirtualHidTransport::armInfo(QString()), descriptor);
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs());
    agent.SelectIntf(0);
    const int v = agent.FindVar(1, usage, 1, false);
    QVERIFY(v >= 0);
    agent.SetVarUnScaledValue(v, 5);
    QCOMPARE(errorNumber([&] { agent.SetVarUnScaledValue(v, value); }), error);
    // The earlier value stays, nothing was truncated into the buffer.
    QCOMPARE(agent.VarUnScaledValue(v), 5);
    agent.SelectRpt(agent.VarRptIndex(v));
    QVERIFY(agent.WriteRpt());
    QCOMPARE(intf->written.size(), 1);
}

void TestHidAgent::failingWriteReturnsFalse()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QVERIFY(agent.OpenMatchingIntfs());
    agent.SelectIntf(0);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    agent.SetVarUnScaledValue(cmd, 3);
    agent.SelectRpt(agent.VarRptIndex(cmd));

    arm->failNextWrite();
    QVERIFY(!agent.WriteRpt());
    QVERIFY(arm->written.isEmpty());
    QVERIFY(agent.WriteRpt()); // only the next one fails
    QCOMPARE(arm->written.size(), 1);

    // Writing an input report is refused without touching the device.
    agent.SelectRpt(agent.VarRptIndex(agent.FindVar(1, 0x30, 0, false)));
    QVERIFY(!agent.WriteRpt());
    QCOMPARE(arm->written.size(), 1);
}

void TestHidAgent::readFillsBufferAndRaisesArrival()
{
    VirtualHidTransport transport;
    transport.addOtherDevice();
    VirtualHidInterface *arm = transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs()); // the mouse first, then the arm
    agent.SelectIntf(1);
    const int x = agent.FindVar(1, 0x30, 0, false);
    const int y = agent.FindVar(1, 0x31, 0, false);
    const int rpt = agent.VarRptIndex(x);
    QCOMPARE(rpt, 1); // after the mouse's one report
    QSignalSpy arrived(&agent, &HIDagentX::OnRptArrived);

    arm->queueInputReport(hex("00c801"));
    agent.SelectRpt(rpt);
    QVERIFY(agent.ReadRpt());
    QCOMPARE(agent.VarUnScaledValue(x), 200);
    QCOMPARE(agent.VarUnScaledValue(y), 1);
    QCOMPARE(agent.VarScaledValue(x), 200); // physical range unset: same as logical
    QCOMPARE(arrived.count(), 1);
    QCOMPARE(arrived.at(0).at(0).toInt(), 0);
    QCOMPARE(arrived.at(0).at(1).toInt(), rpt);
}

void TestHidAgent::readFailures()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs());
    agent.SelectIntf(0);
    const int x = agent.FindVar(1, 0x30, 0, false);
    agent.SelectRpt(agent.VarRptIndex(x));
    QSignalSpy arrived(&agent, &HIDagentX::OnRptArrived);

    QVERIFY(!agent.ReadRpt()); // nothing queued: a timeout
    arm->queueInputReport(hex("000506"));
    arm->failNextRead();
    QVERIFY(!agent.ReadRpt());
    QCOMPARE(agent.VarUnScaledValue(x), 0);
    QVERIFY(agent.ReadRpt());
    QCOMPARE(agent.VarUnScaledValue(x), 5);
    QCOMPARE(arrived.count(), 1);

    // An output report cannot be read back.
    agent.SelectRpt(agent.VarRptIndex(agent.FindVar(1, 0x3E, 1, false)));
    QVERIFY(!agent.ReadRpt());
}

void TestHidAgent::unplugClosesThenReportsRemoval()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QVERIFY(agent.OpenMatchingIntfs());
    const int handle = agent.SelectIntf(0);

    QStringList order;
    connect(&agent, &HIDagentX::OnIntfClosed, &agent, [&](int stillOpen, const QString &name, int h) {
        order << QStringLiteral("closed %1 %2 %3")
                     .arg(stillOpen)
                     .arg(name)
                     .arg(h == handle ? QStringLiteral("own") : QString::number(h));
        QCOMPARE(agent.IntfCount(), 0); // already gone from the list
    });
    connect(&agent, &HIDagentX::OnDeviceRemoval, &agent,
            [&](int h, const QString &name) { order << QStringLiteral("removed %1 %2").arg(h).arg(name); });
    transport.unplug(arm->info.path);

    const QString name = QStringLiteral("VID_1E6F&PID_1113 Robotic Arm (virtual) ") + arm->info.path;
    QCOMPARE(order, QStringList({QStringLiteral("closed 0 %1 own").arg(name),
                                 QStringLiteral("removed 0 %1").arg(name)}));
    QVERIFY(!arm->isOpen());
    QVERIFY(name.contains(QStringLiteral("VID_1E6F&PID_1113")));
}

void TestHidAgent::arrivalOnlyAnnounces()
{
    VirtualHidTransport transport;
    HIDagentX agent(&transport);
    QSignalSpy arrival(&agent, &HIDagentX::OnDeviceArrival);
    QSignalSpy removal(&agent, &HIDagentX::OnDeviceRemoval);

    VirtualHidInterface *early = transport.addOtherDevice(); // before StartAgent: not monitored
    QCOMPARE(arrival.count(), 0);
    agent.StartAgent();
    VirtualHidInterface *arm = transport.addArm();
    QCOMPARE(arrival.count(), 1);
    QCOMPARE(arrival.at(0).at(0).toInt(), 0);
    QCOMPARE(arrival.at(0).at(1).toString(), arm->info.deviceName());
    QCOMPARE(agent.IntfCount(), 0); // the window decides when to open
    QVERIFY(!arm->isOpen());

    // A removal of something never opened is still announced, with nothing closed.
    QSignalSpy closed(&agent, &HIDagentX::OnIntfClosed);
    transport.unplug(early->info.path);
    QCOMPARE(removal.count(), 1);
    QCOMPARE(closed.count(), 0);

    agent.StopAgent();
    transport.unplug(arm->info.path);
    QCOMPARE(removal.count(), 1);
}

void TestHidAgent::closeRenumbersTheLists()
{
    VirtualHidTransport transport;
    VirtualHidInterface *mouse = transport.addOtherDevice();
    const auto split = transport.addSplitArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(agent.IntfCount(), 3);
    QCOMPARE(agent.VarCount(), 5 + 2 + 1); // mouse: three buttons, X, Y
    QCOMPARE(agent.RptCount(), 3);

    const int outHandle = agent.SelectIntf(2);
    const int cmd = agent.FindVar(1, 0x3E, 1, false);
    QCOMPARE(cmd, 7);
    agent.SetVarName(cmd, QStringLiteral("OutVar1"));
    agent.SetVarUnScaledValue(cmd, 4);
    agent.SelectVar(cmd);
    agent.SetScaleMode(2);
    agent.SelectRpt(agent.VarRptIndex(cmd));

    transport.unplug(mouse->info.path);
    QCOMPARE(agent.IntfCount(), 2);
    QCOMPARE(agent.VarCount(), 3);
    QCOMPARE(agent.RptCount(), 2);
    // The same variable under its new number keeps its name, mode and pending value; the current
    // interface, variable and report follow it.
    QCOMPARE(agent.IntfHandle(), outHandle);
    const int moved = agent.FindVar(1, 0x3E, 1, false);
    QCOMPARE(moved, 2);
    QCOMPARE(agent.CurrentVar(), moved);
    QCOMPARE(agent.ScaleMode(), 2);
    QCOMPARE(agent.VarName(moved), QStringLiteral("OutVar1"));
    QCOMPARE(agent.VarRptIndex(moved), 1);
    QCOMPARE(agent.CurrentRptNum(), 1);
    QVERIFY(agent.WriteRpt());
    QCOMPARE(split.second->written.last().bytes, hex("0004"));

    // Closing the current interface leaves nothing current.
    transport.unplug(split.second->info.path);
    QCOMPARE(agent.CurrentVar(), -1);
    QCOMPARE(agent.CurrentRptNum(), -1);
    QCOMPARE(errorNumber([&] { agent.IntfHandle(); }), int(HIDagentX::NoCurrentIntf));
    QCOMPARE(errorNumber([&] { agent.WriteRpt(); }), int(HIDagentX::NoCurrentRpt));
    agent.SelectIntf(0);
    QCOMPARE(agent.FindVar(1, 0x30, 0, false), 0);
}

void TestHidAgent::handlesAreNeverReused()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    VirtualHidInterface *mouse = transport.addOtherDevice();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QSet<int> seen;
    for (int round = 0; round < 4; ++round) {
        QVERIFY(agent.OpenMatchingIntfs());
        QCOMPARE(agent.IntfCount(), 2);
        for (int i = 0; i < 2; ++i) {
            const int h = agent.SelectIntf(i);
            QVERIFY(h != 0);
            QVERIFY2(!seen.contains(h), qPrintable(QStringLiteral("handle %1 reused").arg(h)));
            seen.insert(h);
        }
        // Alternate between unplugging one device and stopping the whole agent.
        if (round % 2 == 0) {
            transport.unplug(arm->info.path);
            transport.unplug(mouse->info.path);
            transport.plug(arm->info.path);
            transport.plug(mouse->info.path);
        } else {
            agent.StopAgent();
            agent.StartAgent();
        }
    }
    QCOMPARE(errorNumber([&] { agent.SelectIntfByHandle(*seen.begin()); }), int(HIDagentX::BadHandle));
    QCOMPARE(errorNumber([&] { agent.SelectIntfByHandle(0); }), int(HIDagentX::BadHandle));
}

void TestHidAgent::permissionDeniedIsReportedOncePerPath()
{
    VirtualHidTransport transport;
    VirtualHidInterface *arm = transport.addArm();
    VirtualHidInterface *second = transport.addArm();
    VirtualHidInterface *broken = transport.addArm();
    VirtualHidInterface *mouse = transport.addOtherDevice();
    arm->denyOpen(true);
    second->denyOpen(true);
    broken->denyOpen(false);
    mouse->denyOpen(true); // not the arm: never searched for, so never reported
    HIDagentX agent(&transport);
    agent.StartAgent();
    searchArm(agent);
    QSignalSpy denied(&agent, &HIDagentX::OnOpenDenied);

    QVERIFY(!agent.OpenMatchingIntfs());
    QVERIFY(!agent.OpenMatchingIntfs());
    QCOMPARE(denied.count(), 2);
    QCOMPARE(denied.at(0).at(0).value<HidInterfaceInfo>().path, arm->info.path);
    QCOMPARE(denied.at(1).at(0).value<HidInterfaceInfo>().path, second->info.path);
    QVERIFY(denied.at(0).at(1).toString().contains(QStringLiteral("Permission denied")));

    const QList<HIDagentX::OpenFailure> failures = agent.LastOpenFailures();
    QCOMPARE(failures.size(), 3);
    QCOMPARE(failures.at(0).kind, HidTransport::OpenFailure::PermissionDenied);
    QCOMPARE(failures.at(2).kind, HidTransport::OpenFailure::Other);

    // Plugged in again and still refused: worth saying again. Once allowed, it opens.
    transport.unplug(arm->info.path);
    transport.plug(arm->info.path);
    QVERIFY(!agent.OpenMatchingIntfs());
    QCOMPARE(denied.count(), 3);
    arm->allowOpen();
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(agent.IntfCount(), 1);
    QCOMPARE(denied.count(), 3);
}

void TestHidAgent::undecodableDescriptorIsNotOpened()
{
    VirtualHidTransport transport;
    // An Input item before any Report Size or Count.
    VirtualHidInterface *bad = transport.addInterface(
        VirtualHidTransport::armInfo(QStringLiteral("virtual/bad")), hex("05010900a1018102c0"));
    transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QSignalSpy opened(&agent, &HIDagentX::OnIntfOpened);
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(agent.IntfCount(), 1);
    QCOMPARE(opened.count(), 1);
    QVERIFY(!bad->isOpen());
    const QList<HIDagentX::OpenFailure> failures = agent.LastOpenFailures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.at(0).info.path, bad->info.path);
    QVERIFY(failures.at(0).reason.contains(QStringLiteral("Report Size")));
}

void TestHidAgent::stopClosesEverything()
{
    VirtualHidTransport transport;
    const auto split = transport.addSplitArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    QVERIFY(transport.isMonitoring());
    QVERIFY(agent.OpenMatchingIntfs());
    QList<int> stillOpen;
    connect(&agent, &HIDagentX::OnIntfClosed, &agent, [&](int n, const QString &, int) { stillOpen << n; });
    agent.StopAgent();
    QCOMPARE(stillOpen, QList<int>({1, 0}));
    QVERIFY(!split.first->isOpen());
    QVERIFY(!split.second->isOpen());
    QVERIFY(!transport.isMonitoring());
    QVERIFY(!agent.IsStarted());
    QCOMPARE(agent.VarCount(), 0);
}

void TestHidAgent::throwingHandlerDoesNotStopTheSearch()
{
    VirtualHidTransport transport;
    transport.addArm();
    transport.addArm();
    HIDagentX agent(&transport);
    agent.StartAgent();
    int calls = 0;
    connect(&agent, &HIDagentX::OnIntfOpened, &agent, [&](int, int, int, const QString &) {
        ++calls;
        throw HidError(HidError::ObjectErrorBase + 9999, QStringLiteral("handler"), QStringLiteral("failed"));
    });
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(calls, 2);
    QCOMPARE(agent.IntfCount(), 2);
}

void TestHidAgent::operationsNeedAStartedAgentAndValidIndexes()
{
    VirtualHidTransport transport;
    transport.addArm();
    HIDagentX agent(&transport);
    QCOMPARE(errorNumber([&] { agent.OpenMatchingIntfs(); }), int(HIDagentX::NotStarted));
    agent.StartAgent();
    QCOMPARE(errorNumber([&] { agent.FindVar(1, 0x30, 0, false); }), int(HIDagentX::NoCurrentIntf));
    QVERIFY(agent.OpenMatchingIntfs());
    QCOMPARE(errorNumber([&] { agent.SelectIntf(1); }), int(HIDagentX::BadIntfIndex));
    QCOMPARE(errorNumber([&] { agent.SelectIntf(-1); }), int(HIDagentX::BadIntfIndex));
    QCOMPARE(errorNumber([&] { agent.SelectVar(3); }), int(HIDagentX::BadVarIndex));
    QCOMPARE(errorNumber([&] { agent.VarUnScaledValue(-1); }), int(HIDagentX::BadVarIndex));
    QCOMPARE(errorNumber([&] { agent.SelectRpt(2); }), int(HIDagentX::BadRptIndex));
    QCOMPARE(errorNumber([&] { agent.Linear(); }), int(HIDagentX::NoCurrentVar));
    QCOMPARE(errorNumber([&] { agent.ReadRpt(); }), int(HIDagentX::NoCurrentRpt));
    try {
        agent.SelectVar(42);
        QFAIL("no error");
    } catch (const HidError &e) {
        QCOMPARE(e.source(), QStringLiteral("HIDagentX:SelectVar"));
    }
}

QTEST_GUILESS_MAIN(TestHidAgent)
#include "tst_hidagent.moc"
