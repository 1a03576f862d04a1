#pragma once

#include <QString>
#include <QTextStream>

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
