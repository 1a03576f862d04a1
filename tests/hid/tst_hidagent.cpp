#include "HIDagentX.h"
#include "HidError.h"
#include "HidTestSupport.h"
#include "ProcessClock.h"
#include "VirtualHidTransport.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

namespace {

constexpr int Arm = (0x1E6F << 16) | 0x1113;

// Starts the agent, searching for the arm unless told to take everything, and opens what is plugged.
bool startAndOpen(HIDagentX &agent, bool armOnly = true)
{
    agent.StartAgent();
    agent.SetVID_To_Match(0x1E6F);
    agent.SetPID_To_Match(0x1113);
    agent.SetSearchOnPID(armOnly);
    agent.SetSearchOnVID(armOnly);
    return agent.OpenMatchingIntfs();
}

int errorNumber(const std::function<void()> &call)
{
    const std::optional<HidError> error = HidTestSupport::errorOf(call);
    return error ? error->number() : 0;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QString armName(const VirtualHidInterface *arm)
{
    return QStringLiteral("VID_1E6F&PID_1113 Robotic Arm (virtual) ") + arm->info.path;
}

} // namespace

class TestHidAgent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensOnlyMatchingInterfaces_data()
    {
        QTest::addColumn<bool>("onVid");
        QTest::addColumn<bool>("onPid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("expectedOpen");
        // arm + mouse + split arm (2) are present
        QTest::newRow("vid and pid") << true << true << 0x1113 << 3;
        QTest::newRow("vid only, wrong pid ignored") << true << false << 0x9999 << 3;
        QTest::newRow("vid and wrong pid") << true << true << 0x9999 << 0;
        QTest::newRow("no criteria opens all") << false << false << 0 << 4;
    }

    void opensOnlyMatchingInterfaces()
    {
        QFETCH(bool, onVid);
        QFETCH(bool, onPid);
        QFETCH(int, pid);
        QFETCH(int, expectedOpen);
        VirtualHidTransport transport;
        VirtualHidInterface *arm = transport.addArm();
        VirtualHidInterface *mouse = transport.addOtherDevice();
        transport.addSplitArm();
        HIDagentX agent(&transport);
        agent.StartAgent();
        agent.SetVID_To_Match(0x1E6F);
        agent.SetPID_To_Match(pid);
        agent.SetSearchOnVID(onVid);
        agent.SetSearchOnPID(onPid);
        bool searching = false;
        QList<QList<QVariant>> calls;
        connect(&agent, &HIDagentX::OnIntfOpened, &agent,
                [&](int index, int handle, int vidPid, const QString &name) {
                    calls << QList<QVariant>{searching, index, handle, vidPid, name};
                    // The new interface is already listed and selectable from the handler.
                    QCOMPARE(agent.IntfCount(), index + 1);
                    QCOMPARE(agent.SelectIntf(agent.IntfCount() - 1), handle);
                    QCOMPARE(agent.IntfVID(), vidPid >> 16);
                    // A handler that throws does not stop the search.
                    throw HidError(HidError::ObjectErrorBase + 9999, QStringLiteral("handler"),
                                   QStringLiteral("failed"));
                });

        // A second search opens nothing twice.
        for (int round = 0; round < 2; ++round) {
            searching = true;
            QCOMPARE(agent.OpenMatchingIntfs(), expectedOpen > 0);
            searching = false;
            QCOMPARE(agent.IntfCount(), expectedOpen);
            QCOMPARE(calls.size(), expectedOpen);
        }
        QCOMPARE(mouse->isOpen(), !onVid && !onPid);
        if (expectedOpen > 0) {
            QCOMPARE(calls.first(), QList<QVariant>({true, 0, calls.first().at(2), Arm, armName(arm)}));
            QVERIFY(calls.first().at(2).toInt() != 0);
            QCOMPARE(calls.last().at(0).toBool(), true);
            QCOMPARE(calls.last().at(1).toInt(), expectedOpen - 1);
        }
    }

