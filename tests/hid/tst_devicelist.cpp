#include "ArmDeviceList.h"
#include "HidTestSupport.h"
#include "TVantor.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace HidTestSupport;

namespace {

// The window's side: the list behind the component's interface events. Like the window's slots, the
// forwarding catches what a handler lets out, and keeps it for the test to look at.
struct ListRig : AgentRig
{
    ListRig()
    {
        QObject::connect(agent.get(), &HIDagentX::OnIntfOpened, &window,
                         [this] { forward([&] { devices.OnIntfOpened(); }); });
        QObject::connect(agent.get(), &HIDagentX::OnIntfClosed, &window, [this](int open, const QString &name, int h) {
            forward([&] { devices.OnIntfClosed(open, name, h); });
        });
        QObject::connect(agent.get(), &HIDagentX::OnRptArrived, &window,
                         [this](int inIntf, int all) { forward([&] { devices.OnRptArrived(inIntf, all); }); });
    }

    void forward(const std::function<void()> &handler)
    {
        if (const std::optional<HidError> e = errorOf(handler))
            handlerErrors.append(*e);
    }

    // Plugs and opens that many arms, one device object each.
    QList<VirtualHidInterface *> openArms(int count)
    {
        QList<VirtualHidInterface *> arms;
        for (int i = 0; i < count; ++i)
            arms.append(transport.addArm());
        if (!openMatching() || devices.Count() != count)
            arms.clear();
        return arms;
    }

    QObject window;
    ArmDeviceList devices{*agent, &window};
    QList<HidError> handlerErrors;
};

bool allBound(const TVantor *device)
{
    return std::all_of(device->VarSlots().begin(), device->VarSlots().end(),
                       [](const TVantor::VarRef &var) { return var->IsBound(); });
}

} // namespace

class TestDeviceList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void itemOutOfRangeAndOneArm_data();
    void itemOutOfRangeAndOneArm();
    void variablesSpreadOverTwoInterfaces();
    void partlyBoundObjectKeepsItsPlace();
    void closingTheFirstOfTwoArms();
    void closingAHandleTwoObjectsHold();
    void closingAHandleNoObjectHoldsRebindsAll();
    void sendToAllServesDevicesInOrder();
    void failuresOfOneDeviceDoNotStopTheOthers();
    void anArmFoundGoneIsARemovalNotAFailedCommand();
    void deviceRemovedDuringItsOwnWrite();
};

void TestDeviceList::itemOutOfRangeAndOneArm_data()
{
    QTest::addColumn<int>("arms");
    QTest::addColumn<int>("index");
    QTest::newRow("empty, 1") << 0 << 1;
    QTest::newRow("empty, 0") << 0 << 0;
    QTest::newRow("one, 0") << 1 << 0;
    QTest::newRow("one, 2") << 1 << 2;
}

void TestDeviceList::itemOutOfRangeAndOneArm()
{
    QFETCH(int, arms);
    QFETCH(int, index);
    ListRig rig;
    if (arms > 0) {
        QCOMPARE(rig.openArms(arms).size(), arms);
    } else {
        rig.devices.SendToAll(1); // nothing to serve, nothing to fail
        // With no interface open BindVars fails in the component; the error leaves the handler and the
        // new object is not kept.
        HID_VERIFY_ERROR(rig.devices.OnIntfOpened(), HIDagentX::BadIntfIndex, "HIDagentX:SelectIntf");
        QCOMPARE(rig.devices.Count(), 0);
    }
    HID_VERIFY_ERROR(rig.devices.Item(index), 9, QString());
    QCOMPARE(rig.devices.LastDevice(), arms ? rig.devices.Item(arms) : nullptr);
    if (arms) {
        TVantor *device = rig.devices.Item(1);
        QVERIFY(allBound(device) && device->IsActive());
        QCOMPARE(device->DeviceIdentity(), 1);
        QCOMPARE(device->HIDagent(), rig.agent.get());
    }
    QVERIFY(rig.handlerErrors.isEmpty());
}

void TestDeviceList::variablesSpreadOverTwoInterfaces()
{
    ListRig rig;
    const auto [in, out] = rig.transport.addSplitArm();
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.agent->IntfCount(), 2);
    QCOMPARE(rig.devices.Count(), 1);
    TVantor *device = rig.devices.Item(1);
    QVERIFY(allBound(device));
    QCOMPARE(device->InVar1()->HidHandle(), rig.agent->SelectIntf(0));
    QCOMPARE(device->OutVar1()->HidHandle(), rig.agent->SelectIntf(1));
    rig.devices.SendToAll(6);
    QCOMPARE(out->written.size(), 1);
    QCOMPARE(out->written.first().bytes, bytes({0x00, 0x06}));
    QVERIFY(in->written.isEmpty());
}

