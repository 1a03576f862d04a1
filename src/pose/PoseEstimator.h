#pragma once

#include "ArmMotion.h"
#include "TravelCalibration.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

// One angle per joint, indexed by ArmJoint, in the degrees of armJointMotions.
using JointAngles = std::array<double, ArmJointCount>;

// How much the estimate knows of one joint.
enum class PoseKnowledge {
    // Nothing: it may be anywhere in its range.
    Unknown,
    // Where it is relative to the start pose, not where its ends are: "This is the start pose" says
    // where the arm is, not where that is in each joint's range.
    FromStart,
    // Where it is in its range, since it was driven surely into an end (by a long motion, the time
    // limit or the calibration): the end stops apply to it.
    AtEnds,
};

// What the estimate says of one joint.
struct JointEstimate
{
    PoseKnowledge knowledge = PoseKnowledge::Unknown;
    // Known at all: from the start or at its ends.
    bool known = false;
    // Not known, or with a worst case wider than is of use (UncertainShare of its range; the band of a
    // joint known at its ends with measured rates is narrower): its end stops give way to the time
    // limit.
    bool uncertain = true;
    // The best guess of where it is in its range, and the band it is in (its whole range while it is
    // not known at its ends).
    double degrees = 0.0;
    double low = 0.0;
    double high = 0.0;
    // How far it is from the start pose: the guess and the band, at the worst case (meaningful once a
    // start is set).
    double offset = 0.0;
    double offsetLow = 0.0;
    double offsetHigh = 0.0;

    // The "± N°" of the joint, in degrees: of its place in its range when known at its ends, of its
    // distance from the start when known from the start, half its range when unknown.
    double uncertainty() const;
    // How far it may be from the guess of its distance from the start.
    double offsetUncertainty() const;
};

// The estimate of the whole arm at one moment.
struct PoseEstimate
{
    std::array<JointEstimate, ArmJointCount> joints{};
    // A start pose is set: Return to start has somewhere to go.
    bool started = false;

    const JointEstimate &joint(ArmJoint j) const { return joints[armJointIndex(j)]; }
    // Every joint known, from the start or at its ends.
    bool known() const;
    JointAngles degrees() const;
    // The largest uncertainty of any joint, in degrees.
    double largestUncertainty() const;
    // For the corner of the arm picture: "Pose unknown" while no joint is known, else one line per
    // joint: "Base: known at its ends ± 2°", "Elbow: known from the start ± 4°",
    // "Wrist: unknown", with " (uncertain)" after a joint whose band is too wide to be of use. Each
    // figure is rounded up, so the line never claims more than the estimate does.
    QString statusText() const;
    // "base ±1°, shoulder ±2°, ...": how far each joint may be from its start pose.
    QString offsetBandText() const;
    // "base 12° ±3°, shoulder unknown, ...": where each joint is in its range.
    QString poseText() const;
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
// estimate follows the joint's extreme cases: its rates off by the whole tolerance (25 % uncalibrated,
// some 15 % calibrated) one way or the other, the longest start-up lag and coasting or none, the most
// play in its gears or none, the most give off a stop or none. Every case stops at the end stops as
// the joint does, so the cases spread with every motion and every reversal, and meet again at an end
// that the slowest of them has surely reached. Where they are is where the joint may be at the worst:
// that decides whether a joint is surely at an end, whether its end stops still apply, and the band of
// its distance from the start (on which Return to start and its line rest). Where the joint's place in
// its range is not known, the cases run from places spread over the whole range, so that an end met
// on the way is met by some of them: the band of its distance from the start then holds whether or
// not the joint stopped at an end. The band of a joint known at its ends whose rates were measured is
// narrower: the arm's figures are independent of one another, so it follows each figure on its own
// and takes their errors together as independent errors are taken (the root of the sum of squares),
// with the share of each motion that no figure follows on top.
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
    // A joint whose band passes this share of its range is shown as uncertain, and its end stops give
    // way to the time limit.
    static constexpr double UncertainShare = 0.10;
    // How far a rate may be from the one the estimate takes, as a share of it, in two parts: one that
    // both ways of the joint share (the motor, its gears, the batteries), and one that sets the two ways
    // apart (gravity, the motor's own bias). An error both ways share cancels when the joint goes back
    // as far as it came; one that sets them apart adds up over every tap to and fro, which is why the
    // second is kept apart and is the smaller.
    // - For the table's figures: the arm's own speed, and how far its lifting and lowering differ from
    //   the table's gravity.
    static constexpr double TableTolerance = 0.17;
    static constexpr double TableTiltTolerance = 0.08;
    // - For a measured rate: the operator's timing over the travel time (each way timed on its own, so
    //   in both parts), the batteries' drain since (both ways alike), and the load, which changes with
    //   the joint's angle while the measurement is an average over the whole travel (for a joint that
    //   lifts, the angle that slows lifting speeds lowering).
    static constexpr double DrainTolerance = 0.02;
    static constexpr double LoadTolerance = 0.04;
    static constexpr double KeyTimingSeconds = 0.3;
    // What no fixed figure of an arm follows: its speed changes with the load and as the batteries sag
    // after a stall, so that a way back does not repeat the way out exactly. Each motion may go this
    // share of how far it went further or shorter than the arm's fixed figures say; motions apart in
    // place and time do so each their own way, so their shares add up as independent errors do (the
    // root of the sum of squares). Only an end the joint has surely reached takes it away, from where
    // it is, not from where it started.
    static constexpr double VariableShare = 0.05;

