// Figures of the main window: click-to-report latency, start-up time and memory, idle cost, the same
// latency and idle cost with a game pad attached, and how exactly a script plays in the window while
// the window is busy painting.
//
//   bench_window [--clicks N] [--idle-seconds S] [--runs R] [--pad-moves M] [--rest-moves P]
//                [--run-steps N] [--step-ms MS] [--only-run]
//   bench_window --kit-clicks N --kit-log PATH
//
// The run plays N steps of MS ms (default 200 of 20 ms) with the virtual arm window showing, the running
// step highlighted and the pointer moving over the motion buttons every few milliseconds. --only-run
// stops after the run and the virtual arm window's frame costs.
//
// --kit-clicks measures only the click to the control transfer of a real interface kit, as the system
// pass's USB gadget logs it in PATH (its clock is this machine's monotonic clock), and prints the figure.
//
// The window runs over the virtual transport with the virtual arm attached; start-up is measured on the
// real program (`tessaro --virtual-arm --startup-probe`), started R times.

#include "ArmTransport.h"
#include "Gamepad.h"
#include "HoverButton.h"
#include "KitArmList.h"
#include "MacButtonD.h"
#include "ProcessClock.h"
#include "ScriptGrid.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"
#include "VirtualArm.h"
#include "VirtualArmWindow.h"
#include "VirtualHidTransport.h"
#include "WindowControls.h"
#include "frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size() - 1) + 0.5));
    return values[index];
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QMouseEvent mouseEvent(QWidget *button, QEvent::Type type)
{
    const QPointF local(button->width() / 2.0, button->height() / 2.0);
    const QPointF global = button->mapToGlobal(local);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    return QMouseEvent(type, local, global, Qt::LeftButton, held, Qt::NoModifier);
}

struct ClickTimes
{
    qint64 press = 0;
    qint64 release = 0;
};

// A click is complete when the button is released; the latency counts from there. The time from the
// press is printed too, as the worst case.
ClickTimes sendClick(QWidget *button)
{
    ClickTimes times;
    QMouseEvent press = mouseEvent(button, QEvent::MouseButtonPress);
    times.press = ProcessClock::monotonicNs();
    QApplication::sendEvent(button, &press);
    QMouseEvent release = mouseEvent(button, QEvent::MouseButtonRelease);
    times.release = ProcessClock::monotonicNs();
    QApplication::sendEvent(button, &release);
    return times;
}

struct Rig
{
    QTemporaryDir settings;
    VirtualHidTransport transport;
    VirtualArm arm{transport};
    std::unique_ptr<frmMain> window;
    VirtualHidInterface *pad = nullptr;

    explicit Rig(bool withPad = false)
    {
        if (withPad)
            pad = transport.addGamepad();
        frmMain::Setup setup;
        setup.transport = &transport;
        setup.settingsReadPath = settings.filePath(QStringLiteral("KORIV.INI"));
        setup.settingsWritePath = setup.settingsReadPath;
        window = std::make_unique<frmMain>(setup);
        window->show();
    }
};

void clickLatency(int clicks)
{
    Rig rig;
    if (rig.window->ConnectionState() != frmMain::Ready) {
        std::printf("click latency: the virtual arm was not found\n");
        return;
    }
    qint64 reportNs = 0;
    QObject::connect(&rig.transport, &VirtualHidTransport::reportWritten, &rig.transport,
                     [&reportNs](const QString &, const QByteArray &, qint64 ns) { reportNs = ns; });

    // Warm up the code paths and caches once before measuring.
    for (int i = 0; i < 20; ++i)
        sendClick(ui::cmdControl(*rig.window)[3]);

    std::vector<double> latencyMs, fromPressMs;
    latencyMs.reserve(size_t(clicks));
    fromPressMs.reserve(size_t(clicks));
    for (int i = 0; i < clicks; ++i) {
        // Alternate start and stop of the elbow, so every click sends a code. Between two clicks of an
        // operator the window is idle and paints what the last click changed; so it does here.
        QCoreApplication::processEvents();
        reportNs = 0;
        const ClickTimes times = sendClick(ui::cmdControl(*rig.window)[3]);
        if (reportNs == 0) {
            std::printf("click latency: click %d sent no report\n", i);
            return;
        }
        latencyMs.push_back(double(reportNs - times.release) / 1e6);
        fromPressMs.push_back(double(reportNs - times.press) / 1e6);
    }
    std::printf("click-to-report latency (release to report) over %d clicks: median %.4f ms, p99 %.4f ms, "
                "max %.4f ms (goal p99 "
                "< 0.2 ms)\n",
                clicks, percentile(latencyMs, 50), percentile(latencyMs, 99),
                *std::max_element(latencyMs.begin(), latencyMs.end()));
    std::printf("  from the press: median %.4f ms, p99 %.4f ms\n", percentile(fromPressMs, 50),
                percentile(fromPressMs, 99));
}

