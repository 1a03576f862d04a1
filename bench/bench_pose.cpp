// How honest the pose estimate is on arms unlike its own model.
//
// Each trial takes one simulated arm with every fault of ArmFaults::realistic() (speeds off the table,
// gravity, start-up lag, coasting, a load that changes with the angle, play, a slipping clutch,
// batteries that drain and sag), each drawn from ranges wider than the estimate assumes. The operator
// homes every joint into a stop, brings the arm to a start pose and says so, then works for ten
// simulated minutes of mixed use: taps in the middle of the range, long motions to the ends, and now
// and then Return to start, under the session's end-stop rule (a motion is cut where the estimate puts
// a joint known at its ends at its end, and a joint too uncertain for that is left to the time limit).
// Every tenth of a second it looks whether each joint's truth lies in the band the estimate states:
// its place in its range for a joint known at its ends, its distance from the start for one known from
// the start. At the end the arm returns to its start pose and the true error is measured. Each arm is
// tried twice: with the table's travel times, and after a calibration whose operator presses the key a
// human reaction (0.15 to 0.4 s) after the joint arrives.
//
// Time is simulated throughout: nothing sleeps. The simulator's truth is read only for the operator's
// eyes (a joint arriving at its end) and for the measurements.
//
// bench_pose [TRIALS] (100 by default)

#include "ArmSimulator.h"
#include "PoseEstimator.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double UseSeconds = 600.0;
constexpr double SampleSeconds = 0.1;
// The session's time limit: the joint's table travel time and a half.
constexpr double TimeLimitShare = 1.5;
// The band is shown in whole degrees, rounded up: a truth this close to it is within what is shown.
constexpr double SlackDegrees = 0.5;
constexpr double AimCoverage = 0.95;
constexpr double AimBandShare = 0.08;
constexpr double AimReturnShare = 0.05;

qint64 ns(double seconds)
{
    return static_cast<qint64>(std::llround(seconds * 1e9));
}

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

struct Trial
{
    int samples = 0;
    int inside = 0;
    std::vector<double> bandShares;
    std::array<std::vector<double>, ArmJointCount> jointBandShares;
    std::vector<double> midReturnShares;
    // Joints whose true distance from the start lay inside the stated band after a return, of all.
    int returnsInside = 0;
    int returns = 0;
    // Returns to the start, and the seconds their plans drove the motors.
    int plans = 0;
    double planSeconds = 0.0;
    JointAngles finalError{};
    JointAngles finalBand{};
    int finalOutsideBand = 0;
    int cut = 0;
    int limited = 0;
    TravelCalibration calibration;
    QStringList refused;
};

// The arm and the estimate, sent the same codes at the same moments, watched as time goes by.
struct Rig
{
    ArmSimulator arm;
    PoseEstimator estimate;
    qint64 t = 0;
    JointAngles truthStart{};
    bool watching = false;
    Trial *trial = nullptr;

    void send(int code)
    {
        arm.apply(code, t);
        estimate.apply(code, t);
    }
    void wait(double seconds)
    {
        const qint64 until = t + ns(seconds);
        while (watching && t + ns(SampleSeconds) <= until) {
            t += ns(SampleSeconds);
            look();
        }
        t = until;
    }
    void look()
    {
        const PoseEstimate e = estimate.estimateAt(t);
        const ArmPose truth = arm.poseAt(t);
        for (const ArmJointMotion &m : armJointMotions) {
            const int i = armJointIndex(m.joint);
            const JointEstimate &j = e.joints[i];
            bool in = true;
            if (j.knowledge == PoseKnowledge::AtEnds) {
                in = truth.degrees[i] >= j.low - SlackDegrees && truth.degrees[i] <= j.high + SlackDegrees;
                trial->bandShares.push_back(j.uncertainty() / m.range());
                trial->jointBandShares[i].push_back(j.uncertainty() / m.range());
            } else if (j.knowledge == PoseKnowledge::FromStart) {
                const double offset = truth.degrees[i] - truthStart[i];
                in = offset >= j.offsetLow - SlackDegrees && offset <= j.offsetHigh + SlackDegrees;
                trial->bandShares.push_back(j.uncertainty() / m.range());
                trial->jointBandShares[i].push_back(j.uncertainty() / m.range());
            }
            ++trial->samples;
            trial->inside += in;
        }
    }
    // A motion as the session runs it: cut at the estimated end of a joint known at its ends, else
    // stopped by the time limit, else after `seconds`.
    void motion(int code, double seconds)
    {
        const double toEnd = estimate.secondsToEnd(code, t);
        if (toEnd == 0.0)
            return; // refused at the end
        const double limit = armCodeMotion(code)->motion().fullTravelSeconds * TimeLimitShare;
        double run = std::min(seconds, limit);
        if (toEnd > 0 && toEnd < run) {
            run = toEnd;
            ++trial->cut;
        } else if (run == limit) {
            ++trial->limited;
        }
        send(code);
        wait(run);
        send(0);
    }
    // Return to start, then whether each joint's truth lies in the band the return line states.
    void returnToStart()
    {
        ++trial->plans;
        for (const PlanStep &step : estimate.returnToStart(t)) {
            send(step.code);
            wait(step.seconds);
            trial->planSeconds += step.seconds;
        }
        send(0);
        wait(0.5);
        const PoseEstimate e = estimate.estimateAt(t);
        const ArmPose truth = arm.poseAt(t);
        for (int i = 0; i < ArmJointCount; ++i) {
            const double band = std::ceil(std::max(-e.joints[i].offsetLow, e.joints[i].offsetHigh) - 1e-6);
            trial->returnsInside += std::abs(truth.degrees[i] - truthStart[i]) <= band;
            ++trial->returns;
        }
    }
};