void TestDeviceList::partlyBoundObjectKeepsItsPlace()
{
    ListRig rig;
    rig.matchEverything();
    // Another device's interface gets no object of its own.
    rig.transport.addOtherDevice();
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.agent->IntfCount(), 1);
    QCOMPARE(rig.devices.Count(), 0);
    const auto [in, out] = rig.transport.addSplitArm(false);
    rig.transport.plug(in->info.path);
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.devices.Count(), 1);
    TVantor *device = rig.devices.Item(1);
    QCOMPARE(device->UnboundVarCount(), 1);
    // The next interface goes to the partly bound object even when it is not the arm's: its BindVars
    // says -1, and the object stays.
    rig.transport.addOtherDevice();
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.devices.Count(), 1);
    QCOMPARE(rig.devices.Item(1), device);
    QCOMPARE(device->UnboundVarCount(), 1);
    rig.transport.plug(out->info.path);
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.devices.Count(), 1);
    QCOMPARE(device->UnboundVarCount(), 0);
    QCOMPARE(device->OutVar1()->HidHandle(), rig.agent->SelectIntf(3));
    // Complete now: the next arm gets an object of its own.
    rig.transport.addArm();
    QVERIFY(rig.openMatching());
    QCOMPARE(rig.devices.Count(), 2);
    QVERIFY(allBound(rig.devices.Item(2)));
    QVERIFY(rig.handlerErrors.isEmpty());
}

void TestDeviceList::closingTheFirstOfTwoArms()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    QPointer<TVantor> gone = rig.devices.Item(1);
    QPointer<TVantor> kept = rig.devices.Item(2);
    const int secondHandle = kept->OutVar1()->HidHandle();
    const int oldIndex = kept->OutVar1()->VarIndex();
    rig.transport.unplug(arms[0]->info.path);
    QVERIFY(rig.handlerErrors.isEmpty());
    QCOMPARE(rig.devices.Count(), 1);
    QVERIFY(gone.isNull()); // shut down, removed and released
    QCOMPARE(rig.devices.Item(1), kept.data());
    // Re-bound on the interface now at position 0, under the component's new numbering.
    QCOMPARE(rig.agent->IntfCount(), 1);
    QVERIFY(allBound(kept));
    QCOMPARE(kept->OutVar1()->HidHandle(), secondHandle);
    QVERIFY(kept->OutVar1()->VarIndex() != oldIndex);
    rig.agent->SelectIntf(0);
    QCOMPARE(kept->OutVar1()->VarIndex(), rig.agent->FindVar(1, 0x3E, 1, false));
    QCOMPARE(kept->RptIndexB(), kept->OutVar1()->RptIndex());
    QCOMPARE(kept->RptIndexA(), kept->InVar1()->RptIndex());
    rig.devices.SendToAll(4);
    QCOMPARE(arms[1]->written.size(), 1);
    QCOMPARE(arms[1]->written.first().bytes, bytes({0x00, 0x04}));
    QVERIFY(arms[0]->written.isEmpty());
}

void TestDeviceList::closingAHandleTwoObjectsHold()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(3);
    QCOMPARE(arms.size(), 3);
    QPointer<TVantor> one = rig.devices.Item(1);
    QPointer<TVantor> two = rig.devices.Item(2);
    QPointer<TVantor> three = rig.devices.Item(3);
    // Object 2 moves onto the first interface as well; both neighbours must go when it closes.
    const int firstHandle = rig.agent->SelectIntf(0);
    QCOMPARE(two->ReBind(nullptr), 0);
    QCOMPARE(two->OutVar1()->HidHandle(), firstHandle);
    rig.transport.unplug(arms[0]->info.path);
    QVERIFY(rig.handlerErrors.isEmpty());
    QVERIFY(one.isNull() && two.isNull());
    QCOMPARE(rig.devices.Count(), 1);
    QCOMPARE(rig.devices.Item(1), three.data());
    // Re-bound on position 0: the second arm's interface now, no longer the third's.
    QCOMPARE(three->OutVar1()->HidHandle(), rig.agent->SelectIntf(0));
    rig.devices.SendToAll(1);
    QVERIFY(arms[2]->written.isEmpty());
    QCOMPARE(arms[1]->written.size(), 1);
}

