#include "ArmSimulator.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"

#include <QTest>

#include <cmath>

namespace {

constexpr qint64 s(double seconds)
{
    return static_cast<qint64>(seconds * 1e9);
}

// Travel speeds as the arm was measured: degrees over seconds for each joint's whole range.
constexpr double BaseSpeed = 270.0 / 12.0;
constexpr double ShoulderSpeed = 180.0 / 9.0;
constexpr double ElbowSpeed = 300.0 / 14.0;
constexpr double WristSpeed = 120.0 / 6.0;

bool near(double a, double b)
{
    return std::abs(a - b) < 1e-6;
}

QString diff(const ArmPose &got, const ArmPose &want)
{
    return QStringLiteral("got \"%1\", want \"%2\"").arg(got.toText(), want.toText());
}

bool samePose(const ArmPose &a, const ArmPose &b)
{
    for (int i = 0; i < ArmJointCount; ++i) {
        if (!near(a.degrees[i], b.degrees[i]))
            return false;
    }
    return true;
}

struct Move
{
    int code;
    double seconds;
};

// Plays moves back to back from t0 and returns the time after the last one; the arm is stopped then.
qint64 play(ArmSimulator &sim, const QList<Move> &moves, qint64 t0)
{
    qint64 t = t0;
    for (const Move &m : moves) {
        sim.apply(m.code, t);
        t += s(m.seconds);
    }
    sim.apply(0, t);
    return t;
}

QList<Move> reversed(const QList<Move> &moves)
{
    QList<Move> back;
    for (auto it = moves.crbegin(); it != moves.crend(); ++it)
        back << Move{ArmSimulator::oppositeCode(it->code), it->seconds};
    return back;
}

} // namespace

Q_DECLARE_METATYPE(ArmJoint)
Q_DECLARE_METATYPE(QList<Move>)
Q_DECLARE_METATYPE(ArmFaults)

class TestArmSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullTravel_data();
    void fullTravel();
    void strainingLastsUntilTheMotorStops();
    void newCodeReplacesThePrevious();
    void unknownCodesStopTheMotors();
    void timeNeverRunsBackwards();
    void resetKeepsTheMotorRunning();
    void movingUntilTheEndStop();
    void reversePlayback_data();
    void reversePlayback();
    void endStopSpoilsReversePlayback();
    void followsTheVirtualArm();
    void unplugStopsEveryMotor_data();
    void unplugStopsEveryMotor();
    void poseText_data();
    void poseText();
    void faultyArm_data();
    void faultyArm();
    void faultsFromSeed();
    void severalJointsAtOnce();
};

void TestArmSimulator::fullTravel_data()
{
    QTest::addColumn<int>("towardsMin");
    QTest::addColumn<int>("towardsMax");
    QTest::addColumn<ArmJoint>("joint");
    QTest::addColumn<double>("minDegrees");
    QTest::addColumn<double>("maxDegrees");
    QTest::addColumn<double>("seconds");

    // Each joint from one stop to the other, timed as the arm was measured.
    QTest::newRow("base") << 7 << 2 << ArmJoint::Base << -135.0 << 135.0 << 12.0;
    QTest::newRow("shoulder") << 6 << 1 << ArmJoint::Shoulder << 0.0 << 180.0 << 9.0;
    QTest::newRow("elbow") << 8 << 3 << ArmJoint::Elbow << -150.0 << 150.0 << 14.0;
    QTest::newRow("wrist") << 9 << 4 << ArmJoint::Wrist << -60.0 << 60.0 << 6.0;
    QTest::newRow("gripper") << 5 << 10 << ArmJoint::Gripper << 0.0 << 30.0 << 1.5;
}

