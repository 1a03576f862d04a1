#include "CliTerminal.h"

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