    void armVariablesAndAttributes()
    {
        VirtualHidTransport transport;
        transport.addArm();
        HIDagentX agent(&transport);
        QVERIFY(startAndOpen(agent));
        const int handle = agent.SelectIntf(0);
        QCOMPARE(agent.IntfHandle(), handle);
        QCOMPARE(agent.IntfPID(), 0x1113);
        QCOMPARE(agent.VarCount(), 3);
        QCOMPARE(agent.RptCount(), 2);
        const int x = agent.FindVar(1, 0x30, 0, false);
        const int cmd = agent.FindVar(1, 0x3E, 1, false);
        QCOMPARE(x, 0);
        QCOMPARE(agent.FindVar(1, 0x31, 0, false), 1);
        QCOMPARE(cmd, 2);
        QVERIFY(agent.FindVar(1, 0x3E, 0, false) < 0); // wrong report type
        QVERIFY(agent.FindVar(1, 0x32, 0, false) < 0);
        QCOMPARE(agent.VarRptIndex(x), agent.VarRptIndex(1));
        QVERIFY(agent.VarRptIndex(cmd) != agent.VarRptIndex(x));

        agent.SelectVar(cmd);
        // Absolute, Variable, Bits, no Null, Linear, Preferred, NoWrap, not Volatile, 0..255 in 8 bits.
        // clang-format off
        const QList<int> attributes = {agent.AbsoluteNotRelative(), agent.ArrayNotVariable(), agent.BitsNotBuffer(),
            agent.HasNullState(), agent.Linear(), agent.NoPrefState(), agent.NoWrap(), agent.Volatile(),
            agent.VarIsButton(cmd), agent.LogicalMinimum(), agent.LogicalMaximum(), agent.SizeInBits()};
        // clang-format on
        QCOMPARE(attributes, QList<int>({1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 255, 8}));

        // The scale mode belongs to each variable.
        QCOMPARE(agent.ScaleMode(), 0);
        agent.SetScaleMode(1);
        agent.SelectVar(x);
        QCOMPARE(agent.ScaleMode(), 0);
        agent.SelectVar(cmd);
        QCOMPARE(agent.ScaleMode(), 1);
        QCOMPARE(errorNumber([&] { agent.SetScaleMode(3); }), int(HIDagentX::BadScaleMode));
    }

    void valueReachesReportBytes_data()
    {
        QTest::addColumn<QByteArray>("descriptor");
        QTest::addColumn<int>("usage");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("readBack");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray arm = VirtualHidTransport::armReportDescriptor();
        QTest::newRow("arm stop") << arm << 0x3E << 0.0 << 0 << 0 << hex("0000");
        QTest::newRow("arm code 10") << arm << 0x3E << 10.0 << 0 << 10 << hex("000a");
        QTest::newRow("arm 255") << arm << 0x3E << 255.0 << 0 << 255 << hex("00ff");
        QTest::newRow("half rounds to even") << arm << 0x3E << 2.5 << 0 << 2 << hex("0002");
        // Report ID 2; a 4-bit field after a 4-bit one, a 16-bit field after that.
        const QByteArray withId = hex("05010900a101 8502 1500250f75049501 09409102 093e9102"
                                      "150027ffff00007510 09419102 c0");
        QTest::newRow("report id and nibble") << withId << 0x3E << 9.0 << 0 << 9 << hex("02900000");
        QTest::newRow("16-bit little endian") << withId << 0x41 << 4660.0 << 0 << 4660 << hex("02003412");
        // A refused value leaves the earlier 5 in place, nothing truncated into the buffer.
        const int range = HIDagentX::ValueOutOfRange;
        QTest::newRow("above logical max") << arm << 0x3E << 256.0 << range << 5 << hex("0005");
        QTest::newRow("negative") << arm << 0x3E << -1.0 << range << 5 << hex("0005");
        QTest::newRow("not a number")
            << arm << 0x3E << std::nan("") << int(HidError::Overflow) << 5 << hex("0005");
        QTest::newRow("beyond 32 bits") << arm << 0x3E << 3e10 << int(HidError::Overflow) << 5 << hex("0005");
        // Usage 0x40: 4 bits, no logical range of its own, so 0..15.
        const QByteArray nibble = hex("05010900a101 150026ff0075089501 093e9102 150025007504 09409102 c0");
        QTest::newRow("nibble above 15") << nibble << 0x40 << 16.0 << range << 5 << hex("000005");
    }

