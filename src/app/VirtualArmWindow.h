#pragma once

#include "ArmSimulator.h"
#include "PoseEstimator.h"

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
// light; with faults, an arm as a real one moves. The window is a top-level widget with
// WA_DeleteOnClose unset; the caller owns it (or gives it a parent) and shows it.
QWidget *createVirtualArmWindow(VirtualArm &arm, QWidget *parent = nullptr, const ArmFaults &faults = {});

// What the window shows of the real arm, which has no sensors: the estimate of its pose, and the code
// in force (while a motor turns the estimate moves).
struct EstimatedPose
{
    PoseEstimate estimate;
    int code = 0;
};

class VirtualArmWindow : public QWidget
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;
    using EstimateSource = std::function<EstimatedPose()>;

    explicit VirtualArmWindow(VirtualArm &arm, QWidget *parent = nullptr);
    // The window for the real arm: the pose the estimate gives, drawn with its uncertainty (the arm as
    // the extremes of the estimate put it, faint, about the best guess) and marked as an estimate. It
    // asks `source` whenever refresh() is called, and every frame while a motor turns.
    explicit VirtualArmWindow(EstimateSource source, QWidget *parent = nullptr);
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
    bool showsEstimate() const { return bool(m_estimateSource); }
    // The line under the drawing: the motion, a strain, or what the estimate says.
    QString messageText() const;

public Q_SLOTS:
    // Takes the pose again: the simulator's, or the estimate's.
    void refresh();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Below this width the controls take two rows.
    static constexpr int NarrowWidth = 700;

    void build();
    void arrangeControls(bool narrow);
    void showPlugState();
    void showLight(bool on);

    VirtualArm *m_arm = nullptr;
    EstimateSource m_estimateSource;
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

// The same window for the real arm, drawing the estimate that `source` gives (see VirtualArmWindow).
QWidget *createEstimatedArmWindow(VirtualArmWindow::EstimateSource source, QWidget *parent = nullptr);
