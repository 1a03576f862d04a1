#include "ArmUsbIds.h"
#include "ArmDeviceList.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "ScriptRunner.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 Ms = 1'000'000;

struct Step
{
    QString function;
    QString time;
};

// Stands in for the window: the script in a list, the repetitions box as a string, and a sink that
// timestamps every command.
class FakeSource : public ScriptSource
{
public:
    QList<Step> steps;
    int count = -1; // -1: the whole list
    QString reps = QStringLiteral("1");
    QList<int> codes;
    QList<qint64> sentAt;
    // By the thread's id, not its QThread: the timing thread's QThread goes when that thread ends, and
    // one made for another thread afterwards may take its address.
    QList<std::thread::id> sentFrom;
    QList<int> startedRows;
    QList<qint64> startedAt;
    std::function<void(int sendIndex)> onSend;

    int stepCount() override { return count < 0 ? int(steps.size()) : count; }
    QString functionText(int row) override { return steps.value(row - 1).function; }
    QString timeText(int row) override { return steps.value(row - 1).time; }
    QString repetitionsText() override { return reps; }
    void stepStarting(int row) override
    {
        startedRows.append(row);
        startedAt.append(ScriptRunner::clockNs());
    }
    // What the runner's sender hands on.
    void sent(qint16 code)
    {
        sentAt.append(ScriptRunner::clockNs());
        sentFrom.append(std::this_thread::get_id());
        codes.append(code);
        if (onSend)
            onSend(int(codes.size()) - 1);
    }
};

// The window's road to the arm: component, device list and the virtual arm behind the transport.
struct ArmRig
{
    ArmRig()
    {
        agent.SetLogging(false);
        agent.StartAgent();
        agent.SetVID_To_Match(ArmUsbIds::HidVendorId);
        agent.SetPID_To_Match(ArmUsbIds::HidProductId);
        agent.SetSearchOnVID(true);
        agent.SetSearchOnPID(true);
        QObject::connect(&agent, &HIDagentX::OnIntfOpened, &window, [this] {
            try {
                devices.OnIntfOpened();
            } catch (const HidError &) {
            }
        });
        QObject::connect(&arm, &VirtualArm::commandReceived, &window,
                         [this](int code, qint64 ns, const QByteArray &) {
                             received.append(code);
                             receivedAt.append(ns);
                         });
        agent.OpenMatchingIntfs();
    }
    ~ArmRig() { agent.StopAgent(); }

    VirtualHidTransport transport;
    VirtualArm arm{transport};
    HIDagentX agent{&transport};
    QObject window;
    ArmDeviceList devices{agent, &window};
    QList<int> received;
    QList<qint64> receivedAt;
};

QList<Step> steps(std::initializer_list<Step> list)
{
    return QList<Step>(list);
}

// Sends come from the runner's timing thread; what the window would do in answer (a click, a Clear)
// happens on the runner's own thread, which then tells the runner that the script changed. The change
// goes through a mutex and the queued call carries no data, so ThreadSanitizer sees the hand-over (it
// cannot see into Qt's event queue).
class OnRunnersThread : public QObject
{
    Q_OBJECT
public:
    explicit OnRunnersThread(ScriptRunner &runner) : m_runner(runner) {}

    void post(std::function<void()> change)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_changes.append(std::move(change));
        }
        QMetaObject::invokeMethod(this, "apply", Qt::QueuedConnection);
    }

