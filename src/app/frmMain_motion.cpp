#include "frmMain.h"

#include "ArmArtwork.h"
#include "ArmDeviceList.h"
#include "HoverButton.h"
#include "ArmMotion.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"

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

struct MotionButton
{
    const char *tag;
    const char *caption;
    int left, top, width, height;
    // What assistive technology and the tooltip call it: the joint and the direction.
    const char *spokenName;
};

// Index = command code.
// clang-format off
constexpr MotionButton MotionButtons[11] = {
    {"Pause",        "PAUSE", 420,  3300, 975, 615, "Pause"},
    {"ShoulderUp",   "Up",    2280, 2580, 435, 375, "Shoulder Up"},
    {"BaseCCW",      "CCW",   2160, 4140, 555, 375, "Base CCW"},
    {"ElbowUp",      "Up",    5760, 840,  435, 375, "Elbow Up"},
    {"WristUp",      "Up",    2940, 240,  435, 375, "Wrist Up"},
    {"GripClose",    "Close", 300,  1380, 555, 375, "Gripper Close"},
    {"ShoulderDown", "Down",  2280, 3060, 675, 375, "Shoulder Down"},
    {"BaseCW",       "CW",    2160, 4620, 555, 375, "Base CW"},
    {"ElbowDown",    "Down",  6240, 840,  675, 375, "Elbow Down"},
    {"WristDown",    "Down",  3420, 240,  675, 375, "Wrist Down"},
    {"GripOpen",     "Open",  300,  900,  555, 375, "Gripper Open"},
};
// clang-format on

// A motor stopped by the limit has had at least this long, whatever its joint's travel time.
constexpr int RunLimitFloorMs = 2000;
// A motion started again within this time of its stop goes on with the run time it had.
constexpr int RunLimitGapMs = 1000;
// How long a message holds the status line before the connection state comes back.
constexpr int StatusMessageMs = 4000;

const ArmJointMotion *jointOfCode(int code)
{
    for (const ArmJointMotion &motion : armJointMotions) {
        if (motion.codeTowardsMax == code || motion.codeTowardsMin == code)
            return &motion;
    }
    return nullptr;
}

bool isTextField(const QWidget *widget)
{
    if (!widget)
        return false;
    if (qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
        qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget))
        return true;
    const auto *combo = qobject_cast<const QComboBox *>(widget);
    return combo && combo->isEditable();
}

// Esc and Space for every window of the program. A key event climbs from the focus widget to its
// parents while nobody takes it, and the application's filters see every step of that climb: only the
// first step counts.
class StopKeyFilter : public QObject
{
public:
    StopKeyFilter(frmMain &window) : QObject(&window), m_window(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Escape && key->key() != Qt::Key_Space)
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        const bool climbing = event == m_lastEvent && m_lastReceiver && m_lastReceiver != widget &&
                              widget->isAncestorOf(m_lastReceiver);
        m_lastEvent = event;
        m_lastReceiver = widget;
        if (climbing || key->isAutoRepeat() || m_window.Unloaded())
            return false;
        if (key->key() == Qt::Key_Space) {
            if (isTextField(widget))
                return false;
            m_window.StopEverything();
            // Taken, so that a focused button is not clicked by it as well.
            return true;
        }
        // Esc goes on to the widget too: a cell editor drops its edit, a dialog closes.
        m_window.StopEverything();
        return false;
    }

private:
    frmMain &m_window;
    const QEvent *m_lastEvent = nullptr;
    QPointer<QWidget> m_lastReceiver;
};

struct JointLabel
{
    const char *caption;
    int left, top, width, height;
};

// clang-format off
constexpr JointLabel JointLabels[5] = {
    {"Base",     1680, 4500, 405, 210},
    {"Shoulder", 2760, 2700, 750, 210},
    {"Elbow",    5760, 600,  495, 210},
    {"Wrist",    2940, 0,    435, 210},
    {"Gripper",  300,  660,  630, 210},
};
// clang-format on

QFont arial(qreal points, bool bold)
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