// The operator times each joint end to end, each way: drives it well into one end, starts it towards
// the other and presses the key a human reaction after seeing it arrive, which also stops it.
TravelCalibration calibrate(Rig &rig, Dice &dice, QStringList *refused)
{
    TravelCalibration calibration;
    for (const ArmJointMotion &m : armJointMotions) {
        rig.send(m.codeTowardsMin);
        rig.wait(m.fullTravelSeconds * 2.0);
        rig.send(0);
        rig.wait(1.0);
        for (int code : {m.codeTowardsMax, m.codeTowardsMin}) {
            const qint64 start = rig.t;
            rig.send(code);
            rig.t = rig.arm.endStopNs() + ns(dice.between(0.15, 0.40));
            rig.send(0);
            rig.estimate.markAtEnd(code, rig.t);
            const double seconds = TravelCalibration::fromKeyPress(static_cast<double>(rig.t - start) / 1e9);
            QString why;
            if (!calibration.set(code, seconds, &why))
                refused->append(why);
            rig.wait(1.0);
        }
    }
    return calibration;
}

Trial runTrial(quint32 seed, bool calibrated)
{
    Trial trial;
    Rig rig;
    rig.trial = &trial;
    rig.arm.setFaults(ArmFaults::realistic(seed));
    Dice dice(seed ^ 0x5eed0001u);
    if (calibrated) {
        trial.calibration = calibrate(rig, dice, &trial.refused);
        rig.estimate.setCalibration(trial.calibration, rig.t);
    }
    // Homing: every joint driven into a stop until the estimate is sure of it, then to a start pose.
    for (const ArmJointMotion &m : armJointMotions) {
        const int code = m.towardsMaxLifts ? m.codeTowardsMin : m.codeTowardsMax;
        rig.send(code);
        rig.wait(rig.estimate.secondsToSureEnd(code, rig.t) + 0.1);
        rig.send(0);
        rig.wait(0.3);
        rig.motion(code == m.codeTowardsMin ? m.codeTowardsMax : m.codeTowardsMin,
                   m.fullTravelSeconds * dice.between(0.2, 0.6));
        rig.wait(0.3);
    }
    rig.estimate.declareStart(rig.t);
    rig.truthStart = rig.arm.poseAt(rig.t).degrees;
    rig.watching = true;

    const qint64 until = rig.t + ns(UseSeconds);
    while (rig.t < until) {
        const double pick = dice.between(0, 1);
        if (pick < 0.6) {
            // Taps in the middle of the range.
            for (int n = 5 + dice.below(15); n > 0; --n) {
                rig.motion(1 + dice.below(10), dice.between(0.1, 0.8));
                rig.wait(dice.between(0.2, 1.0));
            }
        } else if (pick < 0.92) {
            // A long motion to an end, held until the operator sees it there and a little more.
            const int code = 1 + dice.below(10);
            const qint64 there = rig.arm.endStopNsIf(code, rig.t);
            const double held = there < 0 ? 0.3 : static_cast<double>(there - rig.t) / 1e9 + dice.between(0.2, 1.5);
            rig.motion(code, held);
            rig.wait(dice.between(0.3, 1.5));
        } else {
            rig.returnToStart();
            const ArmPose truth = rig.arm.poseAt(rig.t);
            for (const ArmJointMotion &m : armJointMotions) {
                const int i = armJointIndex(m.joint);
                trial.midReturnShares.push_back(std::abs(truth.degrees[i] - rig.truthStart[i]) / m.range());
            }
        }
    }
    rig.returnToStart();
    const ArmPose truth = rig.arm.poseAt(rig.t);
    const PoseEstimate e = rig.estimate.estimateAt(rig.t);
    for (int i = 0; i < ArmJointCount; ++i) {
        const JointEstimate &j = e.joints[i];
        const double offset = truth.degrees[i] - rig.truthStart[i];
        trial.finalError[i] = offset;
        trial.finalBand[i] = std::max(-j.offsetLow, j.offsetHigh);
        trial.finalOutsideBand += offset < j.offsetLow - SlackDegrees || offset > j.offsetHigh + SlackDegrees;
    }
    return trial;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::min(at == 0 ? 0 : at - 1, values.size() - 1)];
}

struct Summary
{
    long samples = 0;
    long inside = 0;
    std::vector<double> bands;
    std::array<std::vector<double>, ArmJointCount> jointBands;
    std::vector<double> midReturns;
    std::array<std::vector<double>, ArmJointCount> finalShares;
    int armsWithin = 0;
    int finalOutside = 0;
    long returnsInside = 0;
    long returns = 0;
    int plans = 0;
    double planSeconds = 0.0;
    int cut = 0;
    int limited = 0;
    int refused = 0;
};

