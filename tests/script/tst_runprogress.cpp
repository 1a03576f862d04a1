#include "RunProgress.h"
#include "NumberReading.h"
#include "ScriptRunner.h"

#include <QTest>

#include <limits>

namespace {

constexpr qint64 Start = 5'000'000'000'000; // any point on the monotonic clock

constexpr qint64 at(double seconds)
{
    return Start + qint64(seconds * 1e9);
}

// A step notice: row `row` started `seconds` after the run began.
struct Notice
{
    int row;
    double seconds;
};

} // namespace

Q_DECLARE_METATYPE(QList<Notice>)

class TestRunProgress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void durations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("clock");
        QTest::newRow("nothing") << 0.0 << "0 s" << "0:00";
        QTest::newRow("quarter second") << 0.25 << "0.25 s" << "0:00";
        QTest::newRow("milliseconds kept, noise dropped") << 0.1 + 0.2 << "0.3 s" << "0:00";
        QTest::newRow("whole seconds") << 12.0 << "12 s" << "0:12";
        QTest::newRow("half") << 37.5 << "37.5 s" << "0:37";
        QTest::newRow("just under a minute") << 59.75 << "59.75 s" << "0:59";
        QTest::newRow("rounds up to a minute") << 59.9996 << "1:00" << "0:59";
        QTest::newRow("a minute") << 60.0 << "1:00" << "1:00";
        QTest::newRow("m:ss to the nearest second") << 75.6 << "1:16" << "1:15";
        QTest::newRow("ten minutes") << 605.0 << "10:05" << "10:05";
        QTest::newRow("just under an hour") << 3599.4 << "59:59" << "59:59";
        QTest::newRow("an hour") << 3600.0 << "1:00:00" << "1:00:00";
        QTest::newRow("h:mm:ss pads minutes") << 3600 + 5 * 60 + 7.0 << "1:05:07" << "1:05:07";
        QTest::newRow("longest script, most repetitions") << 32766 * 1e9 * 32767 << "298234311666666:40:00"
                                                            << "298234311666666:40:00";
        QTest::newRow("negative") << -3.0 << "0 s" << "0:00";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0 s" << "0:00";
    }
    void durations()
    {
        QFETCH(double, seconds);
        QFETCH(QString, duration);
        QFETCH(QString, clock);
        QCOMPARE(RunProgress::durationText(seconds), duration);
        QCOMPARE(RunProgress::clockText(seconds), clock);
    }

    void totals_data()
    {
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QString>("repetitionsText");
        QTest::addColumn<QString>("total");
        QTest::newRow("three repetitions")
            << QStringList{" 2.5", " 10"} << " 3" << QStringLiteral("Total 12.5 s \u00D7 3 = 37.5 s");
        QTest::newRow("one repetition") << QStringList{" 2.5", " 10"} << "1" << QStringLiteral("Total 12.5 s");
        QTest::newRow("into minutes") << QStringList{" 25"} << "3" << QStringLiteral("Total 25 s \u00D7 3 = 1:15");
        QTest::newRow("into hours") << QStringList{" 1200"} << "4" << QStringLiteral("Total 20:00 \u00D7 4 = 1:20:00");
        // The runner plays a started repetition whole, and steps without a positive time take none.
        QTest::newRow("a fraction plays a whole repetition")
            << QStringList{" 1", "-4", "x", " 0"} << "2.5" << QStringLiteral("Total 1 s \u00D7 3 = 3 s");
        QTest::newRow("none") << QStringList{" 1"} << "0" << QStringLiteral("Total 1 s \u00D7 0 = 0 s");
        QTest::newRow("negative plays none") << QStringList{" 1"} << "-1" << QStringLiteral("Total 1 s \u00D7 0 = 0 s");
        QTest::newRow("capped at the counter")
            << QStringList{" 1"} << "99999" << QStringLiteral("Total 1 s \u00D7 32767 = 9:06:07");
    }
    void totals()
    {
        QFETCH(QStringList, times);
        QFETCH(QString, repetitionsText);
        QFETCH(QString, total);
        QList<double> seconds;
        for (const QString &t : times)
            seconds << RunProgress::stepSeconds(t);
        RunProgress progress;
        const int repetitions = RunProgress::repetitionsPlayed(
            ScriptRunner::RepetitionCount(LeadingNumber(repetitionsText)));
        progress.setPlan(seconds, repetitions);
        QCOMPARE(RunProgress::totalText(progress.passSeconds(), repetitions), total);
        QCOMPARE(progress.totalSeconds(), progress.passSeconds() * repetitions);
    }

    // A run followed through its step notices, looked at once at `now`.
    void followsTheRun_data()
    {
        QTest::addColumn<QList<double>>("steps");
        QTest::addColumn<int>("repetitions");
        QTest::addColumn<int>("firstStep");
        QTest::addColumn<QList<Notice>>("notices");
        QTest::addColumn<double>("now");
        QTest::addColumn<QString>("repetition");
        QTest::addColumn<double>("run");
        QTest::addColumn<double>("left");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("stopped");

        const QList<double> script{2.5, 10, 0, 1}; // 13.5 s a pass
        QTest::newRow("before the first step")
            << script << 3 << 1 << QList<Notice>{} << 0.0 << "0 of 3" << 0.0 << 40.5 << "Starting, 0:41 left"
            << "Run stopped before its first step";
        QTest::newRow("inside the first step")
            << script << 3 << 1 << QList<Notice>{{1, 0}} << 1.0 << "1 of 3" << 1.0 << 39.5
            << "Repetition 1 of 3  Step 1 of 4 ElbowUp  0:40 left" << "Run stopped at step 1 of repetition 1";
        QTest::newRow("second repetition, by the row going back")
            << script << 3 << 1 << QList<Notice>{{1, 0}, {2, 2.5}, {3, 12.5}, {4, 12.5}, {1, 13.5}, {2, 16}}
            << 20.0 << "2 of 3" << 20.0 << 20.5 << "Repetition 2 of 3  Step 2 of 4 ElbowUp  0:21 left"
            << "Run stopped at step 2 of repetition 2";
        QTest::newRow("a late step counts no more than its time")
            << script << 3 << 1 << QList<Notice>{{1, 0}} << 9.0 << "1 of 3" << 2.5 << 38.0
            << "Repetition 1 of 3  Step 1 of 4 ElbowUp  0:38 left" << "Run stopped at step 1 of repetition 1";
        QTest::newRow("last step of the last repetition")
            << script << 2 << 1 << QList<Notice>{{1, 0}, {2, 2.5}, {3, 12.5}, {4, 12.5}, {1, 13.5}, {2, 16},
                                                 {3, 26}, {4, 26}}
            << 26.6 << "2 of 2" << 26.6 << 0.4 << "Repetition 2 of 2  Step 4 of 4 ElbowUp  0:01 left"
            << "Run stopped at step 4 of repetition 2";
        QTest::newRow("one step, each notice a repetition")
            << QList<double>{0.5} << 4 << 1 << QList<Notice>{{1, 0}, {1, 0.5}, {1, 1}} << 1.25 << "3 of 4"
            << 1.25 << 0.75 << "Repetition 3 of 4  Step 1 of 1 ElbowUp  0:01 left"
            << "Run stopped at step 1 of repetition 3";
        // Run from here: the first repetition from row 3, the rest whole.
        QTest::newRow("run from step 3, first repetition")
            << script << 2 << 3 << QList<Notice>{{3, 0}, {4, 0}} << 0.5 << "1 of 2" << 0.5 << 14.0
            << "Repetition 1 of 2  Step 4 of 4 ElbowUp  0:14 left" << "Run stopped at step 4 of repetition 1";
        QTest::newRow("run from step 3, second repetition")
            << script << 2 << 3 << QList<Notice>{{3, 0}, {4, 0}, {1, 1}, {2, 3.5}} << 4.0 << "2 of 2" << 4.0
            << 10.5 << "Repetition 2 of 2  Step 2 of 4 ElbowUp  0:11 left" << "Run stopped at step 2 of repetition 2";
        QTest::newRow("a script of no time")
            << QList<double>{0, 0} << 2 << 1 << QList<Notice>{{1, 0}, {2, 0}} << 0.1 << "1 of 2" << 0.0 << 0.0
            << "Repetition 1 of 2  Step 2 of 2 ElbowUp  0:00 left" << "Run stopped at step 2 of repetition 1";
    }
    void followsTheRun()
    {
        QFETCH(QList<double>, steps);
        QFETCH(int, repetitions);
        QFETCH(int, firstStep);
        QFETCH(QList<Notice>, notices);
        QFETCH(double, now);
        QFETCH(QString, repetition);
        QFETCH(double, run);
        QFETCH(double, left);
        QFETCH(QString, line);
        QFETCH(QString, stopped);

        RunProgress progress;
        progress.setPlan(steps, repetitions);
        progress.start(at(0), firstStep);
        for (const Notice &n : notices)
            progress.stepStarted(n.row, at(n.seconds));
        QCOMPARE(progress.repetitionText(), repetition);
        QVERIFY2(qAbs(progress.secondsRun(at(now)) - run) < 1e-6, qPrintable(QString::number(progress.secondsRun(at(now)))));
        QVERIFY2(qAbs(progress.secondsLeft(at(now)) - left) < 1e-6, qPrintable(QString::number(progress.secondsLeft(at(now)))));
        QCOMPARE(progress.progressLine(at(now), notices.isEmpty() ? QString() : QStringLiteral("ElbowUp")), line);
        QCOMPARE(progress.stoppedText(), stopped);
        const double fraction = progress.fraction(at(now));
        QVERIFY(fraction >= 0 && fraction <= 1);
        if (progress.totalSeconds() > 0)
            QVERIFY(qAbs(fraction - run / progress.totalSeconds()) < 1e-9);
    }

    void scriptChangedDuringTheRun()
    {
        RunProgress progress;
        progress.setPlan({1, 1, 1, 1}, 2);
        progress.start(at(0));
        for (int row = 1; row <= 4; ++row)
            progress.stepStarted(row, at(row - 1));
        progress.stepStarted(1, at(4));
        // Two steps removed while repetition 2 plays its first: the place is kept, the time follows.
        progress.setPlan({1, 1}, 2);
        QCOMPARE(progress.repetitionText(), QStringLiteral("2 of 2"));
        QCOMPARE(progress.step(), 1);
        QCOMPARE(progress.secondsLeft(at(4.5)), 1.5);
        // Standing on a row that is gone, the progress stays within the script.
        progress.stepStarted(2, at(5));
        progress.setPlan({1}, 2);
        QCOMPARE(progress.step(), 1);
        QCOMPARE(progress.secondsLeft(at(5)), 1.0);
    }

    void finished()
    {
        RunProgress progress;
        progress.setPlan({2.5, 10}, 3);
        QCOMPARE(progress.finishedText(37.5), QStringLiteral("Run finished: 3 repetitions, 37.5 s"));
        // The time a run took, to the tenth as a stopwatch shows it, whatever the clock's last digits.
        const QList<std::pair<double, QString>> took{{6.001, "6.0 s"}, {5.96, "6.0 s"}, {0.04, "0.0 s"},
                                                     {59.94, "59.9 s"}, {59.96, "1:00"}, {75.4, "1:15"}};
        for (const auto &[seconds, text] : took)
            QCOMPARE(progress.finishedText(seconds), QStringLiteral("Run finished: 3 repetitions, ") + text);
        progress.setPlan({2.5, 10}, 1);
        QCOMPARE(progress.finishedText(75), QStringLiteral("Run finished: 1 repetition, 1:15"));
    }
};

QTEST_GUILESS_MAIN(TestRunProgress)
#include "tst_runprogress.moc"
