#pragma once

#include "ArmSimulator.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLabel;
class QPushButton;
class VirtualArm;
class ArmView;

// The "Virtual Arm" window: the simulated arm drawn from its joint angles, driven by the command codes
// the virtual arm receives, with Plug in / Unplug and Reset pose, and, posing as the interface kit, its
// light. The window is a top-level widget with
// WA_DeleteOnClose unset; the caller owns it (or gives it a parent) and shows it.
QWidget *createVirtualArmWindow(VirtualArm &arm, QWidget *parent = nullptr);

class VirtualArmWindow : public QWidget
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;

    explicit VirtualArmWindow(VirtualArm &arm, QWidget *parent = nullptr);
    ~VirtualArmWindow() override;

    // The clock the codes' timestamps are taken on; the process's monotonic clock unless replaced.
    void setClock(Clock clock);

    ArmSimulator &simulator() { return m_simulator; }
    // The pose the view shows now.
    ArmPose displayedPose() const { return m_pose; }
    // The view redraws itself on a timer only while a motor turns; at rest nothing runs.
    bool isAnimating() const { return m_animation.isActive(); }
    // Whether the view shows the light in the gripper lit (an interface kit's; the HID board has none).
    bool lightShown() const { return m_lightShown; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Below this width the controls take two rows.
    static constexpr int NarrowWidth = 700;

    void arrangeControls(bool narrow);
    void refresh();
    void showPlugState();
    void showLight(bool on);

    VirtualArm &m_arm;
    ArmSimulator m_simulator;
    Clock m_clock;
    ArmPose m_pose;
    QTimer m_animation;
    ArmView *m_view = nullptr;
    QLabel *m_plugLabel = nullptr;
    QLabel *m_motionLabel = nullptr;
    QLabel *m_lightLabel = nullptr;
    QPushButton *m_plugIn = nullptr;
    QPushButton *m_unplug = nullptr;
    QPushButton *m_resetPose = nullptr;
    QGridLayout *m_controls = nullptr;
    bool m_narrow = false;
    bool m_lightShown = false;
};
