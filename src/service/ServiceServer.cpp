#include "ServiceServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ServiceProtocol;

struct ServiceServer::Client
{
    quint64 serial = 0;
    QLocalSocket *socket = nullptr;
    ServiceSocket::Peer peer;
    QByteArray input;
    bool closing = false;
    bool turnQueued = false;
    EventMask events = 0;
    qint64 poseIntervalMs = qint64(1000.0 / DefaultPoseHz);
    qint64 lastPoseMs = -1000000;
    // A pose came that this client has not been sent yet.
    bool posePending = false;
};

ServiceServer::ServiceServer(ServiceArm *arm, QObject *parent)
    : QObject(parent), m_arm(arm), m_server(new QLocalServer(this))
{
    qRegisterMetaType<MotionResult>();
    qRegisterMetaType<RunResult>();
    qRegisterMetaType<ServicePose>();
    m_clock.start();
    m_server->setMaxPendingConnections(MaxClients);
    connect(m_server, &QLocalServer::newConnection, this, &ServiceServer::accept);
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_holdTimer, &QTimer::timeout, this, &ServiceServer::onHoldLapsed);
    m_poseTimer.setSingleShot(true);
    connect(&m_poseTimer, &QTimer::timeout, this, &ServiceServer::sendPoses);

    connect(arm, &ServiceArm::motionEnded, this, &ServiceServer::onMotionEnded);
    connect(arm, &ServiceArm::runEnded, this, &ServiceServer::onRunEnded);
    connect(arm, &ServiceArm::runProgress, this, [this](ServiceArm::Token, int step, int repetition) {
        broadcast(RunEvent, eventLine(RunEvent, {{QStringLiteral("step"), step},
                                                 {QStringLiteral("repetition"), repetition}}));
    });
    connect(arm, &ServiceArm::connectionChanged, this, [this](bool ready, const QStringList &arms) {
        broadcast(ConnectionEvent,
                  eventLine(ConnectionEvent, {{QStringLiteral("ready"), ready},
                                              {QStringLiteral("arms"), QJsonArray::fromStringList(arms)}}));
    });
    connect(arm, &ServiceArm::motionChanged, this, [this](const ServiceMotion &motion) {
        m_motion = motion;
        broadcast(MotionEvent, eventLine(MotionEvent, {{QStringLiteral("joints"), motionJson(motion)}}));
    });
    connect(arm, &ServiceArm::lightChanged, this, [this](bool on) {
        broadcast(LightEvent, eventLine(LightEvent, {{QStringLiteral("on"), on}}));
    });
    connect(arm, &ServiceArm::poseChanged, this, [this](const ServicePose &pose) {
        m_pose = pose;
        m_poseLine.clear();
        for (auto &[serial, client] : m_clients)
            client->posePending = true;
        sendPoses();
    });
}

ServiceServer::~ServiceServer()
{
    close();
}

bool ServiceServer::listen(const QString &path, QString *error)
{
    close();
    const QString folder = QFileInfo(path).absolutePath();
    if (!ServiceSocket::prepareFolder(folder, error))
        return false;
    // The lock is held for as long as the server serves: a socket whose lock is free was left by an
    // owner that ended, and one whose lock is held is another owner's, even before it listens.
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        *error =
            QStringLiteral("the arm is already served by %1").arg(ServiceSocket::probeOwner(path).text());
        return false;
    }
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::NoOptions);
    if (!m_server->listen(path)) {
        *error = QStringLiteral("cannot serve at %1: %2").arg(path, m_server->errorString());
        close();
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    m_path = path;
    return true;
}

void ServiceServer::close()
{
    for (auto &[serial, client] : m_clients)
        cutOff(*client, false);
    reap();
    if (m_server->isListening())
        m_server->close();
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

bool ServiceServer::isListening() const
{
    return m_server->isListening();
}

QString ServiceServer::controller() const
{
    const auto it = m_clients.find(m_controller);
    return it == m_clients.end() ? QString() : it->second->peer.description;
}

void ServiceServer::revokeControl(const QString &why)
{
    loseControl(why.isEmpty() ? QStringLiteral("control was taken back by the owner") : why);
}

void ServiceServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        const auto peer = ServiceSocket::peerOf(socket->socketDescriptor());
        if (!peer || peer->uid != getuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (clientCount() >= MaxClients) {
            socket->write(errorLine(QJsonValue(), QStringLiteral("too many clients (%1)").arg(MaxClients)));
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            continue;
        }
        auto client = std::make_unique<Client>();
        client->serial = m_nextSerial++;
        client->socket = socket;
        client->peer = *peer;
        // Read no further ahead than one line: a client that writes faster than it is served waits in
        // its own write.
        socket->setReadBufferSize(MaxLineBytes + 1);
        const quint64 serial = client->serial;
        connect(socket, &QLocalSocket::readyRead, this, [this, serial] { readFrom(serial, false); });
        connect(socket, &QLocalSocket::disconnected, this, [this, serial] {
            const auto it = m_clients.find(serial);
            if (it != m_clients.end())
                cutOff(*it->second, false);
        });
        Client &c = *client;
        m_clients.emplace(serial, std::move(client));
        send(c, greetingLine(QCoreApplication::applicationPid(),
                             m_ownerName.isEmpty()
                                 ? ServiceSocket::processName(QCoreApplication::applicationPid())
                                 : m_ownerName));
        Q_EMIT clientCountChanged(clientCount());
    }
}

