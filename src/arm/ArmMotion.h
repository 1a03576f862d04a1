#pragma once

#include <array>
#include <optional>

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
    // Turning towards maxDegrees lifts the joint's load against gravity (in the poses the arm works
    // in), so that way is the slower one.
    bool towardsMaxLifts;
    // Words for the two ways and the two ends: "Up" / "Down", "upper" / "lower".
    const char *motionTowardsMax;
    const char *motionTowardsMin;
    const char *maxEndName;
    const char *minEndName;

    constexpr double range() const { return maxDegrees - minDegrees; }
    constexpr double degreesPerSecond() const { return range() / fullTravelSeconds; }
};

inline constexpr std::array<ArmJointMotion, ArmJointCount> armJointMotions{{
    {ArmJoint::Base, "base", -135.0, 135.0, 0.0, 12.0, 2, 7, false, "CCW", "CW", "counter-clockwise",
     "clockwise"},
    {ArmJoint::Shoulder, "shoulder", 0.0, 180.0, 90.0, 9.0, 1, 6, true, "Up", "Down", "upper", "lower"},
    {ArmJoint::Elbow, "elbow", -150.0, 150.0, -90.0, 14.0, 3, 8, true, "Up", "Down", "upper", "lower"},
    {ArmJoint::Wrist, "wrist", -60.0, 60.0, 0.0, 6.0, 4, 9, true, "Up", "Down", "upper", "lower"},
    {ArmJoint::Gripper, "gripper", 0.0, 30.0, 30.0, 1.5, 10, 5, false, "Open", "Close", "open", "closed"},
}};

constexpr const ArmJointMotion &armJointMotion(ArmJoint joint)
{
    return armJointMotions[static_cast<int>(joint)];
}

constexpr int armJointIndex(ArmJoint joint)
{
    return static_cast<int>(joint);
}

// What one command code does: which joint it turns, and which way (+1 towards maxDegrees, -1 towards
// minDegrees).
struct ArmCodeMotion
{
    ArmJoint joint;
    int direction;

    constexpr const ArmJointMotion &motion() const { return armJointMotion(joint); }
    // The end this motion drives towards, in degrees.
    constexpr double endDegrees() const { return direction > 0 ? motion().maxDegrees : motion().minDegrees; }
};

// The motion of a code; none for code 0 (stop) and for codes the arm does not know.
constexpr std::optional<ArmCodeMotion> armCodeMotion(int code)
{
    for (const ArmJointMotion &m : armJointMotions) {
        if (code == m.codeTowardsMax)
            return ArmCodeMotion{m.joint, 1};
        if (code == m.codeTowardsMin)
            return ArmCodeMotion{m.joint, -1};
    }
    return std::nullopt;
}

// The joint a code turns; null for code 0 (stop) and for codes the arm does not know.
constexpr const ArmJointMotion *armJointOfCode(int code)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    return motion ? &motion->motion() : nullptr;
}

// The code that turns `joint` in `direction` (+1 towards its maximum, -1 towards its minimum).
constexpr int armCodeFor(ArmJoint joint, int direction)
{
    return direction > 0 ? armJointMotion(joint).codeTowardsMax : armJointMotion(joint).codeTowardsMin;
}

// Several joints at once: the interface kit drives any set of its motors together (the HID board one
// at a time). A combined code carries one way per joint, two bits each above ArmCombinedFlag (01
// towards the maximum, 10 towards the minimum). A set of one joint is that joint's own code and an empty
// set is 0, so that a combined code always turns two joints or more.
constexpr int ArmCombinedFlag = 0x400;

constexpr bool armCodeCombined(int code)
{
    return (code & ~0x3FF) == ArmCombinedFlag;
}

// The code that turns each joint its way (+1 towards its maximum, -1 towards its minimum, 0 not at
// all), indexed by ArmJoint.
constexpr int armCombinedCode(const std::array<int, ArmJointCount> &directions)
{
    int bits = 0;
    int count = 0;
    int single = 0;
    for (int i = 0; i < ArmJointCount; ++i) {
        const int d = directions[size_t(i)];
        if (d == 0)
            continue;
        ++count;
        single = armCodeFor(ArmJoint(i), d);
        bits |= (d > 0 ? 1 : 2) << (2 * i);
    }
    return count == 0 ? 0 : count == 1 ? single : ArmCombinedFlag | bits;
}

// The single codes a code drives, in joint order: itself for a single code, one per joint for a combined
// one, none for a stop or a code the arm does not know. A combined code with a joint turning both ways
// is no code.
struct ArmCodeParts
{
    std::array<int, ArmJointCount> codes{};
    int count = 0;

    constexpr const int *begin() const { return codes.data(); }
    constexpr const int *end() const { return codes.data() + count; }
    constexpr bool empty() const { return count == 0; }
};

constexpr ArmCodeParts armCodeParts(int code)
{
    ArmCodeParts parts;
    if (armCodeMotion(code)) {
        parts.codes[0] = code;
        parts.count = 1;
        return parts;
    }
    if (!armCodeCombined(code))
        return parts;
    for (int i = 0; i < ArmJointCount; ++i) {
        const int bits = (code >> (2 * i)) & 3;
        if (bits == 3)
            return ArmCodeParts{};
        if (bits != 0)
            parts.codes[size_t(parts.count++)] = armCodeFor(ArmJoint(i), bits == 1 ? 1 : -1);
    }
    return parts.count >= 2 ? parts : ArmCodeParts{};
}

// A code that turns some joint: a single one or a combined one.
constexpr bool armCodeMoves(int code)
{
    return !armCodeParts(code).empty();
}

// The way a code turns `joint`: +1, -1, or 0 when it does not turn it.
constexpr int armCodeDirection(int code, ArmJoint joint)
{
    for (const int part : armCodeParts(code)) {
        if (armCodeMotion(part)->joint == joint)
            return armCodeMotion(part)->direction;
    }
    return 0;
}
