#include "frmMain.h"

#include "ArmMotion.h"
#include "ArmSession.h"
#include "HoverButton.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "StopKeyFilter.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>

// What the arm picture, its buttons and the command mode do, and Esc and Space everywhere.
void frmMain::buildMotionPanel()
{
    connect(m_ui.FrameMain, &MotionPanel::jogPressed, this, &frmMain::FrameMain_JogPressed);
    connect(m_ui.FrameMain, &MotionPanel::jogReleased, this, &frmMain::FrameMain_JogReleased);
    connect(m_ui.FrameMain, &MotionPanel::jogAbandoned, this, &frmMain::FrameMain_JogReleased);
    for (HoverButton *button : m_ui.cmdControl)
        connect(button, &HoverButton::indexClicked, this, &frmMain::cmdControl_Click);
    m_ui.lblInteractive->installEventFilter(this);
    m_ui.lblScripting->installEventFilter(this);
    connect(m_ui.optScripting, &MacRadioButton::Click, this, &frmMain::optScripting_Click);
    for (MacRadioButton *mode : {m_ui.optScripting, m_ui.optInteractive})
        connect(mode, &MacRadioButton::Click, this,
                [this] { m_ui.recordingBadge->setVisible(ScriptingMode()); });

    m_stopKeyFilter = new StopKeyFilter(
        this, [this] { StopEverything(); }, [this] { return Unloaded(); });
    qApp->installEventFilter(m_stopKeyFilter);
}

QString frmMain::Tag(const QWidget *control)
{
    return control ? control->property("Tag").toString() : QString();
}

bool frmMain::ScriptingMode() const
{
    return m_ui.optScripting->Value();
}

bool frmMain::SendArmCommand(qint16 code, QString *error)
{
    return m_session->send(code, error);
}

void frmMain::ResetControlButtons()
{
    for (HoverButton *button : m_ui.cmdControl) {
        button->setBackcolor(IdleBackColor);
        button->setHoverbackcolor(IdleHoverBackColor);
        button->setBordercolor(IdleBorderColor);
    }
}

void frmMain::showOnLook(int code)
{
    // Several joints at once (a client's, on the kit) light each of their buttons.
    const ArmCodeParts parts = armCodeParts(code);
    for (const int index : parts.empty() ? ArmCodeParts{{code}, 1} : parts) {
        if (index < 0 || index >= int(m_ui.cmdControl.size()))
            continue;
        HoverButton *button = m_ui.cmdControl[size_t(index)];
        button->setBackcolor(OnColor);
        button->setHoverbackcolor(OnColor);
        button->setBordercolor(OnBorderColor);
    }
}

void frmMain::cmdControl_Click(int Index)
{
    m_session->click(Index);
}

void frmMain::optScripting_Click()
{
    m_session->endMotionState();
}

void frmMain::LeaveScriptingMode()
{
    if (ScriptingMode())
        m_ui.optInteractive->SetValue(true);
}

void frmMain::lblInteractive_Click()
{
    m_ui.optInteractive->SetValue(true);
}

void frmMain::lblScripting_Click()
{
    m_ui.optScripting->SetValue(true);
}

void frmMain::FrameMain_JogPressed(int code)
{
    if (m_ui.FrameMain->isEnabled() && !Running())
        m_session->jogPress(ArmSession::Input::Key, code);
}

void frmMain::FrameMain_JogReleased(int code)
{
    m_session->jogRelease(ArmSession::Input::Key, code);
}

void frmMain::StopEverything()
{
    if (!m_unloaded)
        m_session->stopEverything();
}

QString frmMain::OptionsReadPath() const
{
    if (!m_setup.optionsWritePath.isEmpty() && QFileInfo::exists(m_setup.optionsWritePath))
        return m_setup.optionsWritePath;
    return m_setup.optionsReadPath;
}

void frmMain::SetControlOptions(const ControlOptions &options)
{
    m_session->setOptions(options);
    showConnectionState();
}

QString frmMain::ScriptFolder() const
{
    return m_session->options().scriptFolder;
}

void frmMain::SetScriptFolder(const QString &folder)
{
    ControlOptions options = Options();
    if (folder == options.scriptFolder)
        return;
    options.scriptFolder = folder;
    SetControlOptions(options);
    // Only a convenience: a file that cannot be written leaves the dialogs starting elsewhere next time.
    if (!OptionsFilePath().isEmpty())
        ControlOptions::write(OptionsFilePath(), options);
}

ControlOptions frmMain::Options() const
{
    return m_session->options();
}

void frmMain::SetRunLimitOverride(std::optional<int> milliseconds)
{
    m_session->setRunLimitOverride(milliseconds);
}

int frmMain::RunLimitMs(int code) const
{
    return m_session->runLimitMs(code);
}

void frmMain::SetVirtualArmWindow(QWidget *armWindow)
{
    auto *show = new QAction(tr("Show the Virtual Arm window"), m_ui.FrameMain);
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    show->setShortcutContext(Qt::WindowShortcut);
    connect(show, &QAction::triggered, armWindow, [armWindow] {
        armWindow->show();
        armWindow->raise();
        armWindow->activateWindow();
    });
    // With the pose's commands, above the settings.
    m_ui.FrameMain->insertAction(m_armSettingsSeparator, show);
    m_ui.FrameMain->setContextMenuPolicy(Qt::ActionsContextMenu);
}
