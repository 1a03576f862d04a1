#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Where a script run stands and how long it has left, worked out on the thread that hears the
// runner's step notices (ScriptSource::stepStarting) from those notices alone, so that showing the
// progress costs the timing thread nothing. Also the texts that show it, shared by the window and
// tessaro-cli.
//
// Times follow the runner's rules: a step lasts LeadingNumber(time text) seconds, nothing when that is
// not above zero; a repetitions value of 2.5 plays three repetitions, one not above zero plays none.
// The time run is the plan's: the steps done in full plus the part of the current step gone by, never
// more than the step's time, so that time run and time left always add up to the whole run.
class RunProgress
{
public:
    // Seconds as the script's totals show them: "12.5 s" below a minute (up to milliseconds, no
    // trailing zeros), "1:05" (m:ss) from a minute and "1:00:05" (h:mm:ss) from an hour, to the nearest
    // second. A value that is negative or not a number shows as "0 s".
    static QString durationText(double seconds);
    // How long something took, as a person reads a stopwatch: "6.0 s" (tenths) below a minute, then
    // "1:05" and "1:00:05" as durationText.
    static QString elapsedText(double seconds);
    // A running clock: m:ss, h:mm:ss from an hour, whole seconds rounded down ("0:07").
    static QString clockText(double seconds);
    // One pass and the whole run: "Total 12.5 s × 3 = 37.5 s"; one repetition gives "Total 12.5 s".
    static QString totalText(double passSeconds, int repetitions);
    // How many repetitions a repetitions value plays, as the runner counts them.
    static int repetitionsPlayed(double value);
    // A step's seconds as the runner times it, from the step's time text.
    static double stepSeconds(const QString &timeText);

    // The run's script: each step's seconds (rows 1 .. n) and how many repetitions it plays. May be
    // given again during the run when the script changes; the step and repetition reached are kept.
    void setPlan(const QList<double> &stepSeconds, int repetitions);
    // The run starts at nowNs, its first repetition at row firstStep (the others at row 1).
    void start(qint64 nowNs, int firstStep = 1);
    // The notice of a step: row `row` started at nowNs. A row not after the previous one begins the
    // next repetition.
    void stepStarted(int row, qint64 nowNs);

    int repetition() const { return m_repetition; } // 1 .. repetitions(); 0 before the first step
    int repetitions() const { return m_repetitions; }
    int step() const { return m_row; } // the row under way; 0 before the first step
    int steps() const { return int(m_seconds.size()); }
    int firstStep() const { return m_firstStep; }

    double passSeconds() const;  // one repetition from row 1
    double totalSeconds() const; // the whole run, from its first step to the end of its last repetition
    double secondsRun(qint64 nowNs) const;
    double secondsLeft(qint64 nowNs) const;
    // secondsRun as a share of the whole, 0 .. 1 (1 for a run that takes no time once it has begun).
    double fraction(qint64 nowNs) const;

    // "2 of 3".
    QString repetitionText() const;
    // "Repetition 2 of 3  Step 4 of 7 ElbowUp  0:12 left", the step's name when one is given.
    QString progressLine(qint64 nowNs, const QString &stepName = QString()) const;
    // "Run finished: 3 repetitions, 37.5 s" (the seconds the run took, to the tenth).
    QString finishedText(double seconds) const;
    // "Run stopped at step 5 of repetition 2".
    QString stoppedText() const;

private:
    // Seconds of rows from .. to (1-based, inclusive); 0 when the range is empty.
    double rowsSeconds(int from, int to) const;

    QList<double> m_seconds;
    QList<double> m_prefix; // m_prefix[i]: seconds of rows 1 .. i
    int m_repetitions = 0;
    int m_firstStep = 1;
    int m_repetition = 0;
    int m_row = 0;
    qint64 m_startNs = 0;
    qint64 m_stepStartNs = 0;
};
