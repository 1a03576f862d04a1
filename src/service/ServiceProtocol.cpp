#include "ServiceProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <utility>

namespace ServiceProtocol {

namespace {

struct CommandName
{
    const char *name;
    Command command;
};
constexpr CommandName commandNames[] = {
    {"take", Command::Take},   {"release", Command::Release},     {"status", Command::Status},
    {"arms", Command::Arms},   {"move", Command::Move},           {"hold", Command::Hold},
    {"renew", Command::Renew}, {"stop", Command::Stop},           {"light", Command::Light},
    {"pose", Command::Pose},   {"setStart", Command::SetStart},   {"returnToStart", Command::ReturnToStart},
    {"play", Command::Play},   {"subscribe", Command::Subscribe}, {"unsubscribe", Command::Unsubscribe},
};

constexpr EventKind eventKinds[] = {ConnectionEvent, MotionEvent, RunEvent,
                                    PoseEvent,       LightEvent,  ControlEvent};

// Why a field is not what it should be; empty when it is.
using Fault = QString;

Fault readInt(const QJsonObject &o, const char *key, int low, int high, int *out, bool required)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        if (required)
            return QStringLiteral("\"%1\" is missing").arg(QLatin1String(key));
        return {};
    }
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || d != std::floor(d) || d < low || d > high)
        return QStringLiteral("\"%1\" must be a whole number from %2 to %3")
            .arg(QLatin1String(key))
            .arg(low)
            .arg(high);
    *out = int(d);
    return {};
}

Fault readMotion(const QJsonObject &o, ServiceMotion *motion)
{
    const QJsonValue v = o.value(QLatin1String("joints"));
    if (!v.isObject() || v.toObject().isEmpty())
        return QStringLiteral(
            "\"joints\" must be an object naming at least one joint and its way, as {\"elbow\":\"up\"}");
    const QJsonObject joints = v.toObject();
    for (const ArmJointMotion &m : armJointMotions) {
        const QJsonValue way = joints.value(jointName(m.joint));
        if (way.isUndefined())
            continue;
        const QString word = way.toString();
        if (word == directionWord(m.joint, 1))
            motion->append({m.joint, 1});
        else if (word == directionWord(m.joint, -1))
            motion->append({m.joint, -1});
        else
            return QStringLiteral("the %1 goes \"%2\" or \"%3\"")
                .arg(jointName(m.joint), directionWord(m.joint, 1), directionWord(m.joint, -1));
    }
    if (motion->size() != joints.size()) {
        for (auto it = joints.begin(); it != joints.end(); ++it) {
            bool known = false;
            for (const ArmJointMotion &m : armJointMotions)
                known = known || it.key() == jointName(m.joint);
            if (!known)
                return QStringLiteral("no joint is called \"%1\" (base, shoulder, elbow, wrist, gripper)")
                    .arg(it.key());
        }
    }
    return {};
}

Fault readSteps(const QJsonValue &v, QList<ServiceStep> *steps)
{
    if (!v.isArray() || v.toArray().isEmpty())
        return QStringLiteral("\"steps\" must be a list of at least one {\"function\":…,\"seconds\":…}");
    const QJsonArray list = v.toArray();
    if (list.size() > MaxSteps)
        return QStringLiteral("a script holds at most %1 steps").arg(MaxSteps);
    steps->reserve(list.size());
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject step = list.at(i).toObject();
        const QJsonValue function = step.value(QLatin1String("function"));
        const QJsonValue seconds = step.value(QLatin1String("seconds"));
        const double s = seconds.toDouble(-1.0);
        if (!function.isString() || function.toString().isEmpty() || !seconds.isDouble() || !(s >= 0.0) ||
            s > MaxStepSeconds)
            return QStringLiteral("step %1 must be {\"function\": a step name, \"seconds\": 0 to %2}")
                .arg(i + 1)
                .arg(MaxStepSeconds);
        steps->append({function.toString(), s});
    }
    return {};
}

Fault readEvents(const QJsonObject &o, EventMask *mask)
{
    const QJsonValue v = o.value(QLatin1String("events"));
    if (!v.isArray())
        return QStringLiteral("\"events\" must be a list of event names");
    for (const QJsonValue &name : v.toArray()) {
        EventMask bit = 0;
        for (EventKind kind : eventKinds)
            if (name.toString() == eventName(kind))
                bit = kind;
        if (!bit)
            return QStringLiteral("no event is called \"%1\" (connection, motion, run, pose, light, control)")
                .arg(name.isString() ? name.toString() : QStringLiteral("?"));
        *mask |= bit;
    }
    return {};
}

