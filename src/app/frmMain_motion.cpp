#include "frmMain.h"

#include "ArmArtwork.h"
#include "ArmDeviceList.h"
#include "HoverButton.h"
#include "MacFrame.h"
#include "MacRadioButton.h"

#include <QApplication>
#include <QPalette>

#include <exception>

namespace {

struct MotionButton
{
    const char *tag;
    const char *caption;
    int left, top, width, height;
};

// Index = command code.
// clang-format off
constexpr MotionButton MotionButtons[11] = {
    {"Pause",        "PAUSE", 420,  3300, 975, 615},
    {"ShoulderUp",   "Up",    2280, 2580, 435, 375},
    {"BaseCCW",      "CCW",   2160, 4140, 555, 375},
    {"ElbowUp",      "Up",    5760, 840,  435, 375},
    {"WristUp",      "Up",    2940, 240,  435, 375},
    {"GripClose",    "Close", 300,  1380, 555, 375},
    {"ShoulderDown", "Down",  2280, 3060, 675, 375},
    {"BaseCW",       "CW",    2160, 4620, 555, 375},
    {"ElbowDown",    "Down",  6240, 840,  675, 375},
    {"WristDown",    "Down",  3420, 240,  675, 375},
    {"GripOpen",     "Open",  300,  900,  555, 375},
};
// clang-format on

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
    FrameMain = new QLabel(this);
    FrameMain->setGeometry(twipRect(60, 480, 7905, 6150));
    FrameMain->setPixmap(ArmArtwork::armPicture(devicePixelRatioF()));

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
    optInteractive = new MacRadioButton(FrameCM);
    optInteractive->move(twips(180), twips(360));
    lblInteractive = captionLabel(QStringLiteral("Interactive"), FrameCM, false);
    lblInteractive->setGeometry(twipRect(420, 352, 750, 210));
    optScripting = new MacRadioButton(FrameCM);
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
}

QString frmMain::Tag(const QWidget *control)
{
    return control ? control->property("Tag").toString() : QString();
}

bool frmMain::ScriptingMode() const
{
    return optScripting->Value();
}

bool frmMain::SendArmCommand(qint16 code)
{
    if (ConnectionState() != Ready)
        return false;
    try {
        return Devices->SendToAll(code);
    } catch (const std::exception &) {
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
        SendArmCommand(qint16(Index));
    } else if (tag == m_activeTag) {
        TimerT->stop();
        if (ScriptingMode())
            RecordScriptStep();
        ResetControlButtons();
        m_motionActive = false;
        Text1->setText(QStringLiteral("0"));
        SendArmCommand(0);
    } else {
        TimerT->stop();
        if (ScriptingMode())
            RecordScriptStep();
        ResetControlButtons();
        showOnLook(Index);
        m_motionActive = false;
        Text1->setText(code);
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