    void valueReachesReportBytes()
    {
        QFETCH(QByteArray, descriptor);
        QFETCH(int, usage);
        QFETCH(double, value);
        QFETCH(int, error);
        QFETCH(int, readBack);
        QFETCH(QByteArray, expected);
        VirtualHidTransport transport;
        VirtualHidInterface *intf = transport.addInterface(
            VirtualHidTransport::armInfo(QStringLiteral("virtual/custom")), descriptor);
        QVERIFY(intf);
        HIDagentX agent(&transport);
        QVERIFY(startAndOpen(agent));
        agent.SelectIntf(0);
        const int v = agent.FindVar(1, usage, 1, false);
        QVERIFY(v >= 0);
        agent.SetVarUnScaledValue(v, 5);
        QCOMPARE(errorNumber([&] { agent.SetVarUnScaledValue(v, value); }), error);
        QCOMPARE(agent.VarUnScaledValue(v), readBack);
        agent.SetCurrentRptNum(agent.VarRptIndex(v));
        const qint64 before = ProcessClock::monotonicNs();
        QVERIFY(agent.WriteRpt());
        QCOMPARE(intf->written.size(), 1);
        QCOMPARE(intf->written.at(0).bytes, expected);
        QCOMPARE(intf->written.at(0).type, HidReportType::Output);
        QVERIFY(intf->written.at(0).monotonicNs >= before);
    }

    void readsAndFailedTransfers()
    {
        VirtualHidTransport transport;
        transport.addOtherDevice();
        VirtualHidInterface *arm = transport.addArm();
        HIDagentX agent(&transport);
        QVERIFY(startAndOpen(agent, false)); // the mouse first, then the arm
        agent.SelectIntf(1);
        const int x = agent.FindVar(1, 0x30, 0, false);
        const int y = agent.FindVar(1, 0x31, 0, false);
        const int cmd = agent.FindVar(1, 0x3E, 1, false);
        const int rpt = agent.VarRptIndex(x);
        QCOMPARE(rpt, 1); // after the mouse's one report
        QSignalSpy arrived(&agent, &HIDagentX::OnRptArrived);

        agent.SelectRpt(rpt);
        QVERIFY(!agent.ReadRpt()); // nothing queued: a timeout
        arm->queueInputReport(hex("00c801"));
        arm->failNextRead();
        QVERIFY(!agent.ReadRpt());
        QCOMPARE(agent.VarUnScaledValue(x), 0);
        QCOMPARE(arrived.count(), 0);
        QVERIFY(agent.ReadRpt());
        QCOMPARE(agent.VarUnScaledValue(x), 200);
        QCOMPARE(agent.VarUnScaledValue(y), 1);
        QCOMPARE(agent.VarScaledValue(x), 200); // physical range unset: same as logical
        QCOMPARE(arrived.count(), 1);
        QCOMPARE(arrived.at(0).at(0).toInt(), 0);
        QCOMPARE(arrived.at(0).at(1).toInt(), rpt);
        // Writing an input report is refused without touching the device.
        QVERIFY(!agent.WriteRpt());
        QVERIFY(arm->written.isEmpty());

        agent.SetVarUnScaledValue(cmd, 3);
        agent.SelectRpt(agent.VarRptIndex(cmd));
        QVERIFY(!agent.ReadRpt()); // an output report cannot be read back
        arm->failNextWrite();
        QVERIFY(!agent.WriteRpt());
        QVERIFY(arm->written.isEmpty());
        QVERIFY(agent.WriteRpt()); // only the next one fails
        QCOMPARE(arm->written.size(), 1);
    }

