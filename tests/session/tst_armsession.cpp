#include "ArmDeviceList.h"
#include "ArmSession.h"
#include "PoseEstimator.h"
#include "Gamepad.h"
#include "KitCommand.h"
#include "KitArmList.h"
#include "ScriptRunner.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

// The arm session on its own, as tessaro-cli uses it and under the window: a virtual arm behind it,
// the looks and the recording told as signals. No widget is involved.
namespace {

struct Rig
{
    Rig()
    {
        QObject::connect(&arm, &VirtualArm::commandReceived, &arm,
                         [this](int code, qint64, const QByteArray &) { codes.append(code); });
        QObject::connect(&session, &ArmSession::stepBegun, &session,
                         [this](const QString &f) { steps.append(QStringLiteral("+") + f); });
        QObject::connect(&session, &ArmSession::stepEnded, &session,
                         [this](double s) { steps.append(QStringLiteral("-") + QString::number(s)); });
        QObject::connect(&session, &ArmSession::lookOn, &session, [this](int code) { lit.append(code); });
        QObject::connect(&session, &ArmSession::looksReset, &session, [this] { lit.clear(); });
        session.setScriptingModeSource([this] { return scripting; });
        session.start(false);
    }

    // Before the session, whose end sends a stop that is still heard here.
    bool scripting = false;
    QList<int> codes;
    QStringList steps;
    QList<int> lit;
    VirtualHidTransport transport;
    VirtualArm arm{transport};
    ArmSession session{&transport};
};

// One script step: its function and time.
class TwoSteps : public ScriptSource
{
public:
    int stepCount() override { return 2; }
    QString functionText(int row) override { return row == 1 ? QStringLiteral("ElbowUp") : QStringLiteral("Pause"); }
    QString timeText(int) override { return QStringLiteral("5"); }
    QString repetitionsText() override { return QStringLiteral("1"); }
    ArmSession *session = nullptr;
};

// The arm behind a session with a fast gripper: its travel measured at 0.8 s each way, so that the
// end-stop rule acts within a test's patience. What the arm received, with when, and what was said.
struct PoseRig
{
    PoseRig()
    {
        QObject::connect(&arm, &VirtualArm::commandReceived, &arm, [this](int code, qint64 ns, const QByteArray &) {
            codes.append(code);
            times.append(ns);
        });
        QObject::connect(&session, &ArmSession::endStopReached, &session,
                         [this](const QString &m) { said.append(m); });
        QObject::connect(&session, &ArmSession::runLimitReached, &session,
                         [this](const QString &) { said.append(QStringLiteral("limit")); });
        ControlOptions options;
        options.travel.set(5, GripperSeconds);
        options.travel.set(10, GripperSeconds);
        session.setOptions(options);
        session.start(false);
    }
    QString codeText() const
    {
        QStringList items;
        for (const int c : codes)
            items << QString::number(c);
        return items.join(u' ');
    }
    // Seconds from the first code the arm received to the next one.
    double firstMotionSeconds() const
    {
        return times.size() < 2 ? -1.0 : double(times[1] - times[0]) / 1e9;
    }

    static constexpr double GripperSeconds = 0.8;
    QList<int> codes;
    QList<qint64> times;
    QStringList said;
    VirtualHidTransport transport;
    VirtualArm arm{transport};
    ArmSession session{&transport};
};

// A script of steps given as "GripClose 1, Pause 0.3".
class StepList : public ScriptSource
{
public:
    StepList(ArmSession &session, const QString &steps) : m_session(session)
    {
        for (const QString &step : steps.split(QStringLiteral(", ")))
            m_steps << step.split(u' ');
    }
    int stepCount() override { return int(m_steps.size()); }
    QString functionText(int row) override { return m_steps[row - 1][0]; }
    QString timeText(int row) override { return m_steps[row - 1][1]; }
    QString repetitionsText() override { return QStringLiteral("1"); }

private:
    ArmSession &m_session;
    QList<QStringList> m_steps;
};

// Two short steps, for a run that ends by itself.
class ShortSteps : public TwoSteps
{
public:
    QString timeText(int) override { return QStringLiteral("0.3"); }
};

} // namespace

