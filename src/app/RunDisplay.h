#pragma once

#include "RunProgress.h"

#include <QTimer>
#include <QWidget>

// Where a run of the script stands, under the grid while the run lasts: a bar filled by the time run,
// with the repetition ("2 of 3"), the step and the time left written on it. It is worked out here, on
// the window's thread, from the run's step notices; the bar is drawn again a few times a second at
// most, so the timing thread pays nothing for it.
class RunDisplay : public QWidget
{
public:
    explicit RunDisplay(QWidget *parent);

    // The run begins: each step's seconds (rows 1 .. n), the repetitions it plays, its first row, and
    // what it is when it is not the script ("Returning to start"), shown in place of the repetition.
    void begin(const QList<double> &stepSeconds, int repetitions, int firstStep, const QString &what = QString());
    // The script changed during the run; where the run stands is kept.
    void setPlan(const QList<double> &stepSeconds, int repetitions);
    void stepStarted(int row);
    // The run is over: the bar goes. Returns the seconds the run took.
    double end();

    bool active() const { return m_active; }
    const RunProgress &progress() const { return m_progress; }
    // What the bar shows now: "2 of 3 · Step 4 of 7 · 0:12 left", "Returning to start · Step 1 of 3 · …".
    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    RunProgress m_progress;
    QTimer m_redraw;
    QString m_what;
    bool m_active = false;
    qint64 m_startNs = 0;
};
