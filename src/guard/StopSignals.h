#pragma once

#include <QSocketNotifier>

#include <csignal>
#include <initializer_list>
#include <memory>
#include <vector>

// Signals that end the program turned into an event of the event loop: the handlers only write to a
// pipe, whose other end the notifier watches, so the front end stops the arm and then closes as its
// close does. The old handlers are back once this goes. One at a time in a process.
class StopSignals
{
public:
    explicit StopSignals(std::initializer_list<int> signals);
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Null when the pipe could not be made (no signal is caught then).
    QSocketNotifier *notifier() const { return m_notifier.get(); }
    // The signal that arrived last, 0 for none; drains the pipe.
    int take();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<std::pair<int, struct sigaction>> m_old;
    int m_signal = 0;
};
