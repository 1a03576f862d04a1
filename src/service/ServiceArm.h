#pragma once

#include "ArmMotion.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

// What the service asks of the arm, and what it hears from it: the owner of the arms (the window, or
// tessaro-cli serve) implements it, and ServiceServer speaks for it on the socket. Every command is
// made on the owner's thread; a command that takes time carries a token and ends with a signal that
// carries the same token.

// One joint driven one way: +1 towards its maxDegrees (Up, CCW, Open), -1 towards its minimum.
struct JointDrive
{
    ArmJoint joint = ArmJoint::Base;
    int direction = 1;

    friend bool operator==(const JointDrive &, const JointDrive &) = default;
};
// A motion: at most one drive per joint, in joint order. Empty: every motor stopped.
using ServiceMotion = QList<JointDrive>;

// How a motion ended.
enum class MotionEnd {
    Done,         // it ran the time it was given
    Stopped,      // a stop: the client's, another client's, the owner's, or a motion that replaced it
    NotRenewed,   // a held motion whose renewal did not come in time
    EndStop,      // the estimate's end stop (message: "Elbow at its upper end (estimated)")
    TimeLimit,    // the runaway limit (message: "Wrist stopped after 9.0 s: time limit")
    Disconnected, // the arm went away
    Refused,      // it never started (message says why: no arm, a run in progress, a combined motion
                  // the HID board cannot drive)
};

struct MotionResult
{
    MotionEnd end = MotionEnd::Done;
    QString message;
    // How long the motors ran, in ms.
    qint64 ranMs = 0;
};

// One step of a script given as a list: the step name as a script file writes it ("ElbowUp", "Pause")
// and its time.
struct ServiceStep
{
    QString function;
    double seconds = 0.0;

    friend bool operator==(const ServiceStep &, const ServiceStep &) = default;
};

// How a run (a script played, or Return to start) ended.
enum class RunOutcome { Finished, Stopped, Disconnected, Failed, Refused };

struct RunResult
{
    RunOutcome outcome = RunOutcome::Finished;
    // Why it failed or was refused; for a finished run, the steps cut short, one a line.
    QString message;
    double seconds = 0.0;
    // Where it was when it ended (1 ..), 0 when it never started.
    int step = 0;
    int repetition = 0;
};

// What the pose estimate says of one joint (see PoseEstimator).
enum class JointKnowledge { Unknown, FromStart, AtEnds };

struct JointPose
{
    JointKnowledge knowledge = JointKnowledge::Unknown;
    double degrees = 0.0;
    // Where it surely is.
    double low = 0.0;
    double high = 0.0;
    // The "± N°" of the joint.
    double band = 0.0;
    bool uncertain = true;
    // How far it may be from the start pose, once one is set and the joint is known.
    double startBand = 0.0;

    friend bool operator==(const JointPose &, const JointPose &) = default;
};

struct ServicePose
{
    std::array<JointPose, ArmJointCount> joints{};
    // A start pose is set: Return to start has somewhere to go.
    bool startSet = false;

    friend bool operator==(const ServicePose &, const ServicePose &) = default;
};

class ServiceArm : public QObject
{
    Q_OBJECT

public:
    using Token = quint64;
    using QObject::QObject;

    // --- Connection
    virtual bool ready() const = 0;
    // One line per arm: "HID board 1e6f:1113, /dev/hidraw2".
    virtual QStringList arms() const = 0;

    // --- Motion
    // Starts `motion` (not empty): for `ms` milliseconds when ms > 0, else until stopMotion or
    // stopEverything. A motion on is replaced, and ends as Stopped. Ends with motionEnded(token), also
    // when refused.
    virtual void startMotion(Token token, const ServiceMotion &motion, int ms) = 0;
    // Stops the motion of `token` if it is still the one in force.
    virtual void stopMotion(Token token) = 0;
    // Every motor stopped, a run or Return to start included, at once.
    virtual void stopEverything() = 0;

    // --- Light
    virtual bool setLight(bool on, QString *error) = 0;
    virtual bool light() const = 0;

    // --- Pose
    virtual ServicePose pose() const = 0;
    // "This is the start pose".
    virtual bool declareStartPose(QString *error) = 0;
    // Ends with runEnded(token).
    virtual void returnToStart(Token token) = 0;

    // --- Runs: each ends with runEnded(token), with runProgress(token, …) at each step.
    virtual void playFile(Token token, const QString &path, int repetitions) = 0;
    virtual void playSteps(Token token, const QList<ServiceStep> &steps, int repetitions) = 0;

Q_SIGNALS:
    void motionEnded(ServiceArm::Token token, const MotionResult &result);
    void runEnded(ServiceArm::Token token, const RunResult &result);
    void runProgress(ServiceArm::Token token, int step, int repetition);
    void connectionChanged(bool ready, const QStringList &arms);
    // The motion in force changed, whoever asked for it (an empty motion: none).
    void motionChanged(const ServiceMotion &motion);
    void poseChanged(const ServicePose &pose);
    void lightChanged(bool on);
};

Q_DECLARE_METATYPE(MotionResult)
Q_DECLARE_METATYPE(RunResult)
Q_DECLARE_METATYPE(ServicePose)