Fault readFields(const QJsonObject &o, Request *r)
{
    switch (r->command) {
    case Command::Move:
        if (Fault f = readMotion(o, &r->motion); !f.isEmpty())
            return f;
        return readInt(o, "ms", 1, MaxMoveMs, &r->ms, true);
    case Command::Hold:
        if (Fault f = readMotion(o, &r->motion); !f.isEmpty())
            return f;
        return readInt(o, "holdMs", MinHoldMs, MaxHoldMs, &r->holdMs, false);
    case Command::Light: {
        const QJsonValue on = o.value(QLatin1String("on"));
        if (on.isBool())
            r->light = on.toBool();
        else if (!on.isUndefined())
            return QStringLiteral("\"on\" must be true or false");
        return {};
    }
    case Command::Play: {
        const QJsonValue file = o.value(QLatin1String("file"));
        const QJsonValue steps = o.value(QLatin1String("steps"));
        if (file.isUndefined() == steps.isUndefined())
            return QStringLiteral("play takes either \"file\" or \"steps\"");
        if (!file.isUndefined()) {
            if (!file.isString() || file.toString().isEmpty())
                return QStringLiteral("\"file\" must be a path");
            r->file = file.toString();
        } else if (Fault f = readSteps(steps, &r->steps); !f.isEmpty()) {
            return f;
        }
        return readInt(o, "repetitions", 1, MaxRepetitions, &r->repetitions, false);
    }
    case Command::Subscribe:
    case Command::Unsubscribe: {
        if (Fault f = readEvents(o, &r->events); !f.isEmpty())
            return f;
        const QJsonValue hz = o.value(QLatin1String("poseHz"));
        if (hz.isUndefined())
            return {};
        const double d = hz.toDouble(-1.0);
        if (r->command != Command::Subscribe || !hz.isDouble() || !(d >= MinPoseHz) || d > MaxPoseHz)
            return QStringLiteral("\"poseHz\" must be a number from %1 to %2").arg(MinPoseHz).arg(MaxPoseHz);
        r->poseHz = d;
        return {};
    }
    default:
        return {};
    }
}

QByteArray line(const QJsonObject &o)
{
    QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact);
    bytes.append('\n');
    return bytes;
}

double rounded(double degrees)
{
    return std::round(degrees * 10.0) / 10.0;
}

} // namespace

QString eventName(EventKind kind)
{
    switch (kind) {
    case ConnectionEvent:
        return QStringLiteral("connection");
    case MotionEvent:
        return QStringLiteral("motion");
    case RunEvent:
        return QStringLiteral("run");
    case PoseEvent:
        return QStringLiteral("pose");
    case LightEvent:
        return QStringLiteral("light");
    case ControlEvent:
        return QStringLiteral("control");
    }
    return {};
}

Parsed parseRequest(QByteArrayView bytes)
{
    Parsed parsed;
    QJsonParseError jsonError{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes.toByteArray(), &jsonError);
    if (jsonError.error != QJsonParseError::NoError) {
        parsed.error =
            QStringLiteral("not JSON: %1 at byte %2").arg(jsonError.errorString()).arg(jsonError.offset);
        return parsed;
    }
    if (!doc.isObject()) {
        parsed.error = QStringLiteral("a request is a JSON object");
        return parsed;
    }
    const QJsonObject o = doc.object();
    const QJsonValue id = o.value(QLatin1String("id"));
    if (!id.isDouble() && !id.isString()) {
        parsed.error = QStringLiteral("a request needs an \"id\", a number or a string");
        return parsed;
    }
    parsed.id = id;
    const QJsonValue cmd = o.value(QLatin1String("cmd"));
    Request r;
    r.id = id;
    bool known = false;
    for (const CommandName &c : commandNames) {
        if (cmd.toString() == QLatin1String(c.name)) {
            r.command = c.command;
            known = true;
        }
    }
    if (!known) {
        parsed.error = cmd.isString() ? QStringLiteral("unknown command \"%1\"").arg(cmd.toString())
                                      : QStringLiteral("a request needs a \"cmd\"");
        return parsed;
    }
    if (Fault f = readFields(o, &r); !f.isEmpty()) {
        parsed.error = f;
        return parsed;
    }
    parsed.request = std::move(r);
    return parsed;
}

bool needsControl(const Request &request)
{
    switch (request.command) {
    case Command::Move:
    case Command::Hold:
    case Command::Renew:
    case Command::SetStart:
    case Command::ReturnToStart:
    case Command::Play:
        return true;
    case Command::Light:
        return request.light.has_value();
    default:
        return false;
    }
}

QString jointName(ArmJoint joint)
{
    return QString::fromLatin1(armJointMotion(joint).name);
}

