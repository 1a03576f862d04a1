#include "ArmFaults.h"

#include <QStringList>

#include <algorithm>
#include <random>

namespace {

// Uniform in [low, high), from the generator's own specified output: the standard library's
// distributions differ between implementations, and a seed must give the same arm everywhere.
class Draw
{
public:
    explicit Draw(quint32 seed) : m_engine(seed) {}
    double between(double low, double high)
    {
        const double unit = static_cast<double>(m_engine()) / 4294967296.0;
        return low + (high - low) * unit;
    }

private:
    std::mt19937 m_engine;
};

} // namespace

double ArmFaults::speedFactor(int code) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return 1.0;
    const int i = armJointIndex(motion->joint);
    return motion->direction > 0 ? speedTowardsMax[i] : speedTowardsMin[i];
}

ArmFaults ArmFaults::fromSeed(quint32 seed)
{
    ArmFaults faults;
    Draw draw(seed);
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        const double joint = 1.0 + draw.between(-0.07, 0.07);
        double towardsMax = joint + draw.between(-0.03, 0.03);
        double towardsMin = joint + draw.between(-0.03, 0.03);
        const double gravity = draw.between(0.06, 0.10);
        if (m.towardsMaxLifts) {
            towardsMax -= gravity / 2;
            towardsMin += gravity / 2;
        }
        faults.speedTowardsMax[i] = towardsMax;
        faults.speedTowardsMin[i] = towardsMin;
        const bool gripper = m.joint == ArmJoint::Gripper;
        faults.backlashDegrees[i] = gripper ? draw.between(0.2, 1.0) : draw.between(0.5, 3.0);
        faults.endGiveDegrees[i] = gripper ? draw.between(0.1, 0.5) : draw.between(0.2, 1.5);
    }
    faults.drainPerSecond = draw.between(0.02, 0.05) / 600.0;
    return faults;
}

bool ArmFaults::hasDynamics() const
{
    const auto any = [](const std::array<double, ArmJointCount> &values) {
        return std::any_of(values.begin(), values.end(), [](double v) { return v != 0.0; });
    };
    return any(startLagSeconds) || any(coastTowardsMaxSeconds) || any(coastTowardsMinSeconds) ||
           any(loadVariation) || any(endSlipDegrees) || stallSagPerSecond != 0.0;
}

ArmFaults ArmFaults::realistic(quint32 seed)
{
    ArmFaults faults;
    Draw draw(seed ^ 0x9e3779b9u);
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        const double joint = 1.0 + draw.between(-0.22, 0.22);
        double towardsMax = joint + draw.between(-0.06, 0.06);
        double towardsMin = joint + draw.between(-0.06, 0.06);
        const double gravity = draw.between(0.0, 0.18);
        const double lowering = draw.between(0.02, 0.15);
        const double lifting = draw.between(0.0, 0.06);
        if (m.towardsMaxLifts) {
            towardsMax -= gravity / 2;
            towardsMin += gravity / 2;
            faults.coastTowardsMaxSeconds[i] = lifting;
            faults.coastTowardsMinSeconds[i] = lowering;
        } else {
            faults.coastTowardsMaxSeconds[i] = faults.coastTowardsMinSeconds[i] = (lifting + lowering) / 2;
        }
        faults.speedTowardsMax[i] = towardsMax;
        faults.speedTowardsMin[i] = towardsMin;
        faults.startLagSeconds[i] = draw.between(0.0, 0.18);
        faults.loadVariation[i] = draw.between(0.0, 0.12);
        faults.loadPhase[i] = draw.between(0.0, 6.283185307179586);
        const double small = m.joint == ArmJoint::Gripper ? 1.0 / 3.0 : 1.0;
        faults.backlashDegrees[i] = m.joint == ArmJoint::Gripper ? draw.between(0.2, 2.0) : draw.between(0.5, 5.0);
        faults.endSlipDegrees[i] = small * draw.between(0.0, 1.5);
        faults.endGiveDegrees[i] = small * draw.between(0.2, 2.0);
    }
    faults.drainPerSecond = draw.between(0.02, 0.10) / 600.0;
    faults.stallSagPerSecond = draw.between(0.0, 0.006);
    faults.sagRecoverySeconds = draw.between(10.0, 40.0);
    return faults;
}

QString ArmFaults::toText() const
{
    QStringList lines;
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        lines << QStringLiteral("%1: %2 %3 %, %4 %5 %, play %6 deg, give %7 deg")
                     .arg(QLatin1String(m.name))
                     .arg(QLatin1String(m.motionTowardsMax))
                     .arg((speedTowardsMax[i] - 1.0) * 100.0, 0, 'f', 1)
                     .arg(QLatin1String(m.motionTowardsMin))
                     .arg((speedTowardsMin[i] - 1.0) * 100.0, 0, 'f', 1)
                     .arg(backlashDegrees[i], 0, 'f', 2)
                     .arg(endGiveDegrees[i], 0, 'f', 2);
    }
    if (hasDynamics()) {
        for (const ArmJointMotion &m : armJointMotions) {
            const int i = armJointIndex(m.joint);
            lines << QStringLiteral("%1: lag %2 s, coast %3/%4 s, load \u00b1%5 %, slip %6 deg")
                         .arg(QLatin1String(m.name))
                         .arg(startLagSeconds[i], 0, 'f', 2)
                         .arg(coastTowardsMaxSeconds[i], 0, 'f', 2)
                         .arg(coastTowardsMinSeconds[i], 0, 'f', 2)
                         .arg(loadVariation[i] * 100.0, 0, 'f', 1)
                         .arg(endSlipDegrees[i], 0, 'f', 2);
        }
    }
    lines << QStringLiteral("batteries: %1 % of speed per ten minutes of running, sag %2 % per second of stall")
                 .arg(drainPerSecond * 600.0 * 100.0, 0, 'f', 1)
                 .arg(stallSagPerSecond * 100.0, 0, 'f', 1);
    return lines.join(QLatin1Char('\n'));
}