void ServiceServer::readFrom(quint64 serial, bool turn)
{
    const auto it = m_clients.find(serial);
    if (it == m_clients.end())
        return;
    Client &c = *it->second;
    // More lines that came while the client waits for its turn wait with the rest.
    if (c.turnQueued && !turn)
        return;
    c.turnQueued = false;
    for (int handled = 0; !c.closing;) {
        qsizetype newline = c.input.indexOf('\n');
        if (newline < 0) {
            if (c.socket->bytesAvailable() > 0 && c.input.size() <= MaxLineBytes) {
                c.input += c.socket->read(MaxLineBytes + 1 - c.input.size());
                continue;
            }
            if (c.input.size() > MaxLineBytes)
                break; // the line is too long: below
            return;
        }
        if (newline > MaxLineBytes)
            break;
        if (handled == LinesPerTurn) {
            // The others' turn: the rest of this client's lines come after what is queued now.
            c.turnQueued = true;
            QMetaObject::invokeMethod(
                this, [this, serial] { readFrom(serial, true); }, Qt::QueuedConnection);
            return;
        }
        const QByteArray line = c.input.left(newline);
        c.input.remove(0, newline + 1);
        const QByteArrayView text =
            line.endsWith('\r') ? QByteArrayView(line).chopped(1) : QByteArrayView(line);
        if (!text.trimmed().isEmpty()) {
            handle(c, text);
            ++handled;
        }
    }
    if (c.closing)
        return;
    send(c,
         errorLine(QJsonValue(),
                   QStringLiteral("line longer than %1 bytes: the connection is closed").arg(MaxLineBytes)));
    cutOff(c, true);
}

void ServiceServer::handle(Client &c, QByteArrayView line)
{
    const Parsed parsed = parseRequest(line);
    if (!parsed.request) {
        send(c, errorLine(parsed.id, parsed.error));
        return;
    }
    const Request &r = *parsed.request;
    if (needsControl(r) && m_controller != c.serial) {
        const QString who = controller();
        send(c, errorLine(r.id, who.isEmpty()
                                    ? QStringLiteral("this client does not have control: send take first")
                                    : QStringLiteral("control is held by %1").arg(who)));
        return;
    }
    QString error;
    switch (r.command) {
    case Command::Take:
        take(c, r);
        return;
    case Command::Release:
        if (m_controller == c.serial)
            loseControl(QStringLiteral("control was released"));
        send(c, replyLine(r.id));
        return;
    case Command::Status:
        send(c, replyLine(r.id, status(c)));
        return;
    case Command::Arms:
        send(c, replyLine(r.id, {{QStringLiteral("ready"), m_arm->ready()},
                                 {QStringLiteral("arms"), QJsonArray::fromStringList(m_arm->arms())}}));
        return;
    case Command::Move:
    case Command::Hold:
        startMotion(c, r);
        return;
    case Command::Renew:
        if (!m_holdToken) {
            send(c, errorLine(r.id, QStringLiteral("no motion is held")));
            return;
        }
        m_holdTimer.start(m_holdMs);
        send(c, replyLine(r.id));
        return;
    case Command::Stop:
        // Anyone may stop the arm, with or without control; the controller hears who did.
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
            if (it->client != c.serial)
                m_stopNotes.insert(it.key(), QStringLiteral("stopped by %1").arg(c.peer.description));
        m_arm->stopEverything();
        send(c, replyLine(r.id));
        return;
    case Command::Light:
        if (r.light && !m_arm->setLight(*r.light, &error)) {
            send(c, errorLine(r.id, error));
            return;
        }
        send(c, replyLine(r.id, {{QStringLiteral("on"), r.light ? *r.light : m_arm->light()}}));
        return;
    case Command::Pose:
        send(c, replyLine(r.id, poseJson(m_arm->pose())));
        return;
    case Command::SetStart:
        if (!m_arm->declareStartPose(&error))
            send(c, errorLine(r.id, error));
        else
            send(c, replyLine(r.id));
        return;
    case Command::ReturnToStart:
    case Command::Play:
        startRun(c, r);
        return;
    case Command::Subscribe:
    case Command::Unsubscribe:
        subscribe(c, r);
        return;
    }
}

