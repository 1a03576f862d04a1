#include "HidTestSupport.h"
#include "TOneHidVar.h"
#include "mdlKORIV.h"

#include <QTest>

#include <limits>

using namespace HidTestSupport;

using V = TOneHidVar;
using VarAction = std::function<void(V &)>;
Q_DECLARE_METATYPE(VarAction)

namespace {

// X input, command output (0x3E) and a feature variable (0x40).
QByteArray featureDescriptor()
{
    return bytes({0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
                  0x09, 0x30, 0x81, 0x02, 0x09, 0x3E, 0x91, 0x02, 0x09, 0x40, 0xB1, 0x02, 0xC0});
}

// Logical range 0..0 against physical 0..100: scaling fails.
QByteArray unscalableDescriptor()
{
    return bytes({0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x25, 0x00, 0x35, 0x00, 0x45, 0x64,
                  0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, 0x09, 0x3E, 0x91, 0x02, 0xC0});
}

// An input array of 5000 byte-sized entries (usages 0x30..0x37): 40000 bits.
QByteArray wideArrayDescriptor()
{
    return bytes({0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x96, 0x88,
                  0x13, 0x19, 0x30, 0x29, 0x37, 0x81, 0x00, 0xC0});
}

enum Setup { Wide, Unscalable, Stopped, Destroyed };

} // namespace

class TestOneHidVar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serialsFollowTheSharedCounter();
    void doCreateNarrowsTheReportType_data();
    void doCreateNarrowsTheReportType();
    void bindAndUnbind();
    void bindOfAnAbsentUsage();
    void bindWithAWrongOrMissingComponent();
    void updateByReportType_data();
    void updateByReportType();
    void valuesGoThroughTheComponent();
    void failures_data();
    void failures();
};

void TestOneHidVar::serialsFollowTheSharedCounter()
{
    mdlKORIV::SetClassDebugCounterForTest(41);
    TOneHidVar a;
    TOneHidVar b;
    QCOMPARE(a.ClassDebugID(), QVariant(qint32(42)));
    QCOMPARE(a.ClassDebugID().metaType(), QMetaType::fromType<qint32>());
    QCOMPARE(b.ClassDebugID().toInt(), 43);
    mdlKORIV::SetClassDebugCounterForTest(std::numeric_limits<qint32>::max());
    HID_VERIFY_ERROR(TOneHidVar(), HidError::Overflow, QString());
    mdlKORIV::SetClassDebugCounterForTest(0);
}

void TestOneHidVar::doCreateNarrowsTheReportType_data()
{
    QTest::addColumn<qint32>("rptType");
    QTest::addColumn<bool>("fits");
    QTest::newRow("feature") << 2 << true;
    QTest::newRow("lowest") << -32768 << true;
    QTest::newRow("highest") << 32767 << true;
    QTest::newRow("one above") << 32768 << false;
    QTest::newRow("one below") << -32769 << false;
}

void TestOneHidVar::doCreateNarrowsTheReportType()
{
    QFETCH(qint32, rptType);
    QFETCH(bool, fits);
    TOneHidVar v;
    v.DoCreate(1, 5, 6, 7, QStringLiteral("before"));
    if (fits)
        v.DoCreate(rptType, 1, 48, 3, QStringLiteral("X"));
    else
        HID_VERIFY_ERROR(v.DoCreate(rptType, 1, 48, 3, QStringLiteral("X")), HidError::Overflow, QString());
    // A failed DoCreate changes nothing.
    QCOMPARE(v.RptType(), fits ? qint16(rptType) : qint16(1));
    QCOMPARE(v.UsagePage(), fits ? 1 : 5);
    QCOMPARE(v.Usage(), fits ? 48 : 6);
    QCOMPARE(v.VarIdentity(), fits ? 3 : 7);
    QCOMPARE(v.VarName(), fits ? QStringLiteral("X") : QStringLiteral("before"));
}