QString directionWord(ArmJoint joint, int direction)
{
    const ArmJointMotion &m = armJointMotion(joint);
    return QString::fromLatin1(direction > 0 ? m.motionTowardsMax : m.motionTowardsMin).toLower();
}

QByteArray greetingLine(qint64 pid, const QString &owner)
{
    return line({{QStringLiteral("hello"), QStringLiteral("tessaro")},
                 {QStringLiteral("protocol"), Version},
                 {QStringLiteral("pid"), pid},
                 {QStringLiteral("owner"), owner}});
}

QByteArray replyLine(const QJsonValue &id, QJsonObject fields)
{
    fields.insert(QStringLiteral("id"), id);
    fields.insert(QStringLiteral("ok"), true);
    return line(fields);
}

QByteArray errorLine(const QJsonValue &id, const QString &message, QJsonObject fields)
{
    fields.insert(QStringLiteral("id"), id.isUndefined() ? QJsonValue() : id);
    fields.insert(QStringLiteral("ok"), false);
    fields.insert(QStringLiteral("error"), message);
    return line(fields);
}

QByteArray eventLine(EventKind kind, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), eventName(kind));
    return line(fields);
}

QJsonObject motionJson(const ServiceMotion &motion)
{
    QJsonObject joints;
    for (const JointDrive &d : motion)
        joints.insert(jointName(d.joint), directionWord(d.joint, d.direction));
    return joints;
}

QJsonObject poseJson(const ServicePose &pose)
{
    static const QString knowledge[] = {QStringLiteral("unknown"), QStringLiteral("from start"),
                                        QStringLiteral("at ends")};
    QJsonObject joints;
    for (const ArmJointMotion &m : armJointMotions) {
        const JointPose &j = pose.joints[armJointIndex(m.joint)];
        QJsonObject joint{
            {QStringLiteral("knowledge"), knowledge[int(j.knowledge)]},
            {QStringLiteral("degrees"), rounded(j.degrees)},
            {QStringLiteral("low"), rounded(j.low)},
            {QStringLiteral("high"), rounded(j.high)},
            {QStringLiteral("band"), rounded(j.band)},
            {QStringLiteral("uncertain"), j.uncertain},
        };
        if (pose.startSet && j.knowledge != JointKnowledge::Unknown)
            joint.insert(QStringLiteral("startBand"), rounded(j.startBand));
        joints.insert(jointName(m.joint), joint);
    }
    return {{QStringLiteral("joints"), joints}, {QStringLiteral("startSet"), pose.startSet}};
}

QString motionEndWord(MotionEnd end)
{
    switch (end) {
    case MotionEnd::Done:
        return QStringLiteral("done");
    case MotionEnd::Stopped:
        return QStringLiteral("stopped");
    case MotionEnd::NotRenewed:
        return QStringLiteral("not renewed");
    case MotionEnd::EndStop:
        return QStringLiteral("end stop");
    case MotionEnd::TimeLimit:
        return QStringLiteral("time limit");
    case MotionEnd::Disconnected:
        return QStringLiteral("disconnected");
    case MotionEnd::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

QString runOutcomeWord(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Finished:
        return QStringLiteral("finished");
    case RunOutcome::Stopped:
        return QStringLiteral("stopped");
    case RunOutcome::Disconnected:
        return QStringLiteral("disconnected");
    case RunOutcome::Failed:
        return QStringLiteral("failed");
    case RunOutcome::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

QJsonObject motionResultJson(const MotionResult &result)
{
    QJsonObject o{{QStringLiteral("ended"), motionEndWord(result.end)},
                  {QStringLiteral("ranMs"), result.ranMs}};
    if (!result.message.isEmpty())
        o.insert(QStringLiteral("message"), result.message);
    return o;
}

QJsonObject runResultJson(const RunResult &result)
{
    QJsonObject o{{QStringLiteral("ended"), runOutcomeWord(result.outcome)},
                  {QStringLiteral("seconds"), std::round(result.seconds * 1000.0) / 1000.0},
                  {QStringLiteral("step"), result.step},
                  {QStringLiteral("repetition"), result.repetition}};
    if (!result.message.isEmpty())
        o.insert(QStringLiteral("message"), result.message);
    return o;
}

std::optional<Greeting> parseGreeting(QByteArrayView bytes)
{
    const QJsonObject o = QJsonDocument::fromJson(bytes.toByteArray()).object();
    if (o.value(QLatin1String("hello")).toString() != QLatin1String("tessaro"))
        return std::nullopt;
    return Greeting{o.value(QLatin1String("hello")).toString(), o.value(QLatin1String("protocol")).toInt(),
                    qint64(o.value(QLatin1String("pid")).toDouble()),
                    o.value(QLatin1String("owner")).toString()};
}

} // namespace ServiceProtocol
