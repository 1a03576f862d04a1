#pragma once

#include "ArmOutlet.h"
#include "EndStopGuard.h"
#include "PoseEstimator.h"
#include "RunSteps.h"
#include "RunawayLimit.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

// Every code on its way to the arms passes here: the end-stop rule and the run's time limits decide
// what goes out, the way out (`ArmOutlet`) sends it with its deadline, and what went out is noted for
// the pose. The gate holds the send lock, across each whole send, so that what the estimate hears is
// exactly what went out, in order, and a stop at an estimated end goes to the motion it was meant for
// and to no later one.
//
// Locks: the send lock, then the outlet's and whatever it takes (each link's, each writer's). Every
// member takes the send lock itself; none is to be called holding it. Any thread.
class MotionGate
{
public:
    // Where a run stands, as the gate sends: the run's timing thread playing, the row and repetition
    // of the step whose code goes out, and whether it is a return to start.
    struct RunState
    {
        bool playing = false;
        int row = 0;
        int repetition = 0;
        bool returning = false;
    };
    using RunStateSource = std::function<RunState()>;
    // A panel motion's deadline at the way out comes this long after its runaway limit, which stops
    // it first as a second click would; the deadline is there for when the limit's timer cannot run.
    static constexpr int PanelDeadlineGraceMs = 200;

    struct Sent
    {
        // Some arm took the code: the pose heard it.
        bool heard = false;
        // Every arm took it.
        bool allTook = false;
    };
    // The motion in force had its deadline and was stopped: its code, and whether it was the panel's.
    struct DeadlineStop
    {
        int code = 0;
        bool panel = false;
    };

    // The outlet and the limit must outlive the gate.
    MotionGate(ArmOutlet &outlet, const RunawayLimit &limit, RunStateSource run);

    // Sends code through the rule; error says why it did not reach every arm (the first failure).
    Sent send(qint16 code, QString *error = nullptr);
    // No arm of ours is open: whatever was in force is over, and must never be sent again.
    void noArm();
    // The arm was lost: it stopped, and may be moved by hand before it is back.
    void armLost();
    ArmOutlet::Delivery setLight(bool on);
    // The outlet's deadline for the send `serial` passed: the stop, unless another code went out.
    std::optional<DeadlineStop> stopAtDeadline(quint64 serial);
    // The panel's motion of code may run until `leftMs` from now, plus the grace.
    void renewPanelMotion(int code, qint64 leftMs);

    // The end stop of the last code sent: when it is due (0: none), and the stop itself once due (a
    // run's step is stopped here, with the run's lock held; a panel motion is left to its caller).
    qint64 endStopDueNs() const;
    struct EndStop
    {
        EndStopGuard::Due due;
        bool inRun = false;
    };
    std::optional<EndStop> stopAtEnd(bool ready);
    // A panel start the rule refuses (see EndStopGuard::refuses); the rule's stop of a panel motion.
    bool refusesStart(int code, int *endCode = nullptr);
    void noteEndStopped(int code);

    // A run starts: the limits of its motions are taken, no cut step or end stop carries over.
    void runStarts();
    QList<CutStep> cutSteps() const;

    PoseEstimate estimate() const;
    PoseEstimator estimator() const;
    // Changes the estimate under the send lock.
    void changePose(const std::function<void(PoseEstimator &pose, qint64 nowNs)> &change);
    void setMeasuring(bool measuring);
    void forgetPose();

    // Whether the last stop sent reached every arm (tries again included), and whether the last code
    // sent was a stop every arm took (a guard may stand down).
    bool lastStopConfirmed() const { return m_lastStopConfirmed.load(); }
    bool stopConfirmed() const { return m_stopConfirmed.load(); }
    // A stop that did not go out: called on the sending thread, the failure kept for takeStopFailure.
    void setStopFailedHandler(std::function<void()> handler) { m_stopFailed = std::move(handler); }
    QString takeStopFailure();

private:
    Sent sendLocked(qint16 code, QString *error);
    void noteDelivery(qint16 out, const ArmOutlet::Delivery &delivery);
    qint64 motionDeadlineNs(qint16 code, qint64 nowNs, bool inRun, const EndStopGuard::Reckoning &reckoning);

    ArmOutlet &m_outlet;
    const RunawayLimit &m_limit;
    RunStateSource m_run;
    std::function<void()> m_stopFailed;

    mutable std::mutex m_lock;
    EndStopGuard m_endStops;
    RunMotionLimits m_runLimits;
    QList<CutStep> m_cutSteps;
    // The code the arms were sent last, with its step's row and repetition in a run.
    int m_lastCode = 0;
    int m_lastRow = 0;
    int m_lastRepetition = 0;
    QString m_stopFailure;
    std::atomic<bool> m_lastStopConfirmed{true};
    std::atomic<bool> m_stopConfirmed{false};
};
