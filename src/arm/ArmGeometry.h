#pragma once

#include "ArmMotion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

// The arm's segments in millimetres, roughly those of the real arm, and the height of the shoulder's
// pivot above the table the arm stands on.
namespace ArmGeometry {

inline constexpr double UpperArmLength = 90.0;
inline constexpr double ForearmLength = 110.0;
inline constexpr double HandLength = 40.0;
inline constexpr double JawLength = 38.0;
inline constexpr double ShoulderHeight = 54.4;

// How far the lowest point of the arm (elbow, wrist, the gripper's pivot or a jaw's tip) is above the
// table, in millimetres; negative when the pose would reach into it. The base turns about an upright
// axis and changes nothing here. Angles as in armJointMotions, indexed by ArmJoint.
inline double clearance(const std::array<double, ArmJointCount> &degrees)
{
    const auto rad = [](double d) { return d * std::numbers::pi / 180.0; };
    const double a1 = degrees[armJointIndex(ArmJoint::Shoulder)];
    const double a2 = a1 + degrees[armJointIndex(ArmJoint::Elbow)];
    const double a3 = a2 + degrees[armJointIndex(ArmJoint::Wrist)];
    const double jaw = degrees[armJointIndex(ArmJoint::Gripper)];
    const double elbow = ShoulderHeight + UpperArmLength * std::sin(rad(a1));
    const double wrist = elbow + ForearmLength * std::sin(rad(a2));
    const double hand = wrist + HandLength * std::sin(rad(a3));
    const double upperJaw = hand + JawLength * std::sin(rad(a3 + jaw));
    const double lowerJaw = hand + JawLength * std::sin(rad(a3 - jaw));
    // Segments are straight, so their lowest points are among their ends.
    return std::min({elbow, wrist, hand, upperJaw, lowerJaw});
}

} // namespace ArmGeometry
