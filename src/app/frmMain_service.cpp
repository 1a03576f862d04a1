#include "frmMain.h"

#include "ArmMotion.h"
#include "ControlBanner.h"
#include "MacButtonD.h"
#include "MotionPanel.h"
#include "OwnerWatch.h"
#include "PoseControls.h"
#include "RunDisplay.h"
#include "ScriptEditor.h"
#include "SessionService.h"
#include "StatusLine.h"

#include <QLabel>

#include <cstdio>
#include <utility>

// The arms served to other programs: the window owns them and serves them as tessaro-cli serve does,
// shows the program that drives and lets the operator stop it; or, while another program owns them,
// watches the arm through that program.

namespace {

const QString OwnerName = QStringLiteral("tessaro");
const QString DrivenText = QStringLiteral("Driven by %1");
const QString ServedText = QStringLiteral("The arm is served by %1");
const QString GoneText = QStringLiteral("%1 no longer serves the arm");
// What a driving program's waiting reply says when the operator stops it with Esc, Space or Stop.
const QString StoppedNote = QStringLiteral("stopped by the owner: control was taken back");

} // namespace

bool frmMain::serveArms()
{
    if (m_setup.servicePath.isEmpty())
        return true;
    m_service = std::make_unique<SessionService>(*m_session, OwnerName);
    QString why;
    QString owner;
    switch (m_service->listen(m_setup.servicePath, &why, &owner)) {
    case SessionService::Listen::Serving:
        connect(&m_service->server(), &ServiceServer::controllerChanged, this, &frmMain::showDriver);
        return true;
    case SessionService::Listen::Failed:
        // The window drives the arm all the same; only other programs go without it.
        m_service.reset();
        m_serveFailure = QStringLiteral("The arm is not served to other programs: %1").arg(why);
        std::fprintf(stderr, "tessaro: warning: %s\n", m_serveFailure.toLocal8Bit().constData());
        return true;
    case SessionService::Listen::OtherOwner:
        break;
    }
    m_service.reset();
    watchOwner(owner);
    return false;
}

void frmMain::watchOwner(const QString &owner)
{
    m_watchedOwner = owner;
    m_ownerGone = false;
    m_watch = new OwnerWatch(this);
    connect(m_watch, &OwnerWatch::greeted, this, [this](const QString &greeted) {
        // The probe may have given up on an owner slow to greet.
        if (std::exchange(m_watchedOwner, greeted) != greeted)
            showStatusMessage(ServedText.arg(greeted));
        showWatchedState();
    });
    connect(m_watch, &OwnerWatch::connectionChanged, this, [this](bool ready, const QStringList &arms) {
        m_ui.pctLED->setProperty("Tag", ready ? Ready : QString());
        m_ui.pctLED->setPixmap(ready ? m_ui.pctLEDOnRed->pixmap() : m_ui.pctLEDOff->pixmap());
        m_ui.lblDisp->setToolTip(ready ? arms.join(QLatin1Char('\n')) : QStringLiteral("No arm attached"));
        showConnectionState();
    });
    connect(m_watch, &OwnerWatch::motionChanged, this, [this](const ServiceMotion &motion) {
        ResetControlButtons();
        for (const JointDrive &drive : motion)
            showOnLook(armCodeFor(drive.joint, drive.direction));
    });
    connect(m_watch, &OwnerWatch::poseChanged, this,
            [this](const ServicePose &pose) { m_pose->showPose(pose, m_watchedOwner); });
    connect(m_watch, &OwnerWatch::controlChanged, this, [this](const QString &by) {
        m_driver = by;
        showWatchedState();
    });
    connect(m_watch, &OwnerWatch::gone, this, [this] {
        m_ownerGone = true;
        m_driver.clear();
        ResetControlButtons();
        m_ui.pctLED->setProperty("Tag", QString());
        m_ui.pctLED->setPixmap(m_ui.pctLEDOff->pixmap());
        showWatchedState();
        showStatusMessage(GoneText.arg(m_watchedOwner));
    });
    m_watch->watch(m_setup.servicePath);
    showWatchedState();
    showStatusMessage(ServedText.arg(owner));
}

void frmMain::showWatchedState()
{
    if (m_ownerGone) {
        m_banner->showText(GoneText.arg(m_watchedOwner), tr("Open the arm here"), [this] { ownArms(); });
    } else {
        QString text = ServedText.arg(m_watchedOwner);
        if (!m_driver.isEmpty())
            text += QLatin1Char('\n') + DrivenText.arg(m_driver);
        m_banner->showText(text, tr("Stop the arm"), [this] { StopEverything(); });
    }
    updatePanelLock();
}

void frmMain::ownArms()
{
    if (!m_watch || !m_ownerGone)
        return;
    m_watch->disconnect(this);
    m_watch->deleteLater();
    m_watch = nullptr;
    m_watchedOwner.clear();
    m_driver.clear();
    m_banner->hide();
    if (serveArms()) {
        m_session->start();
        if (!m_serveFailure.isEmpty())
            showStatusMessage(std::exchange(m_serveFailure, QString()));
    }
    updatePanelLock();
}

QString frmMain::WatchedOwner() const
{
    return m_watch ? m_watchedOwner : QString();
}

void frmMain::showDriver(const QString &driver)
{
    m_driver = driver;
    // The pad and held keys are part of the panel: they start nothing while a program drives.
    m_session->setJogLocked(!driver.isEmpty());
    if (driver.isEmpty()) {
        m_banner->hide();
    } else {
        // An edit left open goes into its cell now: the script is locked until the program lets go.
        m_editor->CommitOpenEdit();
        m_banner->showText(DrivenText.arg(driver), tr("Take control back"), [this] { TakeControlBack(); });
    }
    updatePanelLock();
}

void frmMain::TakeControlBack()
{
    if (m_service)
        m_service->server().revokeControl();
}

void frmMain::updatePanelLock()
{
    const bool runShown = m_ui.runDisplay->active();
    m_ui.FrameMain->setEnabled(!runShown && m_driver.isEmpty() && !m_watch);
    // Stop stops the run, the program that drives, or, watching, whatever the owner's arm does.
    const bool stops = runShown || !m_driver.isEmpty() || (m_watch && !m_ownerGone);
    m_ui.cmdRun->SetCaption(stops ? QStringLiteral("Stop") : QStringLiteral("Run"));
}

QString frmMain::EditLockText() const
{
    if (Running())
        return RunningLockText;
    if (!m_driver.isEmpty() && !m_watch)
        return QStringLiteral("Steps cannot be edited while %1 drives the arm.").arg(m_driver);
    return {};
}

void frmMain::StopEverything()
{
    if (m_unloaded)
        return;
    if (m_watch) {
        m_watch->stop();
        return;
    }
    // A program that drives in a loop would start its next motion at once: Esc takes control back too.
    if (m_service && !m_driver.isEmpty())
        m_service->server().revokeControl(StoppedNote);
    m_session->stopEverything();
}
