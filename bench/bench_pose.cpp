// How well the pose estimate brings a realistic arm back to where it started.
//
// Each trial takes one simulated arm with faults drawn from a seed (speeds off the table, gravity,
// draining batteries, play, give at the stops), jogs it at random for ten simulated minutes under the
// end-stop rule, then plays the estimate's return plan and measures how far each true joint ends from
// the start pose. It does so twice on the same arm: with the table's travel times, and after a
// calibration in which a simulated operator times each joint's full travel each way. Time is simulated
// throughout: the simulator and the estimate are driven with made-up timestamps, nothing sleeps.
//
// The estimate sees only the codes and their times. The simulator's truth is read for two things the
// real world has too: the operator's eyes (when a joint reaches its end during the calibration) and
// the measurement at the end.
//
// bench_pose [TRIALS] (100 by default)

#include "ArmSimulator.h"
#include "PoseEstimator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double JogSeconds = 600.0;
constexpr double AimShare = 0.05;

qint64 ns(double seconds)
{
    return static_cast<qint64>(std::llround(seconds * 1e9));
}

// Uniform figures from the generator's own output, the same everywhere.
class Dice
{
public:
    explicit Dice(quint32 seed) : m_engine(seed) {}
    double between(double low, double high)
    {
        return low + (high - low) * (static_cast<double>(m_engine()) / 4294967296.0);
    }
    int code() { return 1 + static_cast<int>(m_engine() % 10); }

private:
    std::mt19937 m_engine;
};

// The arm and the estimate, sent the same codes at the same moments.
struct Rig
{
    ArmSimulator arm;
    PoseEstimator estimate;
    qint64 t = 0;

    void send(int code)
    {
        arm.apply(code, t);
        estimate.apply(code, t);
    }
    void wait(double seconds) { t += ns(seconds); }
};

struct JogCounts
{
    int motions = 0;
    int cutAtEnd = 0;
    int refusedAtEnd = 0;
    int overrides = 0;
};

// Random clicks as an operator jogs: a motion of 0.2 to 3 s, now and then a rest, with the end-stop
// rule of the session: a motion is stopped where the estimate puts its joint at the end it drives
// towards, refused when it is there already, and the same command repeated within two seconds of such
// a stop runs on once for the estimate's uncertainty.
JogCounts jog(Rig &rig, Dice &dice, double seconds)
{
    JogCounts counts;
    const qint64 until = rig.t + ns(seconds);
    int lastCode = 0;
    qint64 stoppedAtEndNs = -1;
    while (rig.t < until) {
        if (dice.between(0, 1) < 0.1) {
            rig.wait(dice.between(0.5, 2.0));
            continue;
        }
        const int code = dice.code();
        double run = dice.between(0.2, 3.0);
        bool cut = false;
        if (rig.estimate.atEnd(code, rig.t)) {
            if (code == lastCode && stoppedAtEndNs >= 0 && rig.t - stoppedAtEndNs <= ns(2.0)) {
                run = std::min(run, rig.estimate.secondsToSureEnd(code, rig.t));
                ++counts.overrides;
            } else {
                ++counts.refusedAtEnd;
                lastCode = code;
                stoppedAtEndNs = rig.t;
                rig.wait(dice.between(0.1, 0.5));
                continue;
            }
        } else {
            const double toEnd = rig.estimate.secondsToEnd(code, rig.t);
            if (toEnd >= 0 && toEnd < run) {
                run = toEnd;
                cut = true;
                ++counts.cutAtEnd;
            }
        }
        ++counts.motions;
        rig.send(code);
        rig.wait(run);
        rig.send(0);
        lastCode = code;
        stoppedAtEndNs = cut ? rig.t : -1;
        rig.wait(dice.between(0.1, 0.5));
    }
    return counts;
}

// The operator times each joint end to end, each way: drives it well into one end, starts it towards
// the other and presses the key on seeing it arrive, some 0.15 to 0.35 s late, which also stops it.
TravelCalibration calibrate(Rig &rig, Dice &dice)
{
    TravelCalibration calibration;
    for (const ArmJointMotion &m : armJointMotions) {
        rig.send(m.codeTowardsMin);
        rig.wait(m.fullTravelSeconds * 1.5 + 0.5);
        rig.send(0);
        rig.wait(1.0);
        for (int code : {m.codeTowardsMax, m.codeTowardsMin}) {
            const qint64 start = rig.t;
            rig.send(code);
            const qint64 arrived = rig.arm.endStopNs();
            rig.t = arrived + ns(dice.between(0.15, 0.35));
            rig.send(0);
            rig.estimate.markAtEnd(code, rig.t);
            calibration.set(code, TravelCalibration::fromKeyPress(static_cast<double>(rig.t - start) / 1e9));
            rig.wait(1.0);
        }
    }
    return calibration;
}

struct Trial
{
    JointAngles error{};
    double uncertaintyBefore = 0.0;
    double uncertaintyAfter = 0.0;
    int steps = 0;
    double returnSeconds = 0.0;
    double planMs = 0.0;
    JogCounts counts;
    TravelCalibration calibration;
};

