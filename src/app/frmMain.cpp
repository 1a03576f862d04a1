#include "frmMain.h"

#include "ArmDeviceList.h"
#include "CalibrationDialog.h"
#include "ControlBanner.h"
#include "Gamepad.h"
#include "GridText.h"
#include "LampButton.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MotionPanel.h"
#include "OwnerWatch.h"
#include "PoseControls.h"
#include "ScriptEditor.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"
#include "ScriptRunner.h"
#include "ServiceServer.h"
#include "SessionService.h"
#include "SettingsReader.h"
#include "StatusLine.h"
#include "frmAbout.h"
#include "frmColorScheme.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>

#include <cstdio>
#include <exception>
#include <utility>

namespace {

// Start-up and closing run every step even when an earlier one fails; a failed step has no effect.
// The session follows the same rule with a helper of its own (ArmSession.cpp), private to it.
template <typename Step> void runStep(Step &&step)
{
    try {
        step();
    } catch (const std::exception &) {
    }
}

} // namespace

frmMain::frmMain(const Setup &setup, QWidget *parent)
    : QWidget(parent), m_setup(setup), m_script(new ScriptModel(this)),
      m_session(std::make_unique<ArmSession>(setup.transport))
{
    // A program that drives the arm records nothing in the grid.
    m_session->setScriptingModeSource([this] { return ScriptingMode() && m_driver.isEmpty(); });
    m_session->setKits(setup.kits);

    buildWindow();
    connectSession();
    Form_Load();
}

frmMain::~frmMain()
{
    qApp->removeEventFilter(m_stopKeyFilter);
    // A window destroyed without being closed (the program quitting) still leaves the arm stopped.
    Form_Unload();
    // Nothing of this window may hear about the session or the panel as they go.
    m_session->disconnect(this);
    if (m_watch)
        m_watch->disconnect(this);
    if (m_service)
        m_service->server().disconnect(this);
    // Nor may the editor hear its controls go (the focus leaving the repetitions box, say).
    delete m_editor;
    m_editor = nullptr;
    if (m_ui.FrameMain)
        m_ui.FrameMain->disconnect(this);
    if (m_colorScheme)
        delete m_colorScheme.data();
    if (m_armSettings)
        delete m_armSettings.data();
    if (m_about)
        delete m_about.data();
    if (m_calibration)
        delete m_calibration.data();
}

void frmMain::connectSession()
{
    ArmSession *session = m_session.get();
    connect(session, &ArmSession::readyChanged, this, [this](bool ready) {
        if (!ready) {
            ShowDisconnected();
            return;
        }
        ShowReady();
        // The warning is out of date once an arm could be opened; a later refusal may say it again.
        if (m_openDeniedBox)
            m_openDeniedBox->close();
        m_openDeniedShown = false;
    });
    connect(session, &ArmSession::lookOn, this, &frmMain::showOnLook);
    connect(session, &ArmSession::looksReset, this, &frmMain::ResetControlButtons);
    connect(session, &ArmSession::codeShown, this,
            [this](int code) { m_ui.Text1->setText(QString::number(code)); });
    connect(session, &ArmSession::stepBegun, m_editor, &ScriptEditor::StepBegun);
    connect(session, &ArmSession::stepEnded, m_editor, &ScriptEditor::StepEnded);
    connect(session, &ArmSession::runLimitReached, this, [this](const QString &text) { showStatusMessage(text); });
    connect(session, &ArmSession::runStopping, this, [this] {
        m_ui.cmdRun->SetCaption(QStringLiteral("Run"));
        m_ui.Grid->SetHighLight(false);
    });
    connect(session, &ArmSession::openDenied, this, &frmMain::HIDagent_OnOpenDenied);
    connect(session, &ArmSession::armStalled, this, &frmMain::HIDagent_OnWriteStalled);
    // A stop that no try got to an arm: as urgent as an arm that stopped taking commands.
    connect(session, &ArmSession::stopFailed, this, &frmMain::HIDagent_OnWriteStalled);
    // Otherwise a pad that does nothing looks like a broken pad.
    connect(session, &ArmSession::gamepadDenied, this, [this] { showStatusMessage(GamepadDeniedText); });
}