private:
    Q_INVOKABLE void apply()
    {
        std::function<void()> change;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_changes.isEmpty())
                return;
            change = m_changes.takeFirst();
        }
        change();
        m_runner.scriptChanged();
    }

    ScriptRunner &m_runner;
    std::mutex m_mutex;
    QList<std::function<void()>> m_changes;
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TestScriptRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void playsStepsInOrder_data()
    {
        QTest::addColumn<QList<Step>>("script");
        QTest::addColumn<QString>("reps");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QList<int>>("rows");

        const QList<Step> elbowPause = steps({{"ElbowUp", " .03"}, {"Pause", " .01"}});
        QTest::newRow("two steps twice")
            << elbowPause << "2" << QList<int>{3, 0, 3, 0, 0} << QList<int>{1, 2, 1, 2};
        QTest::newRow("repetitions zero") << elbowPause << "0" << QList<int>{0} << QList<int>{};
        QTest::newRow("repetitions empty") << elbowPause << "" << QList<int>{0} << QList<int>{};
        QTest::newRow("repetitions not a number") << elbowPause << "x3" << QList<int>{0} << QList<int>{};
        QTest::newRow("fractional repetitions round up the comparison")
            << steps({{"BaseCW", ""}}) << "2.5" << QList<int>{7, 7, 7, 0} << QList<int>{1, 1, 1};
        QTest::newRow("function names compared exactly")
            << steps({{"ElbowUp", ".01"}, {"elbowup", ".01"}, {" BaseCW", ".01"}, {"", ".01"}}) << "1"
            << QList<int>{3, 0} << QList<int>{1, 2, 3, 4};
        QTest::newRow("zero, empty and negative times do not wait")
            << steps({{"BaseCW", ""}, {"BaseCCW", "0"}, {"GripOpen", "-1"}, {"WristUp", "abc"}}) << "1"
            << QList<int>{7, 2, 10, 4, 0} << QList<int>{1, 2, 3, 4};
        QTest::newRow("every step code") << steps({{"ShoulderUp", ""},
                                                   {"ShoulderDown", ""},
                                                   {"ElbowDown", ""},
                                                   {"WristDown", ""},
                                                   {"GripClose", ""}})
                                         << "1" << QList<int>{1, 6, 8, 9, 5, 0} << QList<int>{1, 2, 3, 4, 5};
    }
    void playsStepsInOrder()
    {
        QFETCH(QList<Step>, script);
        QFETCH(QString, reps);
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, rows);

        FakeSource source;
        source.steps = script;
        source.reps = reps;
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.RunScript(source);
        QCOMPARE(source.codes, codes);
        QCOMPARE(source.startedRows, rows);
        QVERIFY(!runner.isRunning());
    }

    void firstRepetitionStartsAtTheStepGiven_data()
    {
        QTest::addColumn<int>("firstStep");
        QTest::addColumn<QString>("reps");
        QTest::addColumn<QList<int>>("rows");

        QTest::newRow("from step 2, twice") << 2 << "2" << QList<int>{2, 3, 1, 2, 3};
        QTest::newRow("from the last step, once") << 3 << "1" << QList<int>{3};
        QTest::newRow("past the end leaves the first repetition empty") << 4 << "2" << QList<int>{1, 2, 3};
        QTest::newRow("no repetitions play nothing") << 2 << "0" << QList<int>{};
    }
    void firstRepetitionStartsAtTheStepGiven()
    {
        QFETCH(int, firstStep);
        QFETCH(QString, reps);
        QFETCH(QList<int>, rows);

        FakeSource source;
        source.steps = steps({{"ElbowUp", ""}, {"WristUp", ""}, {"GripOpen", ""}});
        source.reps = reps;
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.RunScript(source, firstStep);
        QCOMPARE(source.startedRows, rows);
        QCOMPARE(source.codes.last(), 0);
        // The next run starts at step 1 again.
        source.startedRows.clear();
        source.reps = QStringLiteral("1");
        runner.RunScript(source);
        QCOMPARE(source.startedRows, QList<int>({1, 2, 3}));
    }

    void stepsLastAtLeastTheirTimes()
    {
        FakeSource source;
        source.steps = steps({{"BaseCW", ".02"}, {"nothing", ".01"}, {"Pause", "0"}, {"BaseCCW", ".03"}});
        source.reps = QStringLiteral("2");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        const qint64 start = ScriptRunner::clockNs();
        runner.RunScript(source);
        QCOMPARE(source.startedRows, (QList<int>{1, 2, 3, 4, 1, 2, 3, 4}));
        // The highlight may be told a little ahead of the moment; the command never is.
        const QList<qint64> rowOffsets{0, 20, 30, 30, 60, 80, 90, 90};
        for (int i = 1; i < source.startedAt.size(); ++i) {
            QVERIFY2(source.startedAt[i] - start >= rowOffsets[i] * Ms - ScriptRunner::WakeLeadNs,
                     qPrintable(
                         QStringLiteral("row %1 began after %2 ns").arg(i).arg(source.startedAt[i] - start)));
        }
        QCOMPARE(source.codes, (QList<int>{7, 0, 2, 7, 0, 2, 0}));
        const QList<qint64> sendOffsets{0, 30, 30, 60, 90, 90, 120};
        for (int i = 1; i < source.sentAt.size(); ++i) {
            QVERIFY2(
                source.sentAt[i] - start >= sendOffsets[i] * Ms,
                qPrintable(
                    QStringLiteral("code %1 went out after %2 ns").arg(i).arg(source.sentAt[i] - start)));
        }
    }

    void repetitionsAreReadBeforeEachRepetition_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("during");
        QTest::addColumn<int>("repetitions");
        QTest::newRow("raised during the run") << "1"
                                               << "3" << 3;
        QTest::newRow("lowered during the run") << "4"
                                                << "2" << 2;
        QTest::newRow("emptied during the run") << "5"
                                                << "" << 1;
    }
    void repetitionsAreReadBeforeEachRepetition()
    {
        QFETCH(QString, before);
        QFETCH(QString, during);
        QFETCH(int, repetitions);
        FakeSource source;
        source.steps = steps({{"BaseCW", ".01"}, {"BaseCCW", ".01"}});
        source.reps = before;
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        source.onSend = [&](int index) {
            if (index == 0)
                onRunner.post([&] { source.reps = during; });
        };
        runner.RunScript(source);
        QCOMPARE(source.startedRows.size(), 2 * repetitions);
        QCOMPARE(source.codes.size(), 2 * repetitions + 1);
        QCOMPARE(source.codes.last(), 0);
    }

    void repetitionCountIsCapped_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("count");
        QTest::newRow("ordinary") << 5.0 << 5.0;
        QTest::newRow("largest") << 32767.0 << 32767.0;
        QTest::newRow("five digits above the counter") << 99999.0 << 32767.0;
        QTest::newRow("just above") << 32767.5 << 32767.0;
        QTest::newRow("negative stays") << -3.0 << -3.0;
    }
    void repetitionCountIsCapped()
    {
        QFETCH(double, value);
        QFETCH(double, count);
        QCOMPARE(ScriptRunner::RepetitionCount(value), count);
    }

    void hugeRepetitionsOfAnEmptyScriptEnd()
    {
        // Every repetition is empty; the counter must reach the cap and stop rather than wrap.
        FakeSource source;
        source.reps = QStringLiteral("99999");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.RunScript(source);
        QCOMPARE(source.codes, QList<int>{0});
    }

    void stopTakesEffectAtOnce()
    {
        FakeSource source;
        source.steps = steps({{"BaseCW", "10"}, {"BaseCCW", "10"}});
        source.reps = QStringLiteral("3");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        qint64 stopAt = 0;
        bool stoppedInRun = false;
        // A click once step 1 has begun, however long its command took to go out.
        source.onSend = [&](int index) {
            if (index == 0)
                onRunner.post([&] {
                    stoppedInRun = runner.isRunning();
                    stopAt = ScriptRunner::clockNs();
                    runner.requestStop();
                });
        };
        QElapsedTimer elapsed;
        elapsed.start();
        runner.RunScript(source);
        QVERIFY2(elapsed.elapsed() < 5000, "the stop waited for the step's end");
        QCOMPARE(source.codes, (QList<int>{7, 0}));
        QVERIFY(stoppedInRun);
        QVERIFY(stopAt > 0 && source.sentAt.last() >= stopAt);
        QVERIFY(!runner.isRunning());

        // The next run starts again at step 1 of repetition 1.
        source.onSend = nullptr;
        source.steps = steps({{"GripOpen", ""}, {"GripClose", ""}});
        source.reps = QStringLiteral("1");
        source.codes.clear();
        source.startedRows.clear();
        runner.RunScript(source);
        QCOMPARE(source.startedRows, (QList<int>{1, 2}));
        QCOMPARE(source.codes, (QList<int>{10, 5, 0}));
    }

    void stepsWithoutTimeStillLetEventsIn()
    {
        FakeSource source;
        source.steps = steps({{"BaseCW", "0"}});
        source.reps = QStringLiteral("32767");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        bool stopped = false;
        QTimer::singleShot(10, &runner, [&] {
            stopped = true;
            runner.requestStop();
        });
        runner.RunScript(source);
        QVERIFY(stopped);
        QVERIFY2(source.codes.size() < 32767, "the stop click had to wait for the whole run");
        QCOMPARE(source.codes.last(), 0);
    }

    void stopSendsOneZeroFromWhicheverThreadAsks_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("zeroFromTimingThread");
        // A click during a step: the 0 goes out from the click's thread, at once.
        QTest::newRow("runner's thread") << "runner" << false;
        // Events handled inside the arm call may carry the Stop: the 0 follows that send.
        QTest::newRow("inside a send") << "send" << true;
        // Another thread (the arm going away, say): the 0 goes out from that thread.
        QTest::newRow("other thread") << "other" << false;
    }
    void stopSendsOneZeroFromWhicheverThreadAsks()
    {
        QFETCH(QString, origin);
        QFETCH(bool, zeroFromTimingThread);
        FakeSource source;
        source.steps = steps({{"WristUp", "10"}, {"WristDown", "10"}});
        source.reps = QStringLiteral("2");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        std::thread other;
        source.onSend = [&](int index) {
            if (index != 0)
                return;
            if (origin == u"send")
                runner.requestStop();
            else if (origin == u"other")
                other = std::thread([&] {
                    // Once this send is through, with room for a slow machine: the step lasts 10 s.
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    runner.requestStop();
                });
            else // a click, once this send is through
                onRunner.post([&] { QTimer::singleShot(500, &runner, [&] { runner.requestStop(); }); });
        };
        QElapsedTimer elapsed;
        elapsed.start();
        runner.RunScript(source);
        if (other.joinable())
            other.join();
        QVERIFY2(elapsed.elapsed() < 5000, "the stop waited for the step's end");
        QCOMPARE(source.codes, (QList<int>{4, 0}));
        QVERIFY(source.sentFrom[0] != std::this_thread::get_id());
        QCOMPARE(source.sentFrom[1] == source.sentFrom[0], zeroFromTimingThread);
        if (origin == u"runner")
            QVERIFY(source.sentFrom[1] == std::this_thread::get_id());
    }

    void sendsKeepTimeWhileTheRunnersThreadIsBusy()
    {
        // The window's thread paints for a long while; the steps' commands still go out at their
        // moments, not when the painting is done. It paints until every send is through, or for 20 s:
        // sends that waited for it would all come after that.
        FakeSource source;
        source.steps =
            steps({{"BaseCW", ".01"}, {"BaseCCW", ".01"}, {"ElbowUp", ".01"}, {"ElbowDown", ".01"}});
        std::atomic<int> sends{0};
        source.onSend = [&](int) { ++sends; };
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        qint64 busyUntil = 0;
        QMetaObject::invokeMethod(
            &runner,
            [&] {
                QElapsedTimer painting;
                painting.start();
                while (sends.load() < 5 && painting.elapsed() < 20000)
                    QThread::msleep(5);
                busyUntil = ScriptRunner::clockNs();
            },
            Qt::QueuedConnection);
        runner.RunScript(source);
        QCOMPARE(source.codes, (QList<int>{7, 2, 3, 8, 0}));
        QVERIFY(busyUntil > 0);
        QVERIFY2(source.sentAt.last() < busyUntil, "the sends waited for the busy thread");
        // The rows are reported on the runner's thread, in order, once it is free again.
        QCOMPARE(source.startedRows, (QList<int>{1, 2, 3, 4}));
        QVERIFY(source.startedAt.first() >= busyUntil);
    }

    void sendsOfTheRunAndOfTheWindowDoNotMix()
    {
        // Clicks on the window's thread write to the same arm while the run writes from its own
        // thread: every report must arrive whole and none may be lost.
        ArmRig rig;
        FakeSource source;
        QList<Step> script;
        for (int i = 0; i < 40; ++i)
            script.append(
                {i % 2 ? QStringLiteral("BaseCW") : QStringLiteral("BaseCCW"), QStringLiteral(".002")});
        source.steps = script;
        source.onSend = [&](int) { rig.devices.SendToAll(qint16(source.codes.last())); };
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        int clicks = 0;
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            for (int i = 0; i < 20; ++i, ++clicks)
                rig.devices.SendToAll(qint16(3));
        });
        clicker.start(1);
        runner.RunScript(source);
        clicker.stop();
        QCOMPARE(source.codes.size(), 41);
        QTRY_COMPARE(rig.received.size(), 41 + clicks);
        QCOMPARE(rig.received.count(3), clicks);
        QCOMPARE(rig.received.count(7) + rig.received.count(2) + rig.received.count(0), 41);
    }

    void requestsOutsideARunAreIgnored()
    {
        FakeSource source;
        source.steps = steps({{"ElbowDown", ""}});
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.requestStop();
        int nestedSends = -1;
        source.onSend = [&](int index) {
            if (index == 0) {
                const qsizetype before = source.codes.size();
                runner.RunScript(source);
                nestedSends = int(source.codes.size() - before);
            }
        };
        runner.RunScript(source);
        QCOMPARE(nestedSends, 0);
        QCOMPARE(source.codes, (QList<int>{8, 0}));
    }

    void clearDuringARunLetsTheStepFinish()
    {
        FakeSource source;
        source.steps = steps({{"BaseCW", ".03"}, {"BaseCCW", ".03"}, {"GripOpen", ".03"}});
        source.reps = QStringLiteral("5");
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        // The Clear click arrives in the first pass of events while step 1 runs.
        source.onSend = [&](int index) {
            if (index == 0)
                onRunner.post([&] { source.count = 0; });
        };
        const qint64 start = ScriptRunner::clockNs();
        runner.RunScript(source);
        QCOMPARE(source.codes, (QList<int>{7, 0}));
        QVERIFY2(source.sentAt.last() - start >= 30 * Ms, "the step under way was cut short by Clear");
    }

    void loadDuringARunGoesOnWithTheNewRows()
    {
        FakeSource source;
        source.steps = steps({{"ElbowUp", ".02"}, {"BaseCW", ".02"}, {"GripOpen", ".02"}});
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        source.onSend = [&](int index) {
            if (index != 0)
                return;
            onRunner.post([&] {
                source.steps = steps({{"WristUp", ".01"},
                                      {"WristDown", ".01"},
                                      {"ShoulderUp", ".01"},
                                      {"ShoulderDown", ".01"}});
            });
        };
        runner.RunScript(source);
        QCOMPARE(source.startedRows, (QList<int>{1, 2, 3, 4}));
        QCOMPARE(source.codes, (QList<int>{3, 9, 1, 6, 0}));
    }

    void heldUpSendKeepsItsStepsTime_data()
    {
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<bool>("restarts");
        // Under the bound it counts as a late wake-up, which the schedule makes up; beyond it, the step
        // runs its whole time from the moment its code went out.
        QTest::newRow("3 ms: made up") << 3 << false;
        QTest::newRow("40 ms: step keeps its time") << 40 << true;
    }

    void heldUpSendKeepsItsStepsTime()
    {
        // Step 1's code is held up on its way out (the arm's lock, a slow device).
        QFETCH(int, heldMs);
        QFETCH(bool, restarts);
        FakeSource source;
        source.steps = steps({{"BaseCW", ".01"}, {"BaseCCW", ".02"}});
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.setRecordTimings(true);
        qint64 busyUntil = 0;
        source.onSend = [&](int index) {
            if (index == 0) {
                QThread::msleep(heldMs);
                busyUntil = ScriptRunner::clockNs();
            }
        };
        runner.RunScript(source);
        QCOMPARE(source.codes, (QList<int>{7, 2, 0}));

        const QList<ScriptRunner::SendTiming> &timings = runner.sendTimings();
        QCOMPARE(timings.size(), 3);
        QVERIFY(timings[0].sentNs >= busyUntil);
        QVERIFY(timings[0].sentNs - timings[0].scheduledNs >= heldMs * Ms);
        // Step 1's 10 ms run from its scheduled moment, or from when its code went out; step 2's
        // 20 ms from the end of step 1 in either case, and no send comes before its moment.
        const qint64 step1From = restarts ? timings[0].sentNs : timings[0].scheduledNs;
        QCOMPARE(timings[1].scheduledNs, step1From + 10 * Ms);
        QCOMPARE(timings[2].scheduledNs, timings[1].scheduledNs + 20 * Ms);
        QVERIFY(source.sentAt[1] >= timings[1].scheduledNs);
        QVERIFY(source.sentAt[2] >= timings[2].scheduledNs);
    }

    // A long run of steps that take no time, at real-time priority, on one core shared with an ordinary
    // thread that sleeps a millisecond at a time: the sleeper must still get its turn between the steps,
    // not only when the repetition is over.
    void zeroTimeStepsLeaveTheCoreToOthers()
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        cpu_set_t before;
        QVERIFY(::sched_getaffinity(0, sizeof before, &before) == 0);
        // Threads started from here on share this core.
        QVERIFY(::sched_setaffinity(0, sizeof one, &one) == 0);

        FakeSource source;
        source.steps = QList<Step>(10000, Step{QStringLiteral("BaseCW"), QStringLiteral("0")});
        // Each send costs the timing thread 10 us of work, as a write does.
        source.onSend = [](int) {
            const qint64 until = ScriptRunner::clockNs() + 10'000;
            while (ScriptRunner::clockNs() < until) {
            }
        };
        std::atomic<bool> sleeping{true};
        std::atomic<qint64> worstLateNs{0};
        std::thread sleeper([&] {
            while (sleeping) {
                const qint64 start = ScriptRunner::clockNs();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const qint64 late = ScriptRunner::clockNs() - start - 1'000'000;
                worstLateNs = std::max<qint64>(worstLateNs, late);
            }
        });
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.setRealtimeScheduling(true);
        runner.RunScript(source);
        sleeping = false;
        sleeper.join();
        ::sched_setaffinity(0, sizeof before, &before);
        QCOMPARE(source.codes.size(), 10001);
        if (!runner.realtimeGranted())
            QSKIP("real-time scheduling is not allowed here");
        QVERIFY2(worstLateNs < 40'000'000, qPrintable(QStringLiteral("the sleeper woke %1 ms late")
                                                          .arg(double(worstLateNs) / 1e6)));
    }

    void commandsReachTheVirtualArm()
    {
        ArmRig rig;
        QCOMPARE(rig.devices.Count(), 1);
        FakeSource source;
        source.steps = steps({{"ElbowUp", " .03"}, {"Pause", " .01"}});
        source.reps = QStringLiteral("2");
        source.onSend = [&](int) { rig.devices.SendToAll(qint16(source.codes.last())); };
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        const qint64 start = ScriptRunner::clockNs();
        runner.RunScript(source);
        QTRY_COMPARE(rig.received, (QList<int>{3, 0, 3, 0, 0}));
        const QList<qint64> offsets{0, 30, 40, 70, 80};
        for (int i = 1; i < rig.receivedAt.size(); ++i)
            QVERIFY(rig.receivedAt[i] - start >= offsets[i] * Ms);
    }

    void stopReachesTheVirtualArm()
    {
        ArmRig rig;
        FakeSource source;
        source.steps = steps({{"GripClose", "10"}});
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        OnRunnersThread onRunner(runner);
        // Stopped once step 1's command is on its way to the arm.
        source.onSend = [&](int index) {
            rig.devices.SendToAll(qint16(source.codes.last()));
            if (index == 0)
                onRunner.post([&] { runner.requestStop(); });
        };
        runner.RunScript(source);
        QCOMPARE(rig.arm.lastCode(), 0);
        QTRY_COMPARE(rig.received, (QList<int>{5, 0}));
    }

    void timingsAreKeptOnlyWhenAsked()
    {
        FakeSource source;
        source.steps = steps({{"BaseCW", ".005"}, {"Pause", ".005"}});
        ScriptRunner runner;
        runner.setSender([&source](qint16 code) { source.sent(code); });
        runner.RunScript(source);
        QVERIFY(runner.sendTimings().isEmpty());
        runner.setRecordTimings(true);
        runner.RunScript(source);
        QCOMPARE(runner.sendTimings().size(), 3);
        for (const ScriptRunner::SendTiming &t : runner.sendTimings())
            QVERIFY(t.sentNs >= t.scheduledNs);
        // Each scheduled moment is at least the previous one plus the step's 5 ms.
        QVERIFY(runner.sendTimings()[1].scheduledNs - runner.sendTimings()[0].scheduledNs >= 5 * Ms);
        QVERIFY(runner.sendTimings()[2].scheduledNs - runner.sendTimings()[1].scheduledNs >= 5 * Ms);
    }
};

QTEST_GUILESS_MAIN(TestScriptRunner)
#include "tst_scriptrunner.moc"
