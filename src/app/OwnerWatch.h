#pragma once

#include "ServiceArm.h"

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QStringList>

// The arm as another program serves it, watched through its socket (docs/protocol.md): a window that
// finds the arm served opens no arm itself, connects as a client, and hears the connection, the motion
// in force, the pose and who has control. Anyone may stop the arm, so stop() is the one command it
// sends.
class OwnerWatch : public QObject
{
    Q_OBJECT

public:
    explicit OwnerWatch(QObject *parent = nullptr);

    // Connects to the owner serving at `path` and subscribes; `failed` tells when no owner answers.
    void watch(const QString &path);
    // "tessaro-cli serve, pid 4711", once greeted.
    QString owner() const { return m_owner; }
    bool watching() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    // Every motor stopped, whoever drives.
    void stop();

Q_SIGNALS:
    void greeted(const QString &owner);
    void connectionChanged(bool ready, const QStringList &arms);
    void motionChanged(const ServiceMotion &motion);
    void poseChanged(const ServicePose &pose);
    // Who has control ("python3 lesson.py, pid 4711"); empty while the owner has it.
    void controlChanged(const QString &by);
    // The owner went away, or never answered.
    void gone();

private:
    void readLines();
    void handle(const QByteArray &line);
    void send(const QByteArray &line);

    QLocalSocket m_socket;
    QByteArray m_input;
    QString m_owner;
    bool m_greeted = false;
    bool m_goneTold = false;
    int m_nextId = 1;
};
