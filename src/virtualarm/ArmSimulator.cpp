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

double ArmSimulator::rateNow(int code) const
{
    const double battery = std::max(0.5, 1.0 - m_faults.drainPerSecond * m_state.runSeconds);
    return armCodeMotion(code)->motion().degreesPerSecond() * m_faults.speedFactor(code) * battery;
}

bool ArmSimulator::stalled(const State &state, int code)
{
    const ArmCodeParts parts = armCodeParts(code);
    return std::all_of(parts.begin(), parts.end(),
                       [&](int part) { return state.straining[size_t(armJointIndex(armCodeMotion(part)->joint))]; });
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
    const ArmCodeParts parts = armCodeParts(code);
    const auto recover = [this, &state](double dt) {
        state.sag *= std::exp2(-dt / m_faults.sagRecoverySeconds);
    };
    const auto coasting = [&state] {
        return std::any_of(state.coast.begin(), state.coast.end(), [](const State::Coast &c) { return c.left > 0; });
    };
    double left = seconds;
    while (left > 0) {
        if (!coasting() && (parts.empty() || stalled(state, code))) {
            // Nothing turns: only the batteries change, and stalled motors drag them down.
            if (!parts.empty()) {
                state.runSeconds += left;
                state.sag += m_faults.stallSagPerSecond * left * parts.count;
            } else {
                recover(left);
            }
            state.motionSeconds += left;
            return;
        }
        const double dt = std::min(left, StepSeconds);
        left -= dt;
        for (int i = 0; i < ArmJointCount; ++i) {
            State::Coast &c = state.coast[size_t(i)];
            if (c.left <= 0)
                continue;
            // Slowing evenly to rest: the distance under the falling speed over this step.
            const double to = std::max(0.0, c.left - dt);
            turnJoint(state, i, c.direction, c.rate * (c.left * c.left - to * to) / (2 * c.total));
            c.left = to;
        }
        if (parts.empty()) {
            recover(dt);
            continue;
        }
        state.motionSeconds += dt;
        state.runSeconds += dt;
        for (const int part : parts) {
            const ArmCodeMotion motion = *armCodeMotion(part);
            const int i = armJointIndex(motion.joint);
            if (state.straining[size_t(i)]) {
                state.sag += m_faults.stallSagPerSecond * dt;
                continue;
            }
            const double lag = m_faults.startLagSeconds[i];
            const double moving =
                std::max(0.0, state.motionSeconds - lag) - std::max(0.0, state.motionSeconds - dt - lag);
            if (moving > 0 && turnJoint(state, i, motion.direction, dynamicRate(state, part) * moving))
                state.straining[size_t(i)] = true;
        }
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
    state.straining = {};
    const ArmCodeParts parts = armCodeParts(m_code);
    if (parts.empty())
        return state;
    const double seconds = static_cast<double>(std::max<qint64>(0, tNs - m_timeNs)) / NsPerSecond;
    state.runSeconds += seconds;
    for (const int part : parts) {
        const ArmCodeMotion motion = *armCodeMotion(part);
        const int i = armJointIndex(motion.joint);
        const int direction = motion.direction;
        const double turned = rateNow(part) * seconds;
        // After a reversal the motor first turns through the play; the joint waits.
        const double half = m_faults.backlashDegrees[i] / 2;
        const double slack = std::max(0.0, half - direction * state.play[i]);
        if (slack > 0 && turned <= slack) {
            state.play[i] += direction * turned;
            continue;
        }
        state.play[i] = direction * half;
        const double stop = motion.endDegrees();
        const double moved = state.degrees[i] + direction * (turned - slack);
        // Past the stop the clutch slips: the joint holds there for as long as the motor keeps pushing.
        if (direction > 0 ? moved >= stop : moved <= stop) {
            state.degrees[i] = stop;
            state.straining[size_t(i)] = true;
        } else {
            state.degrees[i] = moved;
        }
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
    const int next = armCodeMoves(code) ? code : 0;
    if (next == m_code && m_faults.hasDynamics()) {
        // The motion goes on.
        Q_EMIT codeApplied(m_code, m_timeNs);
        return;
    }
    for (const int part : armCodeParts(m_code)) {
        const ArmCodeMotion motion = *armCodeMotion(part);
        const int i = armJointIndex(motion.joint);
        if (m_state.straining[size_t(i)] || !m_faults.hasDynamics())
            continue;
        // Let go while turning, the joint runs on a little.
        const double coast = motion.direction > 0 ? m_faults.coastTowardsMaxSeconds[i]
                                                  : m_faults.coastTowardsMinSeconds[i];
        if (m_state.motionSeconds > m_faults.startLagSeconds[i] && coast > 0)
            m_state.coast[size_t(i)] = State::Coast{motion.direction, 2 * coast, 2 * coast, dynamicRate(m_state, part)};
    }
    m_state.motionSeconds = 0.0;
    m_cacheNs = -1;
    if (next != m_code) {
        for (const int part : armCodeParts(m_code)) {
            // The push ends: the wound-up gears give the joint back a little off its stop.
            const ArmCodeMotion motion = *armCodeMotion(part);
            const int i = armJointIndex(motion.joint);
            if (m_state.straining[size_t(i)])
                m_state.degrees[i] -= motion.direction * m_faults.endGiveDegrees[i];
        }
        m_state.straining = {};
    }
    m_code = next;
    Q_EMIT codeApplied(m_code, m_timeNs);
}

void ArmSimulator::reset(qint64 tNs)
{
    advanceTo(tNs);
    m_state.degrees = ArmPose::home().degrees;
    m_state.play = {};
    m_state.straining = {};
    m_state.coast = {};
    m_cacheNs = -1;
    Q_EMIT poseReset(m_timeNs);
}

ArmPose ArmSimulator::poseAt(qint64 tNs) const
{
    const State state = stateAt(tNs);
    ArmPose pose;
    pose.degrees = state.degrees;
    pose.straining = state.straining;
    return pose;
}

bool ArmSimulator::isMovingAt(qint64 tNs) const
{
    return m_code != 0 && !stalled(stateAt(tNs), m_code);
}

qint64 ArmSimulator::endStopNs() const
{
    const ArmCodeParts parts = armCodeParts(m_code);
    if (parts.empty())
        return -1;
    if (m_faults.hasDynamics())
        return stalled(m_state, m_code) ? -1 : arrivalNs(m_state, m_code, m_timeNs);
    qint64 earliest = -1;
    for (const int part : parts) {
        const ArmCodeMotion motion = *armCodeMotion(part);
        const int i = armJointIndex(motion.joint);
        const double remaining = motion.direction * (motion.endDegrees() - m_state.degrees[i]);
        if (remaining <= 0)
            continue;
        const double slack = std::max(0.0, m_faults.backlashDegrees[i] / 2 - motion.direction * m_state.play[i]);
        // One nanosecond more than the exact figure, so the pose computed for that moment is surely at
        // the stop despite rounding.
        const qint64 at = m_timeNs + static_cast<qint64>(std::ceil((remaining + slack) / rateNow(part) * NsPerSecond)) + 1;
        earliest = earliest < 0 ? at : std::min(earliest, at);
    }
    return earliest;
}

qint64 ArmSimulator::arrivalNs(State state, int code, qint64 fromNs) const
{
    // Followed a step at a time: no closed form holds for a load that changes on the way. The first
    // joint to get to its stop ends it.
    const std::array<bool, ArmJointCount> before = state.straining;
    const auto step = static_cast<qint64>(StepSeconds * NsPerSecond);
    for (qint64 t = fromNs; t < fromNs + static_cast<qint64>(600 * NsPerSecond); t += step) {
        integrate(state, code, StepSeconds);
        if (state.straining != before)
            return t + step + 1;
    }
    return -1;
}

qint64 ArmSimulator::endStopNsIf(int code, qint64 tNs) const
{
    if (!armCodeMoves(code) || !m_faults.hasDynamics())
        return -1;
    State state = stateAt(tNs);
    if (code != m_code) {
        state.straining = {};
        state.motionSeconds = 0.0;
    }
    return stalled(state, code) ? tNs : arrivalNs(state, code, std::max(tNs, m_timeNs));
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