void TestOneHidVar::bindAndUnbind()
{
    AgentRig rig;
    rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    HIDagentX &agent = *rig.agent;
    TOneHidVar v;
    v.DoCreate(0, 1, 0x31, 1, QStringLiteral("InVar2"));
    v.SetTag(77);
    v.SetScaleMode(2); // unbound: nowhere to keep it
    QCOMPARE(v.ScaleMode(), 1);
    QVERIFY(v.Bind(&agent));
    const int expected = agent.FindVar(1, 0x31, 0, false);
    QVERIFY(expected >= 0);
    QCOMPARE(v.VarIndex(), expected);
    QVERIFY(v.IsBound());
    QCOMPARE(v.HIDagent(), &agent);
    QCOMPARE(v.HidHandle(), agent.IntfHandle());
    const int handle = v.HidHandle();
    QVERIFY(handle != 0);
    QCOMPARE(v.RptIndex(), agent.VarRptIndex(expected));
    agent.SelectVar(expected);
    QCOMPARE((QList<int>{v.LogicalMinimum(), v.LogicalMaximum(), v.SizeInBits()}), (QList<int>{0, 255, 8}));
    QCOMPARE((QVariantList{v.PhysicalMinimum(), v.PhysicalMaximum(), v.StringDescriptor()}),
             (QVariantList{agent.PhysicalMinimum(), agent.PhysicalMaximum(), agent.StringDescriptor()}));
    QVERIFY(v.AbsoluteNotRelative());
    QCOMPARE((QList<bool>{v.AbsoluteNotRelative(), v.ArrayNotVariable(), v.BitsNotBuffer(), v.HasNullState(),
                          v.Linear(), v.NoPrefState(), v.NoWrap(), v.Volatile(), v.IsButton()}),
             (QList<bool>{agent.AbsoluteNotRelative(), agent.ArrayNotVariable(), agent.BitsNotBuffer(),
                          agent.HasNullState(), agent.Linear(), agent.NoPrefState(), agent.NoWrap(),
                          agent.Volatile(), agent.VarIsButton(expected)}));
    QCOMPARE(agent.VarName(expected), QStringLiteral("InVar2"));
    QCOMPARE(v.ScaleMode(), 1);
    v.SetScaleMode(0);
    QCOMPARE(v.ScaleMode(), 0);
    agent.SelectVar(expected);
    QCOMPARE(agent.ScaleMode(), 0);
    // A new identity does not unbind.
    v.DoCreate(0, 1, 0x30, 2, QStringLiteral("other"));
    QVERIFY(v.IsBound());
    QCOMPARE(v.VarIndex(), expected);
    v.UnBind();
    QVERIFY(!v.IsBound());
    QCOMPARE((QList<int>{v.VarIndex(), v.RptIndex(), v.LogicalMaximum(), v.PhysicalMaximum(), v.UnScaledValue()}),
             (QList<int>{-1, -1, 0, 0, 0}));
    QCOMPARE(v.VarName() + v.StringDescriptor(), QString());
    QVERIFY(!v.Update(true));
    // Kept: handle, flags, size, identity, tag and component.
    QCOMPARE((QList<int>{v.HidHandle(), v.AbsoluteNotRelative(), v.SizeInBits(), v.Usage(), v.VarIdentity(), v.Tag()}),
             (QList<int>{handle, 1, 8, 0x30, 2, 77}));
    QCOMPARE(v.HIDagent(), &agent);
    // Bound again without DoCreate (so under an empty name), every step is repeated, the mode included.
    QVERIFY(v.Bind(&agent));
    QCOMPARE(agent.VarName(v.VarIndex()), QString());
    QCOMPARE(v.ScaleMode(), 1);
}

void TestOneHidVar::bindOfAnAbsentUsage()
{
    AgentRig first;
    first.transport.addArm();
    QVERIFY(first.openAndSelectNewest());
    AgentRig second;
    second.transport.addSplitArm(); // the X/Y interface opens first
    QVERIFY(second.openAndSelectNewest());
    second.agent->SelectIntf(0);
    TOneHidVar v;
    v.DoCreate(1, 1, 0x3E, 1, QStringLiteral("OutVar1"));
    QVERIFY(v.Bind(first.agent.get()));
    const int handle = v.HidHandle();
    const int rptIndex = v.RptIndex();
    QVERIFY(!v.Bind(second.agent.get()));
    QVERIFY(v.VarIndex() < 0);
    QVERIFY(!v.IsBound());
    QCOMPARE(v.HIDagent(), second.agent.get());
    // Nothing else was touched.
    QCOMPARE((QList<int>{v.HidHandle(), v.RptIndex(), v.LogicalMaximum()}), (QList<int>{handle, rptIndex, 255}));
    QCOMPARE(v.VarName(), QStringLiteral("OutVar1"));
}

