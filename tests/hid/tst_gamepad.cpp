#include "Gamepad.h"
#include "HidReportDescriptor.h"
#include "TriggerPad.h"
#include "VirtualHidTransport.h"

#include <QSignalSpy>
#include <QTest>

using Report = VirtualHidTransport;

namespace {

// A transport that cannot read a descriptor without opening the interface.
class BlindTransport : public VirtualHidTransport
{
public:
    QByteArray peekReportDescriptor(const HidInterfaceInfo &) const override { return QByteArray(); }
};

} // namespace

class tst_Gamepad : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void motionOfAState_data()
    {
        QTest::addColumn<GamepadState>("state");
        QTest::addColumn<int>("current"); // the motion on before this state
        QTest::addColumn<int>("code");
        const auto sticks = [](double x, double y, double rightY) {
            GamepadState s;
            s.x = x;
            s.y = y;
            s.rightY = rightY;
            return s;
        };
        const auto hat = [](double degrees) {
            GamepadState s;
            s.hatDegrees = degrees;
            return s;
        };
        QTest::newRow("all centred") << GamepadState{} << -1 << -1;
        QTest::newRow("left stick left") << sticks(-0.5, 0, 0) << -1 << 2;
        QTest::newRow("left stick right, just out") << sticks(0.21, 0, 0) << -1 << 7;
        QTest::newRow("at the dead zone's edge") << sticks(0.2, -0.2, 0.2) << -1 << -1;
        QTest::newRow("left stick up") << sticks(0, -0.9, 0) << -1 << 1;
        QTest::newRow("left stick down") << sticks(0, 0.9, 0) << -1 << 6;
        QTest::newRow("right stick up") << sticks(0, 0, -0.3) << -1 << 3;
        QTest::newRow("right stick down") << sticks(0, 0, 0.3) << -1 << 8;
        QTest::newRow("diagonal: more up than right") << sticks(0.5, -0.6, 0) << -1 << 1;
        QTest::newRow("both sticks: the right one further") << sticks(-0.4, 0, 0.7) << -1 << 8;
        QTest::newRow("hat up") << hat(0) << -1 << 4;
        QTest::newRow("hat up-left") << hat(315) << -1 << 4;
        QTest::newRow("hat down-right") << hat(135) << -1 << 9;
        QTest::newRow("hat down") << hat(180) << -1 << 9;
        QTest::newRow("hat right is no wrist motion") << hat(90) << -1 << -1;
        GamepadState open;
        open.button1 = true;
        GamepadState close;
        close.button2 = true;
        close.x = 0.9;
        GamepadState full;
        full.x = -1.0;
        full.button1 = true;
        QTest::newRow("button 1 opens") << open << -1 << 10;
        QTest::newRow("a button beats a stick short of the end") << close << -1 << 5;
        QTest::newRow("a stick at its end ties with a button and comes first") << full << -1 << 2;
        GamepadState stop;
        stop.stop = true;
        QTest::newRow("the stop button drives nothing") << stop << -1 << -1;
        QTest::newRow("diagonal jitter keeps the motion on") << sticks(0.5, 0.58, 0) << 7 << 7;
        QTest::newRow("a clear lead takes over") << sticks(0.5, 0.61, 0) << 7 << 6;
        QTest::newRow("the motion on, let back inside 15 %, gives way") << sticks(0.14, 0.25, 0) << 7 << 6;
        QTest::newRow("between 15 and 20 % the motion on keeps going") << sticks(0.16, 0, 0) << 7 << 7;
        QTest::newRow("between 15 and 20 % nothing starts") << sticks(0.19, 0, 0) << -1 << -1;
        QTest::newRow("inside 15 % the motion on stops") << sticks(0.14, 0, 0) << 7 << -1;
        QTest::newRow("the band keeps only the motion on") << sticks(0.17, 0, 0) << 6 << -1;
        QTest::newRow("held in the band, a clear lead takes over") << sticks(0.16, 0, -0.27) << 7 << 3;
        QTest::newRow("the motion on, reversed, is a new motion") << sticks(-0.5, 0.45, 0) << 7 << 2;
        QTest::newRow("a button does not take over from a stick at its end") << full << 2 << 2;
        QTest::newRow("a stick at its end does not take over from a button") << full << 10 << 10;
    }
    void motionOfAState()
    {
        QFETCH(GamepadState, state);
        QFETCH(int, current);
        QFETCH(int, code);
        QCOMPARE(Gamepad::motionFor(state, current), code);
    }

    void rawValues_data()
    {
        QTest::addColumn<bool>("isHat");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<double>("expected"); // -999: none
        QTest::newRow("axis low end") << false << 0 << 0 << 255 << -1.0;
        QTest::newRow("axis high end") << false << 255 << 0 << 255 << 1.0;
        QTest::newRow("axis signed centre") << false << 0 << -127 << 127 << 0.0;
        QTest::newRow("axis beyond its range is held") << false << 300 << 0 << 255 << 1.0;
        QTest::newRow("axis with no range") << false << 5 << 5 << 5 << 0.0;
        QTest::newRow("hat north") << true << 0 << 0 << 7 << 0.0;
        QTest::newRow("hat south of eight") << true << 4 << 0 << 7 << 180.0;
        QTest::newRow("hat released") << true << 8 << 0 << 7 << -999.0;
        QTest::newRow("hat counted from 1") << true << 1 << 1 << 8 << 0.0;
        QTest::newRow("hat released below 1") << true << 0 << 1 << 8 << -999.0;
        QTest::newRow("four-way hat west") << true << 3 << 0 << 3 << 270.0;
    }
    void rawValues()
    {
        QFETCH(bool, isHat);
        QFETCH(int, value);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(double, expected);
        if (isHat) {
            const std::optional<double> degrees = Gamepad::hatDegrees(value, min, max);
            QCOMPARE(degrees.value_or(-999.0), expected);
        } else {
            QCOMPARE(Gamepad::deflection(value, min, max), expected);
        }
    }

    void applicationUsagesOfDescriptors()
    {
        const auto applications = [](const QByteArray &descriptor) {
            return parseReportDescriptor(descriptor).layout->applications;
        };
        QCOMPARE(applications(Report::gamepadReportDescriptor()), QList<quint32>{Gamepad::GamePadUsage});
        QCOMPARE(applications(Report::mouseReportDescriptor()), QList<quint32>{0x00010002u});
    }

    // Pads of three kinds on the virtual transport, among an arm and a mouse that they leave alone:
    //   dual:     X, Y and Rz 0..255, centred at 128, no Ry;
    //   triggers: 16-bit signed sticks X, Y, Rx, Ry centred at 0, and Z, Rz triggers 0..1023 resting at 0;
    //   no Ry:    the same without Rx and Ry, so that the trigger Rz is taken for the right stick.
    // Each report is read by a poll of its own.
    void drivesFromReports_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QList<QByteArray>>("reports");
        QTest::addColumn<QList<int>>("motions");
        QTest::addColumn<int>("stops");
        const QString dual = QStringLiteral("dual"), triggers = QStringLiteral("triggers"),
                      noRy = QStringLiteral("no Ry");
        const QByteArray centre = Report::gamepadReport(128, 128, 128);
        const auto x = [](quint8 v) { return Report::gamepadReport(v, 128, 128); };
        QTest::newRow("stick out and back") << dual << QList<QByteArray>{centre, x(20), centre} << QList<int>{2, -1}
                                            << 0;
        QTest::newRow("inside the dead zone nothing moves")
            << dual << QList<QByteArray>{centre, Report::gamepadReport(150, 110, 140)} << QList<int>{} << 0;
        QTest::newRow("largest deflection switches")
            << dual
            << QList<QByteArray>{centre, Report::gamepadReport(200, 128, 128), Report::gamepadReport(200, 255, 128),
                                 Report::gamepadReport(200, 128, 0)}
            << QList<int>{7, 6, 3} << 0;
        QTest::newRow("hat and grip buttons")
            << dual
            << QList<QByteArray>{Report::gamepadReport(128, 128, 128, 0), Report::gamepadReport(128, 128, 128, 4),
                                 Report::gamepadReport(128, 128, 128, 8, 0x1),
                                 Report::gamepadReport(128, 128, 128, 8, 0x2)}
            << QList<int>{4, 9, 10, 5} << 0;
        QTest::newRow("highest button stops, once per press")
            << dual
            << QList<QByteArray>{Report::gamepadReport(128, 128, 128, 8, 0x200),
                                 Report::gamepadReport(128, 128, 128, 8, 0x200),
                                 Report::gamepadReport(128, 128, 128, 8, 0),
                                 Report::gamepadReport(128, 128, 128, 8, 0x200)}
            << QList<int>{} << 2;
        // 104 is 18.4 % out: past where a motion stops, so not at rest.
        QTest::newRow("a stick pushed from the first report waits until it rests inside 15 %")
            << dual << QList<QByteArray>{x(20), x(0), x(104), x(20), centre, x(20)} << QList<int>{2} << 0;
        QTest::newRow("each axis waits for its own rest")
            << dual << QList<QByteArray>{Report::gamepadReport(128, 0, 128), Report::gamepadReport(20, 0, 128)}
            << QList<int>{2} << 0;
        // 8 bits: 101 is 20.8 % out, 102 is 20 %; 108 is 15.3 %, 109 is 14.5 %.
        QTest::newRow("one count of jitter at the 20 % edge: one motion")
            << dual << QList<QByteArray>{centre, x(101), x(102), x(101), x(102), x(101), x(102)} << QList<int>{2}
            << 0;
        QTest::newRow("one count of jitter at the 15 % edge: one stop")
            << dual << QList<QByteArray>{centre, x(60), x(108), x(109), x(108), x(109), x(108)}
            << QList<int>{2, -1} << 0;

        using Pad = TriggerPad::State;
        const auto pad = [](Pad p) { return p.report(); };
        const QByteArray rest = pad(Pad{});
        QTest::newRow("triggers at rest drive nothing")
            << triggers << QList<QByteArray>{rest, rest, rest} << QList<int>{} << 0;
        QTest::newRow("triggers pulled through the middle and let go drive nothing")
            << triggers
            << QList<QByteArray>{rest, pad({.z = 512, .rz = 512}), pad({.z = 1023, .rz = 1023}), rest}
            << QList<int>{} << 0;
        QTest::newRow("Ry is the right stick")
            << triggers
            << QList<QByteArray>{rest, pad({.ry = -32768}), rest, pad({.ry = 32767}), pad({.ry = 32767, .rz = 1023}),
                                 rest}
            << QList<int>{3, -1, 8, -1} << 0;
        QTest::newRow("16-bit signed left stick")
            << triggers
            << QList<QByteArray>{rest, pad({.x = -32768}), pad({.x = -20000, .y = 32767}), rest, pad({.x = 30000}),
                                 rest}
            << QList<int>{2, 6, -1, 7, -1} << 0;
        // 16 bits: -6555 is 20.003 % out, -6554 is 20 %; -4916 is 15.001 %, -4915 is 14.998 %.
        QTest::newRow("one count of jitter at the 20 % edge of a 16-bit stick: one motion")
            << triggers
            << QList<QByteArray>{rest, pad({.x = -6555}), pad({.x = -6554}), pad({.x = -6555}), pad({.x = -6554})}
            << QList<int>{2} << 0;
        QTest::newRow("one count of jitter at the 15 % edge of a 16-bit stick: one stop")
            << triggers
            << QList<QByteArray>{rest, pad({.ry = -20000}), pad({.ry = -4916}), pad({.ry = -4915}),
                                 pad({.ry = -4916}), pad({.ry = -4915})}
            << QList<int>{3, -1} << 0;
        QTest::newRow("the last button stops") << triggers << QList<QByteArray>{rest, pad({.buttons = 0x800})}
                                               << QList<int>{} << 1;
        const auto lone = [](Pad p) { return p.report(false); };
        QTest::newRow("a trigger taken for the right stick never drives")
            << noRy
            << QList<QByteArray>{lone({}), lone({.rz = 1023}), lone({}), lone({.z = 1023, .rz = 1023}),
                                 lone({.x = 32767, .rz = 1023}), lone({})}
            << QList<int>{7, -1} << 0;
    }
    void drivesFromReports()
    {
        QFETCH(QString, kind);
        QFETCH(QList<QByteArray>, reports);
        QFETCH(QList<int>, motions);
        QFETCH(int, stops);
        VirtualHidTransport transport;
        transport.addArm();
        transport.addOtherDevice();
        VirtualHidInterface *pad = nullptr;
        if (kind == QLatin1String("dual")) {
            pad = transport.addGamepad();
        } else {
            HidInterfaceInfo info;
            info.path = QStringLiteral("virtual/pad0");
            info.vendorId = 0x3C1F;
            info.productId = 0x0B02;
            info.product = QStringLiteral("Trigger Pad (virtual)");
            pad = transport.addInterface(info, TriggerPad::descriptor(kind == QLatin1String("triggers")));
        }
        Gamepad gamepad(&transport);
        QSignalSpy changed(&gamepad, &Gamepad::motionChanged);
        QSignalSpy stopped(&gamepad, &Gamepad::stopPressed);
        gamepad.start();
        QVERIFY(gamepad.isAttached());
        QCOMPARE(gamepad.name(), kind == QLatin1String("dual") ? QStringLiteral("Dual Stick Pad (virtual)")
                                                               : QStringLiteral("Trigger Pad (virtual)"));
        // Only the pad was kept open.
        QVERIFY(pad->isOpen());
        QVERIFY(!transport.interface(QStringLiteral("virtual/mouse0"))->isOpen());
        for (const QByteArray &report : reports) {
            pad->queueInputReport(report);
            gamepad.poll();
        }
        QList<int> seen;
        for (const QList<QVariant> &signal : changed)
            seen << signal.at(0).toInt();
        QCOMPARE(seen, motions);
        QCOMPARE(stopped.count(), stops);
    }

    // Devices that refuse to open: the pad's refusal is told once, the others' never, as they are not
    // the pad's business (and where the descriptor can be read first, they are not even opened).
    void refusedInterfaces_data()
    {
        QTest::addColumn<bool>("canPeek");
        QTest::addColumn<bool>("othersRefuse");
        QTest::addColumn<bool>("padRefuses");
        QTest::addColumn<bool>("attached");
        QTest::addColumn<int>("told");
        QTest::newRow("arm and mouse refuse") << true << true << false << true << 0;
        QTest::newRow("the pad refuses") << true << false << true << false << 1;
        QTest::newRow("all refuse") << true << true << true << false << 1;
        QTest::newRow("blind transport, arm and mouse refuse") << false << true << false << true << 0;
        QTest::newRow("blind transport, the pad refuses") << false << false << true << false << 0;
    }
    void refusedInterfaces()
    {
        QFETCH(bool, canPeek);
        QFETCH(bool, othersRefuse);
        QFETCH(bool, padRefuses);
        QFETCH(bool, attached);
        QFETCH(int, told);
        std::unique_ptr<VirtualHidTransport> transport =
            canPeek ? std::make_unique<VirtualHidTransport>() : std::make_unique<BlindTransport>();
        VirtualHidInterface *arm = transport->addArm();
        VirtualHidInterface *mouse = transport->addOtherDevice();
        VirtualHidInterface *pad = transport->addGamepad();
        if (othersRefuse) {
            arm->denyOpen(true);
            mouse->denyOpen(true);
        }
        if (padRefuses)
            pad->denyOpen(true);
        Gamepad gamepad(transport.get());
        QSignalSpy denied(&gamepad, &Gamepad::openDenied);
        gamepad.start();
        // Another arrival looks at every device again.
        transport->plug(transport->addOtherDevice(false)->info.path);
        QCOMPARE(gamepad.isAttached(), attached);
        QCOMPARE(denied.count(), told);
        if (told > 0)
            QCOMPARE(denied.first().at(0).toString(), pad->info.path);
    }

    void pollsSlowDownOnlyAtRest_data()
    {
        QTest::addColumn<QByteArray>("first");     // read by the first poll (empty: none)
        QTest::addColumn<int>("polls");            // polls after it
        QTest::addColumn<bool>("streaming");       // a centred report before each of them
        QTest::addColumn<QByteArray>("last");      // read by one more poll
        QTest::addColumn<bool>("resting");
        const int rest = Gamepad::PollsBeforeRest;
        const QByteArray out = Report::gamepadReport(0, 128, 128);
        QTest::newRow("at rest long enough") << QByteArray() << rest << false << QByteArray() << true;
        QTest::newRow("not yet long enough") << QByteArray() << rest - 2 << false << QByteArray() << false;
        QTest::newRow("a pad that reports all the time") << QByteArray() << rest << true << QByteArray() << true;
        QTest::newRow("a held stick sends nothing new") << out << rest + 5 << false << QByteArray() << false;
        QTest::newRow("a held stop button") << Report::gamepadReport(128, 128, 128, 8, 0x200) << rest + 5 << false
                                            << QByteArray() << false;
        QTest::newRow("a push from rest") << QByteArray() << rest << false << out << false;
        QTest::newRow("a wobble inside the dead zone")
            << QByteArray() << rest << false << Report::gamepadReport(140, 120, 128) << true;
    }
    void pollsSlowDownOnlyAtRest()
    {
        QFETCH(QByteArray, first);
        QFETCH(int, polls);
        QFETCH(bool, streaming);
        QFETCH(QByteArray, last);
        QFETCH(bool, resting);
        VirtualHidTransport transport;
        VirtualHidInterface *pad = transport.addGamepad();
        Gamepad gamepad(&transport);
        gamepad.start();
        QCOMPARE(gamepad.pollInterval(), Gamepad::PollIntervalMs);
        // The pad tells where it stands as it is opened; `first` may follow at once.
        pad->queueInputReport(Report::gamepadReport(128, 128, 128));
        if (!first.isEmpty())
            pad->queueInputReport(first);
        gamepad.poll();
        for (int i = 0; i < polls; ++i) {
            if (streaming)
                pad->queueInputReport(Report::gamepadReport(128, 128, 128));
            gamepad.poll();
        }
        if (!last.isEmpty()) {
            pad->queueInputReport(last);
            gamepad.poll();
        }
        QCOMPARE(gamepad.pollInterval(), resting ? Gamepad::RestPollIntervalMs : Gamepad::PollIntervalMs);
    }

    void latestReportCountsAndUnplugStops()
    {
        VirtualHidTransport transport;
        Gamepad gamepad(&transport);
        QSignalSpy changed(&gamepad, &Gamepad::motionChanged);
        QSignalSpy attached(&gamepad, &Gamepad::attachedChanged);
        gamepad.start();
        QVERIFY(!gamepad.isAttached());
        // Plugged in later, it is found.
        VirtualHidInterface *pad = transport.addGamepad(false);
        transport.plug(pad->info.path);
        QCOMPARE(attached.count(), 1);
        QVERIFY(gamepad.isAttached());
        // Of the reports waiting at one look, the last is where the pad stands.
        pad->queueInputReport(Report::gamepadReport(0, 128, 128));
        pad->queueInputReport(Report::gamepadReport(128, 0, 128));
        gamepad.poll();
        QCOMPARE(gamepad.motion(), 1);
        QCOMPARE(changed.count(), 1);
        // Nothing new: the stick is still where it was.
        gamepad.poll();
        QCOMPARE(gamepad.motion(), 1);
        transport.unplug(pad->info.path);
        QVERIFY(!gamepad.isAttached());
        QCOMPARE(attached.count(), 2);
        QCOMPARE(gamepad.motion(), -1);
        QCOMPARE(changed.last().at(0).toInt(), -1);
        // Plugged in again with the stick held: what was seen of the pad before counts for nothing.
        transport.plug(pad->info.path);
        QVERIFY(gamepad.isAttached());
        pad->queueInputReport(Report::gamepadReport(128, 0, 128));
        gamepad.poll();
        QCOMPARE(gamepad.motion(), -1);
        pad->queueInputReport(Report::gamepadReport(128, 128, 128));
        pad->queueInputReport(Report::gamepadReport(128, 0, 128));
        gamepad.poll();
        QCOMPARE(gamepad.motion(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_Gamepad)
#include "tst_gamepad.moc"
