#pragma once

#include "ArmMotion.h"

// Figures the estimate and its return plans share; not part of the interface.
namespace PoseConstants {

inline constexpr double NsPerSecond = 1e9;
// The guess stands at an end when it is this close to it, in degrees (a timer that ends a motion at
// the end may fire a hair before the computed moment).
inline constexpr double EndDegrees = 0.01;

// Play in the gears, in degrees of the joint: what the guess takes, and the most there may be.
inline constexpr double nominalPlay(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 0.5 : 1.5;
}
inline constexpr double mostPlay(ArmJoint joint)
{
    return joint == ArmJoint::Gripper ? 1.0 : 3.0;
}

} // namespace PoseConstants