    explicit PoseEstimator(const TravelCalibration &calibration = {});

    // Rates from these measurements from tNs on; what the estimate says up to then stands.
    void setCalibration(const TravelCalibration &calibration, qint64 tNs);
    const TravelCalibration &calibration() const { return m_calibration; }

    // A code sent to the arm at tNs: its motion replaces the one in force. 0, and any code the arm does
    // not know, stops the motors. A combined code (ArmMotion.h) turns each of its joints.
    void apply(int code, qint64 tNs);
    int code() const { return m_code; }

    // "This is the start pose": wherever the arm stands at tNs is where returnToStart() brings it back
    // to. Every joint becomes known from the start; a joint known at its ends stays so, and one that
    // was not is not made so: its place in its range is as unknown as before.
    void declareStart(qint64 tNs);
    // The operator says the joint of `code` has reached the end `code` drives towards (the key of the
    // calibration): that joint becomes known at its ends.
    void markAtEnd(int code, qint64 tNs);
    // The joint of `code` was driven on past where the estimate put its end (the operator knew better):
    // its place in its range is no longer known, only its distance from the start.
    void overridden(int code, qint64 tNs);
    // Every joint unknown again, and the start pose gone, for an arm that may have been moved by hand.
    void forget(qint64 tNs);

    PoseEstimate estimateAt(qint64 tNs) const;
    bool known(qint64 tNs) const { return estimateAt(tNs).known(); }
    bool started() const { return m_started; }
    const JointAngles &startPose() const { return m_start; }

    // For the end-stop rule. All three answer for the motion of `code` as it would run from tNs: the
    // motion in force carries on, another one starts there (and first turns through the play when it
    // reverses its joint). For a combined code they answer for the joint that gets to its end first.
    // - atEnd: its joint is known at its ends, not uncertain, and the estimate puts it at the end
    //   `code` drives towards.
    bool atEnd(int code, qint64 tNs) const;
    // - secondsToEnd: how long until the estimate puts it there (0 when it is there); -1 when the joint
    //   is not known at its ends or is uncertain (the time limit alone watches it then), or `code` is
    //   no motion. With `first`, the code of the joint whose end that is.
    double secondsToEnd(int code, qint64 tNs, int *first = nullptr) const;
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
    // briefly rather than grinding for a wide uncertainty. A joint whose distance from the start has
    // grown too uncertain, even one the guess puts there, is first driven surely into a stop where
    // the way back from it is surer. Empty when the pose is not known, or the arm is at the start
    // already and surely enough.
    QList<PlanStep> returnToStart(qint64 tNs) const;

    // The rate the estimate takes for the motion of `code`, in degrees per second (0 for no motion),
    // and how far off it may be, as a share of it: in all, and the part that sets its two ways apart.
    double rate(int code) const;
    double tolerance(int code) const;
    double tiltTolerance(int code) const;

