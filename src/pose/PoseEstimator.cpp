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

void PoseEstimator::setKnownAt(Joint &joint, ArmJoint which, double degrees, int bearing)
{
    const double most = mostPlay(which);
    joint.known = true;
    joint.degrees = joint.low = joint.high = degrees;
    joint.play = bearing * nominalPlay(which) / 2;
    joint.worstSlack = {most, most};
    if (bearing != 0)
        joint.worstSlack[slackSide(bearing)] = 0.0;
}

void PoseEstimator::turn(Joint &joint, int code, double seconds) const
{
    const ArmCodeMotion motion = *armCodeMotion(code);
    const ArmJointMotion &m = motion.motion();
    const int d = motion.direction;
    const double r = rate(code);
    const double tol = tolerance(code);

    // The guess: the motor turns at the rate, through the play first after a reversal.
    const double turned = r * seconds;
    const double half = nominalPlay(motion.joint) / 2;
    const double slack = std::max(0.0, half - d * joint.play);
    if (turned <= slack) {
        joint.play += d * turned;
    } else {
        joint.play = d * half;
        joint.degrees += d * (turned - slack);
    }

    // The band: at the slowest rate through the most play, at the fastest through none.
    double &worst = joint.worstSlack[slackSide(d)];
    const double leastTurned = r * (1.0 - tol) * seconds;
    const double leastMoved = std::max(0.0, leastTurned - worst);
    worst = std::max(0.0, worst - leastTurned);
    joint.worstSlack[slackSide(-d)] = mostPlay(motion.joint);
    const double mostMoved = r * (1.0 + tol) * seconds;
    if (d > 0) {
        joint.low += leastMoved;
        joint.high += mostMoved;
    } else {
        joint.high -= leastMoved;
        joint.low -= mostMoved;
    }
    joint.low = std::clamp(joint.low, m.minDegrees, m.maxDegrees);
    joint.high = std::clamp(joint.high, m.minDegrees, m.maxDegrees);
    joint.degrees = std::clamp(joint.degrees, joint.low, joint.high);

    // Surely at the end, even the slowest way: the clutch holds it there, whatever came before.
    const double end = motion.endDegrees();
    if ((d > 0 ? joint.low : joint.high) == end)
        setKnownAt(joint, motion.joint, end, d);
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
        setKnownAt(m_joints[i], m.joint, m_start[i], 0);
    }
}

void PoseEstimator::markAtEnd(int code, qint64 tNs)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return;
    advanceTo(tNs);
    setKnownAt(m_joints[armJointIndex(motion->joint)], motion->joint, motion->endDegrees(), motion->direction);
}

void PoseEstimator::forget(qint64 tNs)
{
    advanceTo(tNs);
    for (const ArmJointMotion &m : armJointMotions) {
        Joint &joint = m_joints[armJointIndex(m.joint)];
        joint = Joint{};
        joint.degrees = m.homeDegrees;
        joint.low = m.minDegrees;
        joint.high = m.maxDegrees;
        joint.worstSlack = {mostPlay(m.joint), mostPlay(m.joint)};
    }
}

PoseEstimate PoseEstimator::estimateAt(qint64 tNs) const
{
    const Joints joints = jointsAt(tNs);
    PoseEstimate estimate;
    for (int i = 0; i < ArmJointCount; ++i)
        estimate.joints[i] = {joints[i].known, joints[i].degrees, joints[i].low, joints[i].high};
    return estimate;
}

bool PoseEstimator::atEnd(int code, qint64 tNs) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return false;
    const Joint joint = jointsAt(tNs)[armJointIndex(motion->joint)];
    return joint.known && std::abs(joint.degrees - motion->endDegrees()) <= EndDegrees;
}

double PoseEstimator::nominalSeconds(const Joint &joint, ArmJoint which, int direction, double target,
                                     double rate)
{
    const double distance = direction * (target - joint.degrees);
    if (distance <= 0)
        return 0.0;
    const double slack = std::max(0.0, nominalPlay(which) / 2 - direction * joint.play);
    return (distance + slack) / rate;
}

double PoseEstimator::secondsToEnd(int code, qint64 tNs) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return -1.0;
    const Joint joint = jointsAt(tNs)[armJointIndex(motion->joint)];
    if (!joint.known)
        return -1.0;
    if (std::abs(joint.degrees - motion->endDegrees()) <= EndDegrees)
        return 0.0;
    return nominalSeconds(joint, motion->joint, motion->direction, motion->endDegrees(), rate(code));
}

double PoseEstimator::secondsToSureEnd(int code, qint64 tNs) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return -1.0;
    const Joint joint = jointsAt(tNs)[armJointIndex(motion->joint)];
    const int d = motion->direction;
    const double distance = d * (motion->endDegrees() - (d > 0 ? joint.low : joint.high));
    if (distance <= 0)
        return 0.0;
    return (distance + joint.worstSlack[slackSide(d)]) / (rate(code) * (1.0 - tolerance(code)));
}