void TestArmSimulator::fullTravel()
{
    QFETCH(int, towardsMin);
    QFETCH(int, towardsMax);
    QFETCH(ArmJoint, joint);
    QFETCH(double, minDegrees);
    QFETCH(double, maxDegrees);
    QFETCH(double, seconds);

    ArmSimulator sim;
    sim.apply(towardsMin, 0);
    // Long enough to reach the stop from anywhere; the clutch holds it there.
    sim.apply(0, s(60));
    QCOMPARE(sim.poseAt(s(60)).angle(joint), minDegrees);

    sim.apply(towardsMax, s(100));
    // A constant speed: halfway through the time, halfway along, and no other joint moved.
    const ArmPose half = sim.poseAt(s(100 + seconds / 2));
    QVERIFY2(near(half.angle(joint), (minDegrees + maxDegrees) / 2), qPrintable(half.toText()));
    for (const ArmJointMotion &m : armJointMotions) {
        if (m.joint != joint)
            QCOMPARE(half.angle(m.joint), ArmPose::home().angle(m.joint));
    }
    const ArmPose justBefore = sim.poseAt(s(100 + seconds) - s(0.01));
    QVERIFY(justBefore.angle(joint) < maxDegrees);
    QVERIFY(!justBefore.isStraining(joint));
    const ArmPose there = sim.poseAt(s(100 + seconds) + 1);
    QCOMPARE(there.angle(joint), maxDegrees);
    QVERIFY(there.isStraining(joint));
    const ArmPose later = sim.poseAt(s(200));
    QCOMPARE(later.angle(joint), maxDegrees);
    QVERIFY(later.isStraining(joint));
    for (int i = 0; i < ArmJointCount; ++i) {
        if (i != static_cast<int>(joint))
            QVERIFY(!later.straining[i]);
    }
}

void TestArmSimulator::strainingLastsUntilTheMotorStops()
{
    ArmSimulator sim;
    sim.apply(4, 0); // wrist up: 60 degrees from home in 3 s
    QVERIFY(sim.poseAt(s(5)).isStraining(ArmJoint::Wrist));

    sim.apply(0, s(5));
    ArmPose pose = sim.poseAt(s(6));
    QCOMPARE(pose.angle(ArmJoint::Wrist), 60.0);
    QVERIFY(!pose.anyStraining());
    QCOMPARE(pose.toText(), QStringLiteral("base 0.0 shoulder 90.0 elbow -90.0 wrist 60.0 gripper 30.0"));

    // Driving into the stop again strains at once; the opposite direction moves straight off it.
    sim.apply(4, s(7));
    pose = sim.poseAt(s(7));
    QVERIFY(pose.isStraining(ArmJoint::Wrist));
    QVERIFY(pose.toText().contains(QStringLiteral("wrist 60.0 (straining)")));
    sim.apply(9, s(8));
    pose = sim.poseAt(s(8.5));
    QVERIFY(!pose.anyStraining());
    QVERIFY(near(pose.angle(ArmJoint::Wrist), 60 - 0.5 * WristSpeed));

    // Another motor's code also ends the strain of the first.
    sim.apply(10, s(20)); // gripper already open
    QVERIFY(sim.poseAt(s(20)).isStraining(ArmJoint::Gripper));
    sim.apply(3, s(21));
    QVERIFY(!sim.poseAt(s(21.5)).isStraining(ArmJoint::Gripper));
}

void TestArmSimulator::newCodeReplacesThePrevious()
{
    ArmSimulator sim;
    sim.apply(1, 0);
    sim.apply(7, s(1)); // no stop in between, as the panel sends a switch
    const ArmPose pose = sim.poseAt(s(3));
    QVERIFY(near(pose.angle(ArmJoint::Shoulder), 90 + ShoulderSpeed));
    QVERIFY(near(pose.angle(ArmJoint::Base), -2 * BaseSpeed));
    QCOMPARE(sim.code(), 7);

    // The same code again does not restart or double anything.
    sim.apply(7, s(3));
    QVERIFY(near(sim.poseAt(s(4)).angle(ArmJoint::Base), -3 * BaseSpeed));
}

void TestArmSimulator::unknownCodesStopTheMotors()
{
    for (int code : {11, -1, 256}) {
        ArmSimulator sim;
        sim.apply(2, 0);
        sim.apply(code, s(1));
        QCOMPARE(sim.code(), 0);
        QVERIFY(near(sim.poseAt(s(5)).angle(ArmJoint::Base), BaseSpeed));
        QVERIFY(!sim.isMovingAt(s(5)));
    }
}

