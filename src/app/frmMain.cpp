#include "frmMain.h"

#include "ArmArtwork.h"
#include "ArmDeviceList.h"
#include "Gamepad.h"
#include "GridText.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "ScriptRunner.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"
#include "SettingsReader.h"
#include "WinColor.h"
#include "frmAbout.h"
#include "frmColorScheme.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIntValidator>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStyle>

#include <exception>

namespace {

// Start-up and closing run every step even when an earlier one fails; a failed step has no effect.
template <typename Step> void runStep(Step &&step)
{
    try {
        step();
    } catch (const std::exception &) {
    }
}

QFont arialFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QRect twipRect(int left, int top, int width, int height)
{
    return QRect(frmMain::twips(left), frmMain::twips(top), frmMain::twips(width), frmMain::twips(height));
}

} // namespace

frmMain::frmMain(const Setup &setup, QWidget *parent)
    : QWidget(parent), Script(new ScriptModel(this)), NextStep(Script->nextStepVariable()), m_setup(setup),
      m_session(std::make_unique<ArmSession>(setup.transport))
{
    HIDagent = &m_session->agent();
    Devices = &m_session->devices();
    m_session->setScriptingModeSource([this] { return ScriptingMode(); });

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
    if (FrameMain)
        FrameMain->disconnect(this);
    if (m_colorScheme)
        delete m_colorScheme.data();
    if (m_about)
        delete m_about.data();
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
    connect(session, &ArmSession::codeShown, this, [this](int code) { Text1->setText(QString::number(code)); });
    connect(session, &ArmSession::stepBegun, this, &frmMain::Script_StepBegun);
    connect(session, &ArmSession::stepEnded, this, &frmMain::Script_StepEnded);
    connect(session, &ArmSession::runLimitReached, this, &frmMain::showStatusMessage);
    connect(session, &ArmSession::runStopping, this, [this] {
        cmdRun->SetCaption(QStringLiteral("Run"));
        StopRequested = true;
        Grid->SetHighLight(false);
    });
    connect(session, &ArmSession::openDenied, this, &frmMain::HIDagent_OnOpenDenied);
    connect(session, &ArmSession::armStalled, this, &frmMain::HIDagent_OnWriteStalled);
    // Otherwise a pad that does nothing looks like a broken pad.
    connect(session, &ArmSession::gamepadDenied, this, [this] { showStatusMessage(GamepadDeniedText); });
}

