#include "HidArmLink.h"
#include "KitArmList.h"
#include "VirtualHidTransport.h"
#include "VirtualKitTransport.h"

#include <QTest>

#include <future>
#include <memory>
#include <thread>
#include <vector>

// Both kinds of ArmLink keep one rule: a signal is emitted with none of the link's locks held, so a
// handler may wait for another thread that uses the link. And a stalled arm of either kind is handed
// the stop before it is let go.
class TestArmLinks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalsComeWithTheLinkFree_data();
    void signalsComeWithTheLinkFree();
};

namespace {

// One link of either kind on an in-memory device.
struct Rig
{
    VirtualHidTransport hid;
    VirtualKitTransport kits;
    std::unique_ptr<ArmLink> link;
    VirtualDevice *device = nullptr;
    QString path;

    explicit Rig(bool kit, bool writerThread)
    {
        if (kit) {
            VirtualKit *k = kits.addKit();
            device = k;
            path = k->info.path;
            link = std::make_unique<KitArmList>(kits);
        } else {
            VirtualHidInterface *arm = hid.addArm();
            device = arm;
            path = arm->info.path;
            link = std::make_unique<HidArmLink>(&hid);
        }
        if (writerThread)
            device->useWriterThread();
    }
    void unplug()
    {
        hid.unplug(path);
        kits.unplug(path);
    }
    // What the device took, as it took it.
    QList<QByteArray> written()
    {
        QList<QByteArray> bytes;
        if (const VirtualKit *k = kits.kit(path)) {
            for (const WrittenCommand &c : k->written())
                bytes << c.bytes;
        } else {
            for (const WrittenReport &r : hid.interface(path)->written)
                bytes << r.bytes;
        }
        return bytes;
    }
};

} // namespace

void TestArmLinks::signalsComeWithTheLinkFree_data()
{
    QTest::addColumn<bool>("kit");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QStringList>("told");
    for (const bool kit : {false, true}) {
        const QString kind = kit ? QStringLiteral("kit, ") : QStringLiteral("HID, ");
        QTest::newRow(qPrintable(kind + "opened")) << kit << "open" << QStringList{"opened"};
        QTest::newRow(qPrintable(kind + "refused")) << kit << "deny" << QStringList{"denied"};
        QTest::newRow(qPrintable(kind + "unplugged")) << kit << "unplug" << QStringList{"opened", "closed 0"};
        QTest::newRow(qPrintable(kind + "found gone")) << kit << "gone" << QStringList{"opened", "closed 0"};
        QTest::newRow(qPrintable(kind + "stalled")) << kit << "stall" << QStringList{"opened", "stalled", "closed 0"};
    }
}

void TestArmLinks::signalsComeWithTheLinkFree()
{
    QFETCH(bool, kit);
    QFETCH(QString, event);
    QFETCH(QStringList, told);
    Rig rig(kit, event == u"stall");
    ArmLink &link = *rig.link;
    QStringList heard;
    // Each handler asks another thread to use the link; a lock the link still held would keep that
    // thread waiting. Those threads are joined once every handler has returned.
    std::vector<std::thread> probes;
    const auto note = [&](const QString &what) {
        std::promise<void> used;
        std::future<void> done = used.get_future();
        probes.emplace_back([&link, used = std::move(used)]() mutable {
            link.armCount();
            used.set_value();
        });
        const bool free = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        heard << (free ? what : what + QStringLiteral(" (link locked)"));
    };
    connect(&link, &ArmLink::armOpened, this, [&] { note(QStringLiteral("opened")); });
    connect(&link, &ArmLink::armClosed, this,
            [&](const QString &, int stillOpen) { note(QStringLiteral("closed %1").arg(stillOpen)); });
    connect(&link, &ArmLink::openDenied, this, [&] { note(QStringLiteral("denied")); });
    connect(&link, &ArmLink::writeStalled, this, [&] { note(QStringLiteral("stalled")); });

    if (event == u"deny")
        rig.device->denyOpen(true);
    link.start();
    QVERIFY(link.send(0).allTook);
    const QByteArray stop = rig.written().value(0);
    if (event == u"unplug")
        rig.unplug();
    if (event == u"gone") {
        rig.device->failNextWrite(true);
        QVERIFY(!link.send(3).allTook);
    }
    if (event == u"stall") {
        rig.device->holdWrites(true);
        link.send(3);
    }
    QTRY_COMPARE_WITH_TIMEOUT(heard, told, 5000);
    if (event == u"stall") {
        // Let go, the device takes the code it was stuck on, then the stop handed to it behind that.
        rig.device->holdWrites(false);
        QTRY_COMPARE(rig.written().size(), 3);
        QCOMPARE(rig.written().last(), stop);
    }
    link.stop();
    for (std::thread &probe : probes)
        probe.join();
}

QTEST_GUILESS_MAIN(TestArmLinks)
#include "tst_armlinks.moc"
