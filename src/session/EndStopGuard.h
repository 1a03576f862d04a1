#pragma once

#include "ArmMotion.h"
#include "PoseEstimator.h"

#include <array>
#include <optional>

// The end-stop rule, with the pose it reckons from. The arm has no sensors: the estimate says how long
// a motion may run before its joint is at the end it drives towards, and the rule stops it there (a
// panel motion as a second click would, a run's step by a stop in its place) or refuses to start it.
// The operator may know better: the same motion asked for again soon after the rule said no goes past
// the estimated end, for no longer than what is left of its joint's override budget.
//
// Not locked: the session's send lock guards it, so that what the estimate hears is exactly what went
// out, in order, and an end stop goes to the motion it was meant for and to no later one.
class EndStopGuard
{
public:
    // The same motion asked for again within this time of the rule's stop or refusal goes past the
    // estimated end, once.
    static constexpr int OverrideMs = 2000;
    // Overrides of one joint towards one end go past it this long in all, until the joint has been
    // driven the other way.
    static constexpr int OverrideBudgetMs = 500;

    // What the rule says of a code about to go out.
    struct Reckoning
    {
        // How long its motion may run before its joint is at its end, in s: 0 there already, -1 when
        // no end is watched (the joint unknown, a return plan, a measurement; the runaway limit alone
        // watches it then).
        double toEnd = -1.0;
        // The motion goes past an estimated end, let through by an override.
        bool overriding = false;
        // The code of the joint whose end that is (of several joints at once, the one there first).
        int endCode = 0;
    };
    // The end stop of the last code sent, once due.
    struct Due
    {
        int code = 0;
        int row = 0;
        int repetition = 0;
        bool overridden = false;
        // The joint at its end: `code` itself, or one of several joints driven at once.
        int endCode = 0;
    };

    PoseEstimator &pose() { return m_pose; }
    const PoseEstimator &pose() const { return m_pose; }
    // While a calibration measures a joint's travel, no end stop cuts the motions it sends.
    void setMeasuring(bool measuring) { m_measuring = measuring; }

    // A return plan drives into the stops on purpose, for no longer than the estimate allows.
    Reckoning reckon(int code, qint64 nowNs, bool inRun, bool returning);
    // The code `out` reached the arm in place of `asked` (the same, or a stop), as step `row` of
    // repetition `repetition` of a run (0 outside one).
    void sent(int out, int asked, const Reckoning &reckoning, int row, int repetition, qint64 nowNs);
    // The arm was lost: it stopped, and may be moved by hand before it is back.
    void lost(qint64 nowNs);
    // Every joint unknown again.
    void forget(qint64 nowNs);

    // When the end stop of the last code sent is due (monotonic ns), 0 for none.
    qint64 dueNs() const { return m_dueSerial == m_serial ? m_dueNs : 0; }
    // The end stop, now that it is due; nullopt when another code went out meanwhile.
    std::optional<Due> takeDue();

    // A panel start towards an end: true when the rule refuses it; false when the estimate allows it or
    // an override lets it past (the motion then goes on for what is left of the budget). Several joints
    // at once are refused while any of them is at the end it would drive towards, with no override;
    // `endCode` is the code of the joint at its end.
    bool refuses(int code, qint64 nowNs, int *endCode = nullptr);
    // The rule stopped the panel's motion of code at its end: asked for again in time, it passes.
    void noteStopped(int code, qint64 nowNs);
    qint64 overrideLeftNs(int code) const;
    // A motion let past its end is on.
    bool overrideOn() const { return m_overrideStartNs != 0; }

private:
    qint64 &overrideUsedNs(const ArmCodeMotion &motion, bool towardsMax);

    PoseEstimator m_pose;
    bool m_measuring = false;
    // Codes that have gone out, counted; an end stop is for one of them.
    quint64 m_serial = 0;
    int m_lastCode = 0;
    // The end stop of the motion in force: its send, its code, when it is due (ns; 0 for none) and
    // the run's step it belongs to.
    quint64 m_dueSerial = 0;
    qint64 m_dueNs = 0;
    Due m_due;
    // The panel motion the rule stopped or refused last, and when: asked for again in time, it passes.
    int m_refusedCode = -1;
    qint64 m_refusedNs = 0;
    // The motion that was let past its estimated end; it stops when its joint's override is used up.
    int m_overriding = -1;
    // When the override motion went out (0: none on), and what overrides of each joint's ends (towards
    // its minimum, its maximum) have used since it was last driven the other way, in ns.
    qint64 m_overrideStartNs = 0;
    std::array<std::array<qint64, 2>, ArmJointCount> m_overrideUsedNs{};
};
