#include "PoseControls.h"

#include "ArmSession.h"
#include "VirtualArmWindow.h"

#include <QAction>
#include <QLabel>
#include <QWidget>

PoseControls::PoseControls(ArmSession &session, QWidget *panel, std::function<void(const QString &)> say,
                           QObject *parent)
    : QObject(parent), m_session(session), m_say(std::move(say))
{
    // In the arm picture's top left corner, where no button lies.
    m_line = new QLabel(session.poseStatusText(), panel);
    m_line->setObjectName(QStringLiteral("poseStatus"));
    m_line->setGeometry(8, 8, 150, 17);
    m_line->setToolTip(tr("Where the arm is, estimated from the time each motion ran: the arm has no sensors"));
    m_line->setStyleSheet(QStringLiteral("color: #3a4654;"));
    // A line per joint once any is known: the label grows to hold them.
    m_line->adjustSize();
    connect(&session, &ArmSession::poseStatusChanged, m_line, [this](const QString &text) {
        m_line->setText(text);
        m_line->adjustSize();
    });
    connect(&session, &ArmSession::endStopReached, this, [this](const QString &text) { m_say(text); });

    m_startPose = new QAction(tr("This is the start pose"), panel);
    m_startPose->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    m_startPose->setShortcutContext(Qt::WindowShortcut);
    connect(m_startPose, &QAction::triggered, this, [this] {
        m_session.declareStartPose();
        m_say(tr("Start pose set: Return to start brings the arm back here"));
    });
    m_forget = new QAction(tr("Forget the pose"), panel);
    connect(m_forget, &QAction::triggered, this, [this] {
        m_session.forgetPose();
        m_say(tr("Pose forgotten: every joint unknown, the time limit alone stops a motion"));
    });
    m_return = new QAction(tr("Return to start"), panel);
    m_return->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    m_return->setShortcutContext(Qt::WindowShortcut);
    m_showEstimate = new QAction(tr("Show the estimated pose"), panel);
    connect(m_showEstimate, &QAction::triggered, this, [this] {
        if (!m_window) {
            m_window.reset(createEstimatedArmWindow([this] {
                const PoseEstimator estimator = m_session.poseEstimator();
                return EstimatedPose{estimator.estimateAt(ArmSession::clockNs()), estimator.code()};
            }));
            m_window->setWindowTitle(tr("Virtual Arm \u2013 estimated pose"));
            auto *window = static_cast<VirtualArmWindow *>(m_window.get());
            connect(&m_session, &ArmSession::poseChanged, window, &VirtualArmWindow::refresh);
        }
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    });
    panel->addAction(m_startPose);
    panel->addAction(m_return);
    panel->addAction(m_forget);
    panel->addAction(m_showEstimate);
    panel->setContextMenuPolicy(Qt::ActionsContextMenu);
}

PoseControls::~PoseControls() = default;
