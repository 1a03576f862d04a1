// Plays a script of short steps through the runner and prints how exactly the commands went out:
// lateness of each send against its scheduled moment, the drift of the whole run against the sum of
// the step times, and the CPU the run took. Once with a sink that only timestamps, once through the
// HID component to the virtual arm, and once through the interface kits' list to the virtual arm
// posing as the kit, each command written on the kit's own writer thread as on a real kit; then the
// two arm paths side by side.
//
//   bench_runner [STEPS [STEP_MS]]      defaults: 200 steps of 20 ms
//
// A thousand steps with sends late by up to 2 ms show the drift the schedule leaves after late
// wake-ups.
//
// Each is measured with ordinary scheduling and with the runner's real-time scheduling where the process
// gets it: SCHED_FIFO taken directly (root), or from RealtimeKit for an ordinary user; the title says
// which, or why there was none. The load average is printed first: on a machine whose cores are all busy a
// woken thread with ordinary scheduling can wait a whole scheduler tick.

#include "ArmUsbIds.h"
#include "ArmDeviceList.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "KitArmList.h"
#include "RealtimePriority.h"
#include "ScriptRunner.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

namespace {

class BenchSource : public ScriptSource
{
public:
    BenchSource(int steps, int stepMs) : m_steps(steps), m_time(QString::number(stepMs / 1000.0)) {}

    std::function<void(qint16)> sink;

