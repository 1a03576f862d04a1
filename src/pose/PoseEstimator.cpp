#include "PoseEstimator.h"

#include "PoseConstants.h"

#include <algorithm>
#include <cmath>

using namespace PoseConstants;

double JointEstimate::uncertainty() const
{
    return std::max({0.0, degrees - low, high - degrees});
}

bool PoseEstimate::known() const
{
    return std::all_of(joints.begin(), joints.end(), [](const JointEstimate &j) { return j.known; });
}

JointAngles PoseEstimate::degrees() const
{
    JointAngles angles{};
    for (int i = 0; i < ArmJointCount; ++i)
        angles[i] = joints[i].degrees;
    return angles;
}

double PoseEstimate::largestUncertainty() const
{
    double largest = 0.0;
    for (const JointEstimate &j : joints)
        largest = std::max(largest, j.uncertainty());
    return largest;
}

QString PoseEstimate::statusText() const
{
    if (!known())
        return QStringLiteral("Pose unknown");
    // Rounded up, so that the line never claims more than the estimate does; the small allowance keeps
    // a figure that is whole but for rounding from reading one degree more.
    const double degrees = std::ceil(largestUncertainty() - 1e-6);
    return QStringLiteral("Pose known \u00B1 %1\u00B0").arg(std::max(0.0, degrees), 0, 'f', 0);
}

PoseEstimator::PoseEstimator(const TravelCalibration &calibration) : m_calibration(calibration)
{
    forget(0);
}

JointAngles PoseEstimator::homePose()
{
    JointAngles pose{};
    for (const ArmJointMotion &m : armJointMotions)
        pose[armJointIndex(m.joint)] = m.homeDegrees;
    return pose;
}

QString PoseEstimator::endReachedText(int code)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return {};
    const ArmJointMotion &m = motion->motion();
    QString joint = QLatin1String(m.name);
    joint[0] = joint[0].toUpper();
    return QStringLiteral("%1 at its %2 end (estimated)")
        .arg(joint, QLatin1String(motion->direction > 0 ? m.maxEndName : m.minEndName));
}

double PoseEstimator::rate(int code) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return 0.0;
    const ArmJointMotion &m = motion->motion();
    const double measured = m_calibration.seconds(code);
    if (measured > 0)
        return m.range() / measured;
    if (!m.towardsMaxLifts)
        return m.degreesPerSecond();
    return m.degreesPerSecond() * (motion->direction > 0 ? 1.0 - GravityShare / 2 : 1.0 + GravityShare / 2);
}

double PoseEstimator::tolerance(int code) const
{
    const double measured = m_calibration.seconds(code);
    if (measured > 0)
        return DrainTolerance + KeyTimingSeconds / measured;
    return TableTolerance;
}

void PoseEstimator::setKnownAt(Joint &joint, double degrees, int bearing)
{
    joint.known = true;
    for (Case &c : joint.cases) {
        c.degrees = degrees;
        // Driven into an end, the gears bear towards it; set down by hand, each case's play leans
        // its own way.
        c.play = (bearing != 0 ? bearing : c.lean) * c.playSize / 2;
    }
}

void PoseEstimator::turn(Joint &joint, int code, double seconds) const
{
    const ArmCodeMotion motion = *armCodeMotion(code);
    const ArmJointMotion &m = motion.motion();
    const int d = motion.direction;
    const double r = rate(code);
    const double tol = tolerance(code);
    const double end = motion.endDegrees();
    bool allAtEnd = true;
    for (Case &c : joint.cases) {
        // The motor turns at the case's rate, through the play first after a reversal; the clutch
        // holds the joint at its stop.
        const double turned = r * (1.0 + c.lean * d * tol) * seconds;
        const double slack = std::max(0.0, c.playSize / 2 - d * c.play);
        if (turned <= slack) {
            c.play += d * turned;
        } else {
            c.play = d * c.playSize / 2;
            c.degrees = std::clamp(c.degrees + d * (turned - slack), m.minDegrees, m.maxDegrees);
        }
        allAtEnd = allAtEnd && c.degrees == end;
    }
    // Even the slowest case from the farthest start is at the end: so is the joint.
    if (allAtEnd)
        joint.known = true;
}