    void arrivalAnnouncesAndUnplugClosesBeforeRemoval()
    {
        VirtualHidTransport transport;
        HIDagentX agent(&transport);
        QSignalSpy arrival(&agent, &HIDagentX::OnDeviceArrival);
        QSignalSpy removal(&agent, &HIDagentX::OnDeviceRemoval);
        QSignalSpy closed(&agent, &HIDagentX::OnIntfClosed);

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
        transport.unplug(early->info.path);
        QCOMPARE(removal.count(), 1);
        QCOMPARE(closed.count(), 0);

        QVERIFY(agent.OpenMatchingIntfs()); // only the arm is left
        const int handle = agent.SelectIntf(0);
        QStringList order;
        connect(&agent, &HIDagentX::OnIntfClosed, &agent, [&](int stillOpen, const QString &name, int h) {
            order << QStringLiteral("closed %1 %2 %3")
                         .arg(stillOpen)
                         .arg(name, h == handle ? QStringLiteral("own") : QString::number(h));
            QCOMPARE(agent.IntfCount(), 0); // already gone from the list
        });
        connect(&agent, &HIDagentX::OnDeviceRemoval, &agent, [&](int h, const QString &name) {
            order << QStringLiteral("removed %1 %2").arg(h).arg(name);
        });
        transport.unplug(arm->info.path);
        QCOMPARE(order, QStringList({QStringLiteral("closed 0 %1 own").arg(armName(arm)),
                                     QStringLiteral("removed 0 %1").arg(armName(arm))}));
        QVERIFY(!arm->isOpen());

        agent.StopAgent();
        transport.plug(arm->info.path);
        transport.unplug(arm->info.path);
        QCOMPARE(removal.count(), 2);
    }

    // The arm's two interfaces after a mouse: variables and reports are numbered across all of them.
    void closeRenumbersTheLists()
    {
        VirtualHidTransport transport;
        VirtualHidInterface *mouse = transport.addOtherDevice();
        const auto split = transport.addSplitArm();
        HIDagentX agent(&transport);
        QVERIFY(startAndOpen(agent, false));
        QCOMPARE(agent.IntfCount(), 3);
        QCOMPARE(agent.VarCount(), 5 + 2 + 1); // mouse: three buttons, X, Y
        QCOMPARE(agent.RptCount(), 3);

        const int outHandle = agent.SelectIntf(2);
        const int cmd = agent.FindVar(1, 0x3E, 1, false);
        QCOMPARE(cmd, 7);
        QVERIFY(agent.FindVar(1, 0x30, 0, false) < 0); // only the current interface is searched
        agent.SetVarName(cmd, QStringLiteral("OutVar1"));
        agent.SetVarUnScaledValue(cmd, 4);
        agent.SelectVar(cmd);
        agent.SetScaleMode(2);
        agent.SelectRpt(agent.VarRptIndex(cmd));

        transport.unplug(mouse->info.path);
        QCOMPARE(agent.IntfCount(), 2);
        QCOMPARE(agent.VarCount(), 3);
        QCOMPARE(agent.RptCount(), 2);
        // The variable under its new number keeps name, mode and pending value; what was current follows it.
        QCOMPARE(agent.IntfHandle(), outHandle);
        const int moved = agent.FindVar(1, 0x3E, 1, false);
        QCOMPARE(moved, 2);
        QCOMPARE(agent.CurrentVar(), moved);
        QCOMPARE(agent.ScaleMode(), 2);
        QCOMPARE(agent.VarName(moved), QStringLiteral("OutVar1"));
        QCOMPARE(agent.VarRptIndex(moved), 1);
        QCOMPARE(agent.CurrentRptNum(), 1);
        QVERIFY(agent.WriteRpt());
        QCOMPARE(split.second->written.size(), 1);
        QCOMPARE(split.second->written.last().bytes, hex("0004"));
        QVERIFY(split.first->written.isEmpty());

        // Closing the current interface leaves nothing current.
        transport.unplug(split.second->info.path);
        QCOMPARE(agent.CurrentVar(), -1);
        QCOMPARE(agent.CurrentRptNum(), -1);
        QCOMPARE(errorNumber([&] { agent.IntfHandle(); }), int(HIDagentX::NoCurrentIntf));
        QCOMPARE(errorNumber([&] { agent.WriteRpt(); }), int(HIDagentX::NoCurrentRpt));
        agent.SelectIntf(0);
        QCOMPARE(agent.IntfInfo().path, split.first->info.path);
        QCOMPARE(agent.FindVar(1, 0x30, 0, false), 0);
        QVERIFY(agent.FindVar(1, 0x3E, 1, false) < 0);
    }

