#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Signal handlers may only write to a pipe; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

} // namespace

StopSignals::StopSignals(std::initializer_list<int> signals)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : signals) {
        struct sigaction old = {};
        ::sigaction(s, &action, &old);
        m_old.emplace_back(s, old);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    for (const auto &[s, old] : m_old)
        ::sigaction(s, &old, nullptr);
    m_notifier.reset();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

int StopSignals::take()
{
    unsigned char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1)
        m_signal = byte;
    return m_signal;
}