QLabel *captionLabel(const QString &text, QWidget *parent, bool bold)
{
    auto *label = new QLabel(text, parent);
    label->setFont(arial(8.25, bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

void frmMain::buildMotionPanel()
{
    FrameMain = new MotionPanel(this);
    FrameMain->setGeometry(twipRect(60, 480, 7905, 6150));
    FrameMain->setPixmap(ArmArtwork::armPicture(devicePixelRatioF()));
    FrameMain->setAccessibleName(QStringLiteral("Arm"));
    FrameMain->setToolTip(QStringLiteral("Click here, then hold a key to drive a motor: Left/Right base, "
                                         "Up/Down shoulder, W/S elbow, E/D wrist, O/C gripper."));
    connect(FrameMain, &MotionPanel::jogPressed, this, &frmMain::FrameMain_JogPressed);
    connect(FrameMain, &MotionPanel::jogReleased, this, &frmMain::FrameMain_JogReleased);
    connect(FrameMain, &MotionPanel::jogAbandoned, this, &frmMain::FrameMain_JogReleased);

    for (int index = 0; index < 11; ++index) {
        const MotionButton &entry = MotionButtons[index];
        auto *button = new HoverButton(FrameMain);
        button->setIndex(index);
        button->setProperty("Tag", QString::fromLatin1(entry.tag));
        const QString caption = QString::fromLatin1(entry.caption);
        button->setCaption(caption);
        button->setCaptiondown(index == 8 ? QStringLiteral(" Down") : caption);
        button->setCaptionover(caption);
        button->setBackcolor(IdleBackColor);
        button->setHoverbackcolor(IdleHoverBackColor);
        button->setBordercolor(0);
        button->setForecolor(0);
        button->setHoverforecolor(0);
        button->setFont(arial(8.25, index == 0));
        button->setGeometry(twipRect(entry.left, entry.top, entry.width, entry.height));
        const QString spoken = QString::fromLatin1(entry.spokenName);
        button->setAccessibleName(spoken);
        const QString key = MotionPanel::keyNameForCode(index);
        button->setToolTip(key.isEmpty()
                               ? QStringLiteral("Pause: all motors stopped. Esc or Space stops the arm from "
                                                "any window.")
                               : QStringLiteral("%1 (key %2)").arg(spoken, key));
        connect(button, &HoverButton::indexClicked, this, &frmMain::cmdControl_Click);
        cmdControl[index] = button;
    }

    for (int index = 0; index < 5; ++index) {
        const JointLabel &entry = JointLabels[index];
        ArmLabel[index] = captionLabel(QString::fromLatin1(entry.caption), FrameMain, true);
        ArmLabel[index]->setGeometry(twipRect(entry.left, entry.top, entry.width, entry.height));
    }

    FrameCM = new MacFrame(FrameMain);
    FrameCM->setGeometry(twipRect(60, 5010, 1755, 990));
    lblCM = captionLabel(QStringLiteral("Command Mode"), FrameCM, true);
    lblCM->setGeometry(12, 5, 100, 14);
    FrameCM->setAccessibleName(QStringLiteral("Command Mode"));
    optInteractive = new MacRadioButton(FrameCM);
    optInteractive->setAccessibleName(QStringLiteral("Interactive"));
    optInteractive->move(twips(180), twips(360));
    lblInteractive = captionLabel(QStringLiteral("Interactive"), FrameCM, false);
    lblInteractive->setGeometry(twipRect(420, 352, 750, 210));
    optScripting = new MacRadioButton(FrameCM);
    optScripting->setAccessibleName(QStringLiteral("Scripting"));
    optScripting->move(twips(180), twips(600));
    lblScripting = captionLabel(QStringLiteral("Scripting"), FrameCM, false);
    lblScripting->setGeometry(twipRect(420, 592, 630, 210));
    // Selected at design time: no Click, as when a form loads its controls.
    PropertyBag selected;
    selected.writeProperty(QStringLiteral("Value"), true);
    optInteractive->ReadProperties(selected);

    lblInteractive->installEventFilter(this);
    lblScripting->installEventFilter(this);
    connect(optScripting, &MacRadioButton::Click, this, &frmMain::optScripting_Click);

    // The readout of the last code sent from the panel; it sits under the arm picture.
    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setGeometry(twipRect(1080, 720, 615, 375));
    Text1->lower();
    Text1->hide();

    TimerT = new QTimer(this);
    TimerT->setInterval(250);
    TimerT->setTimerType(Qt::PreciseTimer);
    connect(TimerT, &QTimer::timeout, this, &frmMain::TimerT_Timer);

    m_runLimitTimer.setSingleShot(true);
    m_runLimitTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_runLimitTimer, &QTimer::timeout, this, &frmMain::RunLimit_Timer);
    m_statusMessageTimer.setSingleShot(true);
    connect(&m_statusMessageTimer, &QTimer::timeout, this, [this] {
        endStatusMessage();
        lblDisp->setText(ConnectionState() == Ready ? ReadyText : DisconnectedText);
    });

    m_stopKeyFilter = new StopKeyFilter(*this);
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
    // The lamp's state as a flag any thread may read; the device list takes the HID lock itself.
    if (!m_armReady)
        return false;
    try {
        return Devices->SendToAll(code, error);
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromLocal8Bit(e.what());
        return false;
    }
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
    HoverButton *button = cmdControl[index];
    button->setBackcolor(OnColor);
    button->setHoverbackcolor(OnColor);
    button->setBordercolor(OnBorderColor);
}

void frmMain::cmdControl_Click(int Index)
{
    if (Index < 0 || Index > 10)
        return;
    // Whatever the click decides, the code it sends is the motion the limit watches from now on.
    struct LimitAfterClick
    {
        frmMain &window;
        int code = 0;
        ~LimitAfterClick() { window.armRunLimit(code); }
    } limit{*this};
    const QString tag = Tag(cmdControl[Index]);
    const QString code = QString::number(Index);

    if (!m_motionActive) {
        showOnLook(Index);
        m_activeTag = tag;
        m_stepTicks = 0;
        TimerT->start();
        if (ScriptingMode())
            RecordScriptStep();
        m_motionActive = true;
        Text1->setText(code);
        limit.code = Index;
        m_panelCode = Index;
        SendArmCommand(qint16(Index));
    } else if (tag == m_activeTag) {
        TimerT->stop();
        if (ScriptingMode())
            RecordScriptStep();
        ResetControlButtons();
        m_motionActive = false;
        Text1->setText(QStringLiteral("0"));
        m_panelCode = 0;
        SendArmCommand(0);
    } else {
        TimerT->stop();
        if (ScriptingMode())
            RecordScriptStep();
        ResetControlButtons();
        showOnLook(Index);
        m_motionActive = false;
        Text1->setText(code);
        limit.code = Index;
        m_panelCode = Index;
        SendArmCommand(qint16(Index));
        m_activeTag = tag;
        if (ScriptingMode())
            RecordScriptStep();
        m_motionActive = true;
    }
}

void frmMain::TimerT_Timer()
{
    m_stepTicks += 1;
}

void frmMain::optScripting_Click()
{
    m_stepTicks = 0;
    m_motionActive = false;
    TimerT->stop();
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
    jogPress(m_keyJogCode, code);
}

void frmMain::FrameMain_JogReleased(int code)
{
    jogRelease(m_keyJogCode, code);
}

void frmMain::Gamepad_MotionChanged(int code)
{
    // A pad pushed somewhere else is a press there (a switch, as a click would); let go, it is the
    // release of what it drove.
    const int previous = m_gamepadCode;
    m_gamepadCode = code;
    if (code >= 0)
        jogPress(m_padJogCode, code);
    else if (previous >= 0)
        jogRelease(m_padJogCode, previous);
}

void frmMain::jogPress(int &held, int code)
{
    if (m_unloaded || !FrameMain->isEnabled() || Running())
        return;
    held = code;
    // A press of the motion that is on already takes it over: its release stops it.
    if (m_motionActive && m_activeTag == Tag(cmdControl[size_t(code)]))
        return;
    cmdControl_Click(code);
}

void frmMain::jogRelease(int &held, int code)
{
    if (m_unloaded || held != code)
        return;
    held = -1;
    // A run has the arm; and a motion switched away meanwhile (another key, a click, the limit, Esc)
    // is no longer this control's to stop.
    if (Running() || m_panelCode != code)
        return;
    if (m_motionActive && m_activeTag == Tag(cmdControl[size_t(code)])) {
        cmdControl_Click(code);
        return;
    }
    // The motion state was ended under the running motor (a change of mode): stop the motor all the same.
    stopPanelMotion();
}

void frmMain::stopPanelMotion()
{
    pauseRunLimit();
    ResetControlButtons();
    Text1->setText(QStringLiteral("0"));
    m_panelCode = 0;
    SendArmCommand(0);
}

void frmMain::StopEverything()
{
    if (m_unloaded)
        return;
    pauseRunLimit();
    if (Running()) {
        cmdRun_Click();
        return;
    }
    if (m_motionActive) {
        for (int index = 0; index < 11; ++index) {
            if (Tag(cmdControl[size_t(index)]) == m_activeTag) {
                cmdControl_Click(index);
                return;
            }
        }
    }
    stopPanelMotion();
}

QString frmMain::OptionsReadPath() const
{
    if (!m_setup.optionsWritePath.isEmpty() && QFileInfo::exists(m_setup.optionsWritePath))
        return m_setup.optionsWritePath;
    return m_setup.optionsReadPath;
}

void frmMain::SetControlOptions(const ControlOptions &options)
{
    m_options = options;
    // A motion that is on keeps the limit it started with unless the limit is switched off.
    if (!m_options.runLimit)
        pauseRunLimit();
}

void frmMain::SetRunLimitOverride(std::optional<int> milliseconds)
{
    m_runLimitOverride = milliseconds;
}

int frmMain::RunLimitMs(int code) const
{
    const ArmJointMotion *joint = jointOfCode(code);
    if (!joint || !m_options.runLimit)
        return 0;
    if (m_runLimitOverride)
        return *m_runLimitOverride;
    const double ms = joint->fullTravelSeconds * 1000.0 * m_options.runLimitPercent / 100.0;
    return std::max(RunLimitFloorMs, int(std::lround(ms)));
}

void frmMain::pauseRunLimit()
{
    if (!m_runLimitTimer.isActive())
        return;
    m_runLimitTimer.stop();
    m_runLimitRanMs += m_runLimitClock.elapsed();
    m_runLimitPause.start();
}

void frmMain::armRunLimit(int code)
{
    pauseRunLimit();
    const int limit = RunLimitMs(code);
    if (limit <= 0)
        return;
    // The limit counts how long the motor has run in one go: the same motion started again right after
    // it stopped (a key's auto-repeat, a pad's stick at the edge of its dead zone, quick taps) goes on
    // with the time it had.
    const bool goesOn =
        code == m_runLimitCode && m_runLimitPause.isValid() && m_runLimitPause.elapsed() < RunLimitGapMs;
    if (!goesOn)
        m_runLimitRanMs = 0;
    m_runLimitCode = code;
    m_runLimitClock.start();
    m_runLimitTimer.start(int(std::max<qint64>(0, limit - m_runLimitRanMs)));
}

void frmMain::RunLimit_Timer()
{
    // A run sends its own codes for the times their author gave them.
    if (Running())
        return;
    const int code = m_runLimitCode;
    const double seconds = double(m_runLimitRanMs + m_runLimitClock.elapsed()) / 1000.0;
    if (m_motionActive && m_activeTag == Tag(cmdControl[size_t(code)])) {
        cmdControl_Click(code);
    } else {
        // The motion state was ended by a change of mode while the motor went on: stop it all the same.
        stopPanelMotion();
    }
    // Stopped by the limit: a new start of the same motion gets its own time.
    m_runLimitPause.invalidate();
    QString joint = QString::fromLatin1(jointOfCode(code)->name);
    joint[0] = joint[0].toUpper();
    showStatusMessage(
        QStringLiteral("%1 stopped after %2 s: end of travel").arg(joint, QString::number(seconds, 'f', 1)));
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