    int stepCount() override { return m_steps; }
    QString functionText(int row) override
    {
        return row % 2 ? QStringLiteral("BaseCW") : QStringLiteral("BaseCCW");
    }
    QString timeText(int) override { return m_time; }
    QString repetitionsText() override { return QStringLiteral("1"); }

private:
    int m_steps;
    QString m_time;
};

qint64 cpuNs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval &tv) { return qint64(tv.tv_sec) * 1'000'000'000 + qint64(tv.tv_usec) * 1000; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

double percentile(std::vector<qint64> sorted, double p)
{
    if (sorted.empty())
        return 0;
    std::sort(sorted.begin(), sorted.end());
    const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return double(sorted[index]);
}

// What a run's sends came to, for the table of the arm paths.
struct Figures
{
    QByteArray title;
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
    double driftMs = 0;
    double cpuPercent = 0;
};
std::vector<Figures> g_figures;
bool g_realtime = false;

void askRealtime(ScriptRunner &runner, bool on)
{
    g_realtime = on;
    runner.setRealtimeScheduling(on);
}

// Plays the script; `arrivals` is filled by the sink with the moment each command arrived.
void report(QByteArray title, ScriptRunner &runner, BenchSource &source, std::vector<qint64> &arrivals,
            int steps, int stepMs)
{
    arrivals.clear();
    arrivals.reserve(size_t(steps) + 1);
    runner.setRecordTimings(true);
    const qint64 wallStart = ScriptRunner::clockNs();
    const qint64 cpuStart = cpuNs();
    runner.RunScript(source);
    const qint64 cpu = cpuNs() - cpuStart;
    const qint64 wall = ScriptRunner::clockNs() - wallStart;

    // Which scheduling the timing thread got: SCHED_FIFO itself, from RealtimeKit, or none and why.
    if (g_realtime)
        title += " (" + RealtimePriority::lastGrant().describe().toUtf8() + ")";
    const QList<ScriptRunner::SendTiming> &timings = runner.sendTimings();
    if (arrivals.size() != size_t(timings.size()) || arrivals.size() != size_t(steps) + 1) {
        std::printf("%s: %zu commands arrived for %lld sends, %d expected\n", title.constData(),
                    arrivals.size(), static_cast<long long>(timings.size()), steps + 1);
        return;
    }
    std::vector<qint64> lateness;
    for (size_t i = 0; i < arrivals.size(); ++i)
        lateness.push_back(arrivals[i] - timings[qsizetype(i)].scheduledNs);
    const qint64 stepNs = qint64(stepMs) * 1'000'000;
    const qint64 drift = arrivals.back() - arrivals.front() - qint64(steps) * stepNs;
    const int half = std::min(steps, 100);
    const qint64 drift100 = arrivals[size_t(half)] - arrivals.front() - qint64(half) * stepNs;

    std::printf("%s: %d steps of %d ms\n", title.constData(), steps, stepMs);
    std::printf("  lateness of sends   median %8.1f us   p99 %8.1f us   max %8.1f us\n",
                percentile(lateness, 0.5) / 1e3, percentile(lateness, 0.99) / 1e3,
                percentile(lateness, 1.0) / 1e3);
    std::printf("  drift               %d steps %+8.3f ms   whole run %+8.3f ms\n", half,
                double(drift100) / 1e6, double(drift) / 1e6);
    std::printf("  CPU                 %8.3f %% of a core (%.1f ms over %.1f ms)\n",
                100.0 * double(cpu) / double(wall), double(cpu) / 1e6, double(wall) / 1e6);
    g_figures.push_back(Figures{title, percentile(lateness, 0.5) / 1e3, percentile(lateness, 0.99) / 1e3,
                                percentile(lateness, 1.0) / 1e3, double(drift) / 1e6,
                                100.0 * double(cpu) / double(wall)});
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int steps = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 200;
    const int stepMs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 20;

    ScriptRunner runner;
    BenchSource source(steps, stepMs);
    BenchSource *playing = &source;
    runner.setSender([&playing](qint16 code) { playing->sink(code); });
    std::vector<qint64> arrivals;

    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average: %s\n", loadavg.readLine().trimmed().constData());

    source.sink = [&](qint16) { arrivals.push_back(ScriptRunner::clockNs()); };
    report("timestamping sink", runner, source, arrivals, steps, stepMs);
    askRealtime(runner, true);
    report("timestamping sink", runner, source, arrivals, steps, stepMs);
    askRealtime(runner, false);

    // Wake-ups late by up to 2 ms, as on a busy virtual machine: the schedule makes them up, so a
    // thousand steps should end less than 1 ms late. The lateness is put in the send, under the bound
    // at which a send counts as held up, so that it comes at random and the same on every machine; it
    // is waited out on the clock at the runner's real-time priority, so that a busy machine does not
    // stretch it past the bound.
    {
        BenchSource late(1000, stepMs);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> lateUs(0, 2000);
        late.sink = [&](qint16) {
            const qint64 until = ScriptRunner::clockNs() + qint64(lateUs(random)) * 1000;
            while (ScriptRunner::clockNs() < until) {
            }
            arrivals.push_back(ScriptRunner::clockNs());
        };
        playing = &late;
        runner.setRealtimeScheduling(true);
        report("sends late by up to 2 ms", runner, late, arrivals, 1000, stepMs);
        runner.setRealtimeScheduling(false);
        playing = &source;
    }

    QObject window;
    // The HID path: the component and the device list to the virtual arm, its reports written at once
    // or, as on a device node, on a writer thread of the connection's own.
    const auto hidPath = [&](const QByteArray &title, bool writerThread) {
        VirtualHidTransport transport;
        VirtualArm arm(transport);
        if (writerThread)
            arm.armInterface()->useWriterThread();
        HIDagentX agent(&transport);
        agent.SetLogging(false);
        agent.StartAgent();
        agent.SetVID_To_Match(ArmUsbIds::HidVendorId);
        agent.SetPID_To_Match(ArmUsbIds::HidProductId);
        agent.SetSearchOnVID(true);
        agent.SetSearchOnPID(true);
        ArmDeviceList devices(agent, &window);
        QObject::connect(&agent, &HIDagentX::OnIntfOpened, &window, [&] {
            try {
                devices.OnIntfOpened();
            } catch (const HidError &e) {
                std::printf("binding the virtual arm failed: %s\n", e.what());
            }
        });
        agent.OpenMatchingIntfs();
        if (devices.Count() == 0) {
            std::printf("virtual arm: no device object was bound\n");
            return false;
        }
        QObject::connect(&arm, &VirtualArm::commandReceived, &window,
                         [&](int, qint64 monotonicNs, const QByteArray &) { arrivals.push_back(monotonicNs); });
        source.sink = [&](qint16 code) { devices.SendToAll(code); };
        report(title, runner, source, arrivals, steps, stepMs);
        askRealtime(runner, true);
        report(title, runner, source, arrivals, steps, stepMs);
        askRealtime(runner, false);
        agent.StopAgent();
        // Nothing of this arm may be heard once it is gone.
        QObject::disconnect(&arm, nullptr, &window, nullptr);
        return true;
    };
    if (!hidPath("virtual arm", false) || !hidPath("virtual arm, writer thread", true))
        return 1;

    VirtualKitTransport kitTransport;
    VirtualArm kit(kitTransport);
    kit.kitDevice()->useWriterThread();
    KitArmList kits(kitTransport);
    kits.start();
    if (kits.armCount() == 0) {
        std::printf("virtual kit: not opened\n");
        return 1;
    }
    QObject::connect(&kit, &VirtualArm::commandReceived, &window,
                     [&](int, qint64 monotonicNs, const QByteArray &) { arrivals.push_back(monotonicNs); });
    source.sink = [&](qint16 code) { kits.send(code); };
    report("virtual kit", runner, source, arrivals, steps, stepMs);
    askRealtime(runner, true);
    report("virtual kit", runner, source, arrivals, steps, stepMs);
    kits.stop();

    std::printf("\nthe arm paths side by side (lateness of sends in us, drift of the whole run in ms)\n");
    std::printf("  %-66s %9s %9s %9s %9s %7s\n", "path", "median", "p99", "max", "drift", "CPU %");
    for (const Figures &f : g_figures) {
        if (!f.title.startsWith("virtual"))
            continue;
        std::printf("  %-66s %9.1f %9.1f %9.1f %+9.3f %7.3f\n", f.title.constData(), f.medianUs, f.p99Us, f.maxUs,
                    f.driftMs, f.cpuPercent);
    }
    return 0;
}
