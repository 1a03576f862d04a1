#pragma once

#include "ArmMotion.h"
#include "TravelCalibration.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

// One angle per joint, indexed by ArmJoint, in the degrees of armJointMotions.
using JointAngles = std::array<double, ArmJointCount>;

// What the estimate says of one joint.
struct JointEstimate
{
    // Whether the joint's position is known at all: from the start pose, a calibration, or an end it
    // was surely driven into. While it is not, degrees means nothing, and low..high is where it may be
    // (the whole range until it is driven).
    bool known = false;
    // The best guess.
    double degrees = 0.0;
    // The joint is surely between these: where the extreme cases of its rates and play put it.
    double low = 0.0;
    double high = 0.0;

    // How far the joint may be from the guess, in degrees: 0 at a known end.
    double uncertainty() const;
};

// The estimate of the whole arm at one moment.
struct PoseEstimate
{
    std::array<JointEstimate, ArmJointCount> joints{};

    const JointEstimate &joint(ArmJoint j) const { return joints[armJointIndex(j)]; }
    // Every joint known.
    bool known() const;
    JointAngles degrees() const;
    // The largest uncertainty of any joint, in degrees.
    double largestUncertainty() const;
    // For the status area: "Pose known ± 4°" (the largest uncertainty, rounded up to a whole degree),
    // or "Pose unknown" while any joint is.
    QString statusText() const;
};

// One step of a plan: the motion of `code` for `seconds`.
struct PlanStep
{
    int code = 0;
    double seconds = 0.0;

    friend bool operator==(const PlanStep &, const PlanStep &) = default;
};

// Where the arm is, from nothing but the command codes sent to it and when: the arm has no sensors.
//
// Each joint turns at a rate per direction: its full travel time from the calibration where one was
// measured, else the table's, with lifting taken as slower than lowering. Beside that guess the
// estimate follows the joint's extreme cases: its rates off by the whole tolerance (20 % uncalibrated,
// a few % calibrated) one way or the other, with no play in its gears or the most there may be. A
// rate's error is the same every time the joint turns that way, and every case stops at the end stops
// as the joint does, so the cases spread with every second of motion and every reversal, and meet
// again at an end that the slowest of them has surely reached. Where they are is where the joint
// surely is; the guess's distance from the farthest is the uncertainty.
//
// Times are nanoseconds on one monotonic clock, as the codes' send times; a time earlier than the
// last event counts as that moment. Like ArmSimulator, nothing runs between calls: every query takes
// the moment it is asked for and works out the motion in force up to then. The class is a plain
// value; copying it is cheap, and a copy can be driven to see what a plan would do.
class PoseEstimator
{
public:
    // Lowering is taken as this much faster than lifting, shared out evenly round the table's figure
    // (the table's time is the mean of the two ways), for joints that lift and are not calibrated.
    static constexpr double GravityShare = 0.08;
    // How far a rate may be from the one the estimate takes, as a share of it: a table figure, and a
    // measured one, whose error is the operator's timing over the travel time plus the batteries'
    // drain since.
    static constexpr double TableTolerance = 0.20;
    static constexpr double DrainTolerance = 0.05;
    static constexpr double KeyTimingSeconds = 0.3;

    explicit PoseEstimator(const TravelCalibration &calibration = {});

    // Rates from these measurements from tNs on; what the estimate says up to then stands.
    void setCalibration(const TravelCalibration &calibration, qint64 tNs);
    const TravelCalibration &calibration() const { return m_calibration; }

    // A code sent to the arm at tNs: its motion replaces the one in force. 0, and any code the arm does
    // not know, stops the motors.
    void apply(int code, qint64 tNs);
    int code() const { return m_code; }

    // "This is the start pose": the arm stands in `pose` at tNs. Every joint becomes known there, and
    // returnToStart() brings the arm back to it. The arm's own start pose is the table's home pose.
    void declareStart(qint64 tNs, const JointAngles &pose = homePose());
    // The operator says the joint of `code` has reached the end `code` drives towards (the key of the
    // calibration): that joint becomes known there.
    void markAtEnd(int code, qint64 tNs);
    // Every joint unknown again, for an arm that may have been moved by hand.
    void forget(qint64 tNs);

    PoseEstimate estimateAt(qint64 tNs) const;
    bool known(qint64 tNs) const { return estimateAt(tNs).known(); }
    const JointAngles &startPose() const { return m_start; }

    // For the end-stop rule. All three answer for the motion of `code` as it would run from tNs: the
    // motion in force carries on, another one starts there (and first turns through the play when it
    // reverses its joint).
    // - atEnd: its joint is known and the estimate puts it at the end `code` drives towards.
    bool atEnd(int code, qint64 tNs) const;
    // - secondsToEnd: how long until the estimate puts it there (0 when it is there); -1 when the joint
    //   is not known, or `code` is no motion.
    double secondsToEnd(int code, qint64 tNs) const;
    // - secondsToSureEnd: how long until the joint is surely there whatever its rates and play, even
    //   from an unknown position (what overriding a stop at the estimated end, or homing a joint,
    //   takes); -1 when `code` is no motion.
    double secondsToSureEnd(int code, qint64 tNs) const;

    // The steps, played back to back from tNs and followed by a stop, that bring every joint back to
    // the start pose by the estimate. One joint moves at a time, in the order that keeps the arm
    // highest above the table (lifting the shoulder to upright first when that helps). Where a stop
    // can put a joint right, the plan uses it: a joint whose start is at an end is driven on past where
    // the guess arrives, and a joint the guess puts at an end is first pushed onto that stop, each for
    // its uncertainty but at most 15 % of its travel time (half a second at least), so the clutch slips
    // briefly rather than grinding for a wide uncertainty. Empty when the pose is not known, or the arm
    // is at the start already.
    QList<PlanStep> returnToStart(qint64 tNs) const;

    // The rate the estimate takes for the motion of `code`, in degrees per second (0 for no motion),
    // and how far off it may be, as a share of it.
    double rate(int code) const;
    double tolerance(int code) const;

    // What the end-stop rule says: "Elbow at its upper end (estimated)".
    static QString endReachedText(int code);
    static JointAngles homePose();

private:
    // One way the joint may be: its own rates and play, and where that puts it.
    struct Case
    {
        // +1: both rates err towards the maximum (faster that way, slower the other); -1 the
        // reverse; 0: the guess, at the rates as they are taken.
        int lean = 0;
        // The play in the gears, in degrees of the joint.
        double playSize = 0.0;
        // How far the motor is ahead of the joint within it: -playSize / 2 bearing towards the minimum
        // to +playSize / 2 towards the maximum.
        double play = 0.0;
        double degrees = 0.0;
    };
    struct Joint
    {
        bool known = false;
        // The guess first, then the extreme cases.
        std::array<Case, 5> cases{};
    };
    using Joints = std::array<Joint, ArmJointCount>;

    Joints jointsAt(qint64 tNs) const;
    void advanceTo(qint64 tNs);
    void turn(Joint &joint, int code, double seconds) const;
    static void setKnownAt(Joint &joint, double degrees, int bearing);
    // The seconds the motion of `code` takes to bring one case to `target` (0 when it is there).
    double secondsFor(const Case &c, int code, double target) const;

    TravelCalibration m_calibration;
    Joints m_joints{};
    JointAngles m_start = homePose();
    int m_code = 0;
    qint64 m_timeNs = 0;
};
