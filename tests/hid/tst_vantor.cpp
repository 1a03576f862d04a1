#include "HidTestSupport.h"
#include "TVantor.h"
#include "mdlKORIV.h"

#include <QTest>

#include <limits>

using namespace HidTestSupport;

Q_DECLARE_METATYPE(TVantor::VarRef (TVantor::*)())
Q_DECLARE_METATYPE(void (TVantor::*)(TVantor::VarRef))
using DeviceAction = std::function<void(TVantor &, AgentRig &)>;
Q_DECLARE_METATYPE(DeviceAction)

namespace {

// X and Y inputs, the command output and a feature variable (0x40) on one interface.
QByteArray armWithFeatureDescriptor()
{
    return bytes({0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
                  0x09, 0x30, 0x81, 0x02, 0x09, 0x31, 0x81, 0x02, 0x09, 0x3E, 0x91, 0x02, 0x09, 0x40, 0xB1, 0x02, 0xC0});
}

} // namespace

class TestVantor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bindVarsOnAnotherDevice_data();
    void bindVarsOnAnotherDevice();
    void bindVarsOnTheArm();
    void failures_data();
    void failures();
    void identitiesDecideWhatCounts_data();
    void identitiesDecideWhatCounts();
    void variablesAcrossTwoInterfacesAndClosing();
    void reBindOnAnInterfaceWithoutAVariable();
    void unBindRptByReportType();
    void propertyWritesLeaveTheSlots();
    void emptyPropertyReadMakesAPlainVariable_data();
    void emptyPropertyReadMakesAPlainVariable();
};

void TestVantor::initTestCase()
{
    // The first device object of the run: its variables take 1, 2 and 3 before it takes its own.
    TVantor first;
    QCOMPARE((QList<int>{first.InVar1()->ClassDebugID().toInt(), first.InVar2()->ClassDebugID().toInt(),
                         first.OutVar1()->ClassDebugID().toInt(), first.ClassDebugID()}),
             (QList<int>{1, 2, 3, 4}));
    QVERIFY(first.IsAllUnbound() && !first.IsActive());
    QCOMPARE((QList<int>{first.VariableCount(), first.DeviceIdentity(), first.RptIndexA(), first.RptIndexB()}),
             (QList<int>{0, 0, -1, -1}));
    // No component yet: I/O gives false rather than failing.
    QVERIFY(!first.WriteAllReports() && !first.ReadAllReports());
    QVERIFY(first.HasHandle(0)); // every variable starts with handle 0
    QVERIFY(!first.HasHandle(1));
    // Each slot holds its own variable, the one its property gives, created with its identity.
    const TVantor::VarRef properties[] = {first.InVar1(), first.InVar2(), first.OutVar1()};
    const int usages[] = {0x30, 0x31, 0x3E};
    const QStringList names{QStringLiteral("InVar1"), QStringLiteral("InVar2"), QStringLiteral("OutVar1")};
    for (int slot = 0; slot < TVantor::SlotCount; ++slot) {
        const TOneHidVar &var = *first.VarSlots().at(size_t(slot));
        QCOMPARE(properties[slot].get(), &var);
        QCOMPARE((QList<int>{var.RptType(), var.UsagePage(), var.Usage(), var.VarIdentity(), var.IsBound()}),
                 (QList<int>{slot == 2 ? 1 : 0, 1, usages[slot], 1, 0}));
        QCOMPARE(var.VarName(), names[slot]);
    }
}

void TestVantor::bindVarsOnAnotherDevice_data()
{
    QTest::addColumn<quint16>("vendorId");
    QTest::addColumn<quint16>("productId");
    QTest::newRow("other vendor") << quint16(0x2A7B) << quint16(0x1113);
    QTest::newRow("other product") << quint16(0x1E6F) << quint16(0x1114);
    QTest::newRow("both differ") << quint16(0x2A7B) << quint16(0x0101);
}

void TestVantor::bindVarsOnAnotherDevice()
{
    QFETCH(quint16, vendorId);
    QFETCH(quint16, productId);
    AgentRig rig;
    rig.matchEverything();
    // Holds the arm's usages, so only the identifiers keep it from binding.
    VirtualHidInterface *intf =
        addCustomInterface(rig.transport, VirtualHidTransport::armReportDescriptor(), vendorId, productId);
    QVERIFY(rig.openMatching());
    TVantor device;
    QCOMPARE(device.BindVars(rig.agent.get()), -1);
    QVERIFY(device.IsActive());
    QCOMPARE(device.HIDagent(), rig.agent.get());
    for (const TVantor::VarRef &var : device.VarSlots())
        QVERIFY(!var->IsBound());
    QCOMPARE((QList<int>{device.DeviceIdentity(), device.RptIndexA(), device.RptIndexB()}), (QList<int>{0, -1, -1}));
    QVERIFY(!device.WriteAllReports());
    QVERIFY(intf->written.isEmpty());
}

