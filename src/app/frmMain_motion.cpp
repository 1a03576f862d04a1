#include "frmMain.h"

#include "ArmArtwork.h"
#include "ArmDeviceList.h"
#include "HoverButton.h"
#include "ArmSession.h"
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

// How long a message holds the status line before the connection state comes back.
constexpr int StatusMessageMs = 4000;

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

    // The step timer counts a motion's time for recording; the session keeps it.
    TimerT = m_session->stepTimer();
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
