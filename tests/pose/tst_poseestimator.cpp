#include "ArmGeometry.h"
#include "ArmSimulator.h"
#include "PoseEstimator.h"

#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <random>

namespace {

constexpr qint64 s(double seconds)
{
    return static_cast<qint64>(seconds * 1e9);
}

// The band is shown in whole degrees, rounded up: a truth this close to it is within what is shown.
constexpr double Slack = 0.5;

struct Move
{
    int code;
    double seconds;
};

// The arm and the estimate, sent the same codes at the same moments.
struct Rig
{
    ArmSimulator arm;
    PoseEstimator estimate;
    qint64 t = 0;
    std::array<double, ArmJointCount> start{};

    // An arm of the realistic kind, every joint homed into a stop and brought to a start pose.
    explicit Rig(quint32 seed, const TravelCalibration &calibration = {}) : estimate(calibration)
    {
        arm.setFaults(ArmFaults::realistic(seed));
        for (const ArmJointMotion &m : armJointMotions) {
            send(m.codeTowardsMin);
            t += s(estimate.secondsToSureEnd(m.codeTowardsMin, t)) + s(0.1);
            send(m.codeTowardsMax);
            t += s(m.fullTravelSeconds / 3);
            send(0);
        }
        estimate.declareStart(t);
        start = arm.poseAt(t).degrees;
    }
    // The truth inside the band the estimate states of it: its place in its range when known at its
    // ends, its distance from the start when known from the start.
    bool inBand(int i) const
    {
        const JointEstimate e = estimate.estimateAt(t).joints[i];
        const double at = arm.poseAt(t).degrees[i];
        if (e.knowledge == PoseKnowledge::AtEnds)
            return at >= e.low - Slack && at <= e.high + Slack;
        return at - start[i] >= e.offsetLow - Slack && at - start[i] <= e.offsetHigh + Slack;
    }
    void send(int code)
    {
        arm.apply(code, t);
        estimate.apply(code, t);
    }
    void play(const QList<PlanStep> &steps)
    {
        for (const PlanStep &step : steps) {
            send(step.code);
            t += s(step.seconds);
        }
        send(0);
    }
};

// Uniform figures from the generator's own output, the same on every platform.
class Dice
{
public:
    explicit Dice(quint32 seed) : m_engine(seed) {}
    double between(double low, double high)
    {
        return low + (high - low) * (static_cast<double>(m_engine()) / 4294967296.0);
    }
    int below(int n) { return static_cast<int>(m_engine() % static_cast<quint32>(n)); }

private:
    std::mt19937 m_engine;
};

// Plays moves on the estimate alone from t, each followed by a stop; returns the time after them.
qint64 drive(PoseEstimator &estimate, const QList<Move> &moves, qint64 t = 0)
{
    for (const Move &m : moves) {
        estimate.apply(m.code, t);
        t += s(m.seconds);
    }
    estimate.apply(0, t);
    return t;
}

double rangeOf(int joint)
{
    return armJointMotions[joint].range();
}

} // namespace

Q_DECLARE_METATYPE(QList<Move>)
Q_DECLARE_METATYPE(QList<int>)

class TestPoseEstimator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bandHoldsTheTruth_data();
    void bandHoldsTheTruth();
    void bandOfFigures_data();
    void bandOfFigures();
    void knowledge_data();
    void knowledge();
    void startAwayFromHome();
    void statusLine();
    void returnPlans_data();
    void returnPlans();
};

void TestPoseEstimator::bandHoldsTheTruth_data()
{
    QTest::addColumn<bool>("calibrated");
    QTest::newRow("table's times") << false;
    QTest::newRow("calibrated") << true;
}