void frmMain::buildWindow()
{
    m_ui = WindowLayout::build(*this, m_script);
    m_statusLine = new StatusLine(
        m_ui.lblDisp, m_ui.pctFrame->x() - 4, m_ui.FrameMain->y() - 1, [this] { return connectionText(); },
        this);
    buildMotionPanel();
    m_lamp = new LampButton(m_ui.FrameMain, m_session.get());
    m_pose = new PoseControls(
        *m_session, m_ui.FrameMain, [this](const QString &t) { showStatusMessage(t); }, this);
    connect(m_pose->returnAction(), &QAction::triggered, this, &frmMain::ReturnToStart);
    // After the pose's commands, set apart from them.
    m_armSettingsSeparator = new QAction(m_ui.FrameMain);
    m_armSettingsSeparator->setSeparator(true);
    m_ui.FrameMain->addAction(m_armSettingsSeparator);
    m_armSettingsAction = new QAction(tr("Arm setup…"), m_ui.FrameMain);
    connect(m_armSettingsAction, &QAction::triggered, this, &frmMain::ShowArmSettings);
    m_ui.FrameMain->addAction(m_armSettingsAction);
    followAttachedArms(m_ui.lblDisp, *m_session);
    // Left of the shoulder's buttons, between the gripper's and PAUSE, where no button lies.
    m_banner = new ControlBanner(this);
    m_banner->setGeometry(m_ui.FrameMain->x() + 6, m_ui.FrameMain->y() + 122, 142, 96);

    connect(m_ui.cmdColors, &MacButton::Click, this, &frmMain::cmdColors_Click);
    connect(m_ui.cmdAbout, &MacButton::Click, this, &frmMain::cmdAbout_Click);
    connect(m_ui.cmdArmSettings, &MacButton::Click, this, &frmMain::ShowArmSettings);
    connect(m_ui.cmdRun, &MacButton::Click, this, &frmMain::cmdRun_Click);
    connect(m_ui.cmdClear, &MacButton::Click, this, &frmMain::cmdClear_Click);
    connect(m_ui.cmdLoad, &MacButton::Click, this, &frmMain::cmdLoad_Click);
    connect(m_ui.cmdSave, &MacButton::Click, this, &frmMain::Script_Save);
    connect(m_ui.cmdSaveAs, &MacButton::Click, this, &frmMain::Script_SaveAs);
    connect(m_ui.Grid, &ScriptGrid::Click, this, [this] { GridEdit(32); });
    wireScriptArea();
}

void frmMain::Form_Load()
{
    runStep([this] {
        if (!m_setup.programFolder.isEmpty())
            QDir::setCurrent(m_setup.programFolder);
    });
    runStep([this] { LoadColors(); });
    runStep([this] {
        if (m_setup.optionsReadPath.isEmpty())
            return;
        QStringList warnings;
        m_session->setOptions(ControlOptions::read(m_setup.optionsReadPath, &warnings));
        if (!warnings.isEmpty())
            showStatusMessage(warnings.join(QStringLiteral("; ")));
    });
    runStep([this] {
        m_ui.Grid->SetRows(14);
        m_ui.Grid->SetColWidthTwips(0, 440);
        m_ui.Grid->SetColWidthTwips(1, 2150);
        m_ui.Grid->SetColWidthTwips(2, 625);
        m_ui.Grid->SetTextMatrix(0, 0, QStringLiteral("Step"));
        m_ui.Grid->SetTextMatrix(0, 1, QStringLiteral("Function"));
        m_ui.Grid->SetTextMatrix(0, 2, QStringLiteral("Time"));
    });
    m_script->setNextStep(1);
    m_startingUp = true;
    m_session->setDeviceIdentity(m_currentDevice);
    m_session->setGuard(m_setup.guard, m_setup.guardLog);
    // While another program serves the arms, the window opens none and watches the arm through it.
    if (!serveArms()) {
        m_startingUp = false;
        return;
    }
    m_session->start();
    if (!m_session->guardError().isEmpty()) {
        const QString warning = m_session->guardError() +
                                QStringLiteral("; should this program die, the arm keeps the last command it was given");
        std::fprintf(stderr, "tessaro: warning: %s\n", warning.toLocal8Bit().constData());
        showStatusMessage(warning);
    }
    if (!m_serveFailure.isEmpty())
        showStatusMessage(std::exchange(m_serveFailure, QString()));
    m_startingUp = false;
}

QString frmMain::SettingsReadPath() const
{
    if (!m_setup.settingsWritePath.isEmpty() && QFileInfo::exists(m_setup.settingsWritePath))
        return m_setup.settingsWritePath;
    return m_setup.settingsReadPath;
}