void TestVantor::bindVarsOnTheArm()
{
    AgentRig rig;
    rig.matchEverything();
    rig.transport.addOtherDevice();
    VirtualHidInterface *arm = rig.transport.addArm();
    QVERIFY(rig.openMatching());
    rig.agent->SelectIntf(0); // the mouse; BindVars must move on to the newest interface
    TVantor device;
    QCOMPARE(device.BindVars(rig.agent.get()), 0); // counts: identitiesDecideWhatCounts
    QVERIFY(device.IsActive());
    const int armHandle = rig.agent->SelectIntf(1);
    for (const TVantor::VarRef &var : device.VarSlots())
        QCOMPARE(var->IsBound() ? var->HidHandle() : -1, armHandle);
    const int a = device.RptIndexA();
    const int b = device.RptIndexB();
    QCOMPARE(a, device.InVar1()->RptIndex());
    QCOMPARE(b, device.OutVar1()->RptIndex());
    QVERIFY(a >= 0 && b >= 0 && a != b);
    QVERIFY(device.HasHandle(armHandle));
    QCOMPARE(rig.agent->VarName(device.OutVar1()->VarIndex()), QStringLiteral("OutVar1"));
    // The command path: the code goes into OutVar1, WriteAllReports carries it; a refused write is false.
    device.OutVar1()->SetUnScaledValue(5);
    arm->failNextWrite();
    QVERIFY(!device.WriteAllReports());
    QVERIFY(device.WriteAllReports());
    QCOMPARE(arm->written.size(), 1);
    QCOMPARE(arm->written.first().bytes, bytes({0x00, 0x05}));
    QCOMPARE(arm->written.first().type, HidReportType::Output);
    QVERIFY(!device.ReadAllReports()); // nothing queued: the read times out
    arm->queueInputReport(bytes({0x00, 0x11, 0x22}));
    arm->failNextRead();
    QVERIFY(!device.ReadInputRptA());
    QVERIFY(device.ReadAllReports());
    QCOMPARE(device.InVar1()->UnScaledValue(), 0x11);
    QCOMPARE(device.InVar2()->UnScaledValue(), 0x22);
    // Binding again on the same interface binds nothing new; an unknown handle closing changes nothing.
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    device.HidClosed(nullptr, 1, QStringLiteral("elsewhere"), armHandle + 100);
    QCOMPARE(device.UnboundVarCount(), 0);
    QCOMPARE(device.RptIndexA(), a);
    QCOMPARE(device.RptIndexB(), b);
    QVERIFY(!device.HasHandle(armHandle + 100));
}

void TestVantor::failures_data()
{
    QTest::addColumn<bool>("armOpen");
    QTest::addColumn<DeviceAction>("action");
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("keepsComponent");
    const auto row = [](const char *name, bool armOpen, DeviceAction action, qint32 number, const char *source,
                        bool keepsComponent) {
        QTest::newRow(name) << armOpen << action << number << QString::fromLatin1(source) << keepsComponent;
    };
    row("BindVars with another object", false, [](TVantor &d, AgentRig &) { QObject o; d.BindVars(&o); },
        HidError::TypeMismatch, "", false);
    // The component's own error reaches the caller unchanged.
    row("BindVars with nothing open", false, [](TVantor &d, AgentRig &r) { d.BindVars(r.agent.get()); },
        HIDagentX::BadIntfIndex, "HIDagentX:SelectIntf", true);
    // ReBind uses only the component kept by BindVars; the variable's trapped error comes through.
    row("ReBind before BindVars", true, [](TVantor &d, AgentRig &r) { d.ReBind(r.agent.get()); },
        ClassErrorNumber, "OneHidVar:Bind Method", false);
    row("UnBindRpt of nothing", true, [](TVantor &d, AgentRig &) { d.UnBindRpt(nullptr); }, 91, "", false);
}

