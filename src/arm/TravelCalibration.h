#pragma once

#include "ArmMotion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

// Full-travel times measured on one arm: for each joint and each way, the seconds it takes from one
// end stop to the other. A time of 0 means not measured: the table's figure stands for it.
struct TravelCalibration
{
    // A measurement outside these bounds is a mistake (a key pressed at once, a break taken).
    static constexpr double MinSeconds = 0.2;
    static constexpr double MaxSeconds = 120.0;
    // The operator presses the key when they see (or hear) the joint reach its end, a little after it
    // did: this much is taken off the time from the motion's start to the key.
    static constexpr double ReactionSeconds = 0.2;

    std::array<double, ArmJointCount> towardsMax{};
    std::array<double, ArmJointCount> towardsMin{};

    friend bool operator==(const TravelCalibration &, const TravelCalibration &) = default;

    // The measured time of the motion of `code`; 0 when not measured or not a motion code.
    double seconds(int code) const
    {
        const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
        if (!motion)
            return 0.0;
        const int i = armJointIndex(motion->joint);
        return motion->direction > 0 ? towardsMax[i] : towardsMin[i];
    }

    // Keeps a measurement, to the millisecond (so that it reads back as written); 0 forgets it. False,
    // changing nothing, for a code that is not a motion or a time out of bounds.
    bool set(int code, double seconds)
    {
        const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
        if (!motion || !(seconds == 0.0 || (seconds >= MinSeconds && seconds <= MaxSeconds)))
            return false;
        const int i = armJointIndex(motion->joint);
        (motion->direction > 0 ? towardsMax[i] : towardsMin[i]) = std::round(seconds * 1000.0) / 1000.0;
        return true;
    }

    bool isEmpty() const { return *this == TravelCalibration{}; }

    // The travel time of a motion started at 0 and ended by the operator's key `secondsToKey` later.
    static double fromKeyPress(double secondsToKey)
    {
        return std::max(MinSeconds, secondsToKey - ReactionSeconds);
    }
};
