#pragma once

#include "ServiceArm.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class ArmSession;
class QAction;
class QLabel;
class QWidget;

// What the window offers of the pose estimate: a small text with what the estimate knows of each joint
// ("Elbow: known at its ends ± 4°", "Pose unknown"), and the commands "This is the start pose",
// "Return to start", "Forget the pose" and "Show the estimated pose" (the Virtual Arm window drawing
// the estimate) in the menu of `panel`, the arm picture. Messages (an end stop, the start pose set) go
// to `say`. Return to start is played by the window, as a run: it connects returnAction().
class PoseControls : public QObject
{
    Q_OBJECT
public:
    PoseControls(ArmSession &session, QWidget *panel, std::function<void(const QString &)> say,
                 QObject *parent = nullptr);
    ~PoseControls() override;

    QLabel *statusLabel() const { return m_line; }
    // The pose another program that owns the arm tells (`owner`: "tessaro-cli serve, pid 4711"), in the
    // corner as the session's would be.
    void showPose(const ServicePose &pose, const QString &owner);
    QAction *startPoseAction() const { return m_startPose; }
    QAction *returnAction() const { return m_return; }
    QAction *showEstimateAction() const { return m_showEstimate; }
    QAction *forgetAction() const { return m_forget; }
    // The window that draws the estimate, once it has been asked for.
    QWidget *estimateWindow() const { return m_window.get(); }

private:
    void showCorner(const QString &text, const QString &toolTip);

    ArmSession &m_session;
    std::function<void(const QString &)> m_say;
    QLabel *m_line = nullptr;
    QAction *m_startPose = nullptr;
    QAction *m_return = nullptr;
    QAction *m_showEstimate = nullptr;
    QAction *m_forget = nullptr;
    std::unique_ptr<QWidget> m_window;
};
