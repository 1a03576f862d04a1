#pragma once

#include <QFrame>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;

// Over the arm picture, while another program drives the arm or owns it: who ("Driven by python3
// lesson.py, pid 4711", "The arm is served by tessaro-cli serve, pid 4711") and the one thing the
// operator may do about it ("Take control back", "Stop the arm"). It lies outside the motion panel, so
// that it stays usable while the panel is locked.
class ControlBanner : public QFrame
{
public:
    explicit ControlBanner(QWidget *parent);

    // Shows `text`, with a button captioned `action` that calls `act` (none when `action` is empty).
    void showText(const QString &text, const QString &action = QString(), std::function<void()> act = {});
    QString text() const;
    QPushButton *button() const { return m_button; }

private:
    QLabel *m_text;
    QPushButton *m_button;
    std::function<void()> m_act;
};
