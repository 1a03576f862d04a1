#pragma once

#include <QString>
#include <QtGlobal>

// The main window's size, colours and texts, named where the window and its parts can share them
// (frmMain::ReadyText and so on).
struct WindowLook
{
    static constexpr int ClientWidth = 800;
    static constexpr int ClientHeight = 442;
    static constexpr quint32 BackColor = 10916490; // 138, 146, 166

    static constexpr quint32 IdleBackColor = 14737632;      // 224, 224, 224
    static constexpr quint32 IdleHoverBackColor = 14270893; // 173, 193, 217
    static constexpr quint32 OnColor = 6405021;             // 157, 187, 97
    static constexpr quint32 OnBorderColor = 4754549;       // 117, 140, 72
    static constexpr quint32 IdleBorderColor = 0;           // black, as the panel draws them

    static inline const QString ReadyText = QStringLiteral("OWI-535 Robotic Arm Ready");
    static inline const QString DisconnectedText = QStringLiteral("OWI-535 Robotic Arm Disconnected");
    static inline const QString Ready = QStringLiteral("Ready");
    static inline const QString OpenDeniedText =
        QStringLiteral("The arm is attached but cannot be opened: permission denied. Install the udev rule "
                       "70-tessaro.rules and plug the arm in again.");
    static inline const QString CommandFailedDuringRunText =
        QStringLiteral("A command did not reach the arm (%1). The script run has been stopped.");
    static inline const QString GamepadDeniedText =
        QStringLiteral("Gamepad cannot be opened: permission denied");
    static inline const QString RunLimitOffText = QStringLiteral(" · runaway limit off");
    static inline const QString StalledText =
        QStringLiteral("The arm did not take the stop command: a motor may still be running. Switch the arm "
                       "off or unplug it.");
    static inline const QString DisconnectedDuringRunText =
        QStringLiteral("The arm was disconnected. The script run has been stopped.");
    static inline const QString NotConnectedText = QStringLiteral(
        "The arm is not connected, so the script was not run. Connect the arm and click Run again.");
    static inline const QString RunningLockText =
        QStringLiteral("Steps cannot be edited while the script runs.");
    static inline const QString RecordingLockText =
        QStringLiteral("Steps cannot be edited while a step is being recorded: end the motion first.");
};
