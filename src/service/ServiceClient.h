#pragma once

#include "ServiceProtocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocalSocket>
#include <QObject>
#include <QString>

#include <optional>

// A program's connection to the program that serves the arm (docs/protocol.md), for the front ends
// that find the arm served already: tessaro-cli's commands, a second window watching the first.
//
// Replies and events are told as signals on this object's thread; request() also waits for its own
// reply, for a caller with nothing else to do meanwhile (the events that come before it are told as
// they come).
class ServiceClient : public QObject
{
    Q_OBJECT

public:
    explicit ServiceClient(QObject *parent = nullptr);

    // Connects to the socket at `path` and reads the greeting, waiting at most timeoutMs. False, with
    // why, when no server greets there.
    bool connectTo(const QString &path, QString *error, int timeoutMs = 2000);
    bool isConnected() const;
    const ServiceProtocol::Greeting &greeting() const { return m_greeting; }
    // "tessaro-cli serve, pid 4711"
    QString ownerText() const;

    // Sends a request; its reply comes as `replied` with the id returned.
    qint64 send(const QString &cmd, QJsonObject fields = {});
    // Sends a request and waits for its reply, at most timeoutMs (-1: for as long as it takes). Null
    // when the connection ended or the time ran out first, with why.
    std::optional<QJsonObject> request(const QString &cmd, QJsonObject fields = {}, int timeoutMs = 5000,
                                       QString *error = nullptr);

Q_SIGNALS:
    void replied(qint64 id, const QJsonObject &reply);
    void eventHeard(const QString &kind, const QJsonObject &event);
    // The server went away, or sent what is no protocol.
    void disconnected();

private:
    void readLines();

    QLocalSocket m_socket;
    ServiceProtocol::Greeting m_greeting;
    bool m_greeted = false;
    qint64 m_nextId = 1;
};
