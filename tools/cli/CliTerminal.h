#pragma once

#include <QSocketNotifier>
#include <QString>
#include <QTextStream>

#include <csignal>
#include <memory>

// The progress line on a terminal: rewritten in place, never wider than the terminal, so that the
// carriage return always goes back to its start.
class TerminalLine
{
public:
    explicit TerminalLine(QTextStream &out);

    void show(const QString &text);
    // Clears the line, so that what follows starts at its beginning.
    void clear();

private:
    QTextStream &m_out;
    int m_columns = 80;
    QString m_last;
    bool m_shown = false;
};

// SIGINT and SIGTERM turned into an event of the event loop: the handlers only write to a pipe, whose
// other end the notifier watches. The old handlers are back once this goes.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Null when the pipe could not be made (no signal is caught then).
    QSocketNotifier *notifier() const { return m_notifier.get(); }
    // The signal that arrived, 0 for none; drains the pipe.
    int take();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    int m_signal = 0;
};
