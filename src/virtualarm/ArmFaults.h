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

    // What no model of the arm's speeds allows for; all of it 0 on the arm of fromSeed():
    // - the motor starts turning the joint this long after its code;
    std::array<double, ArmJointCount> startLagSeconds{};
    // - after the stop the joint runs on, slowing, for as far as it turns in this long at speed: more
    //   when lowering (gravity helps) than when lifting;
    std::array<double, ArmJointCount> coastTowardsMaxSeconds{};
    std::array<double, ArmJointCount> coastTowardsMinSeconds{};
    // - the load changes with the joint's angle: its speed varies by up to this share, once up and
    //   once down over its range, from `loadPhase` (radians) on;
    std::array<double, ArmJointCount> loadVariation{};
    std::array<double, ArmJointCount> loadPhase{};
    // - the clutch slips under the rising load this many degrees short of each end stop;
    std::array<double, ArmJointCount> endSlipDegrees{};
    // - a stalled motor draws hard on the batteries: they sag by this share of speed per second of
    //   straining, recovering by half every `sagRecoverySeconds`.
    double stallSagPerSecond = 0.0;
    double sagRecoverySeconds = 20.0;

    friend bool operator==(const ArmFaults &, const ArmFaults &) = default;

    bool isNone() const { return *this == ArmFaults{}; }
    // Faults that only a step-by-step simulation follows: lag, coasting, load, slip or sag.
    bool hasDynamics() const;

    // The speed factor of the motion of `code` (1 for codes that move nothing).
    double speedFactor(int code) const;

    // A drawn arm: speeds within 15 % of the table's each way (a per-joint spread of up to 7 %, a
    // per-direction one of up to 3 %, and for the joints that lift a load, gravity that makes
    // lowering 6 to 10 % faster than lifting); batteries that cost 2 to 5 % of speed per ten minutes
    // of running; 0.5 to 3 degrees of play (the gripper 0.2 to 1); 0.2 to 1.5 degrees of give at the
    // stops (the gripper 0.1 to 0.5).
    static ArmFaults fromSeed(quint32 seed);

    // A drawn arm with every fault a real one shows, each from ranges wider than the pose estimate
    // assumes (so that it is tried on arms unlike its own model): speeds within 22 % of the table's
    // per joint and 6 % per direction, gravity making lowering up to 18 % faster than lifting; a
    // start-up lag of up to 0.18 s; coasting of up to 0.15 s lowering and 0.06 s lifting; a load that
    // changes the speed by up to 12 % with the angle; 0.5 to 5 degrees of play (the gripper 0.2 to 2);
    // the clutch slipping up to 1.5 degrees short of a stop and giving back 0.2 to 2 off it (the
    // gripper a third of that); batteries that cost 2 to 10 % of speed per ten minutes of running and
    // sag by up to 0.6 % per second of stall (15 % at most).
    static ArmFaults realistic(quint32 seed);

    // One line per joint with the drawn figures, for a benchmark's or a test's output.
    QString toText() const;
};