Trial runTrial(quint32 seed, bool calibrated)
{
    Rig rig;
    rig.arm.setFaults(ArmFaults::fromSeed(seed));
    Dice operatorDice(seed ^ 0x5eed0001u);
    Trial trial;
    if (calibrated) {
        trial.calibration = calibrate(rig, operatorDice);
        rig.estimate.setCalibration(trial.calibration, rig.t);
    }
    // The operator sets the arm in its home pose and says so.
    rig.arm.reset(rig.t);
    rig.estimate.declareStart(rig.t);
    const JointAngles start = rig.estimate.startPose();

    Dice jogDice(seed);
    trial.counts = jog(rig, jogDice, JogSeconds);
    trial.uncertaintyBefore = rig.estimate.estimateAt(rig.t).largestUncertainty();

    QElapsedTimer clock;
    clock.start();
    const QList<PlanStep> plan = rig.estimate.returnToStart(rig.t);
    trial.planMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    trial.steps = static_cast<int>(plan.size());
    for (const PlanStep &step : plan) {
        rig.send(step.code);
        rig.wait(step.seconds);
        trial.returnSeconds += step.seconds;
    }
    rig.send(0);
    trial.uncertaintyAfter = rig.estimate.estimateAt(rig.t).largestUncertainty();
    const ArmPose truth = rig.arm.poseAt(rig.t);
    for (int i = 0; i < ArmJointCount; ++i)
        trial.error[i] = truth.degrees[i] - start[i];
    return trial;
}

double share(double degrees, const ArmJointMotion &m)
{
    return std::abs(degrees) / m.range();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(at, values.size() - 1)];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int trials = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 100;
    const quint32 shownSeed = 7;

    std::printf("Return to start after %.0f simulated minutes of random jogging on a realistic arm\n\n",
                JogSeconds / 60);
    std::printf("Arm of seed %u:\n%s\n\n", shownSeed, qPrintable(ArmFaults::fromSeed(shownSeed).toText()));

    const Trial plain = runTrial(shownSeed, false);
    const Trial measured = runTrial(shownSeed, true);
    std::printf("%-9s %8s | %-22s | %-22s\n", "joint", "range", "table's travel times", "after calibration");
    std::printf("%-9s %8s | %10s %11s | %10s %11s\n", "", "deg", "error deg", "of range", "error deg",
                "of range");
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        std::printf("%-9s %8.0f | %10.2f %10.1f%% | %10.2f %10.1f%%\n", m.name, m.range(), plain.error[i],
                    100 * share(plain.error[i], m), measured.error[i], 100 * share(measured.error[i], m));
    }
    for (const Trial *trial : {&plain, &measured}) {
        std::printf("%s: %d motions (%d stopped at an estimated end, %d refused there, %d overrides); "
                    "estimate \u00b1 %.1f deg before the return, \u00b1 %.1f after; return %d steps, %.1f s, "
                    "planned in %.2f ms\n",
                    trial == &plain ? "table" : "calibrated", trial->counts.motions, trial->counts.cutAtEnd,
                    trial->counts.refusedAtEnd, trial->counts.overrides, trial->uncertaintyBefore,
                    trial->uncertaintyAfter, trial->steps, trial->returnSeconds, trial->planMs);
    }
    std::printf("measured travel (s):");
    for (const ArmJointMotion &m : armJointMotions)
        std::printf(" %s %.2f/%.2f (table %.1f)", m.name, measured.calibration.seconds(m.codeTowardsMax),
                    measured.calibration.seconds(m.codeTowardsMin), m.fullTravelSeconds);
    std::printf("\n\n");

    // The same over many arms.
    std::array<std::vector<double>, ArmJointCount> plainShares;
    std::array<std::vector<double>, ArmJointCount> measuredShares;
    int plainWithinAim = 0;
    int measuredWithinAim = 0;
    double planMsMax = 0.0;
    for (int trial = 0; trial < trials; ++trial) {
        const auto seed = static_cast<quint32>(1000 + trial);
        const Trial a = runTrial(seed, false);
        const Trial b = runTrial(seed, true);
        bool aWithin = true;
        bool bWithin = true;
        for (const ArmJointMotion &m : armJointMotions) {
            const int i = armJointIndex(m.joint);
            plainShares[i].push_back(share(a.error[i], m));
            measuredShares[i].push_back(share(b.error[i], m));
            aWithin = aWithin && share(a.error[i], m) <= AimShare;
            bWithin = bWithin && share(b.error[i], m) <= AimShare;
        }
        plainWithinAim += aWithin;
        measuredWithinAim += bWithin;
        planMsMax = std::max({planMsMax, a.planMs, b.planMs});
    }
    std::printf("Over %d arms (seeds 1000 to %d), error as a share of the joint's range:\n", trials,
                1000 + trials - 1);
    std::printf("%-9s | %-26s | %-26s\n", "joint", "table's travel times", "after calibration");
    std::printf("%-9s | %8s %8s %8s | %8s %8s %8s\n", "", "mean", "95th", "worst", "mean", "95th", "worst");
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        const auto mean = [](const std::vector<double> &v) {
            double sum = 0;
            for (double x : v)
                sum += x;
            return sum / static_cast<double>(v.size());
        };
        std::printf("%-9s | %7.1f%% %7.1f%% %7.1f%% | %7.1f%% %7.1f%% %7.1f%%\n", m.name,
                    100 * mean(plainShares[i]), 100 * percentile(plainShares[i], 0.95),
                    100 * percentile(plainShares[i], 1.0), 100 * mean(measuredShares[i]),
                    100 * percentile(measuredShares[i], 0.95), 100 * percentile(measuredShares[i], 1.0));
    }
    std::printf("every joint within %.0f %% of its range: %d of %d arms with the table's times, %d of %d "
                "calibrated\nslowest plan: %.2f ms\n",
                100 * AimShare, plainWithinAim, trials, measuredWithinAim, trials, planMsMax);
    return 0;
}