// Four minutes of random jogging on six arms whose faults go beyond what the estimate assumes, under
// the end-stop rule and the time limit: over all of them the truth lies in the stated band after at
// least 95 % of the motions (an arm slower than any the estimate allows for is out until its next
// sure end), and the band closes at stops and spreads in between. Every minute the arm returns to
// its start, and the line that says how far each joint may still be from it holds the truth for at
// least 95 % of the joints.
void TestPoseEstimator::bandHoldsTheTruth()
{
    QFETCH(bool, calibrated);
    int checks = 0;
    int inside = 0;
    int returned = 0;
    int returnedInside = 0;
    double narrowest = 1.0;
    double widest = 0.0;
    for (quint32 seed = 1; seed <= 6; ++seed) {
    const ArmFaults faults = ArmFaults::realistic(seed);
    TravelCalibration calibration;
    Dice dice(seed);
    if (calibrated) {
        // As an operator would time it: the true travel, and a human reaction late.
        for (int code = 1; code <= 10; ++code) {
            const ArmJointMotion &m = armCodeMotion(code)->motion();
            calibration.set(code, m.fullTravelSeconds / faults.speedFactor(code) + dice.between(-0.05, 0.2));
        }
    }
    Rig rig(seed, calibration);
    for (qint64 nextReturn = rig.t + s(60); rig.t < s(240);) {
        if (rig.t >= nextReturn) {
            rig.play(rig.estimate.returnToStart(rig.t));
            rig.t += s(0.5);
            const PoseEstimate back = rig.estimate.estimateAt(rig.t);
            // The figures of the line, as shown: whole degrees, rounded up.
            const QStringList shown = back.offsetBandText().split(QStringLiteral(", "));
            for (int i = 0; i < ArmJointCount; ++i) {
                const double band = shown[i].section(u'\u00B1', 1).chopped(1).toDouble();
                ++returned;
                returnedInside += std::abs(rig.arm.poseAt(rig.t).degrees[i] - rig.start[i]) <= band;
            }
            nextReturn += s(60);
        }
        const int code = 1 + dice.below(10);
        const double toEnd = rig.estimate.secondsToEnd(code, rig.t);
        // Now and then to an end, held a little past it as an operator would; else a tap.
        const qint64 arrives = rig.arm.endStopNsIf(code, rig.t);
        const double run = dice.below(4) == 0 && arrives >= 0 ? double(arrives - rig.t) / 1e9 + dice.between(0.2, 1.5)
                                                              : dice.between(0.1, 1.5);
        if (toEnd == 0.0)
            continue;
        rig.send(code);
        rig.t += s(toEnd > 0 ? std::min(run, toEnd) : std::min(run, armCodeMotion(code)->motion().fullTravelSeconds * 1.5));
        rig.send(0);
        rig.t += s(0.3);
        const PoseEstimate estimate = rig.estimate.estimateAt(rig.t);
        QVERIFY(estimate.known());
        for (int i = 0; i < ArmJointCount; ++i) {
            ++checks;
            inside += rig.inBand(i);
            if (!rig.inBand(i) && qEnvironmentVariableIsSet("POSE_DEBUG")) {
                const JointEstimate &e = estimate.joints[i];
                qInfo("t %.1f joint %d k %d truth %.2f start %.2f band %.2f..%.2f off %.2f..%.2f code %d", double(rig.t) / 1e9, i, int(e.knowledge),
                      rig.arm.poseAt(rig.t).degrees[i], rig.start[i], e.low, e.high, e.offsetLow, e.offsetHigh, code);
            }
            const double share = estimate.joints[i].uncertainty() / rangeOf(i);
            narrowest = std::min(narrowest, share);
            widest = std::max(widest, share);
        }
    }
    }
    qInfo("inside the band after %d of %d motions' checks; band from %.1f to %.1f %% of range; the return "
          "line held the truth for %d of %d joints", inside, checks, 100 * narrowest, 100 * widest, returnedInside,
          returned);
    QVERIFY(inside >= 0.95 * checks);
    QVERIFY(returned > 0 && returnedInside >= 0.95 * returned);
    QVERIFY(narrowest < 0.02);
    QVERIFY(widest > 0.10);
}

