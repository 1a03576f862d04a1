#pragma once

#include "ArmMotion.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

// Full-travel times measured on one arm: for each joint and each way, the seconds it takes from one
// end stop to the other. A time of 0 means not measured: the table's figure stands for it.
struct TravelCalibration
{
    // A measurement under this share of the table's time, or over that share, is a mistake (a key
    // pressed at once, a break taken, a joint that never reached its end): no arm is that far off.
    static constexpr double LeastShareOfTable = 0.5;
    static constexpr double MostShareOfTable = 2.0;
    static constexpr double MinSeconds = 0.2;
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

    // Why a measurement of `seconds` for the motion of `code` cannot be right ("Elbow Up: 0.20 s is
    // under half the table's 14.0 s"); empty when it can.
    static QString refusal(int code, double seconds)
    {
        const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
        if (!motion)
            return QStringLiteral("code %1 is not a motion").arg(code);
        const ArmJointMotion &m = motion->motion();
        if (seconds >= LeastShareOfTable * m.fullTravelSeconds && seconds <= MostShareOfTable * m.fullTravelSeconds)
            return {};
        QString joint = QLatin1String(m.name);
        joint[0] = joint[0].toUpper();
        return QStringLiteral("%1 %2: %3 s is %4 the table's %5 s")
            .arg(joint, QLatin1String(motion->direction > 0 ? m.motionTowardsMax : m.motionTowardsMin))
            .arg(seconds, 0, 'f', 2)
            .arg(seconds < m.fullTravelSeconds ? QStringLiteral("under half") : QStringLiteral("over twice"))
            .arg(m.fullTravelSeconds, 0, 'f', 1);
    }

    // Keeps a measurement, to the millisecond (so that it reads back as written); 0 forgets it. False,
    // changing nothing and saying why in *why, for a code that is not a motion or a time that cannot
    // be right.
    bool set(int code, double seconds, QString *why = nullptr)
    {
        const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
        const QString refused = seconds == 0.0 && motion ? QString() : refusal(code, seconds);
        if (!refused.isEmpty()) {
            if (why)
                *why = refused;
            return false;
        }
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