PoseEstimator::Joints PoseEstimator::jointsAt(qint64 tNs) const
{
    Joints joints = m_joints;
    const std::optional<ArmCodeMotion> motion = armCodeMotion(m_code);
    if (motion && tNs > m_timeNs)
        turn(joints[armJointIndex(motion->joint)], m_code, static_cast<double>(tNs - m_timeNs) / NsPerSecond);
    return joints;
}

void PoseEstimator::advanceTo(qint64 tNs)
{
    m_joints = jointsAt(tNs);
    m_timeNs = std::max(m_timeNs, tNs);
}

void PoseEstimator::setCalibration(const TravelCalibration &calibration, qint64 tNs)
{
    advanceTo(tNs);
    m_calibration = calibration;
}

void PoseEstimator::apply(int code, qint64 tNs)
{
    advanceTo(tNs);
    m_code = armCodeMotion(code) ? code : 0;
}

void PoseEstimator::declareStart(qint64 tNs, const JointAngles &pose)
{
    advanceTo(tNs);
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        m_start[i] = std::clamp(pose[i], m.minDegrees, m.maxDegrees);
        setKnownAt(m_joints[i], m_start[i], 0);
    }
}

void PoseEstimator::markAtEnd(int code, qint64 tNs)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return;
    advanceTo(tNs);
    setKnownAt(m_joints[armJointIndex(motion->joint)], motion->endDegrees(), motion->direction);
}

void PoseEstimator::forget(qint64 tNs)
{
    advanceTo(tNs);
    for (const ArmJointMotion &m : armJointMotions) {
        Joint &joint = m_joints[armJointIndex(m.joint)];
        joint.known = false;
        // The guess, then each lean with no play and with the most.
        const std::array<int, 5> leans{0, 1, 1, -1, -1};
        const std::array<double, 5> plays{nominalPlay(m.joint), 0.0, mostPlay(m.joint), 0.0,
                                          mostPlay(m.joint)};
        for (int k = 0; k < 5; ++k) {
            Case &c = joint.cases[k];
            c.lean = leans[k];
            c.playSize = plays[k];
            c.play = c.lean * c.playSize / 2;
            // Nothing known: a case that errs upwards may start at the top, one that errs downwards at
            // the bottom.
            c.degrees = c.lean > 0 ? m.maxDegrees : c.lean < 0 ? m.minDegrees : m.homeDegrees;
        }
    }
}

PoseEstimate PoseEstimator::estimateAt(qint64 tNs) const
{
    const Joints joints = jointsAt(tNs);
    PoseEstimate estimate;
    for (int i = 0; i < ArmJointCount; ++i) {
        JointEstimate &e = estimate.joints[i];
        e.known = joints[i].known;
        e.degrees = joints[i].cases[0].degrees;
        e.low = e.high = e.degrees;
        for (const Case &c : joints[i].cases) {
            e.low = std::min(e.low, c.degrees);
            e.high = std::max(e.high, c.degrees);
        }
    }
    return estimate;
}

bool PoseEstimator::atEnd(int code, qint64 tNs) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return false;
    const Joint joint = jointsAt(tNs)[armJointIndex(motion->joint)];
    return joint.known && std::abs(joint.cases[0].degrees - motion->endDegrees()) <= EndDegrees;
}

double PoseEstimator::secondsFor(const Case &c, int code, double target) const
{
    const int d = armCodeMotion(code)->direction;
    const double distance = d * (target - c.degrees);
    if (distance <= 0)
        return 0.0;
    const double slack = std::max(0.0, c.playSize / 2 - d * c.play);
    return (distance + slack) / (rate(code) * (1.0 + c.lean * d * tolerance(code)));
}

double PoseEstimator::secondsToEnd(int code, qint64 tNs) const
{
    if (!armCodeMotion(code))
        return -1.0;
    if (atEnd(code, tNs))
        return 0.0;
    const Joint joint = jointsAt(tNs)[armJointIndex(armCodeMotion(code)->joint)];
    if (!joint.known)
        return -1.0;
    return secondsFor(joint.cases[0], code, armCodeMotion(code)->endDegrees());
}

double PoseEstimator::secondsToSureEnd(int code, qint64 tNs) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return -1.0;
    const Joint joint = jointsAt(tNs)[armJointIndex(motion->joint)];
    double longest = 0.0;
    for (const Case &c : joint.cases)
        longest = std::max(longest, secondsFor(c, code, motion->endDegrees()));
    return longest;
}
