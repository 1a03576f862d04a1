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

// The simulated arm gives a joint back this much off a stop it was pushed against (ArmFaults draws
// up to 1.5 degrees); the estimate takes a joint driven into its stop to be exactly there.
constexpr double MostGive = 1.5;

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

    explicit Rig(quint32 seed, const TravelCalibration &calibration = {}) : estimate(calibration)
    {
        arm.setFaults(ArmFaults::fromSeed(seed));
        estimate.declareStart(0);
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
    void endStopQueries_data();
    void endStopQueries();
    void statusLine();
    void returnPlans_data();
    void returnPlans();
    void returnAfterARandomRun_data();
    void returnAfterARandomRun();
};

void TestPoseEstimator::bandHoldsTheTruth_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("calibrated");
    for (quint32 seed : {1u, 2u, 3u, 4u}) {
        QTest::addRow("arm %u, table's times", seed) << seed << false;
        QTest::addRow("arm %u, calibrated", seed) << seed << true;
    }
}

// Four minutes of random jogging, into the stops and out again: after every motion the true joint lies
// within the estimate's band (give at the stops aside), the band closes only where the joint really
// is at a stop, and a calibration narrows it.
void TestPoseEstimator::bandHoldsTheTruth()
{
    QFETCH(quint32, seed);
    QFETCH(bool, calibrated);
    const ArmFaults faults = ArmFaults::fromSeed(seed);
    TravelCalibration calibration;
    Dice dice(seed);
    if (calibrated) {
        // As an operator would time it: the true travel, give or take the timing of a key.
        for (int code = 1; code <= 10; ++code) {
            const ArmJointMotion &m = armCodeMotion(code)->motion();
            QVERIFY(calibration.set(code, m.fullTravelSeconds / faults.speedFactor(code) +
                                              dice.between(-0.1, 0.1)));
        }
    }
    Rig rig(seed, calibration);
    double widest = 0.0;
    int closedAtStops = 0;
    std::array<bool, ArmJointCount> moved{};
    while (rig.t < s(240)) {
        const int code = 1 + dice.below(10);
        moved[armJointIndex(armCodeMotion(code)->joint)] = true;
        rig.send(code);
        rig.t += s(dice.between(0.1, 2.5));
        rig.send(0);
        const ArmPose truth = rig.arm.poseAt(rig.t);
        const PoseEstimate estimate = rig.estimate.estimateAt(rig.t);
        QVERIFY(estimate.known());
        for (const ArmJointMotion &m : armJointMotions) {
            const JointEstimate &e = estimate.joint(m.joint);
            const double at = truth.angle(m.joint);
            QVERIFY2(at >= e.low - MostGive - 1e-9 && at <= e.high + MostGive + 1e-9,
                     qPrintable(QStringLiteral("%1 at %2, band %3 .. %4 at %5 s")
                                    .arg(QLatin1String(m.name))
                                    .arg(at)
                                    .arg(e.low)
                                    .arg(e.high)
                                    .arg(double(rig.t) / 1e9)));
            if (e.uncertainty() == 0.0 && moved[armJointIndex(m.joint)]) {
                QVERIFY(e.degrees == m.minDegrees || e.degrees == m.maxDegrees);
                ++closedAtStops;
            }
            widest = std::max(widest, e.uncertainty() / m.range());
        }
    }
    // The jog did drive joints surely into their stops, and the band did spread in between.
    QVERIFY(closedAtStops > 0);
    QVERIFY(widest > 0.02);
}

void TestPoseEstimator::endStopQueries_data()
{
    QTest::addColumn<QList<Move>>("before");
    QTest::addColumn<int>("code");

    QTest::newRow("elbow up from the start") << QList<Move>{} << 3;
    QTest::newRow("base clockwise from the start") << QList<Move>{} << 7;
    QTest::newRow("shoulder down after going up: through the play") << QList<Move>{{1, 1.0}} << 6;
    QTest::newRow("wrist up, paused and on") << QList<Move>{{4, 1.0}, {0, 0.5}} << 4;
    QTest::newRow("gripper closing after opening against its stop") << QList<Move>{{10, 2.0}} << 5;
}

