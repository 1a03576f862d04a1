#pragma once

#include "ArmFaults.h"
#include "ArmMotion.h"

#include <QObject>
#include <QString>

#include <array>

class VirtualArm;

// Where the simulated arm stands at one moment.
struct ArmPose
{
    std::array<double, ArmJointCount> degrees{};
    // The joint's motor is driving it against an end stop: the clutch slips and the angle holds.
    std::array<bool, ArmJointCount> straining{};

    double angle(ArmJoint joint) const { return degrees[static_cast<int>(joint)]; }
    bool isStraining(ArmJoint joint) const { return straining[static_cast<int>(joint)]; }
    bool anyStraining() const;

    // "base 0.0 shoulder 90.0 elbow -90.0 wrist 0.0 gripper 30.0", a joint pushing against its stop
    // followed by " (straining)".
    QString toText() const;

    static ArmPose home();
};

// The arm's motors driven by command codes over time. Code 0 stops every motor; codes 1 to 10 turn
// one motor in one direction at its fixed speed until the next code (see armJointMotions), and a
// combined code (the interface kit's several motors at once) turns each of its joints. Only one code is
// in force at a time, as on the real arm, so a new code replaces the previous motion.
//
// Time is passed in (nanoseconds on any monotonic clock, the same clock throughout), which keeps the
// simulation deterministic: nothing runs between calls, and a pose is computed when asked for. Times
// earlier than the last applied code count as that moment; the arm never runs backwards in time.
//
// By default the arm is the table's. With faults (setFaults) it is a realistic one: speeds off the
// table each way and falling as the batteries run down, play in the gears, and give at the end stops;
// those of ArmFaults::fromSeed() in closed form, those of ArmFaults::realistic() (start-up lag,
// coasting, a load that changes with the angle, a slipping clutch, batteries that sag under a stall)
// step by step, a few milliseconds at a time.
class ArmSimulator : public QObject
{
    Q_OBJECT
public:
    explicit ArmSimulator(QObject *parent = nullptr);

    // The arm's faults from tNs on: the pose so far stands, and the gears start without play taken up.
    void setFaults(const ArmFaults &faults, qint64 tNs = 0);
    const ArmFaults &faults() const { return m_faults; }

    // The motion of `code` starts at tNs; the previous one ends there. A code that is no motion stops
    // the motors, as the arm's controller ignores what it does not know.
    void apply(int code, qint64 tNs);

    // The pose at tNs of the motion in force; does not change the simulation.
    ArmPose poseAt(qint64 tNs) const;

    // Puts the arm back in its home pose at tNs. A motor whose code is still in force keeps turning
    // from there: the simulation only stops when the program sends a stop. The batteries stay as drained
    // as they were.
    void reset(qint64 tNs);

    int code() const { return m_code; }
    qint64 lastEventNs() const { return m_timeNs; }

    // The joint the code in force turns, and its direction (+1 towards its maximum, -1 towards its
    // minimum); false for code 0 and unknown codes.
    static bool jointForCode(int code, ArmJoint *joint, int *direction);
    // The code that turns the same motor the other way (c <-> c + 5); 0 stays 0.
    static int oppositeCode(int code);

    // A motor turns at tNs: a code other than 0 is in force and its joint has not reached its stop.
    bool isMovingAt(qint64 tNs) const;
    // When a moving joint reaches its end stop (the first, of several); -1 while no joint moves (from
    // the last event on) or every joint is at its stop already.
    qint64 endStopNs() const;
    // For an arm with dynamics: when the motion of `code`, in force from tNs on (started there unless
    // it is in force already), would bring its joint to its stop; tNs when it is pushing there already,
    // -1 when it never would or the arm has no dynamics. The operator's eyes, for a benchmark.
    qint64 endStopNsIf(int code, qint64 tNs) const;

    // Follows the codes the virtual arm receives, on the clock of their timestamps. A report whose code
    // could not be read changes nothing. Unplugging the arm stops every motor, as a stop code would.
    void attach(VirtualArm &arm);

Q_SIGNALS:
    void codeApplied(int code, qint64 tNs);
    void poseReset(qint64 tNs);

private:
    // Everything that changes as the motors run.
    struct State
    {
        std::array<double, ArmJointCount> degrees{};
        // How far each motor is ahead of its joint within the play, in degrees of the joint: +half the
        // backlash when the gears bear towards the maximum, -half towards the minimum.
        std::array<double, ArmJointCount> play{};
        // Seconds the motors have run, for the batteries.
        double runSeconds = 0.0;
        // Each joint of the motion in force that is pushing against its stop.
        std::array<bool, ArmJointCount> straining{};
        // Seconds since the code in force went out, for the start-up lag.
        double motionSeconds = 0.0;
        // A joint that runs on after its motor stopped: which way, how long it has left of the whole
        // run-on, and its speed when it was let go.
        struct Coast
        {
            int direction = 0;
            double left = 0.0;
            double total = 0.0;
            double rate = 0.0;
        };
        std::array<Coast, ArmJointCount> coast{};
        // How far the batteries have sagged under stalls, as a share of speed.
        double sag = 0.0;
    };

    State stateAt(qint64 tNs) const;
    // The step-by-step simulation of faults with dynamics, `seconds` on from `state`.
    void integrate(State &state, int code, double seconds) const;
    qint64 arrivalNs(State state, int code, qint64 fromNs) const;
    // Every joint the code turns is pushing against its stop (none turns).
    static bool stalled(const State &state, int code);
    double dynamicRate(const State &state, int code) const;
    // Turns joint i by `degrees` of motor the way `direction`, through its play first, up to where its
    // clutch slips short of the stop; true when it got there.
    bool turnJoint(State &state, int i, int direction, double degrees) const;
    void advanceTo(qint64 tNs);
    // Degrees per second of the motion of `code` (one joint's), the batteries as they are now.
    double rateNow(int code) const;

    ArmFaults m_faults;
    State m_state;
    // The last pose worked out step by step since the last event, so that asking again later goes on
    // from there.
    mutable State m_cache;
    mutable qint64 m_cacheNs = -1;
    int m_code = 0;
    qint64 m_timeNs = 0;
};