void TestPoseEstimator::bandOfFigures_data()
{
    QTest::addColumn<bool>("measured");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("uncertain");
    QTest::newRow("table's times: the worst case") << false << 3.0 << false;
    QTest::newRow("measured: independent figures") << true << 4.0 << false;
    QTest::newRow("measured, far: the end stops go by the worst case") << true << 8.2 << true;
}

// The elbow driven up out of its lower end, where it surely was: its band holds its rate off by the
// whole tolerance and the loose share; with measured rates it takes the other figures with it as
// independent errors, narrower than the worst case (which the distance from the start keeps), and
// whether its end stops apply still goes by that worst case.
void TestPoseEstimator::bandOfFigures()
{
    QFETCH(bool, measured);
    QFETCH(double, seconds);
    QFETCH(bool, uncertain);
    TravelCalibration calibration;
    if (measured)
        calibration.set(3, 14.0) && calibration.set(8, 14.0);
    PoseEstimator estimate(calibration);
    const qint64 t = drive(estimate, {{8, estimate.secondsToSureEnd(8, 0) + 0.01}});
    estimate.declareStart(t);
    const qint64 after = drive(estimate, {{3, seconds}}, t);
    const JointEstimate e = estimate.estimateAt(after).joint(ArmJoint::Elbow);
    const double moved = e.degrees - armJointMotion(ArmJoint::Elbow).minDegrees;
    qInfo("moved %.1f, band %.1f, worst %.1f", moved, e.uncertainty(), e.offsetUncertainty());
    QCOMPARE(int(e.knowledge), int(PoseKnowledge::AtEnds));
    QVERIFY(e.uncertainty() >= (estimate.tolerance(3) + PoseEstimator::VariableShare) * moved);
    QCOMPARE(e.uncertainty() < e.offsetUncertainty() - 1.0, measured);
    QCOMPARE(e.uncertain, uncertain);
    QCOMPARE(estimate.secondsToEnd(3, after) < 0, uncertain);
    if (uncertain)
        QVERIFY(e.uncertainty() < PoseEstimator::UncertainShare * rangeOf(armJointIndex(ArmJoint::Elbow)));
}

void TestPoseEstimator::knowledge_data()
{
    // What is done to the elbow: h<code> driven until surely at the end, m<code> the calibration's
    // key, r<code> two seconds' run, d the start pose, o<code> an override, f forgotten, t forty taps.
    QTest::addColumn<QString>("done");
    QTest::addColumn<int>("knowledge");
    QTest::addColumn<bool>("endStops");
    const int u = int(PoseKnowledge::Unknown);
    const int fromStart = int(PoseKnowledge::FromStart);
    const int atEnds = int(PoseKnowledge::AtEnds);
    QTest::newRow("nothing known") << "" << u << false;
    QTest::newRow("a start pose away from home: from the start only") << "r3 r3 r3 d" << fromStart << false;
    QTest::newRow("driven surely into an end") << "h8" << atEnds << true;
    QTest::newRow("the calibration's key") << "m3" << atEnds << true;
    QTest::newRow("a start pose keeps what an end told") << "m3 d r8" << atEnds << true;
    QTest::newRow("an override: from the start only") << "m3 d o3" << fromStart << false;
    QTest::newRow("an override without a start pose: unknown") << "m3 o3" << u << false;
    QTest::newRow("forgotten") << "m3 d f" << u << false;
    QTest::newRow("uncertain after many taps: the time limit's") << "h8 t" << atEnds << false;
}

