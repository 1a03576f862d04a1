#include "PoseControls.h"

#include "ArmMotion.h"
#include "ArmSession.h"
#include "VirtualArmWindow.h"

#include <QAction>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {

// A short line per joint, to fit the corner: "Elbow ±35° from start, uncertain"; the whole words are
// in the tooltip. `joint` gives what is known of each joint, its band and whether it is uncertain.
template <typename JointOf> QString cornerText(JointOf joint)
{
    QStringList lines;
    bool anyKnown = false;
    for (const ArmJointMotion &motion : armJointMotions) {
        const auto [knowledge, band, uncertain] = joint(motion.joint);
        QString line = QString::fromLatin1(motion.name);
        line[0] = line[0].toUpper();
        if (knowledge == PoseKnowledge::Unknown) {
            lines << line + QStringLiteral(" unknown");
            continue;
        }
        anyKnown = true;
        line += QStringLiteral(" \u00B1%1\u00B0 ").arg(qRound(band));
        line += knowledge == PoseKnowledge::AtEnds ? QStringLiteral("at its ends") : QStringLiteral("from start");
        if (uncertain)
            line += QStringLiteral(", uncertain");
        lines << line;
    }
    return anyKnown ? lines.join(QLatin1Char('\n')) : QStringLiteral("Pose unknown");
}

struct CornerJoint
{
    PoseKnowledge knowledge;
    double band;
    bool uncertain;
};

QString cornerText(const PoseEstimate &estimate)
{
    return cornerText([&estimate](ArmJoint j) {
        const JointEstimate &e = estimate.joint(j);
        return CornerJoint{e.known ? e.knowledge : PoseKnowledge::Unknown, e.uncertainty(), e.uncertain};
    });
}

QString cornerText(const ServicePose &pose)
{
    return cornerText([&pose](ArmJoint j) {
        const JointPose &p = pose.joints[armJointIndex(j)];
        const PoseKnowledge knowledge = p.knowledge == JointKnowledge::AtEnds      ? PoseKnowledge::AtEnds
                                        : p.knowledge == JointKnowledge::FromStart ? PoseKnowledge::FromStart
                                                                                   : PoseKnowledge::Unknown;
        return CornerJoint{knowledge, p.band, p.uncertain};
    });
}

} // namespace

PoseControls::PoseControls(ArmSession &session, QWidget *panel, std::function<void(const QString &)> say,
                           QObject *parent)
    : QObject(parent), m_session(session), m_say(std::move(say))
{
    // In the arm picture's bottom right corner, beside the arm's base, where no button lies and five
    // lines have room: a small line per joint once any is known, the whole words in the tooltip.
    m_line = new QLabel(panel);
    m_line->setObjectName(QStringLiteral("poseStatus"));
    m_line->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    m_line->setStyleSheet(QStringLiteral("color: #3a4654; font-size: 8pt;"));
    const auto show = [this] {
        showCorner(cornerText(m_session.poseEstimate()),
                   m_session.poseStatusText() +
                       tr("\n\nEstimated from the time each motion ran: the arm has no sensors"));
    };
    show();
    connect(&session, &ArmSession::poseStatusChanged, m_line, show);
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

void PoseControls::showCorner(const QString &text, const QString &toolTip)
{
    m_line->setText(text);
    m_line->setToolTip(toolTip);
    m_line->adjustSize();
    const QWidget *panel = m_line->parentWidget();
    m_line->move(panel->width() - m_line->width() - 8, panel->height() - m_line->height() - 6);
}

void PoseControls::showPose(const ServicePose &pose, const QString &owner)
{
    showCorner(cornerText(pose),
               tr("The pose as %1 estimates it, from the time each motion ran: the arm has no sensors").arg(owner));
}
