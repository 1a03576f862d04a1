// The way back to the start pose: which joint moves when, and for how long.

#include "ArmGeometry.h"
#include "PoseConstants.h"
#include "PoseEstimator.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace PoseConstants;

namespace {

// A joint nearer its target than this is left where it is.
constexpr double MinMoveDegrees = 0.25;
// A path that keeps every point of the arm this high above the table (mm) is as good as any.
constexpr double SafeClearance = 20.0;
// A path's clearance is looked at in steps of this many degrees of the joint that moves.
constexpr double SampleDegrees = 2.0;
// A joint whose way back is more uncertain than this share of its range is homed on a stop first,
// where that makes its band at the start at most this share of what it would be.
constexpr double RehomeShare = 0.03;
constexpr double RehomeGain = 0.85;
// Upright: the shoulder's elevation that holds the elbow highest.
constexpr double ShoulderUpright = 90.0;

struct Move
{
    ArmJoint joint;
    double target;
};

// How far, and for how long, the nominal path of `moves` from `from` dips below a safe height: the
// squared shortfall (so a deep dip weighs more than a shallow one) over the seconds it lasts.
double shortfall(const PoseEstimator &arm, JointAngles pose, const std::vector<Move> &moves)
{
    double total = 0.0;
    for (const Move &move : moves) {
        const int i = armJointIndex(move.joint);
        const double from = pose[i];
        const double distance = std::abs(move.target - from);
        const int samples = std::max(1, static_cast<int>(std::ceil(distance / SampleDegrees)));
        const double secondsPerSample =
            distance / samples / arm.rate(armCodeFor(move.joint, move.target > from ? 1 : -1));
        for (int k = 1; k <= samples; ++k) {
            pose[i] = from + (move.target - from) * k / samples;
            const double below = std::max(0.0, SafeClearance - ArmGeometry::clearance(pose));
            total += below * below * secondsPerSample;
        }
    }
    return total;
}

// The order in which joints move when nothing else decides: a shoulder that rises goes first (the
// whole arm comes up with it), then the base (it turns about an upright axis and can hit nothing the
// arm is not already touching), then the elbow, the wrist and the gripper, from the heavier end, and a
// shoulder that sinks last.
int preference(ArmJoint joint, bool shoulderRises)
{
    switch (joint) {
    case ArmJoint::Shoulder:
        return shoulderRises ? 0 : 5;
    case ArmJoint::Base:
        return 1;
    case ArmJoint::Elbow:
        return 2;
    case ArmJoint::Wrist:
        return 3;
    case ArmJoint::Gripper:
        return 4;
    }
    return 0;
}

// Every order of the moves, and every order with the shoulder raised to upright first and brought to
// its start last; the path that stays clear of the table wins, then the one with fewer steps, then
// the preferred order.
std::vector<Move> bestOrder(const PoseEstimator &arm, const JointAngles &from, const std::vector<Move> &moves,
                            double startShoulder)
{
    const int shoulder = armJointIndex(ArmJoint::Shoulder);
    const bool shoulderRises =
        std::abs(startShoulder - ShoulderUpright) < std::abs(from[shoulder] - ShoulderUpright);
    const auto byPreference = [shoulderRises](const Move &a, const Move &b) {
        return preference(a.joint, shoulderRises) < preference(b.joint, shoulderRises);
    };
    std::vector<Move> best;
    double bestShortfall = 0.0;
    const auto consider = [&](const std::vector<Move> &candidate) {
        const double s = shortfall(arm, from, candidate);
        if (best.empty() || s < bestShortfall - 1e-9 ||
            (s <= bestShortfall + 1e-9 && candidate.size() < best.size())) {
            best = candidate;
            bestShortfall = s;
        }
    };
    std::vector<Move> order = moves;
    std::sort(order.begin(), order.end(), byPreference);
    do {
        consider(order);
    } while (std::next_permutation(order.begin(), order.end(), byPreference));

    if (std::abs(from[shoulder] - ShoulderUpright) >= MinMoveDegrees) {
        std::vector<Move> others;
        for (const Move &move : moves) {
            if (move.joint != ArmJoint::Shoulder)
                others.push_back(move);
        }
        std::sort(others.begin(), others.end(), byPreference);
        do {
            std::vector<Move> candidate{{ArmJoint::Shoulder, ShoulderUpright}};
            candidate.insert(candidate.end(), others.begin(), others.end());
            if (std::abs(startShoulder - ShoulderUpright) >= MinMoveDegrees)
                candidate.push_back({ArmJoint::Shoulder, startShoulder});
            consider(candidate);
        } while (std::next_permutation(others.begin(), others.end(), byPreference));
    }

    return best;
}

} // namespace

bool PoseEstimator::startsAtStop(const PoseEstimator &arm, const ArmJointMotion &m, double target)
{
    // A joint known at its ends that started resting against a stop goes back onto that stop, where it
    // surely is, rather than to where the guess would have it.
    const PoseKnowledge knowledge = arm.m_joints[armJointIndex(m.joint)].knowledge;
    return knowledge == PoseKnowledge::AtEnds &&
           std::min(target - m.minDegrees, m.maxDegrees - target) <= mostGive(m.joint) + EndDegrees;
}