void TestVantor::failures()
{
    QFETCH(bool, armOpen);
    QFETCH(DeviceAction, action);
    QFETCH(qint32, number);
    QFETCH(QString, source);
    QFETCH(bool, keepsComponent);
    AgentRig rig;
    if (armOpen) {
        rig.transport.addArm();
        QVERIFY(rig.openAndSelectNewest());
    }
    TVantor device;
    if (number == ClassErrorNumber)
        HID_VERIFY_CLASS_ERROR(action(device, rig), source);
    else
        HID_VERIFY_ERROR(action(device, rig), number, source);
    QCOMPARE(device.HIDagent(), keepsComponent ? rig.agent.get() : nullptr);
    QCOMPARE(device.IsActive(), !armOpen); // BindVars marks the object active even when it fails
    QCOMPARE(device.RptIndexA(), -1);
}

void TestVantor::identitiesDecideWhatCounts_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<QList<int>>("identities"); // InVar1, InVar2, OutVar1
    QTest::addColumn<QList<int>>("expected");   // BindVars, DeviceIdentity, VariableCount, UnboundVarCount
    const QByteArray whole = VirtualHidTransport::armReportDescriptor();
    const QByteArray outOnly = VirtualHidTransport::armOutputReportDescriptor();
    QTest::newRow("whole, all 1") << whole << QList<int>{1, 1, 1} << QList<int>{0, 1, 3, 0};
    QTest::newRow("whole, any-device first") << whole << QList<int>{3, 2, 1} << QList<int>{0, 2, 2, 0};
    QTest::newRow("whole, first identity stays") << whole << QList<int>{2, 1, 3} << QList<int>{0, 2, 2, 0};
    QTest::newRow("whole, all any-device") << whole << QList<int>{3, 3, 3} << QList<int>{0, 0, 3, 0};
    QTest::newRow("output only, all 1") << outOnly << QList<int>{1, 1, 1} << QList<int>{2, 1, 3, 2};
    QTest::newRow("output only, own identity") << outOnly << QList<int>{2, 1, 5} << QList<int>{2, 5, 1, 0};
    QTest::newRow("output only, any-device input") << outOnly << QList<int>{3, 1, 2} << QList<int>{2, 2, 2, 1};
}

void TestVantor::identitiesDecideWhatCounts()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(QList<int>, identities);
    QFETCH(QList<int>, expected);
    AgentRig rig;
    VirtualHidInterface *intf = addCustomInterface(rig.transport, descriptor);
    QVERIFY(rig.openMatching());
    TVantor device;
    for (int slot = 0; slot < TVantor::SlotCount; ++slot) {
        TOneHidVar &var = *device.VarSlots()[size_t(slot)];
        var.DoCreate(var.RptType(), var.UsagePage(), var.Usage(), identities[slot], var.VarName());
    }
    const int result = device.BindVars(rig.agent.get());
    QCOMPARE((QList<int>{result, device.DeviceIdentity(), device.VariableCount(), device.UnboundVarCount()}),
             expected);
    QCOMPARE(device.IsAllUnbound(), expected[2] == expected[3]);
    // Report A exists only where the inputs are; the command reaches the output report either way.
    QCOMPARE(device.RptIndexA() >= 0, result == 0);
    QVERIFY(device.RptIndexB() >= 0);
    if (result != 0)
        QVERIFY(!device.ReadAllReports());
    device.OutVar1()->SetUnScaledValue(10);
    QVERIFY(device.WriteAllReports());
    QCOMPARE(intf->written.size(), 1);
    QCOMPARE(intf->written.first().bytes, bytes({0x00, 0x0A}));
}