// The estimate puts the joint at its end exactly when secondsToEnd said, not before; pushing on for
// secondsToSureEnd closes its band there; and neither answers for a joint it does not know.
void TestPoseEstimator::endStopQueries()
{
    QFETCH(QList<Move>, before);
    QFETCH(int, code);
    PoseEstimator estimate;
    QCOMPARE(estimate.secondsToEnd(code, 0), -1.0);
    QVERIFY(!estimate.atEnd(code, 0));
    QCOMPARE(estimate.secondsToEnd(0, 0), -1.0);
    QCOMPARE(estimate.secondsToSureEnd(0, 0), -1.0);

    estimate.declareStart(0);
    const qint64 t = drive(estimate, before);
    const double toEnd = estimate.secondsToEnd(code, t);
    QVERIFY(toEnd > 0);
    QVERIFY(!estimate.atEnd(code, t));
    estimate.apply(code, t);
    // The motion in force counts down to the same moment.
    QVERIFY(std::abs(estimate.secondsToEnd(code, t + s(toEnd / 2)) - toEnd / 2) < 1e-6);
    QVERIFY(!estimate.atEnd(code, t + s(toEnd - 0.01)));
    QVERIFY(estimate.atEnd(code, t + s(toEnd) + 1));
    QCOMPARE(estimate.secondsToEnd(code, t + s(toEnd) + 1), 0.0);
    // The guess is there, the joint only maybe.
    const ArmJoint joint = armCodeMotion(code)->joint;
    QVERIFY(estimate.estimateAt(t + s(toEnd) + 1).joint(joint).uncertainty() > 0);
    const double toSure = estimate.secondsToSureEnd(code, t + s(toEnd) + 1);
    QVERIFY(toSure > 0);
    const qint64 sure = t + s(toEnd) + 1 + s(toSure) + 1;
    QVERIFY(estimate.estimateAt(sure - s(toSure / 10)).joint(joint).uncertainty() > 0);
    QCOMPARE(estimate.estimateAt(sure).joint(joint).uncertainty(), 0.0);
    QCOMPARE(estimate.secondsToSureEnd(code, sure), 0.0);

    // A joint nobody placed becomes known by being driven into its stop for long enough.
    PoseEstimator fresh;
    const double blind = fresh.secondsToSureEnd(code, 0);
    QVERIFY(blind > armCodeMotion(code)->motion().fullTravelSeconds);
    fresh.apply(code, 0);
    QVERIFY(!fresh.estimateAt(s(blind * 0.95)).joint(joint).known);
    const JointEstimate found = fresh.estimateAt(s(blind) + 1).joint(joint);
    QVERIFY(found.known);
    QCOMPARE(found.degrees, armCodeMotion(code)->endDegrees());
    QVERIFY(fresh.atEnd(code, s(blind) + 1));
    QVERIFY(!fresh.known(s(blind) + 1)); // the other joints are still unknown
}

void TestPoseEstimator::statusLine()
{
    PoseEstimator estimate;
    QCOMPARE(estimate.estimateAt(0).statusText(), QStringLiteral("Pose unknown"));
    QVERIFY(estimate.returnToStart(0).isEmpty()); // refused while unknown
    estimate.declareStart(0);
    QCOMPARE(estimate.estimateAt(0).statusText(), QStringLiteral("Pose known \u00B1 0\u00B0"));

    // Lifting is slower than lowering: as long up as down ends lower.
    const qint64 t = drive(estimate, {{1, 2.0}, {6, 2.0}});
    const PoseEstimate after = estimate.estimateAt(t);
    QVERIFY(after.joint(ArmJoint::Shoulder).degrees < 90.0);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Pose known \u00B1 (\\d+)\u00B0$")).match(after.statusText());
    QVERIFY2(m.hasMatch(), qPrintable(after.statusText()));
    const double shown = m.captured(1).toDouble();
    QVERIFY(shown >= after.largestUncertainty() && shown < after.largestUncertainty() + 1);
    QVERIFY(after.largestUncertainty() > 1.0);

    estimate.forget(t);
    QCOMPARE(estimate.estimateAt(t).statusText(), QStringLiteral("Pose unknown"));

    QCOMPARE(PoseEstimator::endReachedText(3), QStringLiteral("Elbow at its upper end (estimated)"));
    QCOMPARE(PoseEstimator::endReachedText(7), QStringLiteral("Base at its clockwise end (estimated)"));
    QCOMPARE(PoseEstimator::endReachedText(5), QStringLiteral("Gripper at its closed end (estimated)"));
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

void TestPoseEstimator::returnAfterARandomRun_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("arm 7") << 7u;
    QTest::newRow("arm 8") << 8u;
    QTest::newRow("arm 9") << 9u;
}

// A script of a hundred random steps of at most half a second, run under the end-stop rule (a step
// toward an end the estimate says is reached stops there, the run goes on timed as written), then
// the return plan: without calibration, every true joint ends within 15 % of its range of the start.
void TestPoseEstimator::returnAfterARandomRun()
{
    QFETCH(quint32, seed);
    Rig rig(seed);
    Dice dice(seed);
    for (int step = 0; step < 100; ++step) {
        const int code = dice.below(11);
        const qint64 length = s(dice.between(0.0, 0.5));
        const double toEnd = rig.estimate.secondsToEnd(code, rig.t);
        if (toEnd == 0.0) {
            rig.send(0);
        } else {
            rig.send(code);
            if (toEnd > 0 && s(toEnd) < length) {
                rig.t += s(toEnd);
                rig.send(0);
                rig.t += length - s(toEnd);
                continue;
            }
        }
        rig.t += length;
    }
    rig.send(0);
    const QList<PlanStep> plan = rig.estimate.returnToStart(rig.t);
    QVERIFY(!plan.isEmpty());
    rig.play(plan);

    const ArmPose truth = rig.arm.poseAt(rig.t);
    QString errors;
    for (int i = 0; i < ArmJointCount; ++i) {
        const double share = std::abs(truth.degrees[i] - rig.estimate.startPose()[i]) / rangeOf(i);
        errors += QStringLiteral(" %1 %2 %")
                      .arg(QLatin1String(armJointMotions[i].name))
                      .arg(share * 100, 0, 'f', 1);
        QVERIFY2(share <= 0.15, qPrintable(truth.toText()));
    }
    qInfo("%s", qPrintable(QStringLiteral("off the start:") + errors));
}

QTEST_GUILESS_MAIN(TestPoseEstimator)
#include "tst_poseestimator.moc"
