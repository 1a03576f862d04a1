#pragma once

#include "ServiceArm.h"

#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QStringList>
#include <QTimer>

// A backend that records each call as a line ("start elbow:up 50", "stopEverything") and plays the
// arm's part: a timed motion ends Done when its time is up, a stop ends it Stopped; a run reports each
// step, then ends Finished on the next turn of the event loop.
class FakeArm : public ServiceArm
{
    Q_OBJECT

public:
    QStringList calls;
    // Like the HID board: a motion of more than one joint is refused.
    bool oneMotorOnly = false;
    bool lightOn = false;
    bool startSet = false;

    FakeArm();

    bool ready() const override { return true; }
    // How many times the arms were asked for, in all and when the last stop came.
    mutable int armsAsked = 0;
    int armsAskedAtStop = 0;
    QStringList arms() const override
    {
        ++armsAsked;
        return {QStringLiteral("Virtual HID board 1e6f:1113")};
    }
    void startMotion(Token token, const ServiceMotion &motion, int ms) override;
    void stopMotion(Token token) override
    {
        calls << QStringLiteral("stopMotion");
        if (token == m_motion)
            endMotion(MotionEnd::Stopped);
    }
    void stopEverything() override;
    bool setLight(bool on, QString *) override
    {
        calls << QStringLiteral("light %1").arg(on ? "on" : "off");
        Q_EMIT lightChanged(lightOn = on);
        return true;
    }
    bool light() const override { return lightOn; }
    ServicePose pose() const override { return {}; }
    bool declareStartPose(QString *) override
    {
        calls << QStringLiteral("setStart");
        return startSet = true;
    }
    void returnToStart(Token token) override;
    void playFile(Token token, const QString &path, int repetitions) override
    {
        calls << QStringLiteral("playFile %1 x%2").arg(path).arg(repetitions);
        play(token, 1, repetitions);
    }
    void playSteps(Token token, const QList<ServiceStep> &steps, int repetitions) override;

private:
    void endMotion(MotionEnd end);
    void play(Token token, int steps, int repetitions);

    Token m_motion = 0;
    QTimer m_motionTimer{this};
    Token m_run = 0;
};

// A client of the server, as another program would be: it reads the greeting, sends lines, and waits
// for the reply to an id or for an event.
class TestClient
{
public:
    explicit TestClient(const QString &path);
    bool connected() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    QJsonObject greeting() const { return m_greeting; }
    void sendLine(const QByteArray &line);
    // Sends {"id":id,"cmd":cmd,...fields} and returns the reply (empty on a time-out).
    QJsonObject request(int id, const QString &cmd, QJsonObject fields = {}, int timeoutMs = 5000);
    void send(int id, const QString &cmd, QJsonObject fields = {});
    QJsonObject waitReply(const QJsonValue &id, int timeoutMs = 5000);
    // Every event named `name` read so far.
    QList<QJsonObject> events(const QString &name);
    // Reads whatever comes within ms.
    void pump(int ms);
    QLocalSocket &socket() { return m_socket; }

private:
    void readLines();
    QLocalSocket m_socket;
    QByteArray m_input;
    QJsonObject m_greeting;
    QList<QJsonObject> m_lines;
};
