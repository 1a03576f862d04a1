#pragma once

#include <array>

// The five joints of the arm, in the order of the command codes that drive them (code c and c + 5
// turn joint c - 1).
enum class ArmJoint { Base, Shoulder, Elbow, Wrist, Gripper };

constexpr int ArmJointCount = 5;

// How one joint moves. Angles are in degrees:
// - base: rotation seen from above, counter-clockwise positive, 0 facing forward;
// - shoulder: elevation of the upper arm from the horizontal, 0 reaching forward, 90 upright;
// - elbow: forearm relative to the upper arm, 0 in line, positive folding up (counter-clockwise in a
//   side view with the arm reaching to the right);
// - wrist: hand relative to the forearm, same sense as the elbow;
// - gripper: opening of each jaw, 0 closed.
// The ranges are those of the real arm's gearboxes; the travel times are estimates from watching it,
// which is why they live here together and nowhere else.
struct ArmJointMotion
{
    ArmJoint joint;
    const char *name;
    double minDegrees;
    double maxDegrees;
    double homeDegrees;
    double fullTravelSeconds;
    int codeTowardsMax; // the command code that turns this joint towards maxDegrees
    int codeTowardsMin;

    constexpr double range() const { return maxDegrees - minDegrees; }
    constexpr double degreesPerSecond() const { return range() / fullTravelSeconds; }
};

inline constexpr std::array<ArmJointMotion, ArmJointCount> armJointMotions{{
    {ArmJoint::Base, "base", -135.0, 135.0, 0.0, 12.0, 2 /* CCW */, 7 /* CW */},
    {ArmJoint::Shoulder, "shoulder", 0.0, 180.0, 90.0, 9.0, 1 /* up */, 6 /* down */},
    {ArmJoint::Elbow, "elbow", -150.0, 150.0, -90.0, 14.0, 3 /* up */, 8 /* down */},
    {ArmJoint::Wrist, "wrist", -60.0, 60.0, 0.0, 6.0, 4 /* up */, 9 /* down */},
    {ArmJoint::Gripper, "gripper", 0.0, 30.0, 30.0, 1.5, 10 /* open */, 5 /* close */},
}};

constexpr const ArmJointMotion &armJointMotion(ArmJoint joint)
{
    return armJointMotions[static_cast<int>(joint)];
}
