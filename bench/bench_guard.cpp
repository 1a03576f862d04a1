// The time from a program's death to the stop at the arm: a front end is started, left to start a
// motion, killed, and the device's log (or the virtual arm's) watched for the stop that follows. Prints
// each kill's figure, then the median and the 99th percentile.
//
//   bench_guard [--kills N] [--signal NAME] [--settle MS] --log FILE --motion REGEX --stop REGEX -- COMMAND...
//
// The log is read from its end at each start: a line matching --motion is the motion under way, then the
// program is sent the signal (KILL unless named), and the first line after it matching --stop is the
// stop. Times are taken on this program's monotonic clock as each line is seen (the log is polled every
// millisecond), so they hold for any log, whatever clock its lines carry.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options
{
    int kills = 20;
    int signal = SIGKILL;
    int settleMs = 300;
    QString log;
    QRegularExpression motion;
    QRegularExpression stop;
    QStringList command;
};

int signalNamed(const QString &name)
{
    const QString n = name.toUpper().remove(QStringLiteral("SIG"));
    if (n == QLatin1String("HUP"))
        return SIGHUP;
    if (n == QLatin1String("TERM"))
        return SIGTERM;
    if (n == QLatin1String("INT"))
        return SIGINT;
    if (n == QLatin1String("QUIT"))
        return SIGQUIT;
    return SIGKILL;
}

// Reads the lines added to the log since offset; a line is taken only once it is whole.
class LogTail
{
public:
    explicit LogTail(const QString &path) : m_path(path) {}
    void skipToEnd()
    {
        QFile f(m_path);
        m_offset = f.open(QIODevice::ReadOnly) ? f.size() : 0;
    }
    // Waits up to ms for a new whole line matching re; false when none came.
    bool waitFor(const QRegularExpression &re, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QFile f(m_path);
            if (f.open(QIODevice::ReadOnly) && f.seek(m_offset)) {
                const QByteArray added = f.readAll();
                qsizetype from = 0;
                for (qsizetype nl; (nl = added.indexOf('\n', from)) >= 0; from = nl + 1) {
                    m_offset += nl + 1 - from;
                    if (re.match(QString::fromUtf8(added.mid(from, nl - from))).hasMatch())
                        return true;
                }
            }
            QThread::usleep(1000);
        }
        return false;
    }

private:
    QString m_path;
    qint64 m_offset = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString next = args.value(i + 1);
        if (a == QLatin1String("--")) {
            o.command = args.mid(i + 1);
            break;
        }
        if (a == QLatin1String("--kills"))
            o.kills = qMax(1, next.toInt());
        else if (a == QLatin1String("--signal"))
            o.signal = signalNamed(next);
        else if (a == QLatin1String("--settle"))
            o.settleMs = next.toInt();
        else if (a == QLatin1String("--log"))
            o.log = next;
        else if (a == QLatin1String("--motion"))
            o.motion.setPattern(next);
        else if (a == QLatin1String("--stop"))
            o.stop.setPattern(next);
        else {
            std::fprintf(stderr, "bench_guard: unknown option %s\n", qPrintable(a));
            return 64;
        }
        ++i;
    }
    if (o.command.isEmpty() || o.log.isEmpty() || o.motion.pattern().isEmpty() || o.stop.pattern().isEmpty()) {
        std::fprintf(stderr, "Usage: bench_guard [--kills N] [--signal NAME] [--settle MS] --log FILE --motion "
                             "REGEX --stop REGEX -- COMMAND...\n");
        return 64;
    }
    std::vector<double> ms;
    LogTail tail(o.log);
    for (int k = 0; k < o.kills; ++k) {
        tail.skipToEnd();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The program's own output is not the benchmark's.
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            std::vector<QByteArray> owned;
            std::vector<char *> argvOut;
            for (const QString &s : o.command)
                owned.push_back(s.toLocal8Bit());
            for (QByteArray &s : owned)
                argvOut.push_back(s.data());
            argvOut.push_back(nullptr);
            ::execvp(argvOut[0], argvOut.data());
            ::_exit(127);
        }
        if (!tail.waitFor(o.motion, 30000)) {
            std::fprintf(stderr, "bench_guard: kill %d: no motion in %s\n", k + 1, qPrintable(o.log));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return 1;
        }
        QThread::msleep(o.settleMs);
        QElapsedTimer t;
        t.start();
        ::kill(pid, o.signal);
        const bool stopped = tail.waitFor(o.stop, 5000);
        const double took = double(t.nsecsElapsed()) / 1e6;
        ::waitpid(pid, nullptr, 0);
        if (!stopped) {
            std::fprintf(stderr, "bench_guard: kill %d: no stop within 5 s\n", k + 1);
            return 1;
        }
        std::printf("kill %2d: stop after %.1f ms\n", k + 1, took);
        std::fflush(stdout);
        ms.push_back(took);
        QThread::msleep(200); // the guard exits, the device settles
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    const double p99 = ms[std::min(ms.size() - 1, size_t(std::ceil(0.99 * double(ms.size()))) - 1)];
    std::printf("kill to stop over %zu kills: median %.1f ms, p99 %.1f ms, worst %.1f ms\n", ms.size(), median, p99,
                ms.back());
    return 0;
}
