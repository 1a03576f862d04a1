#pragma once

#include "ServiceArm.h"
#include "ServiceProtocol.h"
#include "ServiceSocket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>

class QLocalServer;
class QLocalSocket;

// Serves the arm of a ServiceArm on a Unix socket to other programs of the same user: each client
// reads the greeting, sends requests and gets one reply each, and hears the events it subscribed to
// (docs/protocol.md). One client at a time has control, asked for with `take`; the others watch. The
// owner keeps the last word: revokeControl() stops whatever the client drives and takes control back.
//
// A client is cut off, alone, when it sends a line longer than ServiceProtocol::MaxLineBytes or when
// its unread output passes MaxUnsentBytes; a client cut off, gone, or one that lets a held motion lapse
// has its motions stopped. A client's lines are handled LinesPerTurn at a time, so that a flood from one
// never holds up another's stop. Everything runs on the thread that made the server, the ServiceArm's.
class ServiceServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    static constexpr int MaxClients = 128;
    static constexpr int LinesPerTurn = 8;

    // The arm is not owned and must outlive the server.
    explicit ServiceServer(ServiceArm *arm, QObject *parent = nullptr);
    ~ServiceServer() override;

    // How the greeting names the owner ("tessaro", "tessaro-cli serve"); by default its command line.
    void setOwnerName(const QString &name) { m_ownerName = name; }
    // Serves at `path` (ServiceSocket::defaultPath() for the usual one), in a folder made or checked by
    // ServiceSocket::prepareFolder. A socket left by a program that ended is replaced; while another
    // owner serves there, false, and error names it ("the arm is already served by tessaro, pid 4711").
    bool listen(const QString &path, QString *error);
    void close();
    bool isListening() const;
    QString path() const { return m_path; }
    int clientCount() const { return int(m_clients.size()); }

    // Who has control: the client's description ("python3 lesson.py, pid 4711"), empty while the owner
    // has it.
    QString controller() const;
    // The owner takes control back: what the controlling client drives is stopped, and its replies say
    // `why` ("control was taken back by the owner" when none is given).
    void revokeControl(const QString &why = QString());

Q_SIGNALS:
    void controllerChanged(const QString &controller);
    void clientCountChanged(int count);

private:
    struct Client;
    struct Pending
    {
        quint64 client = 0;
        QJsonValue id;
        bool run = false;
    };

    void accept();
    // Handles the client's whole lines, LinesPerTurn of them, then queues its next turn.
    void readFrom(quint64 serial, bool turn);
    void handle(Client &client, QByteArrayView line);
    void take(Client &client, const ServiceProtocol::Request &request);
    void startMotion(Client &client, const ServiceProtocol::Request &request);
    void startRun(Client &client, const ServiceProtocol::Request &request);
    void subscribe(Client &client, const ServiceProtocol::Request &request);
    QJsonObject status(const Client &client) const;
    ServiceArm::Token pend(const Client &client, const QJsonValue &id, bool run);

    // Writes a line, cutting the client off when its unread output piles up.
    void send(Client &client, const QByteArray &line);
    void broadcast(ServiceProtocol::EventKind kind, const QByteArray &line);
    bool poseDue(const Client &client, qint64 nowMs) const;
    void sendPose(Client &client, qint64 nowMs);
    void sendPoses();
    void tellControl();

    // Ends the client's connection: `flush` lets what was written go out first. It is forgotten on the
    // next turn of the event loop, never while a caller may be walking the clients.
    void cutOff(Client &client, bool flush);
    void reap();
    void loseControl(const QString &why);

    void onMotionEnded(ServiceArm::Token token, const MotionResult &result);
    void onRunEnded(ServiceArm::Token token, const RunResult &result);
    void onHoldLapsed();

    ServiceArm *m_arm;
    QLocalServer *m_server;
    QString m_path;
    QString m_ownerName;
    int m_lockFd = -1;
    QElapsedTimer m_clock;

    std::map<quint64, std::unique_ptr<Client>> m_clients;
    quint64 m_nextSerial = 1;
    bool m_reapQueued = false;
    // The client with control; 0: the owner.
    quint64 m_controller = 0;

    QHash<ServiceArm::Token, Pending> m_pending;
    ServiceArm::Token m_nextToken = 1;
    // Why the server stopped a token's motion or run, for its reply.
    QHash<ServiceArm::Token, QString> m_stopNotes;
    // The held motion in force and its lapse.
    ServiceArm::Token m_holdToken = 0;
    int m_holdMs = 0;
    QTimer m_holdTimer;
    ServiceArm::Token m_lapsedToken = 0;

    ServiceMotion m_motion;
    ServicePose m_pose;
    // The pose event's line, made once for every client that is sent it.
    QByteArray m_poseLine;
    QTimer m_poseTimer;
};
