#pragma once

#include "ServiceArm.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// The service's lines: newline-delimited JSON, one object a line (docs/protocol.md). Reading a request
// is a pure function of its bytes, so that it can be fuzzed; writing is a handful of formatters.
namespace ServiceProtocol {

inline constexpr int Version = 1;
// A line longer than this (its newline not counted) is an error, and its writer is cut off.
inline constexpr qsizetype MaxLineBytes = 64 * 1024;
// A motion given a time runs at most this long; a held one must be renewed within its holdMs.
inline constexpr int MaxMoveMs = 60000;
inline constexpr int MinHoldMs = 50;
inline constexpr int MaxHoldMs = 1000;
inline constexpr int DefaultHoldMs = 500;
inline constexpr int MaxRepetitions = 32767;
inline constexpr int MaxSteps = 32766;
inline constexpr double MaxStepSeconds = 1e9;
// Pose events: the rate a client gets when it names none, and the fastest it may ask for.
inline constexpr double DefaultPoseHz = 10.0;
inline constexpr double MinPoseHz = 0.1;
inline constexpr double MaxPoseHz = 50.0;

enum class Command {
    Take,
    Release,
    Status,
    Arms,
    Move,
    Hold,
    Renew,
    Stop,
    Light,
    Pose,
    SetStart,
    ReturnToStart,
    Play,
    Subscribe,
    Unsubscribe,
};

// The kinds of event a client may subscribe to, as bits.
enum EventKind : unsigned {
    ConnectionEvent = 1u << 0,
    MotionEvent = 1u << 1,
    RunEvent = 1u << 2,
    PoseEvent = 1u << 3,
    LightEvent = 1u << 4,
    ControlEvent = 1u << 5,
};
using EventMask = unsigned;
// "connection", "motion", "run", "pose", "light", "control"
QString eventName(EventKind kind);

struct Request
{
    QJsonValue id;
    Command command = Command::Status;
    // move, hold
    ServiceMotion motion;
    int ms = 0;
    int holdMs = DefaultHoldMs;
    // light: the light to set; none asks what it is.
    std::optional<bool> light;
    // play: a file, or steps.
    QString file;
    QList<ServiceStep> steps;
    int repetitions = 1;
    // subscribe, unsubscribe
    EventMask events = 0;
    std::optional<double> poseHz;
};

// A line read: the request, or why it is none, with the id when one could be read (null otherwise).
struct Parsed
{
    std::optional<Request> request;
    QJsonValue id;
    QString error;
};
// `line` without its newline.
Parsed parseRequest(QByteArrayView line);

// Whether the command moves the arm or changes what it knows, and so needs control.
bool needsControl(const Request &request);

// The words of the joints and their ways: "elbow", "up"; "base", "ccw"; "gripper", "open".
QString jointName(ArmJoint joint);
QString directionWord(ArmJoint joint, int direction);

// Lines to send, each ending in a newline.
QByteArray greetingLine(qint64 pid, const QString &owner);
QByteArray replyLine(const QJsonValue &id, QJsonObject fields = {});
QByteArray errorLine(const QJsonValue &id, const QString &message, QJsonObject fields = {});
QByteArray eventLine(EventKind kind, QJsonObject fields);

QJsonObject motionJson(const ServiceMotion &motion);
QJsonObject poseJson(const ServicePose &pose);
// The fields of a motion's or a run's reply: how it ended, and the rest.
QJsonObject motionResultJson(const MotionResult &result);
QJsonObject runResultJson(const RunResult &result);
QString motionEndWord(MotionEnd end);
QString runOutcomeWord(RunOutcome outcome);

// The greeting a server sends first, as a client reads it.
struct Greeting
{
    QString program;
    int protocol = 0;
    qint64 pid = 0;
    QString owner;
};
std::optional<Greeting> parseGreeting(QByteArrayView line);

} // namespace ServiceProtocol