void add(Summary &s, const Trial &t)
{
    s.samples += t.samples;
    s.inside += t.inside;
    s.bands.insert(s.bands.end(), t.bandShares.begin(), t.bandShares.end());
    for (int i = 0; i < ArmJointCount; ++i)
        s.jointBands[i].insert(s.jointBands[i].end(), t.jointBandShares[i].begin(), t.jointBandShares[i].end());
    s.midReturns.insert(s.midReturns.end(), t.midReturnShares.begin(), t.midReturnShares.end());
    bool within = true;
    for (int i = 0; i < ArmJointCount; ++i) {
        const double share = std::abs(t.finalError[i]) / armJointMotions[i].range();
        s.finalShares[i].push_back(share);
        within = within && share <= AimReturnShare;
    }
    s.armsWithin += within;
    s.finalOutside += t.finalOutsideBand;
    s.returnsInside += t.returnsInside;
    s.returns += t.returns;
    s.plans += t.plans;
    s.planSeconds += t.planSeconds;
    s.cut += t.cut;
    s.limited += t.limited;
    s.refused += int(t.refused.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int trials = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 100;
    const quint32 shownSeed = 7;

    std::printf("The pose estimate over %.0f simulated minutes of mixed use on realistic arms\n\n", UseSeconds / 60);
    std::printf("Arm of seed %u:\n%s\n\n", shownSeed, qPrintable(ArmFaults::realistic(shownSeed).toText()));

    Summary plain;
    Summary measured;
    for (int trial = 0; trial < trials; ++trial) {
        const auto seed = static_cast<quint32>(1000 + trial);
        add(plain, runTrial(seed, false));
        const Trial b = runTrial(seed, true);
        add(measured, b);
        if (trial == 0)
            for (const QString &why : b.refused)
                std::printf("calibration of seed %u refused: %s\n", seed, qPrintable(why));
    }
    std::printf("Over %d arms (seeds 1000 to %d):\n", trials, 1000 + trials - 1);
    std::printf("%-44s | %12s | %12s | %s\n", "", "table's times", "calibrated", "goal");
    const auto row = [](const char *what, double a, double b, const char *goal) {
        std::printf("%-44s | %11.1f%% | %11.1f%% | %s\n", what, 100 * a, 100 * b, goal);
    };
    row("coverage (joint-seconds inside the band)", double(plain.inside) / double(plain.samples),
        double(measured.inside) / double(measured.samples), ">= 95 %");
    row("median band (\u00b1, share of range)", percentile(plain.bands, 0.5), percentile(measured.bands, 0.5),
        "<= 8 %");
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        const QByteArray what = QStringLiteral("  median band of the %1").arg(QLatin1String(m.name)).toUtf8();
        row(what.constData(), percentile(plain.jointBands[i], 0.5), percentile(measured.jointBands[i], 0.5), "");
    }
    row("95th percentile band", percentile(plain.bands, 0.95), percentile(measured.bands, 0.95), "");
    row("median error after a mid-use return", percentile(plain.midReturns, 0.5),
        percentile(measured.midReturns, 0.5), "");
    std::printf("final return error, share of the joint's range (mean / 95th / worst):\n");
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        double sumA = 0;
        double sumB = 0;
        for (double x : plain.finalShares[i])
            sumA += x;
        for (double x : measured.finalShares[i])
            sumB += x;
        std::printf("  %-9s | %5.1f%% %5.1f%% %5.1f%% | %5.1f%% %5.1f%% %5.1f%%\n", m.name,
                    100 * sumA / trials, 100 * percentile(plain.finalShares[i], 0.95),
                    100 * percentile(plain.finalShares[i], 1.0), 100 * sumB / trials,
                    100 * percentile(measured.finalShares[i], 0.95), 100 * percentile(measured.finalShares[i], 1.0));
    }
    std::printf("every joint back within %.0f %% of its range: %d of %d arms with the table's times, %d of %d "
                "calibrated (goal: 95 calibrated)\n",
                100 * AimReturnShare, plain.armsWithin, trials, measured.armsWithin, trials);
    std::printf("joints outside the stated return error after the last return: %d of %d (table), %d of %d "
                "(calibrated)\n",
                plain.finalOutside, trials * ArmJointCount, measured.finalOutside, trials * ArmJointCount);
    row("return line holds the truth (all returns)", double(plain.returnsInside) / double(plain.returns),
        double(measured.returnsInside) / double(measured.returns), ">= 95 %");
    std::printf("a return to the start drives the motors for %.1f s on average with the table's times, %.1f s "
                "calibrated\n",
                plain.planSeconds / std::max(1, plain.plans), measured.planSeconds / std::max(1, measured.plans));
    std::printf("motions cut at an estimated end: %d / %d; stopped by the time limit: %d / %d; "
                "calibrations refused: %d\n",
                plain.cut, measured.cut, plain.limited, measured.limited, measured.refused);
    (void)AimCoverage;
    (void)AimBandShare;
    return 0;
}