void TestVantor::variablesAcrossTwoInterfacesAndClosing()
{
    AgentRig rig;
    const auto [in, out] = rig.transport.addSplitArm(false);
    rig.transport.plug(in->info.path);
    QVERIFY(rig.openMatching());
    TVantor device;
    QCOMPARE(device.BindVars(rig.agent.get()), 1);
    const int inHandle = device.InVar1()->HidHandle();
    const int rptIndexA = device.RptIndexA();
    QVERIFY(rptIndexA >= 0);
    QCOMPARE(device.RptIndexB(), -1);
    QCOMPARE(device.OutVar1()->HidHandle(), 0);
    rig.transport.plug(out->info.path);
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.agent->IntfCount(), 2);
    // Only the missing variable is looked for on the second interface; the others stay where they are.
    const int inVarIndex = device.InVar1()->VarIndex();
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    QCOMPARE(device.UnboundVarCount(), 0);
    QCOMPARE((QList<int>{device.InVar1()->HidHandle(), device.InVar2()->HidHandle(), device.InVar1()->VarIndex()}),
             (QList<int>{inHandle, inHandle, inVarIndex}));
    const int outHandle = device.OutVar1()->HidHandle();
    QCOMPARE(outHandle, rig.agent->SelectIntf(1));
    QVERIFY(outHandle != inHandle);
    QCOMPARE(device.RptIndexA(), rptIndexA);
    QVERIFY(device.RptIndexB() >= 0);
    device.OutVar1()->SetUnScaledValue(3);
    QVERIFY(device.WriteAllReports());
    QCOMPARE(out->written.size(), 1);
    QCOMPARE(out->written.first().bytes, bytes({0x00, 0x03}));
    QVERIFY(in->written.isEmpty());
    // Closing one interface unbinds its variables only; the handles are remembered.
    device.HidClosed(nullptr, 1, out->info.deviceName(), outHandle);
    QVERIFY(!device.OutVar1()->IsBound());
    QCOMPARE(device.OutVar1()->HidHandle(), outHandle);
    QVERIFY(device.HasHandle(outHandle));
    QCOMPARE(device.RptIndexB(), -1);
    QVERIFY(!device.WriteAllReports());
    QCOMPARE(out->written.size(), 1);
    QVERIFY(device.InVar1()->IsBound() && device.InVar2()->IsBound());
    QCOMPARE(device.RptIndexA(), rptIndexA);
    QCOMPARE(device.UnboundVarCount(), 1);
    device.HidClosed(nullptr, 0, in->info.deviceName(), inHandle);
    QVERIFY(device.IsAllUnbound());
    QCOMPARE(device.RptIndexA(), -1);
    QVERIFY(device.IsActive());
    device.Shutdown();
    QVERIFY(!device.IsActive());
    QVERIFY(device.HasHandle(inHandle));
}

void TestVantor::reBindOnAnInterfaceWithoutAVariable()
{
    AgentRig rig;
    VirtualHidInterface *out = rig.transport.addSplitArm().second;
    QVERIFY(rig.openMatching()); // opens both; BindVars starts on the newest, the output half
    TVantor device;
    QCOMPARE(device.BindVars(rig.agent.get()), 2);
    rig.agent->SelectIntf(0);
    QCOMPARE(device.BindVars(rig.agent.get()), 2); // BindVars always goes to the newest interface
    // Made current by hand, the input half holds only InVar1 and InVar2.
    const int inHandle = rig.agent->SelectIntf(0);
    QCOMPARE(device.ReBind(nullptr), 1);
    QVERIFY(!device.OutVar1()->IsBound());
    QCOMPARE(device.InVar1()->HidHandle(), inHandle);
    QCOMPARE(device.InVar2()->HidHandle(), inHandle);
    QCOMPARE(device.RptIndexB(), -1);
    QVERIFY(device.RptIndexA() >= 0);
    QCOMPARE(device.UnboundVarCount(), 1);
    QVERIFY(!device.WriteAllReports());
    QVERIFY(out->written.isEmpty());
    // Back on the output half: the input variables go, the output variable comes back.
    rig.agent->SelectIntf(1);
    QCOMPARE(device.ReBind(rig.agent.get()), 2);
    QVERIFY(device.OutVar1()->IsBound());
    QCOMPARE(device.RptIndexA(), -1);
    QVERIFY(device.RptIndexB() >= 0);
}

void TestVantor::unBindRptByReportType()
{
    AgentRig rig;
    addCustomInterface(rig.transport, armWithFeatureDescriptor());
    QVERIFY(rig.openAndSelectNewest());
    TVantor device;
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    const int a = device.RptIndexA();
    const int b = device.RptIndexB();
    TOneHidVar feature;
    feature.DoCreate(2, 1, 0x40, 1, QStringLiteral("F"));
    QVERIFY(feature.Bind(rig.agent.get()));
    device.UnBindRpt(&feature);
    QCOMPARE((QList<int>{device.RptIndexA(), device.RptIndexB()}), (QList<int>{a, b}));
    // Not even when its report index happens to equal report A's or B's (0 and 1 here).
    QCOMPARE((QList<int>{a, b}), (QList<int>{0, 1}));
    for (const int featurePosition : {a, b}) {
        AgentRig other;
        const QByteArray inputInFront = featurePosition == 1 ? bytes({0x09, 0x30, 0x81, 0x02}) : QByteArray();
        addCustomInterface(other.transport, bytes({0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                                   0x75, 0x08, 0x95, 0x01})
                                                + inputInFront + bytes({0x09, 0x40, 0xB1, 0x02, 0xC0}));
        QVERIFY(other.openAndSelectNewest());
        TOneHidVar twin;
        twin.DoCreate(2, 1, 0x40, 1, QStringLiteral("F"));
        QVERIFY(twin.Bind(other.agent.get()));
        QCOMPARE(twin.RptIndex(), featurePosition);
        device.UnBindRpt(&twin);
        QCOMPARE((QList<int>{device.RptIndexA(), device.RptIndexB()}), (QList<int>{a, b}));
    }
    // InVar2 lives in report A too, so it forgets report A just as InVar1 would.
    device.UnBindRpt(device.InVar2().get());
    QCOMPARE(device.RptIndexA(), -1);
    QCOMPARE(device.RptIndexB(), b);
    // An unbound output variable (report -1) does not match report B.
    TOneHidVar unbound;
    unbound.DoCreate(1, 1, 0x3E, 1, QStringLiteral("O"));
    device.UnBindRpt(&unbound);
    QCOMPARE(device.RptIndexB(), b);
    device.UnBindRpt(device.OutVar1().get());
    QCOMPARE(device.RptIndexB(), -1);
}