// What the estimate knows of a joint, and whether its end stops apply; where they do, the guess
// reaches the end exactly when secondsToEnd said.
void TestPoseEstimator::knowledge()
{
    QFETCH(QString, done);
    QFETCH(int, knowledge);
    QFETCH(bool, endStops);
    PoseEstimator estimate;
    qint64 t = 0;
    for (const QString &step : done.split(u' ', Qt::SkipEmptyParts)) {
        const int code = step.mid(1).toInt();
        switch (step.at(0).unicode()) {
        case 'h': t = drive(estimate, {{code, estimate.secondsToSureEnd(code, t) + 0.01}}, t); break;
        case 'm': estimate.markAtEnd(code, t); break;
        case 'r': t = drive(estimate, {{code, 2.0}}, t) + s(0.5); break;
        case 'd': estimate.declareStart(t); break;
        case 'o': estimate.overridden(code, t); break;
        case 'f': estimate.forget(t); break;
        case 't':
            for (int k = 0; k < 40; ++k)
                t = drive(estimate, {{k % 2 ? 3 : 8, 0.6}}, t) + s(0.2);
            break;
        }
    }
    const JointEstimate e = estimate.estimateAt(t).joint(ArmJoint::Elbow);
    QCOMPARE(int(e.knowledge), knowledge);
    QCOMPARE(estimate.secondsToEnd(3, t) >= 0, endStops);
    QCOMPARE(estimate.secondsToEnd(8, t) >= 0, endStops);
    QCOMPARE(e.uncertain, done.endsWith(u't') || knowledge == int(PoseKnowledge::Unknown));
    if (!endStops)
        return;
    const int code = estimate.atEnd(3, t) ? 8 : 3;
    const double toEnd = estimate.secondsToEnd(code, t);
    QVERIFY(toEnd > 1.0 && !estimate.atEnd(code, t));
    estimate.apply(code, t);
    QVERIFY(std::abs(estimate.secondsToEnd(code, t + s(0.5)) - (toEnd - 0.5)) < 1e-6);
}

// A start pose declared away from home on an arm whose elbow the estimate did not know: the elbow
// then meets its end where the estimate could not tell, and the band of its distance from the start
// still holds the truth, before and after Return to start.
void TestPoseEstimator::startAwayFromHome()
{
    Rig rig(1);
    rig.arm.setFaults(ArmFaults());
    rig.arm.reset(rig.t);
    rig.estimate.forget(rig.t);
    rig.send(3);
    rig.t += s(8.5); // the elbow at about +92
    rig.send(0);
    rig.estimate.declareStart(rig.t);
    rig.start = rig.arm.poseAt(rig.t).degrees;
    const int elbow = armJointIndex(ArmJoint::Elbow);
    QCOMPARE(rig.estimate.estimateAt(rig.t).joints[elbow].uncertainty(), 0.0);
    QCOMPARE(rig.estimate.secondsToEnd(3, rig.t), -1.0); // no end stop: its ends are not known
    rig.send(3);
    rig.t += s(5.0); // into its upper stop, which the estimate cannot know of
    rig.send(0);
    QVERIFY(rig.inBand(elbow));
    rig.play(rig.estimate.returnToStart(rig.t));
    QVERIFY(rig.inBand(elbow));
}

void TestPoseEstimator::statusLine()
{
    PoseEstimator estimate;
    QCOMPARE(estimate.estimateAt(0).statusText(), QStringLiteral("Pose unknown"));
    QVERIFY(estimate.returnToStart(0).isEmpty()); // refused while unknown
    estimate.markAtEnd(5, 0);
    estimate.declareStart(0);
    const qint64 t = drive(estimate, {{1, 2.0}, {6, 2.0}});
    const PoseEstimate after = estimate.estimateAt(t);
    const QStringList lines = after.statusText().split(u'\n');
    QCOMPARE(lines.size(), ArmJointCount);
    QCOMPARE(lines[0], QStringLiteral("Base: known from the start \u00B1 0\u00B0"));
    QCOMPARE(lines[4], QStringLiteral("Gripper: known at its ends \u00B1 1\u00B0"));
    // Rounded up, never claiming more than the estimate does.
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Shoulder: known from the start \u00B1 (\\d+)\u00B0( \\(uncertain\\))?$")).match(lines[1]);
    QVERIFY2(m.hasMatch(), qPrintable(lines[1]));
    const double shown = m.captured(1).toDouble();
    const double band = after.joint(ArmJoint::Shoulder).uncertainty();
    QVERIFY(band > 1.0 && shown >= band && shown < band + 1);

    QCOMPARE(PoseEstimator::endReachedText(3), QStringLiteral("Elbow at its upper end (estimated)"));
    QCOMPARE(PoseEstimator::endReachedText(7), QStringLiteral("Base at its clockwise end (estimated)"));
    QCOMPARE(PoseEstimator::endReachedText(0), QString());
}

