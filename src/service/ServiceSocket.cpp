#include "ServiceSocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ServiceSocket {

QString defaultPath()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = runtime.isEmpty() ? QStringLiteral("/tmp/tessaro-%1").arg(getuid())
                                             : QString::fromLocal8Bit(runtime) + QStringLiteral("/tessaro");
    return folder + QStringLiteral("/arm.sock");
}

bool prepareFolder(const QString &folder, QString *error)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("%1 is not a folder").arg(folder);
        return false;
    }
    if (st.st_uid != getuid()) {
        *error = QStringLiteral("%1 belongs to another user (uid %2)").arg(folder).arg(st.st_uid);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 may be entered by other users (mode %2; it must be 0700)")
                     .arg(folder)
                     .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

std::optional<Peer> peerOf(qintptr socketDescriptor)
{
    struct ucred cred
    {
    };
    socklen_t length = sizeof cred;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        length != sizeof cred)
        return std::nullopt;
    return Peer{cred.pid, cred.uid, describe(cred.pid)};
}

QString processName(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> args = file.read(4096).split('\0');
    QStringList words;
    for (const QByteArray &arg : args) {
        if (arg.isEmpty())
            continue;
        QString word = QString::fromLocal8Bit(arg);
        if (!word.startsWith(QLatin1Char('-')))
            word = word.section(QLatin1Char('/'), -1);
        words.append(word.left(40));
        if (words.size() == 3)
            break;
    }
    return words.join(QLatin1Char(' '));
}

QString describe(qint64 pid)
{
    const QString name = processName(pid);
    return name.isEmpty() ? QStringLiteral("pid %1").arg(pid)
                          : QStringLiteral("%1, pid %2").arg(name).arg(pid);
}

QString Owner::text() const
{
    if (state != Live)
        return QStringLiteral("a program that does not answer");
    return QStringLiteral("%1, pid %2").arg(greeting.owner).arg(greeting.pid);
}

std::optional<ServiceProtocol::Greeting> readGreeting(QLocalSocket &socket, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!socket.canReadLine() && socket.bytesAvailable() <= ServiceProtocol::MaxLineBytes) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return std::nullopt;
    }
    if (!socket.canReadLine())
        return std::nullopt;
    return ServiceProtocol::parseGreeting(socket.readLine().trimmed());
}

Owner probeOwner(const QString &path, int timeoutMs)
{
    Owner owner;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return owner;
    owner.state = Owner::Silent;
    const std::optional<ServiceProtocol::Greeting> greeting = readGreeting(socket, timeoutMs);
    socket.abort();
    if (greeting) {
        owner.state = Owner::Live;
        owner.greeting = *greeting;
    }
    return owner;
}

} // namespace ServiceSocket
