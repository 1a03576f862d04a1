#include "GuardLink.h"

#include "GuardProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The descriptor the guard reads the pipe on.
constexpr int GuardFd = 3;
// How long a message to the guard may wait for room in the pipe, and the dismissed guard to exit.
constexpr int WriteBoundMs = 100;
constexpr int ReapMs = 200;

std::vector<std::uint8_t> bytesOf(const QByteArray &a)
{
    return std::vector<std::uint8_t>(a.begin(), a.end());
}

GuardProtocol::Target toProtocol(const GuardTarget &t)
{
    GuardProtocol::Target p;
    p.kind = t.kind == GuardTarget::Kind::Hid   ? GuardProtocol::Kind::Hid
             : t.kind == GuardTarget::Kind::Kit ? GuardProtocol::Kind::Kit
                                                : GuardProtocol::Kind::Log;
    p.path = t.path.toStdString();
    p.bytes = bytesOf(t.stop);
    p.clockStartNs = t.clockStartNs;
    return p;
}

} // namespace

GuardTarget GuardTarget::controlTransfer(const QString &path, quint8 requestType, quint8 request, quint16 value,
                                         quint16 index, const QByteArray &data)
{
    const std::vector<std::uint8_t> bytes =
        GuardProtocol::encodeControl({requestType, request, value, index, bytesOf(data)});
    return GuardTarget{Kind::Kit, path, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()))};
}

GuardLink::GuardLink() = default;

GuardLink::~GuardLink()
{
    close();
}

QString GuardLink::programPath()
{
    const QString named = qEnvironmentVariable("TESSARO_GUARD");
    if (!named.isEmpty())
        return named;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tessaro-guard"));
}

bool GuardLink::start(QString *error, const QString &program)
{
    close();
    QByteArray path = QFile::encodeName(program.isEmpty() ? programPath() : program);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot make the guard's pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The read end goes to the guard as GuardFd; only this process keeps the write end.
    int readEnd = fds[0];
    if (readEnd == GuardFd) {
        readEnd = ::fcntl(fds[0], F_DUPFD_CLOEXEC, GuardFd + 1);
        ::close(fds[0]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, readEnd, GuardFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own from the first instruction: what ends the program's process group or its
    // terminal does not reach it.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    const QByteArray fdText = QByteArray::number(GuardFd);
    char *argv[] = {path.data(), const_cast<char *>("--fd"), const_cast<char *>(fdText.constData()), nullptr};
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(readEnd);
    if (failed != 0) {
        ::close(fds[1]);
        *error = QStringLiteral("cannot start the guard %1: %2")
                     .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(failed)));
        return false;
    }
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    m_fd = fds[1];
    m_pid = pid;
    m_targets.clear();
    return true;
}

bool GuardLink::setTargets(const QList<GuardTarget> &targets, QString *error)
{
    if (m_fd < 0 || targets == m_targets)
        return m_fd >= 0;
    std::vector<GuardProtocol::Target> sent;
    for (const GuardTarget &t : targets)
        sent.push_back(toProtocol(t));
    QString why;
    if (!say(GuardProtocol::formatTargets(sent), &why)) {
        if (error)
            *error = why;
        return false;
    }
    m_targets = targets;
    return true;
}

bool GuardLink::say(const std::string &message, QString *error)
{
    // A guard that has died must not take this process with it: SIGPIPE is held back for the write, and
    // the one it raised taken away.
    sigset_t pipeSignal;
    sigset_t before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    std::size_t done = 0;
    int fault = 0;
    while (done < message.size() && fault == 0) {
        const ssize_t n = ::write(m_fd, message.data() + done, message.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, WriteBoundMs) <= 0)
                fault = ETIMEDOUT;
        } else if (!(n < 0 && errno == EINTR)) {
            fault = n < 0 ? errno : EIO;
        }
    }
    if (fault == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (fault == 0)
        return true;
    *error = QStringLiteral("the guard could not be told its arms: %1").arg(QString::fromLocal8Bit(std::strerror(fault)));
    if (fault == EPIPE)
        close();
    return false;
}

void GuardLink::dismiss()
{
    if (m_fd < 0)
        return;
    QString ignored;
    say(GuardProtocol::DismissLine, &ignored);
    close();
    reap(ReapMs);
}

void GuardLink::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_targets.clear();
    reap(0);
}

void GuardLink::reap(int waitMs)
{
    if (m_pid <= 0)
        return;
    for (int waited = 0;; waited += 5) {
        const pid_t r = ::waitpid(m_pid, nullptr, WNOHANG);
        if (r == m_pid || (r < 0 && errno != EINTR)) {
            m_pid = -1;
            return;
        }
        if (waited >= waitMs)
            return;
        QThread::msleep(5);
    }
}
