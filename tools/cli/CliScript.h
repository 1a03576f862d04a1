#pragma once

#include "ArmSession.h"
#include "CliTerminal.h"
#include "RunProgress.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"

#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <mutex>

// What `tessaro-cli run` plays: the steps of a loaded script file, through the arm session, with the
// run's progress on standard output.
// How the run shows itself on standard output.
enum class Output { Quiet, Lines, Terminal };

class CliScript : public ScriptSource
{
public:
    CliScript(const ScriptLoad &load, int reps, Output output, QTextStream &out)
        : m_rows(load.records), m_steps(load.nextStep - 1), m_reps(reps),
          m_output(output), m_out(out), m_line(out)
    {
        QList<double> seconds;
        for (int row = 1; row <= m_steps; ++row)
            seconds << RunProgress::stepSeconds(timeText(row));
        m_progress.setPlan(seconds, reps);
        if (m_output == Output::Terminal) {
            m_redraw.setInterval(RedrawMs);
            QObject::connect(&m_redraw, &QTimer::timeout, &m_redraw, [this] { draw(); });
        }
    }

    int stepCount() override { return m_steps; }
    QString functionText(int row) override { return row < m_rows.size() ? m_rows[row][1] : QString(); }
    QString timeText(int row) override { return row < m_rows.size() ? m_rows[row][2] : QString(); }
    QString repetitionsText() override { return QString::number(m_reps); }
    void stepStarting(int row) override
    {
        const qint64 now = ScriptRunner::clockNs();
        m_progress.stepStarted(row, now);
        switch (m_output) {
        case Output::Quiet:
            break;
        case Output::Lines:
            // Each line says where it belongs, read on its own: "Repetition 2 of 3  Step 1 of 2  ElbowUp  2.5 s".
            m_out << "Repetition " << m_progress.repetitionText() << "  Step " << row << " of " << m_steps << "  "
                  << functionText(row) << "  " << NumberText(LeadingNumber(timeText(row))).trimmed() << " s\n";
            m_out.flush();
            break;
        case Output::Terminal:
            // Short steps come faster than anyone reads; the timer shows where the run is meanwhile.
            if (now - m_drawnNs >= qint64(RedrawMs) * 1'000'000)
                draw();
            break;
        }
    }

    const RunProgress &progress() const { return m_progress; }

    // Before the run: its total; on a terminal, the progress line from here on.
    void begin()
    {
        m_progress.start(ScriptRunner::clockNs());
        if (m_output == Output::Quiet)
            return;
        m_out << RunProgress::totalText(m_progress.passSeconds(), m_reps) << "\n";
        m_out.flush();
        if (m_output == Output::Terminal) {
            draw();
            m_redraw.start();
        }
    }
    // After the run: the progress line gives way to what is said next.
    void end()
    {
        m_redraw.stop();
        m_line.clear();
    }

    // Why the commands that did not reach the arm failed, in order. Once the run has ended.

private:
    static constexpr int RedrawMs = 200;

    void draw()
    {
        m_drawnNs = ScriptRunner::clockNs();
        const int row = m_progress.step();
        m_line.show(m_progress.progressLine(m_drawnNs, row > 0 ? functionText(row) : QString()));
    }

    QList<ScriptRow> m_rows;
    int m_steps;
    int m_reps;
    Output m_output;
    QTextStream &m_out;
    TerminalLine m_line;
    RunProgress m_progress;
    QTimer m_redraw;
    qint64 m_drawnNs = 0;
};
