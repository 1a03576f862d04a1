#pragma once

#include <QFont>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>

class QLabel;

// The window's status line: the connection state, and for a while a message in its place. A message
// is longer than the state texts: it may run on to `rightEdge`, and takes a smaller type where even
// that is not enough. When it times out, `stateText` gives the line back its state.
class StatusLine : public QObject
{
public:
    StatusLine(QLabel *line, int rightEdge, std::function<QString()> stateText, QObject *parent);

    void showMessage(const QString &text);
    // Puts the line's own type and place back at once, leaving its text to the caller.
    void endMessage();
    bool showingMessage() const { return m_timer.isActive(); }

private:
    QLabel *m_line;
    int m_rightEdge;
    std::function<QString()> m_stateText;
    QTimer m_timer;
    QFont m_font;
    QRect m_geometry;
};