void ServiceServer::take(Client &c, const Request &r)
{
    if (m_controller && m_controller != c.serial) {
        send(c, errorLine(r.id, QStringLiteral("control is held by %1").arg(controller())));
        return;
    }
    const bool changed = m_controller != c.serial;
    m_controller = c.serial;
    send(c, replyLine(r.id));
    if (changed)
        tellControl();
}

ServiceArm::Token ServiceServer::pend(const Client &c, const QJsonValue &id, bool run)
{
    const ServiceArm::Token token = m_nextToken++;
    m_pending.insert(token, {c.serial, id, run});
    return token;
}

void ServiceServer::startMotion(Client &c, const Request &r)
{
    const ServiceArm::Token token = pend(c, r.id, false);
    if (r.command == Command::Hold) {
        m_holdToken = token;
        m_holdMs = r.holdMs;
        m_holdTimer.start(r.holdMs);
    }
    // The arm may answer at once (a refusal) and so end the hold before this returns.
    m_arm->startMotion(token, r.motion, r.command == Command::Hold ? 0 : r.ms);
}

void ServiceServer::startRun(Client &c, const Request &r)
{
    const ServiceArm::Token token = pend(c, r.id, true);
    if (r.command == Command::ReturnToStart)
        m_arm->returnToStart(token);
    else if (!r.file.isEmpty())
        m_arm->playFile(token, r.file, r.repetitions);
    else
        m_arm->playSteps(token, r.steps, r.repetitions);
}

void ServiceServer::subscribe(Client &c, const Request &r)
{
    if (r.command == Command::Subscribe) {
        c.events |= r.events;
        if (r.poseHz)
            c.poseIntervalMs = qMax<qint64>(1, qRound64(1000.0 / *r.poseHz));
    } else {
        c.events &= ~r.events;
    }
    QJsonArray names;
    for (EventKind kind : {ConnectionEvent, MotionEvent, RunEvent, PoseEvent, LightEvent, ControlEvent})
        if (c.events & kind)
            names.append(eventName(kind));
    send(c, replyLine(r.id, {{QStringLiteral("events"), names}}));
    if (r.command == Command::Subscribe && (r.events & PoseEvent)) {
        // The pose as it stands first, then its changes.
        m_pose = m_arm->pose();
        m_poseLine.clear();
        c.posePending = true;
        c.lastPoseMs = -1000000;
        sendPoses();
    }
}

QJsonObject ServiceServer::status(const Client &c) const
{
    const QString who = controller();
    return {{QStringLiteral("ready"), m_arm->ready()},
            {QStringLiteral("arms"), QJsonArray::fromStringList(m_arm->arms())},
            {QStringLiteral("control"), who.isEmpty() ? QJsonValue() : QJsonValue(who)},
            {QStringLiteral("you"), m_controller == c.serial},
            {QStringLiteral("motion"), motionJson(m_motion)},
            {QStringLiteral("light"), m_arm->light()},
            {QStringLiteral("clients"), clientCount()}};
}