void TestArmSimulator::timeNeverRunsBackwards()
{
    ArmSimulator sim;
    sim.apply(1, s(10));
    // A pose asked for before the motion began is the pose at its start.
    QVERIFY(near(sim.poseAt(s(5)).angle(ArmJoint::Shoulder), 90));
    // A late-stamped stop ends the motion at the moment it began, not before it.
    sim.apply(0, s(8));
    QCOMPARE(sim.lastEventNs(), s(10));
    QVERIFY(near(sim.poseAt(s(20)).angle(ArmJoint::Shoulder), 90));
}

void TestArmSimulator::resetKeepsTheMotorRunning()
{
    ArmSimulator sim;
    sim.apply(8, 0);
    sim.apply(2, s(2));
    sim.reset(s(4));
    ArmPose pose = sim.poseAt(s(4));
    QVERIFY2(samePose(pose, ArmPose::home()), qPrintable(diff(pose, ArmPose::home())));
    QCOMPARE(sim.code(), 2);
    pose = sim.poseAt(s(5));
    QVERIFY(near(pose.angle(ArmJoint::Base), BaseSpeed));
    QVERIFY(near(pose.angle(ArmJoint::Elbow), -90));
}

void TestArmSimulator::movingUntilTheEndStop()
{
    ArmSimulator sim;
    QVERIFY(!sim.isMovingAt(s(1)));
    QCOMPARE(sim.endStopNs(), -1);

    sim.apply(5, s(1)); // gripper closes from fully open in 1.5 s
    const qint64 stopNs = sim.endStopNs();
    QVERIFY(std::llabs(stopNs - s(2.5)) < 1000);
    QVERIFY(sim.isMovingAt(stopNs - 1000));
    QVERIFY(!sim.isMovingAt(stopNs));
    QVERIFY(sim.poseAt(stopNs).isStraining(ArmJoint::Gripper));
    QCOMPARE(sim.poseAt(stopNs).angle(ArmJoint::Gripper), 0.0);

    // Already at the stop: nothing left to move towards.
    sim.apply(5, s(4));
    QCOMPARE(sim.endStopNs(), -1);
    QVERIFY(!sim.isMovingAt(s(4)));
}

void TestArmSimulator::reversePlayback_data()
{
    QTest::addColumn<QList<Move>>("script");

    QTest::newRow("one motor") << QList<Move>{{1, 2.0}};
    QTest::newRow("every motor once") << QList<Move>{{1, 1.5}, {2, 3.25}, {3, 2.0}, {4, 1.0}, {5, 0.75}};
    QTest::newRow("down codes with pauses")
        << QList<Move>{{6, 1.25}, {0, 2.0}, {7, 4.0}, {8, 1.0}, {0, 0.5}, {9, 2.5}, {10, 0.0}};
    QTest::newRow("one joint back and forth")
        << QList<Move>{{2, 3.0}, {7, 1.25}, {2, 0.5}, {7, 4.0}, {7, 1.0}};
}

void TestArmSimulator::reversePlayback()
{
    QFETCH(QList<Move>, script);

    ArmSimulator sim;
    // Start away from home so that a simulator that merely resets would not pass.
    qint64 t = play(sim, {{2, 1.0}, {4, 0.5}, {8, 0.5}}, s(3));
    const ArmPose start = sim.poseAt(t);

    t = play(sim, script, t);
    const ArmPose middle = sim.poseAt(t);
    t = play(sim, reversed(script), t + s(0.4));
    const ArmPose end = sim.poseAt(t);

    QVERIFY2(samePose(end, start), qPrintable(diff(end, start)));
    QVERIFY(!end.anyStraining());
    bool moved = false;
    for (const Move &m : script)
        moved = moved || (m.code != 0 && m.seconds > 0);
    if (moved)
        QVERIFY2(!samePose(middle, start), qPrintable(diff(middle, start)));
}