    void handlesAreNeverReused()
    {
        VirtualHidTransport transport;
        VirtualHidInterface *arm = transport.addArm();
        VirtualHidInterface *mouse = transport.addOtherDevice();
        HIDagentX agent(&transport);
        agent.StartAgent();
        QList<int> stillOpen;
        connect(&agent, &HIDagentX::OnIntfClosed, &agent,
                [&](int n, const QString &, int) { stillOpen << n; });
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
            // Alternate between unplugging the devices and stopping the whole agent.
            if (round % 2 == 0) {
                for (VirtualHidInterface *intf : {arm, mouse})
                    transport.unplug(intf->info.path);
                for (VirtualHidInterface *intf : {arm, mouse})
                    transport.plug(intf->info.path);
            } else {
                // Stopping closes everything, newest first, and stops watching the transport.
                stillOpen.clear();
                agent.StopAgent();
                QCOMPARE(stillOpen, QList<int>({1, 0}));
                QVERIFY(!arm->isOpen() && !mouse->isOpen());
                QVERIFY(!transport.isMonitoring());
                QVERIFY(!agent.IsStarted());
                QCOMPARE(agent.VarCount(), 0);
                agent.StartAgent();
                QVERIFY(transport.isMonitoring());
            }
        }
        QCOMPARE(errorNumber([&] { agent.SelectIntfByHandle(*seen.begin()); }), int(HIDagentX::BadHandle));
        QCOMPARE(errorNumber([&] { agent.SelectIntfByHandle(0); }), int(HIDagentX::BadHandle));
    }

    void openFailuresAndPermissionDeniedOncePerPath()
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
        // An Input item before any Report Size or Count: not opened, and not a refusal either.
        VirtualHidInterface *bad = transport.addInterface(
            VirtualHidTransport::armInfo(QStringLiteral("virtual/bad")), hex("05010900a1018102c0"));
        HIDagentX agent(&transport);
        QSignalSpy denied(&agent, &HIDagentX::OnOpenDenied);
        QSignalSpy opened(&agent, &HIDagentX::OnIntfOpened);

        QVERIFY(!startAndOpen(agent));
        QVERIFY(!agent.OpenMatchingIntfs());
        QCOMPARE(denied.count(), 2);
        QCOMPARE(denied.at(0).at(0).value<HidInterfaceInfo>().path, arm->info.path);
        QCOMPARE(denied.at(1).at(0).value<HidInterfaceInfo>().path, second->info.path);
        QVERIFY(denied.at(0).at(1).toString().contains(QStringLiteral("Permission denied")));
        const QList<HIDagentX::OpenFailure> failures = agent.LastOpenFailures();
        QCOMPARE(failures.size(), 4);
        QCOMPARE(failures.at(0).kind, HidTransport::OpenFailure::PermissionDenied);
        QCOMPARE(failures.at(2).kind, HidTransport::OpenFailure::Other);
        QCOMPARE(failures.at(3).info.path, bad->info.path);
        QVERIFY(failures.at(3).reason.contains(QStringLiteral("Report Size")));