void ServiceServer::send(Client &c, const QByteArray &line)
{
    if (c.closing)
        return;
    // Written at once, as far as the socket takes it, rather than on a later turn of the event loop:
    // straight to the socket while nothing waits before it (a pose event goes to every watcher, and
    // the fewer steps each takes, the sooner the next request is served), else after what waits.
    qsizetype written = 0;
    if (c.socket->bytesToWrite() == 0) {
        const ssize_t n = ::send(int(c.socket->socketDescriptor()), line.constData(), size_t(line.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            cutOff(c, false);
            return;
        }
        written = qMax<qsizetype>(0, n);
    }
    if (written < line.size())
        c.socket->write(line.constData() + written, line.size() - written);
    if (c.socket->bytesToWrite() > MaxUnsentBytes)
        cutOff(c, false);
}

void ServiceServer::broadcast(EventKind kind, const QByteArray &line)
{
    for (auto &[serial, client] : m_clients)
        if (client->events & kind)
            send(*client, line);
}

bool ServiceServer::poseDue(const Client &c, qint64 nowMs) const
{
    // A little early is on time: clients asking the same rate are served together, at a pose change.
    return nowMs - c.lastPoseMs >= c.poseIntervalMs - c.poseIntervalMs / 8;
}

void ServiceServer::sendPose(Client &c, qint64 nowMs)
{
    if (m_poseLine.isEmpty())
        m_poseLine = eventLine(PoseEvent, poseJson(m_pose));
    c.posePending = false;
    c.lastPoseMs = nowMs;
    send(c, m_poseLine);
}

void ServiceServer::sendPoses()
{
    // Every client due is sent the latest pose; one timer wakes for the earliest of those left waiting.
    const qint64 now = m_clock.elapsed();
    qint64 next = -1;
    for (auto &[serial, client] : m_clients) {
        Client &c = *client;
        if (!c.posePending || c.closing || !(c.events & PoseEvent))
            continue;
        if (poseDue(c, now)) {
            sendPose(c, now);
            continue;
        }
        const qint64 due = c.lastPoseMs + c.poseIntervalMs;
        next = next < 0 ? due : qMin(next, due);
    }
    if (next < 0)
        m_poseTimer.stop();
    else if (!m_poseTimer.isActive() || m_poseTimer.remainingTime() > next - now)
        m_poseTimer.start(int(qMax<qint64>(0, next - now)));
}

void ServiceServer::tellControl()
{
    const QString who = controller();
    Q_EMIT controllerChanged(who);
    for (auto &[serial, client] : m_clients)
        if (client->events & ControlEvent)
            send(*client, eventLine(ControlEvent,
                                    {{QStringLiteral("by"), who.isEmpty() ? QJsonValue() : QJsonValue(who)},
                                     {QStringLiteral("you"), serial == m_controller}}));
}

void ServiceServer::loseControl(const QString &why)
{
    if (!m_controller)
        return;
    const quint64 serial = m_controller;
    bool driving = false;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it->client == serial) {
            m_stopNotes.insert(it.key(), why);
            driving = true;
        }
    }
    m_controller = 0;
    // A held motion of the client's is not renewed by whoever takes control next.
    m_holdTimer.stop();
    m_holdToken = 0;
    if (driving)
        m_arm->stopEverything();
    tellControl();
}

void ServiceServer::cutOff(Client &c, bool flush)
{
    if (c.closing)
        return;
    c.closing = true;
    if (m_controller == c.serial)
        loseControl(QStringLiteral("the client went away"));
    QLocalSocket *socket = c.socket;
    socket->disconnect(this);
    if (flush && socket->state() == QLocalSocket::ConnectedState) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(1000, socket, [socket] { socket->abort(); });
        socket->disconnectFromServer();
    } else {
        socket->abort();
        socket->deleteLater();
    }
    if (!m_reapQueued) {
        m_reapQueued = true;
        QMetaObject::invokeMethod(this, &ServiceServer::reap, Qt::QueuedConnection);
    }
}

void ServiceServer::reap()
{
    m_reapQueued = false;
    const int before = clientCount();
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->second->closing) {
            const quint64 serial = it->first;
            for (auto p = m_pending.begin(); p != m_pending.end();)
                p = p->client == serial ? m_pending.erase(p) : std::next(p);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
    if (clientCount() != before)
        Q_EMIT clientCountChanged(clientCount());
}

void ServiceServer::onHoldLapsed()
{
    if (!m_holdToken)
        return;
    m_lapsedToken = m_holdToken;
    m_arm->stopMotion(m_holdToken);
}

void ServiceServer::onMotionEnded(ServiceArm::Token token, const MotionResult &result)
{
    if (token == m_holdToken) {
        m_holdToken = 0;
        m_holdTimer.stop();
    }
    MotionResult told = result;
    if (token == m_lapsedToken && told.end == MotionEnd::Stopped)
        told.end = MotionEnd::NotRenewed;
    if (token == m_lapsedToken)
        m_lapsedToken = 0;
    const QString note = m_stopNotes.take(token);
    if (told.end == MotionEnd::Stopped && told.message.isEmpty())
        told.message = note;
    const Pending pending = m_pending.take(token);
    const auto it = m_clients.find(pending.client);
    if (it == m_clients.end())
        return;
    if (told.end == MotionEnd::Refused)
        send(*it->second,
             errorLine(pending.id, told.message, {{QStringLiteral("ended"), motionEndWord(told.end)}}));
    else
        send(*it->second, replyLine(pending.id, motionResultJson(told)));
}

void ServiceServer::onRunEnded(ServiceArm::Token token, const RunResult &result)
{
    RunResult told = result;
    const QString note = m_stopNotes.take(token);
    if (told.outcome == RunOutcome::Stopped && told.message.isEmpty())
        told.message = note;
    const Pending pending = m_pending.take(token);
    const auto it = m_clients.find(pending.client);
    if (it == m_clients.end())
        return;
    if (told.outcome == RunOutcome::Refused)
        send(*it->second,
             errorLine(pending.id, told.message, {{QStringLiteral("ended"), runOutcomeWord(told.outcome)}}));
    else
        send(*it->second, replyLine(pending.id, runResultJson(told)));
}