void TestArmSimulator::endStopSpoilsReversePlayback()
{
    // Four seconds of wrist up reach the stop after three; the clutch slips for the last second, so
    // four seconds down end 20 degrees below where the wrist started.
    ArmSimulator sim;
    const QList<Move> script{{4, 4.0}};
    qint64 t = play(sim, script, 0);
    QCOMPARE(sim.poseAt(t).angle(ArmJoint::Wrist), 60.0);
    t = play(sim, reversed(script), t);
    QVERIFY(near(sim.poseAt(t).angle(ArmJoint::Wrist), -WristSpeed));
}

void TestArmSimulator::followsTheVirtualArm()
{
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    ArmSimulator sim;
    sim.attach(arm);

    QString error;
    const std::unique_ptr<HidConnection> connection = transport.open(arm.armInterface()->info, &error);
    QVERIFY2(connection, qPrintable(error));
    QVERIFY(connection->writeOutputReport(QByteArray::fromHex("0002"), &error)); // base CCW
    QVERIFY(connection->writeOutputReport(QByteArray::fromHex("0000"), &error));
    const QList<WrittenReport> &written = arm.armInterface()->written;
    QCOMPARE(written.size(), 2);
    QCOMPARE(sim.code(), 0);
    QCOMPARE(sim.lastEventNs(), written.at(1).monotonicNs);
    const double seconds = double(written.at(1).monotonicNs - written.at(0).monotonicNs) / 1e9;
    QVERIFY(near(sim.poseAt(written.at(1).monotonicNs + s(5)).angle(ArmJoint::Base), seconds * BaseSpeed));

    // A report the arm cannot read leaves the motion alone.
    QVERIFY(connection->writeOutputReport(QByteArray::fromHex("0004"), &error)); // wrist up
    const qint64 started = sim.lastEventNs();
    connection->writeOutputReport(QByteArray::fromHex("00"), &error);
    QCOMPARE(arm.lastCode(), -1);
    QCOMPARE(sim.code(), 4);
    QCOMPARE(sim.lastEventNs(), started);
}

void TestArmSimulator::unplugStopsEveryMotor_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<int>("shape");
    QTest::newRow("shoulder up") << QByteArray::fromHex("0001") << int(VirtualArm::Shape::OneInterface);
    QTest::newRow("base clockwise") << QByteArray::fromHex("0007") << int(VirtualArm::Shape::OneInterface);
    QTest::newRow("gripper closing") << QByteArray::fromHex("0005") << int(VirtualArm::Shape::OneInterface);
    QTest::newRow("elbow up, two interfaces") << QByteArray::fromHex("0003") << int(VirtualArm::Shape::TwoInterfaces);
}

void TestArmSimulator::unplugStopsEveryMotor()
{
    QFETCH(QByteArray, report);
    QFETCH(int, shape);
    VirtualHidTransport transport;
    VirtualArm arm(transport, VirtualArm::Shape(shape));
    ArmSimulator sim;
    sim.attach(arm);
    QString error;
    const std::unique_ptr<HidConnection> connection = transport.open(arm.armInterface()->info, &error);
    QVERIFY2(connection, qPrintable(error));
    QVERIFY(connection->writeOutputReport(report, &error));
    const qint64 started = arm.armInterface()->written.constLast().monotonicNs;
    QVERIFY(sim.code() != 0);

    arm.unplug();
    QCOMPARE(sim.code(), 0);
    const qint64 stopped = sim.lastEventNs();
    QVERIFY(stopped >= started);
    QVERIFY(!sim.isMovingAt(stopped + s(2)));
    QVERIFY2(samePose(sim.poseAt(stopped + s(2)), sim.poseAt(stopped)),
             qPrintable(diff(sim.poseAt(stopped + s(2)), sim.poseAt(stopped))));

    // Unplugging again is no new event.
    arm.unplug();
    QCOMPARE(sim.lastEventNs(), stopped);
}