class tst_ArmSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The panel's motions as a sequence of inputs: c<code> a click, k<code>/K<code> a key pressed and
    // let go, p<code>/P<code> a pad control pushed and let back, m Scripting chosen, i Interactive,
    // e Esc, L1/L0 keys and pad locked and unlocked. What the arm received, what was recorded and what is lit afterwards.
    void motions_data()
    {
        QTest::addColumn<bool>("scripting");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("lit");
        QTest::newRow("start and stop") << false << "c1 c1" << QList<int>{1, 0} << QStringList{} << QList<int>{};
        QTest::newRow("switch sends no stop between, recorded")
            << true << "c1 c7 c7" << QList<int>{1, 7, 0} << QStringList{"+ShoulderUp", "-0", "+BaseCW", "-0"}
            << QList<int>{};
        QTest::newRow("Scripting chosen under a motion leaves it running")
            << true << "c3 m" << QList<int>{3} << QStringList{"+ElbowUp"} << QList<int>{3};
        QTest::newRow("Esc ends the motion as its second click")
            << true << "c4 e" << QList<int>{4, 0} << QStringList{"+WristUp", "-0"} << QList<int>{};
        QTest::newRow("key let go after a change of mode stops its motor")
            << false << "k3 m K3" << QList<int>{3, 0} << QStringList{} << QList<int>{};
        QTest::newRow("pad let back after a change of mode stops its motor")
            << true << "p2 i K2 P2" << QList<int>{2, 0} << QStringList{"+BaseCCW"} << QList<int>{};
        QTest::newRow("another key takes over; the first one's release is stale")
            << false << "k1 k3 K1" << QList<int>{1, 3} << QStringList{} << QList<int>{3};
        QTest::newRow("a click switched away: the key's release leaves it")
            << false << "k1 c7 K1" << QList<int>{1, 7} << QStringList{} << QList<int>{7};
        // Another program drives: keys start nothing, and a key held before lets go as ever.
        QTest::newRow("locked keys start nothing; a release still stops")
            << false << "k3 L1 k1 K1 K3 L0 k1" << QList<int>{3, 0, 1} << QStringList{} << QList<int>{1};
    }
    void motions()
    {
        QFETCH(bool, scripting);
        QFETCH(QString, inputs);
        Rig rig;
        rig.scripting = scripting;
        for (const QString &input : inputs.split(u' ')) {
            const int code = input.mid(1).toInt();
            switch (input.at(0).unicode()) {
            case 'c': rig.session.click(code); break;
            case 'k': rig.session.jogPress(ArmSession::Input::Key, code); break;
            case 'K': rig.session.jogRelease(ArmSession::Input::Key, code); break;
            case 'p': rig.session.jogPress(ArmSession::Input::Pad, code); break;
            case 'P': rig.session.jogRelease(ArmSession::Input::Pad, code); break;
            case 'm': rig.scripting = true; rig.session.endMotionState(); break;
            case 'i': rig.scripting = false; break;
            case 'e': rig.session.stopEverything(); break;
            case 'L': rig.session.setJogLocked(code == 1); break;
            }
        }
        // As text: comparing two empty lists of ints trips the undefined-behaviour checker inside Qt.
        const auto text = [](const QList<int> &list) {
            QStringList items;
            for (const int i : list)
                items << QString::number(i);
            return items.join(u' ');
        };
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, lit);
        QCOMPARE(text(rig.codes), text(codes));
        QTEST(rig.steps, "steps");
        QCOMPARE(text(rig.lit), text(lit));
    }

    // How a run ends, as the front end is told: the arm lost, the arm stalled, Esc.
    void runEnds_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("end");
        QTest::newRow("Esc") << "esc" << int(ArmSession::RunEnd::Stopped);
        QTest::newRow("unplugged") << "unplug" << int(ArmSession::RunEnd::Disconnected);
        QTest::newRow("stalled") << "stall" << int(ArmSession::RunEnd::Stalled);
    }
    void runEnds()
    {
        QFETCH(QString, event);
        QFETCH(int, end);
        VirtualHidTransport transport;
        VirtualArm arm{transport};
        if (event == u"stall")
            arm.armInterface()->useWriterThread();
        ArmSession session{&transport};
        session.start(false);
        QVERIFY(session.isReady());
        TwoSteps script;
        script.session = &session;
        int stopping = 0;
        connect(&session, &ArmSession::runStopping, this, [&] { ++stopping; });
        VirtualHidInterface *intf = arm.armInterface();
        if (event == u"stall")
            intf->holdWrites(true);
        QTimer::singleShot(100, &session, [&] {
            if (event == u"esc")
                session.stopEverything();
            else if (event == u"unplug")
                transport.unplug(intf->info.path);
        });
        QElapsedTimer took;
        took.start();
        QCOMPARE(int(session.runScript(script)), end);
        QVERIFY(took.elapsed() < 3000);
        QCOMPARE(stopping, 1);
        QCOMPARE(session.isReady(), event == u"esc");
        intf->holdWrites(false);
        // The writer delivers what it was stuck on and the stop behind it: it must be done before
        // the transport it writes to goes.
        if (event == u"stall")
            QTRY_COMPARE(arm.commandCount(), 2);
    }

    // The end-stop rule on the panel's motions. Inputs: s "this is the start pose", e the gripper known
    // at its open end (the calibration's key), x the arm unplugged and plugged in again, c<code> a click,
    // k<code>/K<code> a key pressed and let go, w<ms> a wait, l<ms> a runaway limit of that long, R
    // Return to start, u the gripper's measured travel forgotten. The gripper starts open, at its open end (code 10 opens, 5 closes). What the arm
    // received, what the session said (end stops in full, "limit" for the runaway limit, "refused" for
    // a refused return), and how long the first motion ran (-1: not looked at).
    void endStops_data()
    {
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QString>("codes");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<double>("firstMotion");
        // Closing is not lifting: the estimate takes the table's time for it.
        const double TableGripperSeconds = armJointMotion(ArmJoint::Gripper).fullTravelSeconds;
        const QString closed = QStringLiteral("Gripper at its closed end (estimated)");
        const QString open = QStringLiteral("Gripper at its open end (estimated)");
        QTest::newRow("a jog towards the estimated end stops there")
            << "e c5 w1000" << "5 0" << QStringList{closed} << PoseRig::GripperSeconds;
        QTest::newRow("a held key too") << "e k5 w1000 K5" << "5 0" << QStringList{closed} << PoseRig::GripperSeconds;
        QTest::newRow("a start at the estimated end is refused") << "e c10 w100" << "" << QStringList{open} << -1.0;
        QTest::newRow("a switch to it stops the motion that was on")
            << "e c3 w100 c10" << "3 0" << QStringList{open} << 0.1;
        QTest::newRow("the same command within 2 s goes past it, once")
            << "e s c10 w300 c10 w600" << "10 0" << QStringList{open, open} << -1.0;
        QTest::newRow("2 s later it is refused again") << "e c10 w2300 c10" << "" << QStringList{open, open} << -1.0;
        // Stopped at the estimated end after a full travel on the table's time, the gripper's band is
        // too wide to be of use: the next motion is the time limit's.
        QTest::newRow("uncertain at the estimated end: the time limit takes over")
            << "u e c5 w1700 c5 w2400" << "5 0 5 0" << QStringList{closed, QStringLiteral("limit")} << TableGripperSeconds;
        // Past an end once, the joint is no longer known there, yet the overrides towards it add up to
        // half a second until it is driven the other way.
        QTest::newRow("asked again and again, the overrides add up to half a second")
            << "e s c10 w100 c10 w700 c10 w100 c10 w100 c10 w700" << "10 0" << QStringList(5, open) << 0.5;
        QTest::newRow("a motion that ends before the end is not held")
            << "e c5 w150 c5 w600" << "5 0" << QStringList{} << 0.15;
        QTest::newRow("pose unknown: the time limit alone")
            << "l600 c5 w1300" << "5 0" << QStringList{QStringLiteral("limit")} << 0.6;
        QTest::newRow("pose unknown: a start at the end goes") << "l600 c10 w100 c10" << "10 0" << QStringList{} << 0.1;
        // The start pose says where the arm is from now on, not where its ends are.
        QTest::newRow("known from the start only: the time limit alone")
            << "l600 s c5 w1300" << "5 0" << QStringList{QStringLiteral("limit")} << 0.6;
        // Unplugged, the arm may be moved by hand: what was known is forgotten.
        QTest::newRow("a replug forgets the end") << "e x c10 w100" << "10" << QStringList{} << -1.0;
        QTest::newRow("Return to start brings the gripper back")
            << "s c5 w200 c5 R" << "5 0 10 0" << QStringList{} << 0.2;
        QTest::newRow("Return to start refused while the pose is unknown")
            << "c5 w200 c5 R" << "5 0" << QStringList{QStringLiteral("refused")} << 0.2;
    }
    void endStops()
    {
        QFETCH(QString, inputs);
        PoseRig rig;
        QCOMPARE(rig.session.poseStatusText(), QStringLiteral("Pose unknown"));
        for (const QString &input : inputs.split(u' ')) {
            const int n = input.mid(1).toInt();
            switch (input.at(0).unicode()) {
            case 's': rig.session.declareStartPose(); break;
            case 'e': rig.session.markAtEnd(10); break;
            case 'x':
                rig.arm.unplug();
                QTRY_VERIFY(!rig.session.isReady());
                rig.arm.plugIn();
                QTRY_VERIFY(rig.session.isReady());
                break;
            case 'c': rig.session.click(n); break;
            case 'k': rig.session.jogPress(ArmSession::Input::Key, n); break;
            case 'K': rig.session.jogRelease(ArmSession::Input::Key, n); break;
            case 'w': QTest::qWait(n); break;
            case 'l': rig.session.setRunLimitOverride(n); break;
            case 'u': rig.session.setOptions(ControlOptions()); break;
            case 'R': {
                QString refusal;
                rig.session.returnToStart(&refusal);
                if (!refusal.isEmpty())
                    rig.said << QStringLiteral("refused");
                break;
            }
            }
        }
        QTEST(rig.codeText(), "codes");
        QTEST(rig.said, "said");
        QFETCH(double, firstMotion);
        if (firstMotion >= 0) {
            // The stop goes out on a timer of this thread, which a busy machine may wake late.
            const double ran = rig.firstMotionSeconds();
            QVERIFY2(ran >= firstMotion - 0.02 && ran < firstMotion + 0.4, qPrintable(QString::number(ran)));
        }
        const QStringList said = inputs.split(u' ');
        QCOMPARE(rig.session.poseStatusText() != QStringLiteral("Pose unknown"),
                 said.contains(QStringLiteral("s")) || (said.contains(QStringLiteral("e")) && !said.contains(QStringLiteral("x"))));
    }

    // The end-stop rule in a run: a step towards an end the estimate says is reached is cut short
    // there (at its start, when it is there already), the cut is reported when the run ends, and the
    // run's other steps go out when the script says.
    void endStopsInARun_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("codes");
        QTest::addColumn<QStringList>("cut");
        QTest::addColumn<double>("firstMotion");
        QTest::addColumn<double>("total");
        const QString closed = QStringLiteral(" cut short: Gripper at its closed end (estimated)");
        QTest::newRow("a step cut at the end, the run timed as written")
            << true << "GripClose 1, Pause 0.3" << "5 0 0 0"
            << QStringList{QStringLiteral("Step 1 (GripClose) of repetition 1") + closed} << PoseRig::GripperSeconds << 1.3;
        QTest::newRow("a step at its end at once sends a stop")
            << true << "GripOpen 0.5, WristUp 0.2" << "0 4 0"
            << QStringList{QStringLiteral("Step 1 (GripOpen) of repetition 1 cut short: Gripper at its open end (estimated)")}
            << 0.5 << 0.7;
        // A travel timed at 0.8 s leaves the band wide at the end: the second step is not cut.
        QTest::newRow("two steps the same way: uncertain after the first")
            << true << "GripClose 1, GripClose 0.4" << "5 0 5 0"
            << QStringList{QStringLiteral("Step 1 (GripClose) of repetition 1") + closed}
            << PoseRig::GripperSeconds << 1.4;
        QTest::newRow("pose unknown: played as written") << false << "GripClose 1, Pause 0.3" << "5 0 0"
                                                         << QStringList{} << 1.0 << 1.3;
    }
    void endStopsInARun()
    {
        QFETCH(bool, known);
        QFETCH(QString, steps);
        PoseRig rig;
        if (known)
            rig.session.markAtEnd(10);
        StepList script(rig.session, steps);
        QElapsedTimer took;
        took.start();
        QCOMPARE(int(rig.session.runScript(script)), int(ArmSession::RunEnd::Finished));
        const double seconds = double(took.nsecsElapsed()) / 1e9;
        QTEST(rig.codeText(), "codes");
        QStringList cut;
        for (const ArmSession::CutStep &step : rig.session.lastRunCutSteps())
            cut << step.text();
        QTEST(cut, "cut");
        QFETCH(double, firstMotion);
        QFETCH(double, total);
        const double ran = rig.firstMotionSeconds();
        QVERIFY2(ran >= firstMotion - 0.02 && ran < firstMotion + 0.4, qPrintable(QString::number(ran)));
        // The last code, the run's final stop, goes out when the script's time is up, cut or not.
        const double last = double(rig.times.last() - rig.times.first()) / 1e9;
        QVERIFY2(last >= total - 0.02 && last < total + 0.4, qPrintable(QString::number(last)));
        QVERIFY(seconds < total + 1.0);
    }

    // Interface kits beside the HID arm, or alone: each gets every code, and a kit's loss or stall
    // ends a run as a HID arm's does, only when it leaves no arm behind.
    void kits_data()
    {
        QTest::addColumn<bool>("hidArm");
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("end");
        QTest::addColumn<QList<int>>("kitCodes");
        QTest::newRow("a kit alone") << false << "" << int(ArmSession::RunEnd::Finished) << QList<int>{3, 0, 0};
        QTest::newRow("a kit beside a HID arm") << true << "" << int(ArmSession::RunEnd::Finished) << QList<int>{3, 0, 0};
        QTest::newRow("the kit unplugged, the HID arm plays on")
            << true << "unplug" << int(ArmSession::RunEnd::Finished) << QList<int>{3};
        QTest::newRow("the only kit unplugged") << false << "unplug" << int(ArmSession::RunEnd::Disconnected)
                                                << QList<int>{3};
        // Let go, it still takes the code it was stuck on, then the stop waiting behind it.
        QTest::newRow("the kit stalls") << true << "stall" << int(ArmSession::RunEnd::Stalled) << QList<int>{3, 0};
    }
    void kits()
    {
        QFETCH(bool, hidArm);
        QFETCH(QString, event);
        QFETCH(int, end);
        VirtualHidTransport transport;
        std::unique_ptr<VirtualArm> arm = hidArm ? std::make_unique<VirtualArm>(transport) : nullptr;
        VirtualKitTransport kitTransport;
        VirtualArm kit(kitTransport);
        if (event == u"stall")
            kit.kitDevice()->useWriterThread();
        QList<int> hidCodes;
        QList<int> kitGot;
        if (arm)
            connect(arm.get(), &VirtualArm::commandReceived, this,
                    [&](int code, qint64, const QByteArray &) { hidCodes.append(code); });
        connect(&kit, &VirtualArm::commandReceived, this,
                [&](int code, qint64, const QByteArray &) { kitGot.append(code); });
        KitArmList kits(kitTransport);
        ArmSession session{&transport};
        session.setKits(&kits);
        session.start(false);
        QVERIFY(session.isReady());
        ShortSteps script;
        script.session = &session;
        if (event == u"stall")
            kit.kitDevice()->holdWrites(true);
        QTimer::singleShot(100, &session, [&] {
            if (event == u"unplug")
                kit.unplug();
        });
        QCOMPARE(int(session.runScript(script)), end);
        QCOMPARE(session.isReady(), hidArm || event.isEmpty());
        if (arm)
            QCOMPARE(hidCodes.mid(0, 1), QList<int>{3});
        if (arm && event != u"stall")
            QCOMPARE(hidCodes, (QList<int>{3, 0, 0}));
        kit.kitDevice()->holdWrites(false);
        // Heard on this thread once delivered, so the kit's writer is done before the kit goes.
        QFETCH(QList<int>, kitCodes);
        QTRY_COMPARE(kitGot, kitCodes);
        session.shutDown();
        QCOMPARE(kits.armCount(), 0);
    }

    // The way out to the arms. Inputs: c<code> a click, f<n>/F<n> the HID arm's / the kit's next n
    // writes fail, u/U the kit unplugged / plugged in, L<0|1> the light, w<ms> a wait, b<ms> this
    // thread held up (no events), l<ms> a runaway limit of that long, r a run of "GripClose 0.4,
    // GripClose 0.4, Pause 0.1", e the gripper known at its open end. What each arm received (kit: its
    // bytes), what was said, the code the estimate heard last, and how long the first motion ran at most.
    void theWayOut_data()
    {
        QTest::addColumn<bool>("hidArm");
        QTest::addColumn<bool>("kit");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QString>("hidCodes");
        QTest::addColumn<QString>("kitBytes");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<int>("poseCode");
        QTest::addColumn<double>("firstMotionAtMost");
        QTest::newRow("the light after an unplug sends no motion the kit lost")
            << false << true << "c5 u w100 U L1" << "" << "010000 000001" << QStringList{} << 0 << -1.0;
        QTest::newRow("the light rides on the motion in force, and a stop puts it out of force")
            << false << true << "c5 L1 c5 L0" << "" << "010000 010001 000001 000000" << QStringList{} << 0 << -1.0;
        QTest::newRow("a stop that fails is sent again")
            << true << false << "c9 f1 c9" << "9 0" << "" << QStringList{} << 0 << -1.0;
        QTest::newRow("a stop that never goes out is told")
            << true << false << "c9 f20 c9" << "9" << "" << QStringList{"stop failed"} << 9 << -1.0;
        QTest::newRow("only the kit misses the stop: it alone gets it again")
            << true << true << "c9 F1 c9" << "9 0" << "080000 000000" << QStringList{} << 0 << -1.0;
        QTest::newRow("the HID arm fails, the kit takes it: the estimate hears it")
            << true << true << "f1 c3" << "" << "100000" << QStringList{} << 3 << -1.0;
        QTest::newRow("a motion whose thread is held up is stopped by its deadline")
            << true << false << "l100 c9 b800 w50" << "9 0 0" << "" << QStringList{"limit"} << 0 << 0.7;
        QTest::newRow("a run's motion is cut at its limit, consecutive steps as one")
            << true << false << "l300 r" << "5 0 0 0 0" << ""
            << QStringList{"Step 1 (GripClose) of repetition 1 cut short: Gripper stopped after 0.3 s: time limit",
                           "Step 2 (GripClose) of repetition 1 cut short: Gripper stopped after 0.3 s: time limit"}
            << 0 << 0.6;
        const QString liftBoth = QStringLiteral("c%1").arg(armCombinedCode({0, 1, 1, 0, 0}));
        QTest::newRow("several joints at once: one command, stopped whole at the limit")
            << false << true << "l300 " + liftBoth + " w700" << "" << "500000 000000" << QStringList{"limit"} << 0 << 0.6;
        QTest::newRow("several joints at once go to no arm while a HID board is open")
            << true << true << liftBoth + " w100" << "" << "" << QStringList{} << 0 << -1.0;
        QTest::newRow("several joints at once are refused while one is at its end")
            << false << true << QStringLiteral("e c%1 w100").arg(armCombinedCode({0, 0, 0, 1, 1})) << "" << ""
            << QStringList{"Gripper at its open end (estimated)"} << 0 << -1.0;
    }
    void theWayOut()
    {
        QFETCH(bool, hidArm);
        QFETCH(bool, kit);
        QFETCH(QString, inputs);
        VirtualHidTransport transport;
        std::unique_ptr<VirtualArm> arm = hidArm ? std::make_unique<VirtualArm>(transport) : nullptr;
        VirtualKitTransport kitTransport;
        std::unique_ptr<VirtualArm> kitArm = kit ? std::make_unique<VirtualArm>(kitTransport) : nullptr;
        QStringList gotHid;
        QStringList gotKit;
        QList<qint64> times;
        if (arm)
            connect(arm.get(), &VirtualArm::commandReceived, this, [&](int code, qint64 ns, const QByteArray &) {
                gotHid << QString::number(code);
                times << ns;
            });
        if (kitArm)
            connect(kitArm.get(), &VirtualArm::commandReceived, this, [&](int, qint64 ns, const QByteArray &bytes) {
                gotKit << QString::fromLatin1(bytes.toHex());
                times << ns;
            });
        QStringList told;
        KitArmList kits(kitTransport);
        ArmSession session{&transport};
        session.setKits(&kits);
        connect(&session, &ArmSession::stopFailed, this, [&] { told << QStringLiteral("stop failed"); });
        connect(&session, &ArmSession::runLimitReached, this, [&] { told << QStringLiteral("limit"); });
        connect(&session, &ArmSession::endStopReached, this, [&](const QString &text) { told << text; });
        session.start(false);
        QVERIFY(session.isReady());
        for (const QString &input : inputs.split(u' ')) {
            const int n = input.mid(1).toInt();
            switch (input.at(0).unicode()) {
            case 'e': session.markAtEnd(10); break;
            case 'c': session.click(n); break;
            case 'f': arm->armInterface()->failNextWrite(false, n); break;
            case 'F': kitArm->kitDevice()->failNextWrite(false, n); break;
            case 'u': kitArm->unplug(); break;
            case 'U': kitArm->plugIn(); break;
            case 'L': session.setLight(n == 1); break;
            case 'w': QTest::qWait(n); break;
            case 'b': QThread::msleep(ulong(n)); break;
            case 'l': session.setRunLimitOverride(n); break;
            case 'r': {
                StepList steps(session, QStringLiteral("GripClose 0.4, GripClose 0.4, Pause 0.1"));
                QCOMPARE(int(session.runScript(steps)), int(ArmSession::RunEnd::Finished));
                for (const ArmSession::CutStep &cut : session.lastRunCutSteps())
                    told << cut.text();
                break;
            }
            }
        }
        QFETCH(QString, hidCodes);
        QFETCH(QString, kitBytes);
        QFETCH(int, poseCode);
        QFETCH(double, firstMotionAtMost);
        QTRY_COMPARE(gotHid.join(u' '), hidCodes);
        QTRY_COMPARE(gotKit.join(u' '), kitBytes);
        QFETCH(QStringList, said);
        QTRY_COMPARE(told, said);
        QCOMPARE(session.poseEstimator().code(), poseCode);
        QCOMPARE(session.lastStopConfirmed(), !told.contains(QStringLiteral("stop failed")));
        if (firstMotionAtMost > 0) {
            QVERIFY(times.size() >= 2);
            const double ran = double(times[1] - times[0]) / 1e9;
            QVERIFY2(ran < firstMotionAtMost, qPrintable(QString::number(ran)));
        }
        session.shutDown();
    }

    void aRefusedKitIsToldAsARefusedArm()
    {
        VirtualHidTransport transport;
        VirtualKitTransport kitTransport;
        VirtualArm kit(kitTransport);
        kit.kitDevice()->denyOpen(true);
        KitArmList kits(kitTransport);
        ArmSession session{&transport};
        session.setKits(&kits);
        int denied = 0;
        connect(&session, &ArmSession::openDenied, this, [&] { ++denied; });
        session.start(false);
        QCOMPARE(denied, 1);
        QVERIFY(!session.isReady());
        // Let in once plugged again: Ready.
        kit.kitDevice()->allowOpen();
        kit.unplug();
        kit.plugIn();
        QVERIFY(session.isReady());
        QVERIFY(session.send(5));
        QCOMPARE(kit.lastCode(), 5);
    }

    // Every way the HID arm is stopped stops the kits too, and the stop keeps the light as it was:
    // Stop during a run, Esc, the session's end (the window closing), the pad pulled out mid-motion,
    // the runaway limit.
    void everyStopReachesTheKits_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::newRow("Stop during a run") << "stop" << 3;
        QTest::newRow("Esc") << "esc" << 4;
        QTest::newRow("close") << "close" << 1;
        QTest::newRow("the pad unplugged mid-motion") << "pad" << 10;
        QTest::newRow("the runaway limit") << "limit" << 8;
    }
    void everyStopReachesTheKits()
    {
        QFETCH(QString, how);
        QFETCH(int, code);
        VirtualHidTransport transport;
        VirtualHidInterface *pad = how == u"pad" ? transport.addGamepad() : nullptr;
        VirtualArm arm(transport);
        VirtualKitTransport kitTransport;
        VirtualArm kit(kitTransport);
        QList<int> hidCodes;
        QStringList kitBytes;
        connect(&arm, &VirtualArm::commandReceived, this, [&](int c, qint64, const QByteArray &) { hidCodes.append(c); });
        connect(&kit, &VirtualArm::commandReceived, this,
                [&](int, qint64, const QByteArray &bytes) { kitBytes.append(QString::fromLatin1(bytes.toHex())); });
        KitArmList kits(kitTransport);
        ArmSession session{&transport};
        session.setKits(&kits);
        session.start(pad != nullptr);
        QVERIFY(session.isReady());
        QVERIFY(session.setLight(true));
        if (how == u"stop") {
            TwoSteps script;
            script.session = &session;
            QTimer::singleShot(200, &session, [&] { session.stopRun(); });
            QCOMPARE(int(session.runScript(script)), int(ArmSession::RunEnd::Stopped));
        } else if (how == u"pad") {
            QVERIFY(session.gamepad().isAttached());
            // Seen at rest first, then the gripper's button held.
            pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
            session.gamepad().poll();
            pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128, 8, 0x1));
            session.gamepad().poll();
            transport.unplug(pad->info.path);
        } else {
            if (how == u"limit")
                session.setRunLimitOverride(150);
            session.click(code);
            if (how == u"esc")
                session.stopEverything();
            else if (how == u"close")
                session.shutDown();
        }
        const QString lit = QString::fromLatin1(KitCommand::encode(code, true).toHex());
        QTRY_COMPARE_WITH_TIMEOUT(hidCodes, (QList<int>{code, 0}), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(kitBytes, (QStringList{"000001", lit, "000001"}), 5000);
        QVERIFY(kit.light());
    }
};

QTEST_MAIN(tst_ArmSession)
#include "tst_armsession.moc"