// Click to control transfer on the interface kits attached: the elbow's button clicked N times, each
// click a start or a stop of the motion and so one transfer, a little apart so that each goes out on
// its own. The transfer's time is the one the gadget logged as its data stage came in.
void kitClickLatency(int clicks, const QString &gadgetLog)
{
    ArmTransport arms;
    QString error;
    if (!arms.make(ArmTransport::Virtual::None, QString(), &error)) {
        std::printf("kit click latency: %s\n", qPrintable(error));
        return;
    }
    KitArmList kits(*arms.kits);
    QTemporaryDir settings;
    frmMain::Setup setup;
    setup.transport = arms.transport.get();
    setup.kits = &kits;
    setup.settingsReadPath = settings.filePath(QStringLiteral("KORIV.INI"));
    setup.settingsWritePath = setup.settingsReadPath;
    frmMain window(setup);
    window.show();
    if (kits.armCount() != 1) {
        std::printf("kit click latency: %lld interface kits open, one wanted\n", qint64(kits.armCount()));
        return;
    }
    QFile log(gadgetLog);
    const qint64 logStart = QFileInfo(gadgetLog).size();
    const auto settle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    std::vector<qint64> releases;
    for (int i = 0; i < clicks; ++i) {
        QCoreApplication::processEvents();
        releases.push_back(sendClick(ui::cmdControl(window)[3]).release);
        settle(25);
    }
    // The last transfers' lines.
    settle(500);
    if (!log.open(QIODevice::ReadOnly) || !log.seek(logStart)) {
        std::printf("kit click latency: cannot read %s\n", qPrintable(gadgetLog));
        return;
    }
    std::vector<double> transfers;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 4 && fields.at(2) == "command")
            transfers.push_back(fields.at(0).toDouble());
    }
    if (transfers.size() != releases.size()) {
        std::printf("kit click latency: %zu clicks, %zu transfers logged\n", releases.size(), transfers.size());
        return;
    }
    std::vector<double> latencyMs;
    for (size_t i = 0; i < releases.size(); ++i)
        latencyMs.push_back(transfers[i] * 1e3 - double(releases[i]) / 1e6);
    std::printf("click-to-control-transfer latency (release to the kit's data stage) over %d clicks: median %.3f ms, "
                "p99 %.3f ms, max %.3f ms\n",
                clicks, percentile(latencyMs, 50), percentile(latencyMs, 99),
                *std::max_element(latencyMs.begin(), latencyMs.end()));
}

void startUp(int runs)
{
    const QString program =
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/tessaro"))
            .absoluteFilePath();
    if (!QFileInfo::exists(program)) {
        std::printf("start-up: %s not built\n", qPrintable(program));
        return;
    }
    std::vector<double> inProcessMs, wallMs, rssMb;
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        QElapsedTimer wall;
        wall.start();
        process.start(program, {QStringLiteral("--virtual-arm"), QStringLiteral("--startup-probe")});
        if (!process.waitForFinished(10000)) {
            std::printf("start-up: run %d did not finish\n", run);
            process.kill();
            process.waitForFinished();
            return;
        }
        wallMs.push_back(double(wall.nsecsElapsed()) / 1e6);
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("startup_ms "))
                inProcessMs.push_back(line.mid(11).toDouble());
            else if (line.startsWith("rss_kb "))
                rssMb.push_back(line.mid(7).toDouble() / 1024.0);
        }
    }
    if (inProcessMs.empty()) {
        std::printf("start-up: the program printed no figures\n");
        return;
    }
    std::printf(
        "start-up over %d runs (--virtual-arm): median %.1f ms from process start to window shown with "
        "status (goal < 250 ms); median %.1f ms from spawn to exit incl. teardown\n",
        runs, percentile(inProcessMs, 50), percentile(wallMs, 50));
    std::printf("resident memory after start-up: median %.1f MB, max %.1f MB (goal < 80 MB)\n",
                percentile(rssMb, 50), *std::max_element(rssMb.begin(), rssMb.end()));
}