void TestArmSimulator::poseText_data()
{
    QTest::addColumn<double>("base");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "base 0.0";
    QTest::newRow("negative zero") << -0.0 << "base 0.0";
    // A motor stopped a hair's breadth below zero: what is shown is zero, without a sign.
    QTest::newRow("rounds to zero from below") << -0.04 << "base 0.0";
    QTest::newRow("rounds to zero from above") << 0.049 << "base 0.0";
    QTest::newRow("tenth below zero") << -0.06 << "base -0.1";
    QTest::newRow("negative") << -22.5 << "base -22.5";
}

void TestArmSimulator::poseText()
{
    QFETCH(double, base);
    QFETCH(QString, text);
    ArmPose pose = ArmPose::home();
    pose.degrees[static_cast<int>(ArmJoint::Base)] = base;
    QVERIFY2(pose.toText().startsWith(text + QLatin1Char(' ')), qPrintable(pose.toText()));
}

void TestArmSimulator::faultyArm_data()
{
    QTest::addColumn<ArmFaults>("faults");
    QTest::addColumn<QList<Move>>("moves");
    QTest::addColumn<ArmJoint>("joint");
    QTest::addColumn<double>("degrees");

    ArmFaults speeds;
    speeds.speedTowardsMax[armJointIndex(ArmJoint::Shoulder)] = 0.9;
    speeds.speedTowardsMin[armJointIndex(ArmJoint::Shoulder)] = 1.1;
    // 90 + 2 s * 18 deg/s up, then 1 s * 22 deg/s down.
    QTest::newRow("a speed each way")
        << speeds << QList<Move>{{1, 2.0}, {6, 1.0}} << ArmJoint::Shoulder << 104.0;

    ArmFaults play;
    play.backlashDegrees[armJointIndex(ArmJoint::Elbow)] = 2.0;
    // The gears start in the middle of their play: up loses 1 degree, the way back down all 2.
    QTest::newRow("play on reversal")
        << play << QList<Move>{{3, 1.0}, {0, 0.5}, {8, 1.0}} << ArmJoint::Elbow << -89.0;
    QTest::newRow("no play going on the same way") << play << QList<Move>{{3, 1.0}, {0, 0.5}, {3, 1.0}}
                                                   << ArmJoint::Elbow << -90.0 + 2 * ElbowSpeed - 1.0;

    ArmFaults give;
    give.endGiveDegrees[armJointIndex(ArmJoint::Gripper)] = 0.4;
    QTest::newRow("give after pushing a stop") << give << QList<Move>{{10, 1.0}} << ArmJoint::Gripper << 29.6;
    QTest::newRow("give when another motion takes over")
        << give << QList<Move>{{5, 2.0}, {4, 1.0}} << ArmJoint::Gripper << 0.4;
    QTest::newRow("no give short of the stop") << give << QList<Move>{{5, 0.5}} << ArmJoint::Gripper << 20.0;

    ArmFaults drain;
    drain.drainPerSecond = 0.001;
    // 5 s clockwise at full speed, then 5 s back at 99.5 %.
    QTest::newRow("batteries running down")
        << drain << QList<Move>{{7, 5.0}, {2, 5.0}} << ArmJoint::Base << -0.5625;
}

// Each fault on its own, against the figures worked out by hand.
void TestArmSimulator::faultyArm()
{
    QFETCH(ArmFaults, faults);
    QFETCH(QList<Move>, moves);
    QFETCH(ArmJoint, joint);
    QFETCH(double, degrees);
    ArmSimulator sim;
    sim.setFaults(faults);
    const qint64 t = play(sim, moves, 0);
    const ArmPose pose = sim.poseAt(t + s(1));
    QVERIFY2(near(pose.angle(joint), degrees), qPrintable(pose.toText()));
    // The end-stop time agrees with the motion: a joint driven on from here meets its stop then.
    sim.apply(armJointMotion(joint).codeTowardsMin, t + s(1));
    const qint64 stop = sim.endStopNs();
    QVERIFY(stop > t + s(1));
    QVERIFY(!sim.poseAt(stop - s(0.001)).isStraining(joint));
    QVERIFY(sim.poseAt(stop).isStraining(joint));
}