void TestOneHidVar::bindWithAWrongOrMissingComponent()
{
    AgentRig rig;
    TOneHidVar v;
    v.DoCreate(0, 1, 0x30, 1, QStringLiteral("InVar1"));
    // No interface open: the search fails inside Bind, after the reference was taken.
    HID_VERIFY_CLASS_ERROR(v.Bind(rig.agent.get()), "OneHidVar:Bind Method");
    QCOMPARE(v.HIDagent(), rig.agent.get());
    QVERIFY(!v.IsBound());
    // Another kind of object is refused before Bind runs: nothing changes, nothing is trapped.
    QObject notAComponent;
    HID_VERIFY_ERROR(v.Bind(&notAComponent), HidError::TypeMismatch, QString());
    QCOMPARE(v.HIDagent(), rig.agent.get());
    HID_VERIFY_CLASS_ERROR(v.Bind(nullptr), "OneHidVar:Bind Method");
    QCOMPARE(v.HIDagent(), nullptr);
}

void TestOneHidVar::updateByReportType_data()
{
    QTest::addColumn<qint32>("rptType");
    QTest::addColumn<int>("usage");
    QTest::addColumn<bool>("dataIn");
    QTest::addColumn<bool>("reads");
    QTest::newRow("input, DataIn true") << 0 << 0x30 << true << true;
    QTest::newRow("input, DataIn false") << 0 << 0x30 << false << true;
    QTest::newRow("output, DataIn true") << 1 << 0x3E << true << false;
    QTest::newRow("output, DataIn false") << 1 << 0x3E << false << false;
    QTest::newRow("feature, DataIn true") << 2 << 0x40 << true << true;
    QTest::newRow("feature, DataIn false") << 2 << 0x40 << false << false;
}

void TestOneHidVar::updateByReportType()
{
    QFETCH(qint32, rptType);
    QFETCH(int, usage);
    QFETCH(bool, dataIn);
    QFETCH(bool, reads);
    AgentRig rig;
    VirtualHidInterface *intf = addCustomInterface(rig.transport, featureDescriptor());
    QVERIFY(rig.openAndSelectNewest());
    intf->queueInputReport(bytes({0x00, 0x21}));
    intf->setFeatureReport(bytes({0x00, 0x42}));
    TOneHidVar v;
    v.DoCreate(rptType, 1, usage, 1, QStringLiteral("v"));
    QVERIFY(v.Bind(rig.agent.get()));
    v.SetUnScaledValue(9); // only the written reports carry it
    QVERIFY(v.Update(dataIn));
    if (reads) {
        QVERIFY(intf->written.isEmpty());
        QCOMPARE(v.UnScaledValue(), rptType == 0 ? 0x21 : 0x42);
        QCOMPARE(intf->pendingInputReports(), rptType == 0 ? 0 : 1);
    } else {
        QCOMPARE(intf->written.size(), 1);
        QCOMPARE(intf->written.first().type, rptType == 1 ? HidReportType::Output : HidReportType::Feature);
        QCOMPARE(intf->written.first().bytes, bytes({0x00, 0x09}));
        QCOMPARE(intf->pendingInputReports(), 1);
    }
}

void TestOneHidVar::valuesGoThroughTheComponent()
{
    AgentRig rig;
    VirtualHidInterface *arm = rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar out;
    out.DoCreate(1, 1, 0x3E, 1, QStringLiteral("OutVar1"));
    QVERIFY(out.Bind(rig.agent.get()));
    const int index = out.VarIndex();
    out.SetUnScaledValue(7.0);
    QCOMPARE(out.UnScaledValue(), 7);
    // The component is asked on every read, so a change made behind the variable's back shows.
    rig.agent->SetVarUnScaledValue(index, 3.0);
    QCOMPARE(out.UnScaledValue(), 3);
    out.SetScaledValue(10);
    QCOMPARE(out.ScaledValue(), 10);
    out.SetBoolValue(false);
    QVERIFY(!out.BoolValue());
    QCOMPARE(out.UnScaledValue(), 10);
    QVERIFY(arm->written.isEmpty());
    // A write the device refuses comes back as false, not as an error.
    arm->failNextWrite();
    QVERIFY(!out.Update(false));
    QVERIFY(out.Update(false));
    QCOMPARE(arm->written.size(), 1);
    QCOMPARE(arm->written.last().bytes, bytes({0x00, 0x0A}));
    // Unbound, writes go nowhere, reads give 0 and Update sends nothing.
    out.UnBind();
    out.SetUnScaledValue(9);
    out.SetScaledValue(9);
    QCOMPARE(out.UnScaledValue(), 0);
    QCOMPARE(out.ScaledValue(), 0);
    QCOMPARE(rig.agent->VarUnScaledValue(index), 10);
    QVERIFY(!out.Update(false));
    QCOMPARE(arm->written.size(), 1);
}

