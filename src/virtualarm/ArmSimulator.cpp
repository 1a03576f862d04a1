#include "ArmSimulator.h"

#include "VirtualArm.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr double NsPerSecond = 1e9;

} // namespace

bool ArmPose::anyStraining() const
{
    return std::any_of(straining.begin(), straining.end(), [](bool s) { return s; });
}

QString ArmPose::toText() const
{
    QStringList parts;
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = static_cast<int>(m.joint);
        // Rounded to the tenth shown before the sign is looked at: -0.04 is 0.0, never "-0.0".
        const double tenths = std::round(degrees[i] * 10) / 10;
        QString part =
            QStringLiteral("%1 %2").arg(QLatin1String(m.name)).arg(tenths == 0 ? 0.0 : tenths, 0, 'f', 1);
        if (straining[i])
            part += QStringLiteral(" (straining)");
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

ArmPose ArmPose::home()
{
    ArmPose pose;
    for (const ArmJointMotion &m : armJointMotions)
        pose.degrees[static_cast<int>(m.joint)] = m.homeDegrees;
    return pose;
}

ArmSimulator::ArmSimulator(QObject *parent) : QObject(parent), m_degrees(ArmPose::home().degrees) {}

bool ArmSimulator::jointForCode(int code, ArmJoint *joint, int *direction)
{
    for (const ArmJointMotion &m : armJointMotions) {
        if (code == m.codeTowardsMax || code == m.codeTowardsMin) {
            *joint = m.joint;
            *direction = code == m.codeTowardsMax ? 1 : -1;
            return true;
        }
    }
    return false;
}

int ArmSimulator::oppositeCode(int code)
{
    if (code >= 1 && code <= 5)
        return code + 5;
    if (code >= 6 && code <= 10)
        return code - 5;
    return 0;
}

void ArmSimulator::advanceTo(qint64 tNs)
{
    m_degrees = poseAt(tNs).degrees;
    m_timeNs = std::max(m_timeNs, tNs);
}

void ArmSimulator::apply(int code, qint64 tNs)
{
    advanceTo(tNs);
    ArmJoint joint;
    int direction;
    m_code = jointForCode(code, &joint, &direction) ? code : 0;
    Q_EMIT codeApplied(m_code, m_timeNs);
}

void ArmSimulator::reset(qint64 tNs)
{
    m_timeNs = std::max(m_timeNs, tNs);
    m_degrees = ArmPose::home().degrees;
    Q_EMIT poseReset(m_timeNs);
}

ArmPose ArmSimulator::poseAt(qint64 tNs) const
{
    ArmPose pose;
    pose.degrees = m_degrees;
    ArmJoint joint;
    int direction;
    if (!jointForCode(m_code, &joint, &direction))
        return pose;

    const ArmJointMotion &m = armJointMotion(joint);
    const int i = static_cast<int>(joint);
    const double seconds = static_cast<double>(std::max<qint64>(0, tNs - m_timeNs)) / NsPerSecond;
    const double stop = direction > 0 ? m.maxDegrees : m.minDegrees;
    const double moved = m_degrees[i] + direction * m.degreesPerSecond() * seconds;
    // Past the stop the clutch slips: the joint holds there for as long as the motor keeps pushing.
    if (direction > 0 ? moved >= stop : moved <= stop) {
        pose.degrees[i] = stop;
        pose.straining[i] = true;
    } else {
        pose.degrees[i] = moved;
    }
    return pose;
}

bool ArmSimulator::isMovingAt(qint64 tNs) const
{
    return m_code != 0 && !poseAt(tNs).anyStraining();
}

qint64 ArmSimulator::endStopNs() const
{
    ArmJoint joint;
    int direction;
    if (!jointForCode(m_code, &joint, &direction))
        return -1;
    const ArmJointMotion &m = armJointMotion(joint);
    const double remaining = direction > 0 ? m.maxDegrees - m_degrees[static_cast<int>(joint)]
                                           : m_degrees[static_cast<int>(joint)] - m.minDegrees;
    if (remaining <= 0)
        return -1;
    // One nanosecond more than the exact figure, so the pose computed for that moment is surely at the
    // stop despite rounding.
    return m_timeNs + static_cast<qint64>(std::ceil(remaining / m.degreesPerSecond() * NsPerSecond)) + 1;
}

void ArmSimulator::attach(VirtualArm &arm)
{
    connect(&arm, &VirtualArm::commandReceived, this,
            [this](int code, qint64 monotonicNs, const QByteArray &) {
                if (code >= 0)
                    apply(code, monotonicNs);
            });
    connect(&arm, &VirtualArm::powerLost, this, [this](qint64 monotonicNs) { apply(0, monotonicNs); });
}
