#include "ArmFaults.h"

#include <QStringList>

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
    lines << QStringLiteral("batteries: %1 % of speed per ten minutes of running")
                 .arg(drainPerSecond * 600.0 * 100.0, 0, 'f', 1);
    return lines.join(QLatin1Char('\n'));
}