void TestOneHidVar::failures_data()
{
    // Trapped members raise the class error under their own source; the others pass the component's on.
    QTest::addColumn<int>("setup");
    QTest::addColumn<VarAction>("action");
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("source");
    const auto row = [](const char *name, Setup setup, VarAction action, qint32 number, const char *source) {
        QTest::newRow(name) << int(setup) << action << number << QString::fromLatin1(source);
    };
    const qint32 cls = ClassErrorNumber, badVar = HIDagentX::BadVarIndex;
    row("wide SizeInBits", Wide, [](V &v) { v.SizeInBits(); }, cls, "OneHidVar:SizeInBits Method");
    row("unscalable get", Unscalable, [](V &v) { v.ScaledValue(); }, cls, "OneHidVar:ScaledValue Property Get");
    row("unscalable let", Unscalable, [](V &v) { v.SetScaledValue(50); }, cls, "OneHidVar:ScaledValue Property Let");
    // The component forgets the interface; the variable still holds its old indexes.
    row("stopped UnScaledValue", Stopped, [](V &v) { v.UnScaledValue(); }, badVar, "HIDagentX:VarUnScaledValue");
    row("stopped SetUnScaledValue", Stopped, [](V &v) { v.SetUnScaledValue(1); }, badVar, "HIDagentX:VarUnScaledValue");
    row("stopped ScaleMode", Stopped, [](V &v) { v.ScaleMode(); }, badVar, "HIDagentX:SelectVar");
    row("stopped SetScaleMode", Stopped, [](V &v) { v.SetScaleMode(0); }, badVar, "HIDagentX:SelectVar");
    row("stopped ScaledValue", Stopped, [](V &v) { v.ScaledValue(); }, cls, "OneHidVar:ScaledValue Property Get");
    row("stopped SetScaledValue", Stopped, [](V &v) { v.SetScaledValue(1); }, cls, "OneHidVar:ScaledValue Property Let");
    row("stopped Update", Stopped, [](V &v) { v.Update(false); }, cls, "OneHidVar:Update Method");
    row("stopped Bind", Stopped, [](V &v) { v.Bind(v.HIDagent()); }, cls, "OneHidVar:Bind Method");
    // Once the component is destroyed the variable fails like one holding no component.
    row("destroyed Update", Destroyed, [](V &v) { v.Update(true); }, cls, "OneHidVar:Update Method");
}

void TestOneHidVar::failures()
{
    QFETCH(int, setup);
    QFETCH(VarAction, action);
    QFETCH(qint32, number);
    QFETCH(QString, source);
    AgentRig rig;
    const bool arm = setup == Stopped || setup == Destroyed;
    if (arm)
        rig.transport.addArm();
    else
        addCustomInterface(rig.transport, setup == Wide ? wideArrayDescriptor() : unscalableDescriptor());
    QVERIFY(rig.openAndSelectNewest());
    V v;
    v.DoCreate(arm ? 1 : 0, 1, arm ? 0x3E : 0x30, 1, QStringLiteral("v"));
    QVERIFY(v.Bind(rig.agent.get()));
    if (setup == Wide)
        QVERIFY(v.ArrayNotVariable() && v.IsButton());
    if (arm)
        rig.agent->StopAgent();
    if (setup == Destroyed)
        rig.agent.reset();
    QVERIFY(v.IsBound());
    QCOMPARE(v.HIDagent(), rig.agent.get());
    if (number == ClassErrorNumber)
        HID_VERIFY_CLASS_ERROR(action(v), source);
    else
        HID_VERIFY_ERROR(action(v), number, source);
}

QTEST_GUILESS_MAIN(TestOneHidVar)
#include "tst_onehidvar.moc"