void TestVantor::propertyWritesLeaveTheSlots()
{
    AgentRig rig;
    VirtualHidInterface *arm = rig.transport.addArm();
    QVERIFY(rig.openMatching());
    TVantor device;
    const TOneHidVar *original = device.OutVar1().get();
    // A replacement that is not bound: the slots still bind the original, but the report indices and
    // the command path follow the property.
    auto replacement = std::make_shared<TOneHidVar>();
    replacement->DoCreate(1, 1, 0x3E, 1, QStringLiteral("Replacement"));
    device.SetOutVar1(replacement);
    QCOMPARE(device.OutVar1(), replacement);
    QCOMPARE(device.VarSlots()[2].get(), original);
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    QVERIFY(original->IsBound());
    QVERIFY(!replacement->IsBound());
    QCOMPARE(device.RptIndexB(), -1);
    const int a = device.RptIndexA();
    QVERIFY(a >= 0);
    // A report index already recorded is not overwritten by an unbound variable's -1.
    device.SetInVar1(std::make_shared<TOneHidVar>());
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    QCOMPARE(device.RptIndexA(), a);
    device.OutVar1()->SetUnScaledValue(8); // unbound: goes nowhere
    QVERIFY(!device.WriteAllReports());
    QVERIFY(arm->written.isEmpty());
    // Handing the original back restores the path.
    device.SetOutVar1(device.VarSlots()[2]);
    QCOMPARE(device.BindVars(rig.agent.get()), 0);
    QVERIFY(device.RptIndexB() >= 0);
    device.OutVar1()->SetUnScaledValue(8);
    QVERIFY(device.WriteAllReports());
    QCOMPARE(arm->written.last().bytes, bytes({0x00, 0x08}));
}

void TestVantor::emptyPropertyReadMakesAPlainVariable_data()
{
    QTest::addColumn<TVantor::VarRef (TVantor::*)()>("get");
    QTest::addColumn<void (TVantor::*)(TVantor::VarRef)>("set");
    QTest::addColumn<QString>("getSource");
    QTest::newRow("InVar1") << &TVantor::InVar1 << &TVantor::SetInVar1 << "Tvantor:InVar1 Property Get";
    QTest::newRow("InVar2") << &TVantor::InVar2 << &TVantor::SetInVar2 << "Tvantor:InVar2 Property Get";
    QTest::newRow("OutVar1") << &TVantor::OutVar1 << &TVantor::SetOutVar1 << "Tvantor:OutVar1 Property Get";
}

void TestVantor::emptyPropertyReadMakesAPlainVariable()
{
    using Getter = TVantor::VarRef (TVantor::*)();
    using Setter = void (TVantor::*)(TVantor::VarRef);
    QFETCH(Getter, get);
    QFETCH(Setter, set);
    QFETCH(QString, getSource);
    TVantor device;
    (device.*set)(nullptr);
    mdlKORIV::SetClassDebugCounterForTest(100);
    const TVantor::VarRef made = (device.*get)();
    QVERIFY(made);
    QCOMPARE(made->ClassDebugID().toInt(), 101);
    QCOMPARE(made->VarName(), QString()); // no DoCreate
    QCOMPARE(made->VarIdentity(), 0);
    QCOMPARE((device.*get)(), made); // made once, then kept
    // The slots keep the original variables.
    for (const TVantor::VarRef &var : device.VarSlots())
        QVERIFY(var != made);
    // Making the variable can fail only on the serial counter; that failure is trapped.
    (device.*set)(nullptr);
    mdlKORIV::SetClassDebugCounterForTest(std::numeric_limits<qint32>::max());
    HID_VERIFY_CLASS_ERROR((device.*get)(), getSource);
    mdlKORIV::SetClassDebugCounterForTest(200);
}

QTEST_GUILESS_MAIN(TestVantor)
#include "tst_vantor.moc"
