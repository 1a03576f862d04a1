#pragma once

#include "ArmMotion.h"

#include <algorithm>

// Figures the estimate and its return plans share; not part of the interface.
namespace PoseConstants {

inline constexpr double NsPerSecond = 1e9;
// The guess stands at an end when it is this close to it, in degrees (a timer that ends a motion at
// the end may fire a hair before the computed moment).
inline constexpr double EndDegrees = 0.01;

// Play in the gears, in degrees of the joint: what the guess takes, and the most there may be.
inline constexpr double nominalPlay(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 0.6 : 2.0;
}
inline constexpr double mostPlay(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 1.5 : 4.0;
}
// How far a joint comes back off a stop it was pushed against once the motor lets go (its clutch and
// gears unwind), in degrees: what the guess takes, and the most there may be.
inline constexpr double nominalGive(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 0.4 : 1.2;
}
inline constexpr double mostGive(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 1.0 : 3.0;
}

// A motor starts turning the joint this long after its code (it spins up, takes up the slack of its
// gearbox), and runs on for this long after the stop: the guess's figure and the most.
// The coasting is the same both ways give or take a part that gravity adds to one way.
inline constexpr double NominalLagSeconds = 0.05;
inline constexpr double MostLagSeconds = 0.12;
inline constexpr double NominalCoastSeconds = 0.04;
inline constexpr double MostCoastSeconds = 0.06;
inline constexpr double MostOneWayCoastSeconds = 0.06;

// The joint's absolute position, where it is not known, is followed from this many places spread over
// its range, so that a stop it may meet anywhere is met by some of them.
inline constexpr int StartSpread = 5;

// The longest a return plan pushes a joint on past where the guess puts it at an end: a share of its
// full travel time, at least a minimum. Enough for what a jog leaves the guess off by, short of
// grinding the gears for the whole of a wide uncertainty.
inline constexpr double OverdriveShare = 0.15;
inline constexpr double OverdriveSeconds = 0.5;
inline constexpr double overdriveSeconds(const ArmJointMotion &m)
{
    return std::max(OverdriveSeconds, OverdriveShare * m.fullTravelSeconds);
}

// The batteries cost at most this share of the speed per second the motors run.
inline constexpr double MostDrainPerSecond = 0.08 / 600.0;

} // namespace PoseConstants
