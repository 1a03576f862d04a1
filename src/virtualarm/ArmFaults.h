#pragma once

#include "ArmMotion.h"

#include <QString>
#include <QtGlobal>

#include <array>

// How a real arm departs from the motion table, for a simulated arm that is honest about it. The
// default is none of it: the arm of the table. fromSeed() draws a plausible arm; the same seed always
// gives the same arm, so a test can repeat a run exactly.
struct ArmFaults
{
    // Each joint's speed each way, as a share of the table's (1 is the table's speed). Gravity is in
    // here: the way that lifts is slower than the way that lowers.
    std::array<double, ArmJointCount> speedTowardsMax{1.0, 1.0, 1.0, 1.0, 1.0};
    std::array<double, ArmJointCount> speedTowardsMin{1.0, 1.0, 1.0, 1.0, 1.0};
    // Every motor slows by this share of its speed for each second the motors have run so far, as the
    // batteries run down (never below half speed).
    double drainPerSecond = 0.0;
    // Play in each joint's gears, in degrees of the joint: after a reversal the motor turns this far
    // before the joint follows.
    std::array<double, ArmJointCount> backlashDegrees{};
    // A joint pushed against an end stop wound its gears up while the clutch slipped; when the motor
    // lets go, the joint comes back off the stop by this many degrees.
    std::array<double, ArmJointCount> endGiveDegrees{};

    friend bool operator==(const ArmFaults &, const ArmFaults &) = default;

    bool isNone() const { return *this == ArmFaults{}; }

    // The speed factor of the motion of `code` (1 for codes that move nothing).
    double speedFactor(int code) const;

    // A drawn arm: speeds within 15 % of the table's each way (a per-joint spread of up to 7 %, a
    // per-direction one of up to 3 %, and for the joints that lift a load, gravity that makes
    // lowering 6 to 10 % faster than lifting); batteries that cost 2 to 5 % of speed per ten minutes
    // of running; 0.5 to 3 degrees of play (the gripper 0.2 to 1); 0.2 to 1.5 degrees of give at the
    // stops (the gripper 0.1 to 0.5).
    static ArmFaults fromSeed(quint32 seed);

    // One line per joint with the drawn figures, for a benchmark's or a test's output.
    QString toText() const;
};
