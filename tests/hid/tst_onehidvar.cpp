#include "HidTestSupport.h"
#include "TOneHidVar.h"
#include "mdlKORIV.h"

#include <QTest>

#include <limits>

using namespace HidTestSupport;

namespace {

// The arm's X/Y input and command output plus a feature variable (usage 0x40) and an X/Y pair whose
// logical range is a single value, so that scaling it fails.
QByteArray featureDescriptor()
{
    return bytes({
        0x05, 0x01, 0x09, 0x00, 0xA1, 0x01,             // Generic Desktop, Application collection
        0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01, // 0..255, 8 bits, one
        0x09, 0x30, 0x81, 0x02,                         // X: Input
        0x09, 0x3E, 0x91, 0x02,                         // 0x3E: Output
        0x09, 0x40, 0xB1, 0x02,                         // 0x40: Feature
        0xC0,
    });
}

QByteArray unscalableDescriptor()
{
    return bytes({
        0x05, 0x01, 0x09, 0x00, 0xA1, 0x01,
        0x15, 0x00, 0x25, 0x00,       // Logical 0..0
        0x35, 0x00, 0x45, 0x64,       // Physical 0..100
        0x75, 0x08, 0x95, 0x01,
        0x09, 0x30, 0x81, 0x02,       // X: Input
        0x09, 0x3E, 0x91, 0x02,       // 0x3E: Output
        0xC0,
    });
}

} // namespace

class TestOneHidVar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newVariable();
    void serialsFollowTheSharedCounter();
    void doCreateNarrowsTheReportType_data();
    void doCreateNarrowsTheReportType();
    void bindRecordsTheComponentsView();
    void bindAlwaysSelectsUnscaledReads();
    void bindOfAnAbsentUsage();
    void bindWithAWrongOrMissingComponent();
    void sizeAboveSixteenBitsCannotBeRead();
    void unbindKeepsHandleFlagsAndIdentity();
    void updateByReportType_data();
    void updateByReportType();
    void updateOfAnUnboundVariable();
    void valuesGoThroughTheComponent();
    void scaledValueFailuresAreTrapped();
    void untrappedMembersPassFailuresOn();
};

void TestOneHidVar::newVariable()
{
    TOneHidVar v;
    QVERIFY(!v.IsBound());
    QCOMPARE(v.VarIndex(), -1);
    QCOMPARE(v.RptIndex(), -1);
    QCOMPARE(v.HidHandle(), 0);
    QCOMPARE(v.ScaleMode(), 1);
    QCOMPARE(v.UnScaledValue(), 0);
    QCOMPARE(v.ScaledValue(), 0);
    QVERIFY(!v.Update(true));
    QVERIFY(!v.Update(false));
    QVERIFY(!v.BoolValue());
    QCOMPARE(v.VarIdentity(), 0);
    QCOMPARE(v.SizeInBits(), qint16(0));
    QVERIFY(!v.AbsoluteNotRelative() && !v.BitsNotBuffer() && !v.Linear() && !v.NoWrap());
}

void TestOneHidVar::serialsFollowTheSharedCounter()
{
    mdlKORIV::SetClassDebugCounterForTest(41);
    TOneHidVar a;
    TOneHidVar b;
    QCOMPARE(a.ClassDebugID(), QVariant(qint32(42)));
    QCOMPARE(b.ClassDebugID().toInt(), 43);
    QCOMPARE(a.ClassDebugID().metaType(), QMetaType::fromType<qint32>());

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
    if (fits) {
        v.DoCreate(rptType, 1, 48, 3, QStringLiteral("X"));
        QCOMPARE(v.RptType(), qint16(rptType));
        QCOMPARE(v.UsagePage(), 1);
        QCOMPARE(v.Usage(), 48);
        QCOMPARE(v.VarIdentity(), 3);
        QCOMPARE(v.VarName(), QStringLiteral("X"));
    } else {
        HID_VERIFY_ERROR(v.DoCreate(rptType, 1, 48, 3, QStringLiteral("X")), HidError::Overflow, QString());
        QCOMPARE(v.RptType(), qint16(1));
        QCOMPARE(v.UsagePage(), 5);
        QCOMPARE(v.Usage(), 6);
        QCOMPARE(v.VarIdentity(), 7);
        QCOMPARE(v.VarName(), QStringLiteral("before"));
    }
}

