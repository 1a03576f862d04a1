#pragma once

#include <QLabel>
#include <QString>

#include <optional>

// The arm picture the motion buttons lie on. It takes the keyboard focus when clicked (or tabbed to),
// shows that with a focus mark, and turns the jog keys into presses and releases of motion codes.
// What a press or release does to the arm is the window's business.
class MotionPanel : public QLabel
{
    Q_OBJECT

public:
    explicit MotionPanel(QWidget *parent = nullptr);

    // The motion code a jog key drives, if it is one.
    static std::optional<int> codeForKey(int key);
    // The key's name as the tooltips show it ("Left", "W"); empty for a code without a key.
    static QString keyNameForCode(int code);

Q_SIGNALS:
    void jogPressed(int code);
    void jogReleased(int code);
    // The focus went elsewhere while a jog key was down: its release will not come here.
    void jogAbandoned(int code);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The code of the jog key held down last, or -1.
    int m_heldCode = -1;
};