// A stick pushed out and let back, at a random moment against the pad's poll: from the report
// reaching the pad to the code leaving for the arm. Busy moves follow each other within a poll or
// so; a push from rest comes after the pad has been still long enough to be looked at less often.
void padLatency(int moves, int restMoves)
{
    Rig rig(true);
    if (!rig.window->gamepad()->isAttached()) {
        std::printf("pad latency: the virtual pad was not found\n");
        return;
    }
    // Where the pad stands as it is opened: its stick drives only once seen at rest.
    rig.pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
    QEventLoop arrived;
    qint64 reportNs = 0;
    // The loop is the context: the window's last stop code, sent as the rig goes, finds no loop.
    QObject::connect(&rig.transport, &VirtualHidTransport::reportWritten, &arrived,
                     [&](const QString &, const QByteArray &, qint64 ns) {
                         reportNs = ns;
                         arrived.quit();
                     });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &arrived, &QEventLoop::quit);
    quint32 seed = 12345;
    // One report after a pause of `waitMs` plus a random part of `spreadMs`; the time to its code.
    const auto move = [&](quint8 x, int waitMs, int spreadMs) -> double {
        seed = seed * 1664525u + 1013904223u;
        QEventLoop pause;
        QTimer::singleShot(waitMs + int(seed >> 24) % spreadMs, &pause, &QEventLoop::quit);
        pause.exec();
        reportNs = 0;
        const qint64 queued = ProcessClock::monotonicNs();
        rig.pad->queueInputReport(VirtualHidTransport::gamepadReport(x, 128, 128));
        giveUp.start(1000);
        arrived.exec();
        return reportNs == 0 ? -1.0 : double(reportNs - queued) / 1e6;
    };
    std::vector<double> busy, fromRest;
    for (int i = 0; i < moves * 2; ++i) {
        busy.push_back(move(i % 2 == 0 ? 0 : 128, 0, Gamepad::PollIntervalMs + 5));
        if (busy.back() < 0) {
            std::printf("pad latency: move %d sent no report\n", i);
            return;
        }
    }
    const int restMs = Gamepad::PollsBeforeRest * Gamepad::PollIntervalMs + 200;
    for (int i = 0; i < restMoves; ++i) {
        fromRest.push_back(move(0, restMs, Gamepad::RestPollIntervalMs));
        move(128, 0, 5);
        if (fromRest.back() < 0) {
            std::printf("pad latency: push %d from rest sent no report\n", i);
            return;
        }
    }
    std::printf("pad-to-report latency over %d busy moves (poll every %d ms): median %.2f ms, p99 %.2f ms, "
                "max %.2f ms\n",
                moves, Gamepad::PollIntervalMs, percentile(busy, 50), percentile(busy, 99),
                *std::max_element(busy.begin(), busy.end()));
    if (!fromRest.empty())
        std::printf("  over %d pushes from rest (poll every %d ms): median %.2f ms, max %.2f ms\n", restMoves,
                    Gamepad::RestPollIntervalMs, percentile(fromRest, 50),
                    *std::max_element(fromRest.begin(), fromRest.end()));
}

void idleCost(int seconds, bool withPad)
{
    Rig rig(withPad);
    std::unique_ptr<QWidget> armWindow(createVirtualArmWindow(rig.arm));
    if (armWindow)
        armWindow->show();
    // Let the first paints and any start-up work settle before measuring.
    {
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
    }
    const double before = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double used = cpuSeconds() - before;
    std::printf("idle cost: %.3f ms of CPU over %d s with the main and virtual arm windows shown%s (goal "
                "< 10 ms)\n",
                used * 1000.0, seconds, withPad ? " and a game pad attached" : "");
}

// The pointer crosses the motion buttons one after another, as a restless hand does while a script runs.
class PointerSweep
{
public:
    explicit PointerSweep(frmMain &window) : m_buttons(ui::cmdControl(window))
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { step(); });
    }
    void start(int intervalMs) { m_timer.start(intervalMs); }
    void stop() { m_timer.stop(); }
    int moves() const { return m_moves; }

