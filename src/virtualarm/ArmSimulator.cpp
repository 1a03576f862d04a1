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

ArmSimulator::ArmSimulator(QObject *parent) : QObject(parent)
{
    m_state.degrees = ArmPose::home().degrees;
}

void ArmSimulator::setFaults(const ArmFaults &faults, qint64 tNs)
{
    advanceTo(tNs);
    m_faults = faults;
    m_state.play = {};
}

bool ArmSimulator::jointForCode(int code, ArmJoint *joint, int *direction)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return false;
    *joint = motion->joint;
    *direction = motion->direction;
    return true;
}

int ArmSimulator::oppositeCode(int code)
{
    if (code >= 1 && code <= 5)
        return code + 5;
    if (code >= 6 && code <= 10)
        return code - 5;
    return 0;
}

double ArmSimulator::rateNow(const ArmJointMotion &m) const
{
    const double battery = std::max(0.5, 1.0 - m_faults.drainPerSecond * m_state.runSeconds);
    return m.degreesPerSecond() * m_faults.speedFactor(m_code) * battery;
}

ArmSimulator::State ArmSimulator::stateAt(qint64 tNs) const
{
    State state = m_state;
    state.straining = false;
    const std::optional<ArmCodeMotion> motion = armCodeMotion(m_code);
    if (!motion)
        return state;

    const ArmJointMotion &m = motion->motion();
    const int i = armJointIndex(motion->joint);
    const int direction = motion->direction;
    const double seconds = static_cast<double>(std::max<qint64>(0, tNs - m_timeNs)) / NsPerSecond;
    const double turned = rateNow(m) * seconds;
    state.runSeconds += seconds;
    // After a reversal the motor first turns through the play; the joint waits.
    const double half = m_faults.backlashDegrees[i] / 2;
    const double slack = std::max(0.0, half - direction * state.play[i]);
    if (slack > 0 && turned <= slack) {
        state.play[i] += direction * turned;
        return state;
    }
    state.play[i] = direction * half;
    const double stop = motion->endDegrees();
    const double moved = state.degrees[i] + direction * (turned - slack);
    // Past the stop the clutch slips: the joint holds there for as long as the motor keeps pushing.
    if (direction > 0 ? moved >= stop : moved <= stop) {
        state.degrees[i] = stop;
        state.straining = true;
    } else {
        state.degrees[i] = moved;
    }
    return state;
}

void ArmSimulator::advanceTo(qint64 tNs)
{
    m_state = stateAt(tNs);
    m_timeNs = std::max(m_timeNs, tNs);
}

void ArmSimulator::apply(int code, qint64 tNs)
{
    advanceTo(tNs);
    const int next = armCodeMotion(code) ? code : 0;
    if (m_state.straining && next != m_code) {
        // The push ends: the wound-up gears give the joint back a little off its stop.
        const ArmCodeMotion motion = *armCodeMotion(m_code);
        m_state.degrees[armJointIndex(motion.joint)] -=
            motion.direction * m_faults.endGiveDegrees[armJointIndex(motion.joint)];
        m_state.straining = false;
    }
    m_code = next;
    Q_EMIT codeApplied(m_code, m_timeNs);
}

void ArmSimulator::reset(qint64 tNs)
{
    advanceTo(tNs);
    m_state.degrees = ArmPose::home().degrees;
    m_state.play = {};
    m_state.straining = false;
    Q_EMIT poseReset(m_timeNs);
}

ArmPose ArmSimulator::poseAt(qint64 tNs) const
{
    const State state = stateAt(tNs);
    ArmPose pose;
    pose.degrees = state.degrees;
    if (state.straining)
        pose.straining[armJointIndex(armCodeMotion(m_code)->joint)] = true;
    return pose;
}

bool ArmSimulator::isMovingAt(qint64 tNs) const
{
    return m_code != 0 && !stateAt(tNs).straining;
}

qint64 ArmSimulator::endStopNs() const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(m_code);
    if (!motion)
        return -1;
    const int i = armJointIndex(motion->joint);
    const double remaining = motion->direction * (motion->endDegrees() - m_state.degrees[i]);
    if (remaining <= 0)
        return -1;
    const double slack = std::max(0.0, m_faults.backlashDegrees[i] / 2 - motion->direction * m_state.play[i]);
    // One nanosecond more than the exact figure, so the pose computed for that moment is surely at the
    // stop despite rounding.
    return m_timeNs +
           static_cast<qint64>(std::ceil((remaining + slack) / rateNow(motion->motion()) * NsPerSecond)) + 1;
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
