#include "frmMain.h"

#include "ArmArtwork.h"
#include "ArmDeviceList.h"
#include "HoverButton.h"
#include "ArmSession.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "PanelControls.h"
#include "StopKeyFilter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

// How long a message holds the status line before the connection state comes back.
constexpr int StatusMessageMs = 4000;

} // namespace

void frmMain::buildMotionPanel()
{
    FrameMain = new MotionPanel(this);
    FrameMain->setGeometry(PanelControls::twipRect(60, 480, 7905, 6150));
    FrameMain->setPixmap(ArmArtwork::armPicture(devicePixelRatioF()));
    FrameMain->setAccessibleName(QStringLiteral("Arm"));
    FrameMain->setToolTip(QStringLiteral("Click here, then hold a key to drive a motor: Left/Right base, "
                                         "Up/Down shoulder, W/S elbow, E/D wrist, O/C gripper."));
    connect(FrameMain, &MotionPanel::jogPressed, this, &frmMain::FrameMain_JogPressed);
    connect(FrameMain, &MotionPanel::jogReleased, this, &frmMain::FrameMain_JogReleased);
    connect(FrameMain, &MotionPanel::jogAbandoned, this, &frmMain::FrameMain_JogReleased);

    cmdControl = PanelControls::motionButtons(FrameMain, IdleBackColor, IdleHoverBackColor);
    for (HoverButton *button : cmdControl)
        connect(button, &HoverButton::indexClicked, this, &frmMain::cmdControl_Click);
    ArmLabel = PanelControls::jointLabels(FrameMain);

    FrameCM = new MacFrame(FrameMain);
    FrameCM->setGeometry(PanelControls::twipRect(60, 5010, 1755, 990));
    lblCM = PanelControls::captionLabel(QStringLiteral("Command Mode"), FrameCM, true);
    lblCM->setGeometry(12, 5, 100, 14);
    FrameCM->setAccessibleName(QStringLiteral("Command Mode"));
    optInteractive = new MacRadioButton(FrameCM);
    optInteractive->setAccessibleName(QStringLiteral("Interactive"));
    optInteractive->move(twips(180), twips(360));
    lblInteractive = PanelControls::captionLabel(QStringLiteral("Interactive"), FrameCM, false);
    lblInteractive->setGeometry(PanelControls::twipRect(420, 352, 750, 210));
    optScripting = new MacRadioButton(FrameCM);
    optScripting->setAccessibleName(QStringLiteral("Scripting"));
    optScripting->move(twips(180), twips(600));
    lblScripting = PanelControls::captionLabel(QStringLiteral("Scripting"), FrameCM, false);
    lblScripting->setGeometry(PanelControls::twipRect(420, 592, 630, 210));
    // Selected at design time: no Click, as when a form loads its controls.
    PropertyBag selected;
    selected.writeProperty(QStringLiteral("Value"), true);
    optInteractive->ReadProperties(selected);

    lblInteractive->installEventFilter(this);
    lblScripting->installEventFilter(this);
    connect(optScripting, &MacRadioButton::Click, this, &frmMain::optScripting_Click);

    // The readout of the last code sent from the panel; it sits under the arm picture.
    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setGeometry(PanelControls::twipRect(1080, 720, 615, 375));
    Text1->lower();
    Text1->hide();

    // The step timer counts a motion's time for recording; the session keeps it.
    TimerT = m_session->stepTimer();
    m_statusMessageTimer.setSingleShot(true);
    connect(&m_statusMessageTimer, &QTimer::timeout, this, [this] {
        endStatusMessage();
        lblDisp->setText(ConnectionState() == Ready ? ReadyText : DisconnectedText);
    });

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

void frmMain::showStatusMessage(const QString &text)
{
    if (!m_statusMessageTimer.isActive()) {
        m_statusLineFont = lblDisp->font();
        m_statusLineGeometry = lblDisp->geometry();
    }
    // A message is longer than the status texts: it may run on to the script frame, and takes a
    // smaller type where even that is not enough.
    QRect wider = m_statusLineGeometry;
    wider.setRight(pctFrame->x() - 4);
    QFont font = m_statusLineFont;
    while (font.pointSizeF() > 7.0 && QFontMetrics(font).horizontalAdvance(text) > wider.width())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    lblDisp->setFont(font);
    lblDisp->setGeometry(wider);
    lblDisp->setText(text);
    m_statusMessageTimer.start(StatusMessageMs);
}

void frmMain::endStatusMessage()
{
    if (!m_statusMessageTimer.isActive() && m_statusLineGeometry.isNull())
        return;
    m_statusMessageTimer.stop();
    lblDisp->setFont(m_statusLineFont);
    lblDisp->setGeometry(m_statusLineGeometry);
    m_statusLineGeometry = QRect();
}