private:
    void step()
    {
        HoverButton *from = m_buttons[size_t(m_index)];
        m_index = (m_index + 1) % int(m_buttons.size());
        HoverButton *to = m_buttons[size_t(m_index)];
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(from, &leave);
        const QPointF local(to->width() / 2.0, to->height() / 2.0);
        QEnterEvent enter(local, local, to->mapToGlobal(local));
        QApplication::sendEvent(to, &enter);
        QMouseEvent move(QEvent::MouseMove, local, to->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(to, &move);
        ++m_moves;
    }

    const std::array<HoverButton *, 11> m_buttons;
    QTimer m_timer;
    int m_index = 0;
    int m_moves = 0;
};

double threadCpuMs(const ArmSession &session)
{
    return double(session.lastRunTimingCpuNs()) / 1e6;
}

void runInWindow(int steps, int stepMs)
{
    Rig rig;
    if (rig.window->ConnectionState() != frmMain::Ready) {
        std::printf("run in the window: the virtual arm was not found\n");
        return;
    }
    std::unique_ptr<QWidget> armWindow(createVirtualArmWindow(rig.arm));
    if (armWindow)
        armWindow->show();
    frmMain &w = *rig.window;
    w.SetHilight(true);
    const QString time = NumberText(stepMs / 1000.0);
    if (ui::Grid(w)->Rows() < steps + 1)
        ui::Grid(w)->SetRows(steps + 1);
    for (int row = 1; row <= steps; ++row) {
        ui::Grid(w)->SetTextMatrix(row, 0, NumberText(row));
        // Motors turn all through the run, so the virtual arm window animates the whole time.
        ui::Grid(w)->SetTextMatrix(row, 1, row % 2 ? QStringLiteral("BaseCW") : QStringLiteral("ShoulderUp"));
        ui::Grid(w)->SetTextMatrix(row, 2, time);
    }
    ui::Script(w)->setNextStep(qint16(steps + 1));
    ui::txtReps(w)->setText(QStringLiteral("1"));
    {
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
    }

    ArmSession &session = w.session();
    session.setRecordRunTimings(true);
    VirtualHidInterface *intf = rig.arm.armInterface();
    const qsizetype writtenBefore = intf->written.size();
    PointerSweep sweep(w);
    sweep.start(4);
    const double cpuBefore = cpuSeconds();
    const qint64 wallBefore = ProcessClock::monotonicNs();
    QTimer::singleShot(0, ui::cmdRun(w), [&w] { w.cmdRun_Click(); });
    QEventLoop ran;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!session.running() && ui::cmdRun(w)->Caption() == QStringLiteral("Run"))
            ran.quit();
    });
    poll.start(50);
    ran.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = double(ProcessClock::monotonicNs() - wallBefore) / 1e9;
    sweep.stop();

    const QList<ScriptRunner::SendTiming> timings = session.lastRunTimings();
    const qsizetype arrived = intf->written.size() - writtenBefore;
    if (timings.size() != steps + 1 || arrived != timings.size()) {
        std::printf("run in the window: %lld sends recorded, %lld reports arrived, %d expected\n",
                    static_cast<long long>(timings.size()), static_cast<long long>(arrived), steps + 1);
        return;
    }
    std::vector<double> latenessMs;
    std::vector<qint64> arrivals;
    for (qsizetype i = 0; i < timings.size(); ++i) {
        const qint64 at = intf->written[writtenBefore + i].monotonicNs;
        arrivals.push_back(at);
        latenessMs.push_back(double(at - timings[i].scheduledNs) / 1e6);
    }
    const int half = std::min(steps, 100);
    const double drift100 =
        double(arrivals[size_t(half)] - arrivals.front() - qint64(half) * stepMs * 1'000'000) / 1e6;
    std::printf("run in the window: %d steps of %d ms, virtual arm window shown, highlight on, pointer moved "
                "%d times over the motion buttons\n",
                steps, stepMs, sweep.moves());
    std::printf("  lateness of sends   median %.4f ms   p99 %.4f ms   max %.4f ms (goal p99 < 0.25 ms, max "
                "< 1 ms)\n",
                percentile(latenessMs, 50), percentile(latenessMs, 99),
                *std::max_element(latenessMs.begin(), latenessMs.end()));
    std::printf("  %d steps ended %+.4f ms off the sum of their times (goal within 1 ms)\n", half, drift100);
    std::printf(
        "  CPU of the whole process during the run %.1f %% of a core; timing thread %.3f ms = %.3f %% "
        "of a core (goal < 1 %%)\n",
        100.0 * cpu / wall, threadCpuMs(session), 100.0 * threadCpuMs(session) / 1e3 / wall);
}

qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// CPU of one animation frame of the virtual arm window: a new pose, then the repaint it asks for.
void armWindowFrames(int frames)
{
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    std::unique_ptr<QWidget> widget(createVirtualArmWindow(arm));
    auto *window = qobject_cast<VirtualArmWindow *>(widget.get());
    QWidget *view = widget->findChild<QWidget *>(QStringLiteral("armView"));
    if (!window || !view) {
        std::printf("virtual arm window frames: no arm view\n");
        return;
    }
    qint64 now = 1'000'000'000;
    window->setClock([&now] { return now; });
    widget->show();
    QCoreApplication::processEvents();

    struct Case
    {
        const char *what;
        int code;
        bool everything;
    };
    const Case cases[] = {{"base turning (top view repainted)", 7, false},
                          {"shoulder moving (both views repainted)", 6, false},
                          {"everything drawn afresh each frame, as before", 6, true}};
    std::printf("virtual arm window, CPU per animation frame over %d frames:\n", frames);
    for (const Case &c : cases) {
        Q_EMIT arm.commandReceived(0, now, QByteArray(1, '\0'));
        Q_EMIT arm.commandReceived(c.code, now, QByteArray(1, char(c.code)));
        QCoreApplication::sendPostedEvents(widget.get(), QEvent::UpdateRequest);
        std::vector<double> ms;
        for (int i = 0; i < frames; ++i) {
            const qint64 start = threadCpuNs();
            // Small steps keep the joint short of its stop for the whole measurement.
            now += 2'000'000;
            Q_EMIT arm.commandReceived(c.code, now, QByteArray(1, char(c.code)));
            if (c.everything) {
                QEvent styleChange(QEvent::StyleChange);
                QApplication::sendEvent(view, &styleChange);
                view->repaint();
            } else {
                QCoreApplication::sendPostedEvents(widget.get(), QEvent::UpdateRequest);
            }
            ms.push_back(double(threadCpuNs() - start) / 1e6);
        }
        std::printf("  %-48s median %.3f ms   p99 %.3f ms\n", c.what, percentile(ms, 50), percentile(ms, 99));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    ProcessClock::markStart();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int clicks = 1000, idleSeconds = 10, runs = 10, padMoves = 200, restMoves = 8, runSteps = 200, stepMs = 20;
    bool onlyRun = false;
    int kitClicks = 0;
    QString kitLog;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--only-run") {
            onlyRun = true;
            continue;
        }
        if (i + 1 >= args.size())
            break;
        if (args[i] == u"--run-steps")
            runSteps = args[++i].toInt();
        else if (args[i] == u"--step-ms")
            stepMs = args[++i].toInt();
        else if (args[i] == u"--kit-clicks")
            kitClicks = args[++i].toInt();
        else if (args[i] == u"--kit-log")
            kitLog = args[++i];
        else if (args[i] == u"--clicks")
            clicks = args[++i].toInt();
        else if (args[i] == u"--idle-seconds")
            idleSeconds = args[++i].toInt();
        else if (args[i] == u"--runs")
            runs = args[++i].toInt();
        else if (args[i] == u"--pad-moves")
            padMoves = args[++i].toInt();
        else if (args[i] == u"--rest-moves")
            restMoves = args[++i].toInt();
    }

    if (kitClicks > 0) {
        kitClickLatency(kitClicks, kitLog);
        return 0;
    }
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average: %s\n", loadavg.readLine().trimmed().constData());
    runInWindow(qMax(1, runSteps), qMax(1, stepMs));
    armWindowFrames(300);
    if (onlyRun)
        return 0;
    clickLatency(qMax(1, clicks));
    startUp(qMax(1, runs));
    idleCost(qMax(1, idleSeconds), false);
    padLatency(qMax(1, padMoves), qMax(0, restMoves));
    idleCost(qMax(1, idleSeconds), true);
    return 0;
}