void TestPoseEstimator::returnPlans_data()
{
    QTest::addColumn<QList<Move>>("away");
    // The joints the plan moves, in order, by the code of their first step.
    QTest::addColumn<QList<int>>("firstCodes");

    QTest::newRow("at the start") << QList<Move>{} << QList<int>{};
    // Shoulder down to about 30, forearm and hand pointing down in front: the shoulder comes up first.
    QTest::newRow("folded down in front") << QList<Move>{{6, 3.0}, {8, 2.0}, {9, 1.0}} << QList<int>{1, 3, 4};
    QTest::newRow("turned, gripper closed") << QList<Move>{{7, 2.0}, {5, 1.0}} << QList<int>{2, 10};
    // Leaning back with the forearm folded up: back to upright raises the elbow, so the shoulder first.
    QTest::newRow("leaning back") << QList<Move>{{1, 3.0}, {3, 2.0}, {2, 1.0}} << QList<int>{6, 7, 8};
    // Leaning a little back with the forearm down in front: bringing the shoulder upright first would
    // swing the hand down into the table, so the elbow comes up before it.
    QTest::newRow("hand down in front, leaning back")
        << QList<Move>{{7, 0.5}, {8, 2.0}, {1, 0.5}} << QList<int>{2, 3, 6};
    // Reaching out low: the shoulder comes up before the elbow and wrist unfold.
    QTest::newRow("reaching low") << QList<Move>{{6, 2.5}, {3, 4.0}, {9, 2.0}} << QList<int>{1, 8, 4};
}

// A plan moves one joint at a time, never takes the arm lower than a safe height or than it already
// is, and brings the guess back to the start pose.
void TestPoseEstimator::returnPlans()
{
    QFETCH(QList<Move>, away);
    QFETCH(QList<int>, firstCodes);
    PoseEstimator estimate;
    estimate.declareStart(0);
    qint64 t = drive(estimate, away);
    const QList<PlanStep> plan = estimate.returnToStart(t);

    QList<int> order;
    int lastJoint = -1;
    for (const PlanStep &step : plan) {
        QVERIFY(step.seconds > 0);
        const int joint = armJointIndex(armCodeMotion(step.code)->joint);
        if (joint != lastJoint)
            order << step.code;
        lastJoint = joint;
    }
    QCOMPARE(order, firstCodes);

    const double floor = std::min(20.0, ArmGeometry::clearance(estimate.estimateAt(t).degrees()));
    for (const PlanStep &step : plan) {
        estimate.apply(step.code, t);
        for (double done = 0; done < step.seconds; done += 0.02) {
            const double clearance = ArmGeometry::clearance(estimate.estimateAt(t + s(done)).degrees());
            QVERIFY2(
                clearance >= floor - 0.5,
                qPrintable(QStringLiteral("%1 mm above the table, code %2").arg(clearance).arg(step.code)));
        }
        t += s(step.seconds);
    }
    estimate.apply(0, t);
    const JointAngles back = estimate.estimateAt(t).degrees();
    for (int i = 0; i < ArmJointCount; ++i)
        QVERIFY2(
            std::abs(back[i] - estimate.startPose()[i]) < 0.3,
            qPrintable(QStringLiteral("%1 at %2").arg(QLatin1String(armJointMotions[i].name)).arg(back[i])));
}

QTEST_GUILESS_MAIN(TestPoseEstimator)
#include "tst_poseestimator.moc"