void TestOneHidVar::bindRecordsTheComponentsView()
{
    AgentRig rig;
    rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    HIDagentX &agent = *rig.agent;

    TOneHidVar v;
    v.DoCreate(0, 1, 0x31, 1, QStringLiteral("InVar2"));
    v.SetTag(77);
    QVERIFY(v.Bind(&agent));

    const int expected = agent.FindVar(1, 0x31, 0, false);
    QVERIFY(expected >= 0);
    QCOMPARE(v.VarIndex(), expected);
    QVERIFY(v.IsBound());
    QCOMPARE(v.HIDagent(), &agent);
    QCOMPARE(v.HidHandle(), agent.IntfHandle());
    QVERIFY(v.HidHandle() != 0);
    QCOMPARE(v.RptIndex(), agent.VarRptIndex(expected));
    agent.SelectVar(expected);
    QCOMPARE(v.LogicalMinimum(), 0);
    QCOMPARE(v.LogicalMaximum(), 255);
    QCOMPARE(v.PhysicalMinimum(), agent.PhysicalMinimum());
    QCOMPARE(v.PhysicalMaximum(), agent.PhysicalMaximum());
    QCOMPARE(v.SizeInBits(), qint16(8));
    QCOMPARE(v.StringDescriptor(), agent.StringDescriptor());
    QCOMPARE(v.AbsoluteNotRelative(), agent.AbsoluteNotRelative());
    QVERIFY(v.AbsoluteNotRelative());
    QCOMPARE(v.ArrayNotVariable(), agent.ArrayNotVariable());
    QCOMPARE(v.BitsNotBuffer(), agent.BitsNotBuffer());
    QCOMPARE(v.HasNullState(), agent.HasNullState());
    QCOMPARE(v.Linear(), agent.Linear());
    QCOMPARE(v.NoPrefState(), agent.NoPrefState());
    QCOMPARE(v.NoWrap(), agent.NoWrap());
    QCOMPARE(v.Volatile(), agent.Volatile());
    QCOMPARE(v.IsButton(), agent.VarIsButton(expected));
    QCOMPARE(agent.VarName(expected), QStringLiteral("InVar2"));
    QCOMPARE(v.Tag(), 77);

    // A new identity does not unbind.
    v.DoCreate(1, 1, 0x3E, 2, QStringLiteral("other"));
    QVERIFY(v.IsBound());
    QCOMPARE(v.VarIndex(), expected);
}

void TestOneHidVar::bindAlwaysSelectsUnscaledReads()
{
    AgentRig rig;
    rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar v;
    v.DoCreate(0, 1, 0x30, 1, QStringLiteral("InVar1"));

    // Unbound there is nowhere to keep the mode.
    v.SetScaleMode(2);
    QCOMPARE(v.ScaleMode(), 1);

    QVERIFY(v.Bind(rig.agent.get()));
    QCOMPARE(v.ScaleMode(), 1);
    v.SetScaleMode(0);
    QCOMPARE(v.ScaleMode(), 0);
    rig.agent->SelectVar(v.VarIndex());
    QCOMPARE(rig.agent->ScaleMode(), 0);

    // Binding again repeats every step, the mode included.
    QVERIFY(v.Bind(rig.agent.get()));
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
    QCOMPARE(v.HidHandle(), handle);
    QCOMPARE(v.RptIndex(), rptIndex);
    QCOMPARE(v.LogicalMaximum(), 255);
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

void TestOneHidVar::sizeAboveSixteenBitsCannotBeRead()
{
    AgentRig rig;
    // An input array of 5000 byte-sized entries takes 40000 bits of its report.
    addCustomInterface(rig.transport, bytes({
        0x05, 0x01, 0x09, 0x00, 0xA1, 0x01,
        0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x96, 0x88, 0x13, // 0..255, 8 bits, 5000 of them
        0x19, 0x30, 0x29, 0x37, 0x81, 0x00,                         // usages 0x30..0x37: Input array
        0xC0,
    }));
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar v;
    v.DoCreate(0, 1, 0x30, 1, QStringLiteral("big"));
    QVERIFY(v.Bind(rig.agent.get()));
    HID_VERIFY_CLASS_ERROR(v.SizeInBits(), "OneHidVar:SizeInBits Method");
    QVERIFY(v.ArrayNotVariable());
    QVERIFY(v.IsButton());
}

void TestOneHidVar::unbindKeepsHandleFlagsAndIdentity()
{
    AgentRig rig;
    rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar v;
    v.DoCreate(0, 1, 0x30, 1, QStringLiteral("InVar1"));
    v.SetTag(5);
    QVERIFY(v.Bind(rig.agent.get()));
    const int handle = v.HidHandle();
    const bool absolute = v.AbsoluteNotRelative();

    v.UnBind();
    QVERIFY(!v.IsBound());
    QCOMPARE(v.VarIndex(), -1);
    QCOMPARE(v.RptIndex(), -1);
    QCOMPARE(v.LogicalMaximum(), 0);
    QCOMPARE(v.PhysicalMaximum(), 0);
    QCOMPARE(v.VarName(), QString());
    QCOMPARE(v.StringDescriptor(), QString());
    QCOMPARE(v.HidHandle(), handle);
    QCOMPARE(v.AbsoluteNotRelative(), absolute);
    QCOMPARE(v.SizeInBits(), qint16(8));
    QCOMPARE(v.RptType(), qint16(0));
    QCOMPARE(v.Usage(), 0x30);
    QCOMPARE(v.VarIdentity(), 1);
    QCOMPARE(v.Tag(), 5);
    QCOMPARE(v.HIDagent(), rig.agent.get());
    QCOMPARE(v.UnScaledValue(), 0);
    QVERIFY(!v.Update(true));

    // Bound again without DoCreate the component learns an empty name.
    QVERIFY(v.Bind(rig.agent.get()));
    QCOMPARE(rig.agent->VarName(v.VarIndex()), QString());
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
    QVERIFY(intf);
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
        if (rptType == 0)
            QCOMPARE(intf->pendingInputReports(), 0);
    } else {
        QCOMPARE(intf->written.size(), 1);
        QCOMPARE(intf->written.first().type, rptType == 1 ? HidReportType::Output : HidReportType::Feature);
        QCOMPARE(intf->written.first().bytes, bytes({0x00, 0x09}));
        QCOMPARE(intf->pendingInputReports(), 1);
    }
}

