#pragma once

#include <QAbstractButton>
#include <QString>

class ArmSession;
class QLabel;
class QWidget;

// The light in the interface kit's gripper, switched from the arm picture: a small lamp button beside
// the gripper's name, and the key L while the picture has the keyboard. Every kit gets the light; the
// HID board has none, so the lamp is disabled while no kit is attached. It shows the light as last
// set, and the session keeps that setting for a kit plugged in later.
class LampButton : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int Key = Qt::Key_L;

    // On `picture`, which gets the key. The light is switched through the session, which sends it with
    // the motion in force.
    LampButton(QWidget *picture, ArmSession *session);

    bool isLit() const;
    // Turns the light the other way, as a click or the key does; false when no kit took it.
    bool toggleLight();

    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow();

    ArmSession *m_session;
};

// The arms attached, with their kind, for the status line's tooltip ("No arm attached" when none).
QString attachedArmsToolTip(const ArmSession &session);
// Keeps `status`'s tooltip naming the arms attached as the session finds arms come and go.
void followAttachedArms(QLabel *status, const ArmSession &session);