void frmMain::LoadColors()
{
    const StartupSettings settings = SettingsReader::readStartup(m_setup.settingsReadPath);
    m_hilight = settings.hilight;
    if (settings.selectionColour)
        m_ui.Grid->SetBackColorSel(*settings.selectionColour);
    m_currentDevice = settings.currentDevice;
}

QString frmMain::connectionText() const
{
    const QString state = ConnectionState() == Ready ? ReadyText : DisconnectedText;
    // Without the limit nothing stops a motor that is forgotten: that is said for as long as it lasts.
    return m_session->options().runLimit ? state : state + RunLimitOffText;
}

void frmMain::showConnectionState()
{
    if (m_statusLine->message().isEmpty())
        m_statusLine->showState(connectionText());
}

QString frmMain::ConnectionState() const
{
    return m_ui.pctLED->property("Tag").toString();
}

void frmMain::ShowReady()
{
    m_statusLine->endMessage();
    m_ui.pctLED->setProperty("Tag", Ready);
    m_statusLine->showState(connectionText());
    m_ui.pctLED->setPixmap(m_ui.pctLEDOnRed->pixmap());
}

void frmMain::ShowDisconnected()
{
    m_statusLine->endMessage();
    m_ui.pctLED->setProperty("Tag", QString());
    m_statusLine->showState(connectionText());
    m_ui.pctLED->setPixmap(m_ui.pctLEDOff->pixmap());
}

bool frmMain::DeviceNameMatches(const QString &deviceName) const
{
    return m_session->deviceNameMatches(deviceName);
}

void frmMain::UpdateConnectionStatus()
{
    m_session->updateConnection();
}

bool frmMain::ArmInterfaceOpen() const
{
    return m_session->armInterfaceOpen();
}

void frmMain::SetHilight(bool on)
{
    m_hilight = on;
}

void frmMain::SetGridSelectionColor(quint32 winColour)
{
    m_ui.Grid->SetBackColorSel(winColour);
}

void frmMain::cmdColors_Click()
{
    if (m_colorScheme) {
        m_colorScheme->show();
        m_colorScheme->raise();
        m_colorScheme->activateWindow();
        return;
    }
    auto *dialog = new frmColorScheme(*this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_colorScheme = dialog;
    dialog->show();
}

void frmMain::ShowArmSettings()
{
    if (!m_armSettings)
        m_armSettings = new ArmSettingsDialog(*this);
    m_armSettings->show();
    m_armSettings->raise();
    m_armSettings->activateWindow();
}

void frmMain::ShowCalibration()
{
    if (!m_calibration)
        m_calibration = new CalibrationDialog(*m_session, m_setup.optionsWritePath);
    m_calibration->show();
    m_calibration->raise();
    m_calibration->activateWindow();
}

frmAbout *frmMain::aboutWindow() const
{
    return m_about;
}

QMessageBox *frmMain::openDeniedMessage() const
{
    return m_openDeniedBox;
}

void frmMain::cmdAbout_Click()
{
    if (!m_about) {
        m_about = new frmAbout();
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded && !m_editor->SettleUnsavedChanges()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    runStep([this] {
        if (m_about)
            m_about->close();
    });
    runStep([this] {
        if (m_colorScheme)
            m_colorScheme->close();
    });
    runStep([this] {
        if (m_armSettings)
            m_armSettings->close();
    });
    runStep([this] {
        if (m_calibration)
            m_calibration->close();
    });
    runStep([this] {
        if (Running())
            m_ui.cmdRun->SetCaption(QStringLiteral("Run"));
    });
    // No program drives any more: its motion stops with the rest.
    runStep([this] {
        if (m_service)
            m_service->server().close();
    });
    // The run ends, a running motor is stopped, and the component closes.
    m_session->shutDown();
}

void frmMain::showStatusMessage(const QString &text)
{
    m_statusLine->showMessage(text);
}

void frmMain::showStatusMessage(const QString &text, const QString &details)
{
    m_statusLine->showMessage(text, details);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = qobject_cast<QLabel *>(watched);
        // A disabled label (the panel is locked while a script runs) still sees the mouse here.
        if (label && label->isEnabled() && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == m_ui.lblInteractive)
                lblInteractive_Click();
            else if (watched == m_ui.lblScripting)
                lblScripting_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}