// The steps that bring one joint to `target`, played on `a` from `at`; with `homeTowards` it is first
// driven surely into that stop.
void PoseEstimator::playMoveToStart(PoseEstimator &a, qint64 &at, QList<PlanStep> &out, ArmJoint joint, double target,
                                    int homeTowards)
{
    const auto play = [&](int code, double seconds) {
        if (seconds <= 0)
            return;
        out.append({code, seconds});
        a.apply(code, at);
        at += static_cast<qint64>(std::llround(seconds * NsPerSecond));
    };
    const int i = armJointIndex(joint);
    const ArmJointMotion &m = armJointMotion(joint);
    const double overdrive = overdriveSeconds(m);
    if (homeTowards != 0) {
        const int code = armCodeFor(joint, homeTowards);
        play(code, a.secondsToSureEnd(code, at));
    }
    const JointEstimate now = a.estimateAt(at).joints[i];
    // A joint the guess puts at an end may be short of it: pushed on a little, it starts its way
    // back from the stop itself, where it surely is, rather than from where it may be.
    for (int towards : {1, -1}) {
        const int code = armCodeFor(joint, towards);
        if (target != armCodeMotion(code)->endDegrees() && a.atEnd(code, at) &&
            now.uncertainty() >= MinMoveDegrees)
            play(code, std::min(a.secondsToSureEnd(code, at), overdrive));
    }
    const Case guess = a.jointsAt(at)[i].cases[0];
    const bool toStop = startsAtStop(a, m, target);
    const bool toMax = target - m.minDegrees > m.maxDegrees - target;
    const int direction = toStop ? (toMax ? 1 : -1) : (target > guess.degrees ? 1 : -1);
    const int code = armCodeFor(joint, direction);
    double toTarget = a.secondsFor(guess, code, target, 0.0);
    // The motor runs on a little after its stop: stopped that much sooner, it arrives.
    const double coast = a.coastSeconds(guess, direction);
    if (toTarget > a.lagSeconds(guess, direction) + 2 * coast)
        toTarget -= coast;
    play(code, toStop ? std::min(a.secondsToSureEnd(code, at), toTarget + overdrive) : toTarget);
    a.apply(0, at);
}

QList<PlanStep> PoseEstimator::returnToStart(qint64 tNs) const
{
    PoseEstimator arm = *this;
    arm.apply(0, tNs);
    const PoseEstimate now = arm.estimateAt(tNs);
    if (!m_started || !now.known())
        return {};
    const JointAngles from = now.degrees();

    // The joints to move: those away from their start, those whose start is an end stop they are not
    // surely at yet, and those the guess puts at their start but whose distance from it has grown too
    // uncertain (a stop may put them right).
    std::vector<Move> moves;
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        const double target = m_start[i];
        if (std::abs(target - from[i]) >= MinMoveDegrees ||
            (startsAtStop(arm, m, target) && now.joints[i].uncertainty() >= MinMoveDegrees) ||
            now.joints[i].offsetUncertainty() > RehomeShare * m.range())
            moves.push_back({m.joint, target});
    }
    if (moves.empty())
        return {};

    const std::vector<Move> best = bestOrder(arm, from, moves, m_start[armJointIndex(ArmJoint::Shoulder)]);

    // Timed on a copy of the estimate, so that each step starts from where the ones before leave
    // the joint, play included.
    QList<PlanStep> steps;
    qint64 t = tNs;
    for (const Move &move : best) {
        const int i = armJointIndex(move.joint);
        const ArmJointMotion &m = armJointMotion(move.joint);
        PoseEstimator direct = arm;
        qint64 directT = t;
        QList<PlanStep> directSteps;
        playMoveToStart(direct, directT, directSteps, move.joint, move.target, 0);
        // A joint whose distance from the start has grown too uncertain may do better going first
        // into a stop it left from before: the way back from there repeats the way out, errors and
        // all, rather than adding up those of every motion since.
        const double directBand = direct.estimateAt(directT).joints[i].offsetUncertainty();
        if (!startsAtStop(arm, m, move.target) && directBand > RehomeShare * m.range()) {
            for (int towards : {-1, 1}) {
                PoseEstimator homed = arm;
                qint64 homedT = t;
                QList<PlanStep> homedSteps;
                playMoveToStart(homed, homedT, homedSteps, move.joint, move.target, towards);
                const double band = homed.estimateAt(homedT).joints[i].offsetUncertainty();
                if (band < RehomeGain * std::min(directBand, direct.estimateAt(directT).joints[i].offsetUncertainty())) {
                    direct = homed;
                    directT = homedT;
                    directSteps = homedSteps;
                }
            }
        }
        arm = direct;
        t = directT;
        steps += directSteps;
    }
    return steps;
}
