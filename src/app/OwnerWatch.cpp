#include "OwnerWatch.h"

#include "ServiceProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace {

// The id of the status asked for once subscribed: its reply gives the state as it stands.
constexpr int StatusId = 1;

ServiceMotion motionOf(const QJsonObject &joints)
{
    ServiceMotion motion;
    for (const ArmJointMotion &m : armJointMotions) {
        const QString way = joints.value(ServiceProtocol::jointName(m.joint)).toString();
        for (int direction : {1, -1})
            if (!way.isEmpty() && way == ServiceProtocol::directionWord(m.joint, direction))
                motion.append(JointDrive{m.joint, direction});
    }
    return motion;
}

ServicePose poseOf(const QJsonObject &event)
{
    ServicePose pose;
    pose.startSet = event.value(QLatin1String("startSet")).toBool();
    const QJsonObject joints = event.value(QLatin1String("joints")).toObject();
    for (const ArmJointMotion &m : armJointMotions) {
        const QJsonObject j = joints.value(ServiceProtocol::jointName(m.joint)).toObject();
        JointPose &p = pose.joints[armJointIndex(m.joint)];
        const QString knowledge = j.value(QLatin1String("knowledge")).toString();
        p.knowledge = knowledge == QLatin1String("at ends")      ? JointKnowledge::AtEnds
                      : knowledge == QLatin1String("from start") ? JointKnowledge::FromStart
                                                                 : JointKnowledge::Unknown;
        p.degrees = j.value(QLatin1String("degrees")).toDouble();
        p.low = j.value(QLatin1String("low")).toDouble();
        p.high = j.value(QLatin1String("high")).toDouble();
        p.band = j.value(QLatin1String("band")).toDouble();
        p.uncertain = j.value(QLatin1String("uncertain")).toBool(true);
    }
    return pose;
}

} // namespace

OwnerWatch::OwnerWatch(QObject *parent) : QObject(parent)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, &OwnerWatch::readLines);
    const auto lost = [this] {
        if (!std::exchange(m_goneTold, true))
            Q_EMIT gone();
    };
    connect(&m_socket, &QLocalSocket::disconnected, this, lost);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, lost);
}

void OwnerWatch::watch(const QString &path)
{
    m_goneTold = false;
    m_greeted = false;
    m_input.clear();
    m_socket.connectToServer(path);
}

void OwnerWatch::stop()
{
    send(QJsonDocument(
             QJsonObject{{QStringLiteral("id"), ++m_nextId}, {QStringLiteral("cmd"), QStringLiteral("stop")}})
             .toJson(QJsonDocument::Compact));
}

void OwnerWatch::send(const QByteArray &line)
{
    if (m_socket.state() == QLocalSocket::ConnectedState)
        m_socket.write(line + '\n');
}

void OwnerWatch::readLines()
{
    m_input += m_socket.readAll();
    for (qsizetype end = m_input.indexOf('\n'); end >= 0; end = m_input.indexOf('\n')) {
        const QByteArray line = m_input.left(end).trimmed();
        m_input.remove(0, end + 1);
        if (!line.isEmpty())
            handle(line);
    }
    // An owner that never ends its line is not one.
    if (m_input.size() > ServiceProtocol::MaxLineBytes)
        m_socket.abort();
}

void OwnerWatch::handle(const QByteArray &line)
{
    if (!m_greeted) {
        const auto greeting = ServiceProtocol::parseGreeting(line);
        if (!greeting) {
            m_socket.abort();
            return;
        }
        m_greeted = true;
        m_owner = QStringLiteral("%1, pid %2").arg(greeting->owner).arg(greeting->pid);
        Q_EMIT greeted(m_owner);
        send(R"({"id":0,"cmd":"subscribe","events":["connection","motion","pose","control"]})");
        send(QByteArray(R"({"id":)") + QByteArray::number(StatusId) + R"(,"cmd":"status"})");
        return;
    }
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const QString event = object.value(QLatin1String("event")).toString();
    if (object.value(QLatin1String("id")) == QJsonValue(StatusId)) {
        QStringList arms;
        for (const QJsonValue &arm : object.value(QLatin1String("arms")).toArray())
            arms << arm.toString();
        Q_EMIT connectionChanged(object.value(QLatin1String("ready")).toBool(), arms);
        Q_EMIT motionChanged(motionOf(object.value(QLatin1String("motion")).toObject()));
        Q_EMIT controlChanged(object.value(QLatin1String("control")).toString());
    } else if (event == QLatin1String("connection")) {
        QStringList arms;
        for (const QJsonValue &arm : object.value(QLatin1String("arms")).toArray())
            arms << arm.toString();
        Q_EMIT connectionChanged(object.value(QLatin1String("ready")).toBool(), arms);
    } else if (event == QLatin1String("motion")) {
        Q_EMIT motionChanged(motionOf(object.value(QLatin1String("joints")).toObject()));
    } else if (event == QLatin1String("pose")) {
        Q_EMIT poseChanged(poseOf(object));
    } else if (event == QLatin1String("control")) {
        Q_EMIT controlChanged(object.value(QLatin1String("by")).toString());
    }
}
