#include "frmMain.h"

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
    connect(FrameMain, &MotionPanel::jogPressed, this, &frmMain::FrameMain_JogPressed);
    connect(FrameMain, &MotionPanel::jogReleased, this, &frmMain::FrameMain_JogReleased);
    connect(FrameMain, &MotionPanel::jogAbandoned, this, &frmMain::FrameMain_JogReleased);
    for (HoverButton *button : cmdControl)
        connect(button, &HoverButton::indexClicked, this, &frmMain::cmdControl_Click);
    lblInteractive->installEventFilter(this);
    lblScripting->installEventFilter(this);
    connect(optScripting, &MacRadioButton::Click, this, &frmMain::optScripting_Click);
    for (MacRadioButton *mode : {optScripting, optInteractive})
        connect(mode, &MacRadioButton::Click, this,
                [this] { m_recordingBadge->setVisible(ScriptingMode()); });

    // The step timer counts a motion's time for recording; the session keeps it.
    TimerT = m_session->stepTimer();
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
    return optScripting->Value();
}

bool frmMain::SendArmCommand(qint16 code, QString *error)
{
    return m_session->send(code, error);
}

void frmMain::ResetControlButtons()
{
    for (HoverButton *button : cmdControl) {
        button->setBackcolor(IdleBackColor);
        button->setHoverbackcolor(IdleHoverBackColor);
        button->setBordercolor(IdleBorderColor);
    }
}

void frmMain::showOnLook(int index)
{
    HoverButton *button = cmdControl[size_t(index)];
    button->setBackcolor(OnColor);
    button->setHoverbackcolor(OnColor);
    button->setBordercolor(OnBorderColor);
}

void frmMain::cmdControl_Click(int Index)
{
    m_session->click(Index);
}

void frmMain::optScripting_Click()
{
    m_session->endMotionState();
}

void frmMain::lblInteractive_Click()
{
    optInteractive->SetValue(true);
}

void frmMain::lblScripting_Click()
{
    optScripting->SetValue(true);
}

void frmMain::FrameMain_JogPressed(int code)
{
    if (FrameMain->isEnabled() && !Running())
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
    auto *show = new QAction(tr("Show the Virtual Arm window"), FrameMain);
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    show->setShortcutContext(Qt::WindowShortcut);
    connect(show, &QAction::triggered, armWindow, [armWindow] {
        armWindow->show();
        armWindow->raise();
        armWindow->activateWindow();
    });
    // With the pose's commands, above the settings.
    FrameMain->insertAction(m_armSettingsSeparator, show);
    FrameMain->setContextMenuPolicy(Qt::ActionsContextMenu);
}
