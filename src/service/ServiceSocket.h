#pragma once

#include "ServiceProtocol.h"

#include <QString>

class QLocalSocket;

#include <optional>

// Where the service's socket lives, who is at the other end of a connection, and whether another
// program already serves the arm there.
namespace ServiceSocket {

// $XDG_RUNTIME_DIR/tessaro/arm.sock; without XDG_RUNTIME_DIR, /tmp/tessaro-UID/arm.sock.
QString defaultPath();

// Makes the socket's folder (mode 0700) when it is missing. False, with why, when it is not a folder
// of ours that only we may enter: another user's, a symbolic link, or one whose mode lets others in.
bool prepareFolder(const QString &folder, QString *error);

// The process at the other end of a connected Unix socket (SO_PEERCRED).
struct Peer
{
    qint64 pid = 0;
    unsigned uid = 0;
    // "python3 lesson.py, pid 4711"
    QString description;
};
std::optional<Peer> peerOf(qintptr socketDescriptor);

// What a process is, from its command line: the program's name and up to two arguments, paths
// shortened to their last part ("python3 lesson.py"); "pid 4711" alone when it cannot be read.
QString processName(qint64 pid);
QString describe(qint64 pid);

// Who serves the socket at `path`.
struct Owner
{
    enum State {
        None,   // no socket there, or a stale one that no one answers
        Live,   // a server that greeted us
        Silent, // something accepts connections there but sent no greeting in time
    };
    State state = None;
    ServiceProtocol::Greeting greeting;
    // "tessaro-cli serve, pid 4711", or "a program that does not answer"
    QString text() const;
};
// Connects and reads the greeting, waiting at most timeoutMs for it; blocks the calling thread.
Owner probeOwner(const QString &path, int timeoutMs = 1000);
// The greeting of a server just connected to, read within timeoutMs (a line no longer than a line may
// be); null when none came or it was no greeting. Blocks the calling thread.
std::optional<ServiceProtocol::Greeting> readGreeting(QLocalSocket &socket, int timeoutMs);

} // namespace ServiceSocket
