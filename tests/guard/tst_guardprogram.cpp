// tessaro-guard as the programs use it, through GuardLink: it sends nothing while its program lives,
// sends each target its stop once the program is gone (however it went), and nothing after a dismissal.
#include "GuardLink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum class End { Closed, Dismissed, GroupKilled };

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Gone, or a zombie nobody reaps (a container's first process may not).
bool processGone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.mid(close + 2, 1) == "Z";
}

// Whether the process ignores every signal of mask, by its status file.
bool ignores(pid_t pid, quint64 mask)
{
    for (const QByteArray &line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("SigIgn:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) & mask) == mask;
    }
    return false;
}

template <typename F> bool waitFor(F done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000)
        QThread::msleep(5);
    return done();
}

const int GroupSignals[] = {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGPIPE};

} // namespace

class TestGuardProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stopsWhenItsProgramIsGone_data();
    void stopsWhenItsProgramIsGone();
};

void TestGuardProgram::stopsWhenItsProgramIsGone_data()
{
    QTest::addColumn<End>("end");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("stops");
    QTest::newRow("pipe closed") << End::Closed << false << true;
    QTest::newRow("dismissed") << End::Dismissed << false << false;
    QTest::newRow("set replaced, then pipe closed") << End::Closed << true << true;
    QTest::newRow("program's process group signalled, then killed") << End::GroupKilled << false << true;
}

void TestGuardProgram::stopsWhenItsProgramIsGone()
{
    QFETCH(End, end);
    QFETCH(bool, replaced);
    QFETCH(bool, stops);
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("hidraw")); // a regular file stands for the node
    const QString fifo = dir.filePath(QStringLiteral("fifo"));   // a reader at the other end, as a device
    const QString log = dir.filePath(QStringLiteral("arm.log"));
    const QString earlier = dir.filePath(QStringLiteral("earlier"));
    QVERIFY(QFile(node).open(QIODevice::WriteOnly) && QFile(earlier).open(QIODevice::WriteOnly));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int fifoReader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(fifoReader >= 0);

    const QList<GuardTarget> targets{
        {GuardTarget::Kind::Hid, node, QByteArray::fromHex("0100")},
        // A kit that has gone holds up no other target.
        GuardTarget::controlTransfer(dir.filePath(QStringLiteral("no-kit")), 0x40, 6, 0x100, 0, QByteArray(3, 0)),
        {GuardTarget::Kind::Hid, fifo, QByteArray::fromHex("00")},
        {GuardTarget::Kind::Log, log, QByteArray::fromHex("000000"), 1'000'000},
    };
    const QList<GuardTarget> first{{GuardTarget::Kind::Hid, earlier, QByteArray::fromHex("0100")}};

    // The program: this process, or for a killed group a child in a group of its own.
    pid_t program = 0;
    pid_t guardPid = 0;
    GuardLink link;
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    if (end == End::GroupKilled) {
        program = ::fork();
        QVERIFY(program >= 0);
        if (program == 0) {
            ::setpgid(0, 0);
            QString error;
            const bool told = link.start(&error, QStringLiteral(TESSARO_GUARD_PROGRAM)) && link.setTargets(targets);
            const pid_t pid = told ? link.pid() : 0;
            // The program outlives what its group is sent, up to SIGKILL; the guard was started with
            // the usual dispositions.
            for (int sig : GroupSignals)
                ::signal(sig, SIG_IGN);
            (void)!::write(ready[1], &pid, sizeof pid);
            for (;;)
                ::pause();
        }
        QCOMPARE(::read(ready[0], &guardPid, sizeof guardPid), ssize_t(sizeof guardPid));
    } else {
        QString error;
        QVERIFY2(link.start(&error, QStringLiteral(TESSARO_GUARD_PROGRAM)), qPrintable(error));
        if (replaced)
            QVERIFY(link.setTargets(first));
        QVERIFY(link.setTargets(targets));
        guardPid = link.pid();
    }
    QVERIFY(guardPid > 0);

    // While the program lives, nothing is sent, whatever reaches its process group or the guard.
    quint64 mask = 0;
    for (int s : GroupSignals)
        mask |= quint64(1) << (s - 1);
    QVERIFY(waitFor([&] { return ignores(guardPid, mask); }));
    if (end == End::GroupKilled) {
        for (int s : GroupSignals) {
            QCOMPARE(::kill(-program, s), 0);
            QCOMPARE(::kill(guardPid, s), 0);
        }
    }
    QThread::msleep(50);
    QVERIFY(!processGone(guardPid));
    QCOMPARE(readAll(node), QByteArray());
    QVERIFY(!QFile::exists(log));

    if (end == End::GroupKilled) {
        QCOMPARE(::kill(-program, SIGKILL), 0);
        QCOMPARE(::waitpid(program, nullptr, 0), program);
    } else if (end == End::Dismissed)
        link.dismiss();
    else
        link.close();
    QVERIFY2(waitFor([&] { return processGone(guardPid); }), "the guard did not exit");

    char fifoBytes[16];
    const ssize_t fromFifo = ::read(fifoReader, fifoBytes, sizeof fifoBytes);
    ::close(fifoReader);
    QCOMPARE(readAll(earlier), QByteArray());
    if (!stops) {
        QCOMPARE(readAll(node), QByteArray());
        QVERIFY(fromFifo <= 0);
        QVERIFY(!QFile::exists(log));
        return;
    }
    QCOMPARE(readAll(node), QByteArray::fromHex("0100"));
    QCOMPARE(QByteArray(fifoBytes, int(qMax<ssize_t>(fromFifo, 0))), QByteArray::fromHex("00"));
    // The line the arm would have logged for the stop, its time counted from the given start.
    const QString line = QString::fromLatin1(readAll(log));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d{6} 0 000000 guard\\n$")).match(line).hasMatch(),
             qPrintable(line));
    QVERIFY(line.section(QLatin1Char(' '), 0, 0).toDouble() > 1.0);
}

QTEST_GUILESS_MAIN(TestGuardProgram)
#include "tst_guardprogram.moc"