void frmMain::buildWindow()
{
    setWindowTitle(QStringLiteral("Tessaro[*]"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(12000), twips(6630));

    const qreal dpr = devicePixelRatioF();
    // Dialogs that borrow the background take the texture without the title strip.
    m_backgroundPicture = ArmArtwork::windowTexture(size(), dpr);
    QPalette back = palette();
    back.setColor(QPalette::Window, winColorToQColor(BackColor));
    back.setBrush(QPalette::Window, QBrush(ArmArtwork::windowBackground(size(), dpr)));
    setPalette(back);
    setAutoFillBackground(true);

    // The hidden lamp pictures the status looks copy from.
    pctLEDOnRed = new QLabel(this);
    pctLEDOnRed->setPixmap(ArmArtwork::lampLitRed(dpr));
    pctLEDOnRed->setGeometry(-40, -40, 20, 20);
    pctLEDOnRed->hide();
    pctLEDOff = new QLabel(this);
    pctLEDOff->setPixmap(ArmArtwork::lampDark(dpr));
    pctLEDOff->setGeometry(-40, -40, 20, 20);
    pctLEDOff->hide();

    pctLED = new QLabel(this);
    pctLED->setGeometry(twipRect(4155, 120, 300, 300));
    pctLED->setProperty("Tag", QString());

    lblDisp = new QLabel(DisconnectedText, this);
    lblDisp->setGeometry(twipRect(4560, 165, 3345, 240));
    lblDisp->setFont(arialFont(9.75, true));
    QPalette status = lblDisp->palette();
    status.setColor(QPalette::WindowText, Qt::white);
    lblDisp->setPalette(status);

    buildMotionPanel();
    buildScriptArea();

    cmdColors = new MacButton(this);
    cmdColors->SetCaption(QStringLiteral("Colors"));
    cmdColors->move(twips(9420), twips(6165));
    cmdAbout = new MacButton(this);
    cmdAbout->SetCaption(QStringLiteral("About"));
    cmdAbout->move(twips(10620), twips(6165));
    connect(cmdColors, &MacButton::Click, this, &frmMain::cmdColors_Click);
    connect(cmdAbout, &MacButton::Click, this, &frmMain::cmdAbout_Click);

    // Centred on the screen at start.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
}

void frmMain::buildScriptArea()
{
    pctFrame = new MacFrame(this);
    pctFrame->setGeometry(twipRect(8100, 105, 3795, 4530));
    Grid = new ScriptGrid(pctFrame, Script);
    Grid->setGeometry(pctFrame->rect().adjusted(6, 6, -11, -29));
    lblTotals = new QLabel(pctFrame);
    lblTotals->setFont(arialFont(8.25));
    lblTotals->setGeometry(QRect(Grid->x() + 1, Grid->geometry().bottom() + 3, Grid->width() - 2, 14));

    FrameTB = new MacFrame(this);
    FrameTB->setGeometry(twipRect(8100, 4770, 3795, 1230));

    // Nothing fixes the toolbar's inner layout: a title row, then two rows of buttons, the repetitions
    // box at the end of the second row.
    Label5 = new QLabel(QStringLiteral("Toolbox"), FrameTB);
    Label5->setFont(arialFont(8.25, true));
    Label5->setGeometry(10, 4, 120, 16);

    auto makeButton = [this](const QString &caption, int x, int y) {
        auto *button = new MacButtonD(FrameTB);
        button->SetCaption(caption);
        button->move(x, y);
        return button;
    };
    cmdRun = makeButton(QStringLiteral("Run"), 9, 23);
    cmdClear = makeButton(QStringLiteral("Clear"), 89, 23);
    cmdLoad = makeButton(QStringLiteral("Load"), 169, 23);
    cmdSave = makeButton(QStringLiteral("Save"), 9, 52);
    cmdSaveAs = makeButton(QStringLiteral("Save As"), 89, 52);

    lblReps = new QLabel(QStringLiteral("Repeat"), FrameTB);
    lblReps->setFont(arialFont(8.25));
    lblReps->setGeometry(169, 55, 36, 16);
    txtReps = new QLineEdit(QStringLiteral("1"), FrameTB);
    txtReps->setFont(arialFont(8.25));
    txtReps->setMaxLength(5);
    txtReps->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for the largest count, 32767, to show whole.
    txtReps->setGeometry(205, 52, 40, 22);

    GridText = new ::GridText(this);
    GridText->hide();

    connect(cmdRun, &MacButton::Click, this, &frmMain::cmdRun_Click);
    connect(cmdClear, &MacButton::Click, this, &frmMain::cmdClear_Click);
    connect(cmdLoad, &MacButton::Click, this, &frmMain::cmdLoad_Click);
    connect(cmdSave, &MacButton::Click, this, &frmMain::Script_Save);
    connect(cmdSaveAs, &MacButton::Click, this, &frmMain::Script_SaveAs);
    connect(Grid, &ScriptGrid::Click, this, [this] { GridEdit(32); });
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
        if (!m_setup.optionsReadPath.isEmpty())
            m_session->setOptions(ControlOptions::read(m_setup.optionsReadPath));
    });
    runStep([this] {
        Grid->SetRows(14);
        Grid->SetColWidthTwips(0, 440);
        Grid->SetColWidthTwips(1, 2150);
        Grid->SetColWidthTwips(2, 625);
        Grid->SetTextMatrix(0, 0, QStringLiteral("Step"));
        Grid->SetTextMatrix(0, 1, QStringLiteral("Function"));
        Grid->SetTextMatrix(0, 2, QStringLiteral("Time"));
    });
    ScriptFileName.clear();
    Script->setNextStep(1);
    m_startingUp = true;
    m_session->setDeviceIdentity(m_currentDevice);
    m_session->start();
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
        Grid->SetBackColorSel(*settings.selectionColour);
    m_currentDevice = settings.currentDevice;
}

QString frmMain::ConnectionState() const
{
    return pctLED->property("Tag").toString();
}

void frmMain::ShowReady()
{
    endStatusMessage();
    lblDisp->setText(ReadyText);
    pctLED->setPixmap(pctLEDOnRed->pixmap());
    pctLED->setProperty("Tag", Ready);
    m_session->setReady(true);
}

void frmMain::ShowDisconnected()
{
    endStatusMessage();
    lblDisp->setText(DisconnectedText);
    pctLED->setPixmap(pctLEDOff->pixmap());
    pctLED->setProperty("Tag", QString());
    m_session->setReady(false);
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
    Grid->SetBackColorSel(winColour);
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
    if (!m_unloaded && !SettleUnsavedChanges()) {
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
        if (cmdRun->Caption() == QStringLiteral("Stop")) {
            cmdRun->SetCaption(QStringLiteral("Run"));
            StopRequested = true;
        }
    });
    // The run ends, a running motor is stopped, and the component closes.
    m_session->shutDown();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtReps && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        txtReps_Focus(event->type() == QEvent::FocusIn);
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = qobject_cast<QLabel *>(watched);
        // A disabled label (the panel is locked while a script runs) still sees the mouse here.
        if (label && label->isEnabled() && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == lblInteractive)
                lblInteractive_Click();
            else if (watched == lblScripting)
                lblScripting_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}
