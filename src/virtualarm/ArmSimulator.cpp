#include "ArmSimulator.h"

#include "VirtualArm.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double NsPerSecond = 1e9;
// The step of the simulation of dynamics, in seconds.
constexpr double StepSeconds = 0.002;
// The batteries never give less than this share of the speed.
constexpr double LeastBattery = 0.4;
constexpr double MostSag = 0.15;

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
    m_cacheNs = -1;
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

double ArmSimulator::dynamicRate(const State &state, int code) const
{
    const ArmCodeMotion motion = *armCodeMotion(code);
    const ArmJointMotion &m = motion.motion();
    const int i = armJointIndex(motion.joint);
    const double battery =
        std::max(LeastBattery, 1.0 - m_faults.drainPerSecond * state.runSeconds - std::min(MostSag, state.sag));
    // Once heavier and once lighter over the range; lifting feels it one way, lowering the other.
    const double where = (state.degrees[i] - m.minDegrees) / m.range();
    const double wave = std::cos(2 * std::numbers::pi * where + m_faults.loadPhase[i]);
    const double load = 1.0 - m_faults.loadVariation[i] * wave * (m.towardsMaxLifts ? motion.direction : 1);
    return m.degreesPerSecond() * m_faults.speedFactor(code) * battery * load;
}

bool ArmSimulator::turnJoint(State &state, int i, int direction, double degrees) const
{
    const double half = m_faults.backlashDegrees[i] / 2;
    const double slack = std::max(0.0, half - direction * state.play[i]);
    if (degrees <= slack) {
        state.play[i] += direction * degrees;
        return false;
    }
    state.play[i] = direction * half;
    const ArmJointMotion &m = armJointMotions[size_t(i)];
    const double stop = direction > 0 ? m.maxDegrees - m_faults.endSlipDegrees[i]
                                      : m.minDegrees + m_faults.endSlipDegrees[i];
    const double moved = state.degrees[i] + direction * (degrees - slack);
    if (direction > 0 ? moved >= stop : moved <= stop) {
        // A joint already past where the clutch slips (let down off the stop, say) stays.
        if (direction * (state.degrees[i] - stop) < 0)
            state.degrees[i] = stop;
        return true;
    }
    state.degrees[i] = moved;
    return false;
}

void ArmSimulator::integrate(State &state, int code, double seconds) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    const auto recover = [this, &state](double dt) {
        state.sag *= std::exp2(-dt / m_faults.sagRecoverySeconds);
    };
    double left = seconds;
    while (left > 0) {
        if (state.coastLeft <= 0 && (!motion || state.straining)) {
            // Nothing turns: only the batteries change, and a stalled motor drags them down.
            if (motion) {
                state.runSeconds += left;
                state.sag += m_faults.stallSagPerSecond * left;
            } else {
                recover(left);
            }
            state.motionSeconds += left;
            return;
        }
        const double dt = std::min(left, StepSeconds);
        left -= dt;
        if (state.coastLeft > 0) {
            // Slowing evenly to rest: the distance under the falling speed over this step.
            const double from = state.coastLeft;
            const double to = std::max(0.0, from - dt);
            const double degrees = state.coastRate * (from * from - to * to) / (2 * state.coastTotal);
            turnJoint(state, state.coastJoint, state.coastDirection, degrees);
            state.coastLeft = to;
        }
        if (!motion) {
            recover(dt);
            continue;
        }
        const int i = armJointIndex(motion->joint);
        const double lag = m_faults.startLagSeconds[i];
        state.motionSeconds += dt;
        state.runSeconds += dt;
        const double moving = std::max(0.0, state.motionSeconds - lag) - std::max(0.0, state.motionSeconds - dt - lag);
        if (moving > 0 && turnJoint(state, i, motion->direction, dynamicRate(state, code) * moving))
            state.straining = true;
    }
}

ArmSimulator::State ArmSimulator::stateAt(qint64 tNs) const
{
    if (m_faults.hasDynamics()) {
        const bool cached = m_cacheNs >= m_timeNs && m_cacheNs <= tNs;
        State state = cached ? m_cache : m_state;
        const qint64 from = cached ? m_cacheNs : m_timeNs;
        if (tNs > from) {
            integrate(state, m_code, static_cast<double>(tNs - from) / NsPerSecond);
            m_cache = state;
            m_cacheNs = tNs;
        }
        return state;
    }
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
    if (next == m_code && m_faults.hasDynamics()) {
        // The motion goes on.
        Q_EMIT codeApplied(m_code, m_timeNs);
        return;
    }
    if (m_code != 0 && !m_state.straining && m_faults.hasDynamics()) {
        // Let go while turning, the joint runs on a little.
        const ArmCodeMotion motion = *armCodeMotion(m_code);
        const int i = armJointIndex(motion.joint);
        const double coast = motion.direction > 0 ? m_faults.coastTowardsMaxSeconds[i]
                                                  : m_faults.coastTowardsMinSeconds[i];
        if (m_state.motionSeconds > m_faults.startLagSeconds[i] && coast > 0) {
            m_state.coastJoint = i;
            m_state.coastDirection = motion.direction;
            m_state.coastTotal = m_state.coastLeft = 2 * coast;
            m_state.coastRate = dynamicRate(m_state, m_code);
        }
    }
    m_state.motionSeconds = 0.0;
    m_cacheNs = -1;
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
    m_state.coastLeft = 0.0;
    m_cacheNs = -1;
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
    if (m_faults.hasDynamics())
        return m_state.straining ? -1 : arrivalNs(m_state, m_code, m_timeNs);
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

qint64 ArmSimulator::arrivalNs(State state, int code, qint64 fromNs) const
{
    // Followed a step at a time: no closed form holds for a load that changes on the way.
    const auto step = static_cast<qint64>(StepSeconds * NsPerSecond);
    for (qint64 t = fromNs; t < fromNs + static_cast<qint64>(600 * NsPerSecond); t += step) {
        integrate(state, code, StepSeconds);
        if (state.straining)
            return t + step + 1;
    }
    return -1;
}

qint64 ArmSimulator::endStopNsIf(int code, qint64 tNs) const
{
    if (!armCodeMotion(code) || !m_faults.hasDynamics())
        return -1;
    State state = stateAt(tNs);
    if (code != m_code) {
        state.straining = false;
        state.motionSeconds = 0.0;
    }
    return state.straining ? tNs : arrivalNs(state, code, std::max(tNs, m_timeNs));
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