        // Plugged in again and still refused: worth saying again. Once allowed, it opens.
        transport.unplug(arm->info.path);
        transport.plug(arm->info.path);
        QVERIFY(!agent.OpenMatchingIntfs());
        QCOMPARE(denied.count(), 3);
        arm->allowOpen();
        QVERIFY(agent.OpenMatchingIntfs());
        QCOMPARE(agent.IntfCount(), 1);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(denied.count(), 3);
        QVERIFY(!bad->isOpen());
    }

    // A connection whose device went without a removal event is closed as the removal would have
    // closed it, but from the event loop, not inside the failing call; a failure of a device that is
    // still there closes nothing. Either way the arm can be opened afresh afterwards.
    void deadInterfacesAreClosed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("reportsFailure");
        QTest::newRow("write fails, device still there") << "fail write" << false << true;
        QTest::newRow("write fails, device gone") << "gone write" << true << true;
        QTest::newRow("unplugged unannounced, then written") << "silent unplug, write" << true << true;
        QTest::newRow("unplugged unannounced, then read") << "silent unplug, read" << true << true;
        QTest::newRow("missed removal, new device on the same path") << "silent replug" << true << false;
    }
    void deadInterfacesAreClosed()
    {
        QFETCH(QString, how);
        QFETCH(bool, closes);
        QFETCH(bool, reportsFailure);
        VirtualHidTransport transport;
        VirtualHidInterface *arm = transport.addArm();
        HIDagentX agent(&transport);
        QVERIFY(startAndOpen(agent));
        const int firstHandle = agent.SelectIntf(0);
        const int cmd = agent.FindVar(1, 0x3E, 1, false);
        const int in = agent.VarRptIndex(agent.FindVar(1, 0x30, 0, false));
        QStringList events;
        connect(&agent, &HIDagentX::OnIntfClosed, &agent, [&](int open, const QString &, int h) {
            events << QStringLiteral("closed %1 %2").arg(open).arg(h);
        });
        connect(&agent, &HIDagentX::OnDeviceRemoval, &agent,
                [&](int, const QString &name) { events << QStringLiteral("removed ") + name; });
        connect(&agent, &HIDagentX::OnDeviceArrival, &agent, [&] { events << QStringLiteral("arrived"); });

        bool ok = true;
        if (how.startsWith(u"silent"))
            transport.unplugUnannounced(arm->info.path);
        if (how == u"silent replug") {
            transport.plug(arm->info.path);
        } else if (how.endsWith(u"read")) {
            agent.SelectRpt(in);
            ok = agent.ReadRpt();
        } else {
            if (how.startsWith(u"fail") || how.startsWith(u"gone"))
                arm->failNextWrite(how == u"gone write");
            agent.SetVarUnScaledValue(cmd, 4);
            agent.SelectRpt(agent.VarRptIndex(cmd));
            ok = agent.WriteRpt();
        }
        QCOMPARE(ok, !reportsFailure);
        QCOMPARE(agent.LastIoError().isEmpty(), !reportsFailure);
        // Nothing is closed under the failing call itself.
        if (reportsFailure)
            QCOMPARE(agent.IntfCount(), 1);
        QCoreApplication::processEvents();
        const QString closedEvent = QStringLiteral("closed 0 %1").arg(firstHandle);
        QStringList expected;
        if (how == u"silent replug")
            expected = {closedEvent, QStringLiteral("arrived")};
        else if (closes)
            expected = {closedEvent, QStringLiteral("removed ") + armName(arm)};
        QCOMPARE(events, expected);
        QCOMPARE(agent.IntfCount(), closes ? 0 : 1);

        // The arm, back under its path, is opened again and takes the next code.
        transport.plug(arm->info.path);
        QVERIFY(agent.OpenMatchingIntfs());
        QCOMPARE(agent.IntfCount(), 1);
        QCOMPARE(agent.SelectIntf(0) != firstHandle, closes);
        const int cmdNow = agent.FindVar(1, 0x3E, 1, false);
        agent.SetVarUnScaledValue(cmdNow, 6);
        agent.SelectRpt(agent.VarRptIndex(cmdNow));
        QVERIFY(agent.WriteRpt());
        QCOMPARE(arm->written.last().bytes, hex("0006"));
    }

    void operationsNeedAStartedAgentAndValidIndexes()
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
        HID_VERIFY_ERROR(agent.SelectVar(42), HIDagentX::BadVarIndex, "HIDagentX:SelectVar");
    }
};

QTEST_GUILESS_MAIN(TestHidAgent)
#include "tst_hidagent.moc"
