#pragma once

#include <QFont>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>

class QLabel;

// The window's status line: the connection state, and for a while a message in its place. A message
// is longer than the state texts, so it gets more room: the line runs on to `rightEdge` and down to
// `bottomEdge`. It is written on one line in the line's own type where that fits, else in a smaller
// one, else on two lines; what even two lines cannot hold ends in "…". The line's tooltip always
// carries the whole message (and any details given with it) while it shows, and the message stays
// longer the longer it is. When it times out, `stateText` gives the line back its state.
class StatusLine : public QObject
{
public:
    StatusLine(QLabel *line, int rightEdge, int bottomEdge, std::function<QString()> stateText,
               QObject *parent);

    // `details`, when given, goes into the tooltip under the message.
    void showMessage(const QString &text, const QString &details = QString());
    // Puts the line's own type, place and tooltip back at once, leaving its text to the caller.
    void endMessage();
    // Shows the state in the line's own place, in a smaller type where it would not fit.
    void showState(const QString &text);
    // The message showing, whole; empty while the line shows the state.
    QString message() const { return m_message; }
    // How long a message of `text` holds the line, in ms.
    static int holdMs(const QString &text);

private:
    QLabel *m_line;
    int m_rightEdge;
    int m_bottomEdge;
    std::function<QString()> m_stateText;
    QTimer m_timer;
    QFont m_font;
    // The line's type as it was made, for the state.
    QFont m_stateFont;
    QRect m_geometry;
    QString m_toolTip;
    QString m_shownToolTip;
    QString m_message;
};
