#include "DiskFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

dev_t deviceOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : dev_t(-1);
}

// Runs save in a child process that has given up root, so that folder permissions bind it.
bool saveAsNobody(const std::function<QString()> &save, QString *error)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        constexpr uid_t Nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
            ::_exit(2);
        const QByteArray message = save().toUtf8();
        const bool sent = ::write(pipeFds[1], message.constData(), size_t(message.size())) == message.size();
        ::_exit(sent ? 0 : 3);
    }
    ::close(pipeFds[1]);
    QByteArray message;
    char buffer[512];
    for (ssize_t n; child > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    *error = QString::fromUtf8(message);
    return true;
}

} // namespace

SaveOutcome saveUnder(DiskFault fault, const QString &fileName, const QByteArray &old,
                      const std::function<QString(const QString &)> &save)
{
    SaveOutcome outcome;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        outcome.skip = QStringLiteral("no temporary folder");
        return outcome;
    }
    const QString folder = dir.filePath(QStringLiteral("scripts"));
    QDir().mkpath(folder);
    outcome.target = folder + u'/' + fileName;
    QString contentsPath = outcome.target;
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/tessaro-XXXXXX"));

    switch (fault) {
    case DiskFault::DiskFull:
    case DiskFault::ReadOnlyFolder:
        writeBytes(outcome.target, old);
        break;
    case DiskFault::TargetIsFolder:
        QDir().mkpath(outcome.target);
        contentsPath = outcome.target + QStringLiteral("/inside");
        writeBytes(contentsPath, old);
        break;
    case DiskFault::OtherFilesystem:
        if (!elsewhere.isValid() || deviceOf(elsewhere.path()) == deviceOf(folder)) {
            outcome.skip = QStringLiteral("no second filesystem at /dev/shm");
            return outcome;
        }
        contentsPath = elsewhere.filePath(fileName);
        writeBytes(contentsPath, old);
        QFile::link(contentsPath, outcome.target);
        break;
    }

    switch (fault) {
    case DiskFault::DiskFull: {
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto savedHandler = std::signal(SIGXFSZ, SIG_DFL);
        rlimit tight = saved;
        tight.rlim_cur = 8;
        if (::setrlimit(RLIMIT_FSIZE, &tight) != 0) {
            std::signal(SIGXFSZ, savedHandler);
            outcome.skip = QStringLiteral("cannot limit the file size here");
            return outcome;
        }
        outcome.error = save(outcome.target);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
        break;
    }
    case DiskFault::ReadOnlyFolder: {
        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(dir.path(), readOnly | QFile::WriteOwner);
        // The file itself may be written: only the folder stands in the way of a replacement.
        QFile::setPermissions(outcome.target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                  QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther);
        QFile::setPermissions(folder, readOnly);
        if (::geteuid() != 0)
            outcome.error = save(outcome.target);
        else if (!saveAsNobody([&] { return save(outcome.target); }, &outcome.error))
            outcome.skip = QStringLiteral("cannot drop root privileges here");
        QFile::setPermissions(folder, readOnly | QFile::WriteOwner);
        break;
    }
    case DiskFault::TargetIsFolder:
    case DiskFault::OtherFilesystem:
        outcome.error = save(outcome.target);
        break;
    }

    outcome.after = readAll(contentsPath);
    outcome.linkKept = QFileInfo(outcome.target).isSymLink() == (fault == DiskFault::OtherFilesystem);
    outcome.leftovers =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    outcome.leftovers.removeOne(fileName);
    return outcome;
}

void addDiskFaultRows()
{
    QTest::addColumn<DiskFault>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("disk full") << DiskFault::DiskFull << QStringLiteral("File too large");
    QTest::newRow("read-only folder") << DiskFault::ReadOnlyFolder << QStringLiteral("Permission denied");
    QTest::newRow("target is a folder") << DiskFault::TargetIsFolder << QStringLiteral("directory");
    QTest::newRow("link to another filesystem") << DiskFault::OtherFilesystem << QString();
}