void TestDeviceList::closingAHandleNoObjectHoldsRebindsAll()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    TVantor *one = rig.devices.Item(1);
    TVantor *two = rig.devices.Item(2);
    const int handleOne = one->OutVar1()->HidHandle();
    const int handleTwo = two->OutVar1()->HidHandle();
    // Unbind the first object's variables behind the list's back: only a re-binding brings them back.
    one->HidClosed(nullptr, 2, QString(), handleOne);
    QCOMPARE(one->UnboundVarCount(), 3);
    rig.devices.OnIntfClosed(2, QStringLiteral("somewhere else"), 999);
    QCOMPARE(rig.devices.Count(), 2);
    QCOMPARE(rig.devices.Item(1), one);
    QCOMPARE(rig.devices.Item(2), two);
    QVERIFY(allBound(one) && allBound(two));
    QCOMPARE(one->OutVar1()->HidHandle(), handleOne);
    QCOMPARE(two->OutVar1()->HidHandle(), handleTwo);
    QVERIFY(one->IsActive());

    // The component closes the first interface without the list hearing of it: two objects, one
    // interface. Object 2 has no interface at position 1, so re-binding stops there with the
    // component's error, after object 1 was re-bound on position 0.
    QObject::disconnect(rig.agent.get(), &HIDagentX::OnIntfClosed, &rig.window, nullptr);
    rig.transport.unplug(arms[0]->info.path);
    QCOMPARE(rig.agent->IntfCount(), 1);
    QVERIFY(one->OutVar1()->HidHandle() != rig.agent->SelectIntf(0));
    HID_VERIFY_ERROR(rig.devices.OnIntfClosed(1, QString(), 999), HIDagentX::BadIntfIndex, "HIDagentX:SelectIntf");
    QCOMPARE(rig.devices.Count(), 2);
    QCOMPARE(one->OutVar1()->HidHandle(), rig.agent->SelectIntf(0));
}

void TestDeviceList::sendToAllServesDevicesInOrder()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    QSignalSpy writes(&rig.transport, &VirtualHidTransport::reportWritten);
    rig.devices.SendToAll(7);
    rig.devices.SendToAll(0);
    QCOMPARE(writes.count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(writes.at(i).at(0).toString(), arms[i % 2]->info.path);
        QCOMPARE(writes.at(i).at(1).toByteArray(), bytes({0x00, quint8(i < 2 ? 7 : 0)}));
        if (i > 0)
            QVERIFY(writes.at(i - 1).at(2).toLongLong() <= writes.at(i).at(2).toLongLong());
    }
}

void TestDeviceList::anArmFoundGoneIsARemovalNotAFailedCommand()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    arms[0]->failNextWrite(true);
    QString error;
    QVERIFY(!rig.devices.SendToAll(4, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(arms[1]->written.last().bytes, bytes({0x00, 0x04}));
    QTRY_COMPARE(rig.devices.Count(), 1);
    QVERIFY(rig.devices.SendToAll(5, &error));
}

void TestDeviceList::failuresOfOneDeviceDoNotStopTheOthers()
{
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    VirtualHidInterface *first = arms[0];
    VirtualHidInterface *second = arms[1];
    QString error;
    QVERIFY(rig.devices.SendToAll(1, &error));
    QVERIFY(error.isEmpty());
    first->failNextWrite();
    QVERIFY(!rig.devices.SendToAll(2, &error));
    QCOMPARE(error, QStringLiteral("code 2 not written: write failed (simulated)"));
    QCOMPARE(first->written.size(), 1);
    QCOMPARE(second->written.size(), 2);
    QCOMPARE(second->written.last().bytes, bytes({0x00, 0x02}));
    // A code the variable cannot hold is refused, and no report goes out carrying the previous one.
    QVERIFY(!rig.devices.SendToAll(300, &error));
    QVERIFY2(error.startsWith(QStringLiteral("code 300 refused: 300 does not fit")), qPrintable(error));
    QCOMPARE(first->written.size(), 1);
    QCOMPARE(second->written.size(), 2);
    // A device whose write throws (it lost its component) does not keep the next from its code.
    TVantor *one = rig.devices.Item(1);
    HID_VERIFY_ERROR(one->BindVars(nullptr), 91, QString());
    HID_VERIFY_ERROR(one->WriteAllReports(), 91, QString());
    QVERIFY(!rig.devices.SendToAll(9, &error));
    QVERIFY2(error.startsWith(QStringLiteral("code 9 not written: ")), qPrintable(error));
    QCOMPARE(first->written.size(), 1);
    QCOMPARE(second->written.size(), 3);
    QCOMPARE(second->written.last().bytes, bytes({0x00, 0x09}));
    // Its value was still set: setting and writing fail or succeed apart.
    QCOMPARE(one->OutVar1()->UnScaledValue(), 9);
}

void TestDeviceList::deviceRemovedDuringItsOwnWrite()
{
    // A component event raised from inside a write may drop the very device being served; the loop
    // must neither touch a released object nor pass over the devices after it.
    ListRig rig;
    const QList<VirtualHidInterface *> arms = rig.openArms(2);
    QCOMPARE(arms.size(), 2);
    QPointer<TVantor> one = rig.devices.Item(1);
    const QString firstPath = arms[0]->info.path;
    QObject::connect(&rig.transport, &VirtualHidTransport::reportWritten, &rig.window, [&](const QString &path) {
        if (path == firstPath)
            rig.transport.unplug(path);
    });
    QVERIFY(rig.devices.SendToAll(5));
    QVERIFY(rig.handlerErrors.isEmpty());
    QCOMPARE(arms[0]->written.size(), 1);
    QVERIFY(one.isNull());
    QCOMPARE(rig.devices.Count(), 1);
    QCOMPARE(arms[1]->written.size(), 1);
    QCOMPARE(arms[1]->written.last().bytes, bytes({0x00, 0x05}));
}

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