// Several joints at once each move as they would alone; the first at its stop strains there while the
// others go on, and its arrival is the end stop told. On the table's arm and on a realistic one, whose
// batteries sag under the stall.
void TestArmSimulator::severalJointsAtOnce()
{
    for (const ArmFaults &faults : {ArmFaults(), ArmFaults::realistic(3)}) {
        ArmSimulator together;
        ArmSimulator base;
        ArmSimulator gripper;
        for (ArmSimulator *sim : {&together, &base, &gripper})
            sim->setFaults(faults);
        together.apply(armCombinedCode({-1, 0, 0, 0, -1}), 0);
        base.apply(armCodeFor(ArmJoint::Base, -1), 0);
        gripper.apply(armCodeFor(ArmJoint::Gripper, -1), 0);
        QCOMPARE(together.endStopNs(), gripper.endStopNs());
        for (const double at : {0.5, 3.0}) {
            const ArmPose pose = together.poseAt(s(at));
            // A stalled motor drags the batteries down: the base turns a little slower then, never faster.
            const double alone = base.poseAt(s(at)).angle(ArmJoint::Base);
            const double turned = pose.angle(ArmJoint::Base);
            QVERIFY2(at < 2.0 ? near(turned, alone) : turned >= alone && turned <= 0.95 * alone, qPrintable(pose.toText()));
            QVERIFY2(near(pose.angle(ArmJoint::Gripper), gripper.poseAt(s(at)).angle(ArmJoint::Gripper)),
                     qPrintable(pose.toText()));
            QCOMPARE(pose.isStraining(ArmJoint::Gripper), at > 2.0);
            QVERIFY(!pose.isStraining(ArmJoint::Base));
            QVERIFY(together.isMovingAt(s(at)));
        }
    }
}

// Drawn arms stay within what they promise, and a seed is one arm, whatever else happens.
void TestArmSimulator::faultsFromSeed()
{
    QCOMPARE(ArmFaults::fromSeed(7), ArmFaults::fromSeed(7));
    QVERIFY(ArmFaults::fromSeed(7) != ArmFaults::fromSeed(8));
    QVERIFY(ArmFaults().isNone());
    for (quint32 seed = 0; seed < 500; ++seed) {
        const ArmFaults f = ArmFaults::fromSeed(seed);
        QVERIFY(!f.isNone());
        for (const ArmJointMotion &m : armJointMotions) {
            const int i = armJointIndex(m.joint);
            for (double speed : {f.speedTowardsMax[i], f.speedTowardsMin[i]})
                QVERIFY2(speed >= 0.85 && speed <= 1.15, qPrintable(QString::number(speed)));
            if (m.towardsMaxLifts)
                QVERIFY(f.speedTowardsMax[i] < f.speedTowardsMin[i]);
            QVERIFY(f.backlashDegrees[i] > 0 && f.backlashDegrees[i] <= 3.0);
            QVERIFY(f.endGiveDegrees[i] > 0 && f.endGiveDegrees[i] <= 1.5);
        }
        QVERIFY(f.drainPerSecond > 0 && f.drainPerSecond * 600 <= 0.05);
    }

    // Two simulators of the same arm given the same codes agree to the last bit.
    const QList<Move> script{{1, 2.0}, {7, 1.5}, {6, 0.7}, {10, 3.0}, {3, 1.0}, {8, 0.2}, {9, 4.0}};
    ArmSimulator a;
    ArmSimulator b;
    ArmSimulator other;
    a.setFaults(ArmFaults::fromSeed(7));
    b.setFaults(ArmFaults::fromSeed(7));
    other.setFaults(ArmFaults::fromSeed(8));
    const qint64 end = play(a, script, 0);
    play(b, script, 0);
    play(other, script, 0);
    QCOMPARE(a.poseAt(end).degrees, b.poseAt(end).degrees);
    QVERIFY(a.poseAt(end).degrees != other.poseAt(end).degrees);
}

QTEST_GUILESS_MAIN(TestArmSimulator)
#include "tst_armsimulator.moc"
