#include "CliTerminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

TerminalLine::TerminalLine(QTextStream &out) : m_out(out)
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        m_columns = size.ws_col;
}

void TerminalLine::show(const QString &text)
{
    const QString line = text.left(m_columns - 1);
    if (m_shown && line == m_last)
        return;
    m_out << "\r" << line << "\x1b[K";
    m_out.flush();
    m_last = line;
    m_shown = true;
}

void TerminalLine::clear()
{
    if (!m_shown)
        return;
    m_out << "\r\x1b[K";
    m_out.flush();
    m_shown = false;
}

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

StopSignals::StopSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &m_oldInt);
    ::sigaction(SIGTERM, &action, &m_oldTerm);
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    ::sigaction(SIGINT, &m_oldInt, nullptr);
    ::sigaction(SIGTERM, &m_oldTerm, nullptr);
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
