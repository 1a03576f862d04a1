#pragma once

#include <QBasicTimer>
#include <QLabel>
#include <QString>

#include <optional>

// The arm picture the motion buttons lie on. It takes the keyboard focus when clicked (or tabbed to),
// shows that with a focus mark, and turns the jog keys into presses and releases of motion codes.
// What a press or release does to the arm is the window's business.
//
// A held key is one press and one release. X repeats a held key as a release and a press of the same
// key, with the same time stamp, and Qt does not always mark the pair as a repeat: a release is told
// only once no press of its key has followed within RepeatGapMs. Once a key is down its release is
// followed wherever the keyboard goes (another widget, a dialog, another window of the program); only
// when the program loses the keyboard altogether is the key given up at once (jogAbandoned).
class MotionPanel : public QLabel
{
    Q_OBJECT

public:
    explicit MotionPanel(QWidget *parent = nullptr);

    // The motion code a jog key drives, if it is one.
    static std::optional<int> codeForKey(int key);
    // The key's name as the tooltips show it ("Left", "W"); empty for a code without a key.
    static QString keyNameForCode(int code);

    // How long a release waits for the press that would make it an auto-repeat. X repeats a held key
    // every 40 ms or so, and hands the release and the press of one repeat over together.
    static constexpr int RepeatGapMs = 60;
    // The code of the jog key held down, or -1.
    int heldCode() const { return m_heldCode; }

Q_SIGNALS:
    void jogPressed(int code);
    void jogReleased(int code);
    // The program lost the keyboard while a jog key was down: its release will not come.
    void jogAbandoned(int code);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // A press or release of the held key, wherever it was delivered; true when it was taken.
    bool heldKeyEvent(const QKeyEvent *event);
    void endHold(bool abandoned);

    // The code and key of the jog key held down, or -1.
    int m_heldCode = -1;
    int m_heldKey = 0;
    // A release of the held key that may still turn out to be half of an auto-repeat.
    QBasicTimer m_release;
};