    // What the end-stop rule says: "Elbow at its upper end (estimated)".
    static QString endReachedText(int code);
    static JointAngles homePose();

private:
    // One way the joint may be: its own rates, lag, coasting and play, and where that puts it.
    struct Case
    {
        // +1: the rates err fast both ways; -1: slow both ways. 0: the guess, at the figures as taken.
        int lean = 0;
        // +1: the joint errs towards the maximum (faster that way than the guess's ratio of the two
        // ways, slower the other, coasting more that way); -1 the reverse.
        int tilt = 0;
        // The start-up lag and the coasting both ways, in seconds.
        double lag = 0.0;
        double coast = 0.0;
        // How fast the batteries take speed away, per second the motors have run.
        double drain = 0.0;
        // How far the joint comes back off its maximum stop and off its minimum one once let go.
        double giveAtMax = 0.0;
        double giveAtMin = 0.0;
        // The play in the gears, in degrees of the joint.
        double playSize = 0.0;
        // How far the motor is ahead of the joint within it: -playSize / 2 bearing towards the minimum
        // to +playSize / 2 towards the maximum.
        double play = 0.0;
        double degrees = 0.0;
        // Where this case had the joint when the start pose was set.
        double start = 0.0;
    };
    // The cases come in two sets.
    // - The guess and the corners: every figure at one extreme or the other, all at once (the slow
    //   ones with the batteries running down at the most, the fast ones without), from each of
    //   StartSpread places. The slowest of them decides when a joint is surely at an end, and their
    //   spread is the band of a joint's distance from the start and of its place while its ends are
    //   not known.
    static constexpr int CornerKinds = 32;
    static constexpr int SureCount = 1 + CornerKinds * 5;
    // - The figures' cases, which go with the guess: the nominal figures, then for each figure of the
    //   arm that may be off the cases with that one figure at its extremes and the others nominal.
    //   The figures are independent of one another, so the band of a joint known at its ends with
    //   both its rates measured takes how far each figure's cases stray from the nominal one together
    //   as independent errors are taken (the root of the sum of squares), not as their worst cases all
    //   at once; the share of each motion that no figure follows (VariableShare) comes on top, as it
    //   stands for what an arm unlike the model does beyond its figures. A rate is one figure, the
    //   four corners of its two parts: each way off by its whole tolerance, the two ways apart by at
    //   most the tilt.
    enum Figure {
        Nominal,
        RateCorners,
        PlayNone = RateCorners + 4,
        PlayMost,
        LagNone,
        LagMost,
        CoastNone,
        CoastMost,
        GiveNone,
        GiveMost,
        DrainMost,
        FigureCases
    };
    static constexpr int CaseCount = SureCount + FigureCases;
    struct Joint
    {
        PoseKnowledge knowledge = PoseKnowledge::Unknown;
        std::array<Case, CaseCount> cases{};
        // How far the truth may be beyond the cases (VariableShare): the squares of it for the motions
        // done since the joint's last sure end, how far the guess has gone in the motion in force, and
        // the squares of it where they had the joint at the start pose.
        double looseSquares = 0.0;
        double motionDegrees = 0.0;
        double looseStartSquares = 0.0;

        double looseNow() const;
        double looseFromStart() const;
        // The motion in force is done: its share joins the others'.
        void settle();
        // The joint is surely at an end: it is where the cases are.
        void tighten();
        // How far the truth may be from the guess the way of `direction`, by the figures' cases as
        // independent errors and the loose share.
        double figureStray(int direction) const;
    };
    using Joints = std::array<Joint, ArmJointCount>;

    Joints jointsAt(qint64 tNs) const;
    // One joint at tNs: a copy when it moves, else the joint as it stands.
    const Joint &jointAt(int i, qint64 tNs, Joint &moved) const;
    // The code that turns `joint` in the motion in force; 0 when it stands.
    int partInForce(ArmJoint joint) const;
    // secondsToEnd of the joint of a combined code whose end comes first.
    double endOfParts(int code, qint64 tNs, int *first = nullptr) const;
    void advanceTo(qint64 tNs);
    // The motion of `code` from `fromSeconds` to `toSeconds` after it began.
    void turn(Joint &joint, int code, double fromSeconds, double toSeconds) const;
    // The motion of `code` stops: the motor runs on a little, and a joint that was pushing against its
    // stop comes back off it.
    void stopTurning(Joint &joint, int code, double ranSeconds) const;
    // Moves one case by `turned` degrees of motor the way `direction`, through its play first.
    static void move(Case &c, const ArmJointMotion &m, int direction, double turned);
    // The guess moved by `degrees`: the part of it no fixed figure follows widens the band.
    static void loosen(Joint &joint, double degrees);
    // Every case where the guess's distance from the start holds, spread over the whole range (the
    // figures' cases staying with the guess).
    static void spread(Joint &joint, ArmJoint which);
    static void setKnownAt(Joint &joint, double degrees, int bearing);
    double lagSeconds(const Case &c, int direction) const;
    double coastSeconds(const Case &c, int direction) const;
    double caseRate(const Case &c, int code) const;
    // The seconds the motion of `code`, started now, takes to bring one case to `target` (0 when it is
    // there).
    double secondsFor(const Case &c, int code, double target, double ranSeconds) const;
    double ranSecondsAt(qint64 tNs) const;
    // For the return plan: the joint's start pose rests against one of its stops.
    static bool startsAtStop(const PoseEstimator &arm, const ArmJointMotion &m, double target);
    static void playMoveToStart(PoseEstimator &a, qint64 &at, QList<PlanStep> &out, ArmJoint joint, double target,
                                int homeTowards);

    TravelCalibration m_calibration;
    Joints m_joints{};
    JointAngles m_start = homePose();
    bool m_started = false;
    int m_code = 0;
    // When the motion in force began.
    qint64 m_codeNs = 0;
    qint64 m_timeNs = 0;
    // Seconds the motors had run when the motion in force began.
    double m_runSeconds = 0.0;
};