void TestOneHidVar::updateOfAnUnboundVariable()
{
    AgentRig rig;
    VirtualHidInterface *arm = rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar v;
    v.DoCreate(1, 1, 0x3E, 1, QStringLiteral("OutVar1"));
    QVERIFY(v.Bind(rig.agent.get()));
    v.UnBind();
    QVERIFY(!v.Update(false));
    QVERIFY(arm->written.isEmpty());

    // A read or write the device refuses comes back as false, not as an error.
    QVERIFY(v.Bind(rig.agent.get()));
    arm->failNextWrite();
    QVERIFY(!v.Update(false));
    QVERIFY(v.Update(false));
    QCOMPARE(arm->written.size(), 1);
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
    QVERIFY(out.Update(false));
    QCOMPARE(arm->written.last().bytes, bytes({0x00, 0x0A}));

    // Unbound, writes go nowhere and reads give 0.
    out.UnBind();
    out.SetUnScaledValue(9);
    out.SetScaledValue(9);
    QCOMPARE(out.UnScaledValue(), 0);
    QCOMPARE(out.ScaledValue(), 0);
    QCOMPARE(rig.agent->VarUnScaledValue(index), 10);
}

void TestOneHidVar::scaledValueFailuresAreTrapped()
{
    AgentRig rig;
    addCustomInterface(rig.transport, unscalableDescriptor());
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar in;
    in.DoCreate(0, 1, 0x30, 1, QStringLiteral("X"));
    QVERIFY(in.Bind(rig.agent.get()));
    HID_VERIFY_CLASS_ERROR(in.ScaledValue(), "OneHidVar:ScaledValue Property Get");
    HID_VERIFY_CLASS_ERROR(in.SetScaledValue(50), "OneHidVar:ScaledValue Property Let");
}

void TestOneHidVar::untrappedMembersPassFailuresOn()
{
    AgentRig rig;
    rig.transport.addArm();
    QVERIFY(rig.openAndSelectNewest());
    TOneHidVar out;
    out.DoCreate(1, 1, 0x3E, 1, QStringLiteral("OutVar1"));
    QVERIFY(out.Bind(rig.agent.get()));

    // The component forgets the interface; the variable still holds its old indexes.
    rig.agent->StopAgent();
    QVERIFY(out.IsBound());
    HID_VERIFY_ERROR(out.UnScaledValue(), HIDagentX::BadVarIndex, "HIDagentX:VarUnScaledValue");
    HID_VERIFY_ERROR(out.SetUnScaledValue(1), HIDagentX::BadVarIndex, "HIDagentX:VarUnScaledValue");
    HID_VERIFY_ERROR(out.ScaleMode(), HIDagentX::BadVarIndex, "HIDagentX:SelectVar");
    HID_VERIFY_ERROR(out.SetScaleMode(0), HIDagentX::BadVarIndex, "HIDagentX:SelectVar");
    HID_VERIFY_CLASS_ERROR(out.ScaledValue(), "OneHidVar:ScaledValue Property Get");
    HID_VERIFY_CLASS_ERROR(out.SetScaledValue(1), "OneHidVar:ScaledValue Property Let");
    HID_VERIFY_CLASS_ERROR(out.Update(false), "OneHidVar:Update Method");
    HID_VERIFY_CLASS_ERROR(out.Bind(rig.agent.get()), "OneHidVar:Bind Method");

    // Once the component is destroyed the variable fails like one holding no component.
    rig.agent.reset();
    QCOMPARE(out.HIDagent(), nullptr);
    HID_VERIFY_CLASS_ERROR(out.Update(true), "OneHidVar:Update Method");
}

QTEST_GUILESS_MAIN(TestOneHidVar)
#include "tst_onehidvar.moc"
