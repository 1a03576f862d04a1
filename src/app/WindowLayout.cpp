#include "WindowLayout.h"

#include "ArmArtwork.h"
#include "GridText.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "PanelControls.h"
#include "RunDisplay.h"
#include "ScriptGrid.h"
#include "WinColor.h"
#include "frmMain.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QScreen>

namespace {

QFont arialFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

using PanelControls::twipRect;

int twips(int value)
{
    return frmMain::twips(value);
}

} // namespace

void WindowLayout::build(frmMain &w)
{
    w.setWindowTitle(QStringLiteral("Tessaro[*]"));
    w.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                     Qt::MSWindowsFixedSizeDialogHint);
    w.setFixedSize(twips(12000), twips(6630));

    const qreal dpr = w.devicePixelRatioF();
    // Dialogs that borrow the background take the texture without the title strip.
    w.m_backgroundPicture = ArmArtwork::windowTexture(w.size(), dpr);
    QPalette back = w.palette();
    back.setColor(QPalette::Window, winColorToQColor(frmMain::BackColor));
    back.setBrush(QPalette::Window, QBrush(ArmArtwork::windowBackground(w.size(), dpr)));
    w.setPalette(back);
    w.setAutoFillBackground(true);

    // The hidden lamp pictures the status looks copy from.
    w.pctLEDOnRed = new QLabel(&w);
    w.pctLEDOnRed->setPixmap(ArmArtwork::lampLitRed(dpr));
    w.pctLEDOnRed->setGeometry(-40, -40, 20, 20);
    w.pctLEDOnRed->hide();
    w.pctLEDOff = new QLabel(&w);
    w.pctLEDOff->setPixmap(ArmArtwork::lampDark(dpr));
    w.pctLEDOff->setGeometry(-40, -40, 20, 20);
    w.pctLEDOff->hide();

    w.pctLED = new QLabel(&w);
    w.pctLED->setGeometry(twipRect(4155, 120, 300, 300));
    w.pctLED->setProperty("Tag", QString());

    w.lblDisp = new QLabel(frmMain::DisconnectedText, &w);
    w.lblDisp->setGeometry(twipRect(4560, 165, 3345, 240));
    w.lblDisp->setFont(arialFont(9.75, true));
    QPalette status = w.lblDisp->palette();
    status.setColor(QPalette::WindowText, Qt::white);
    w.lblDisp->setPalette(status);

    motionPanel(w);
    scriptArea(w);

    w.cmdColors = new MacButton(&w);
    w.cmdColors->SetCaption(QStringLiteral("Colors"));
    w.cmdColors->move(twips(9420), twips(6165));
    w.cmdAbout = new MacButton(&w);
    w.cmdAbout->SetCaption(QStringLiteral("About"));
    w.cmdAbout->move(twips(10620), twips(6165));
    // In line with Run above it: the arm's own settings, apart from the colours.
    w.cmdArmSettings = new MacButton(&w);
    w.cmdArmSettings->SetCaption(QStringLiteral("Arm setup"));
    w.cmdArmSettings->move(w.FrameTB->x() + 9, twips(6165));
    w.cmdArmSettings->setToolTip(
        QStringLiteral("The runaway limit, the interface kit's reversed motors and the calibration"));
    w.cmdColors->setToolTip(QStringLiteral("The colour of the running step, and whether to highlight it"));

    // Centred on the screen at start.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        w.move(available.center() - QPoint(w.width() / 2, w.height() / 2));
    }
}

void WindowLayout::motionPanel(frmMain &w)
{
    w.FrameMain = new MotionPanel(&w);
    w.FrameMain->setGeometry(twipRect(60, 480, 7905, 6150));
    w.FrameMain->setPixmap(ArmArtwork::armPicture(w.devicePixelRatioF()));
    w.FrameMain->setAccessibleName(QStringLiteral("Arm"));
    w.FrameMain->setToolTip(QStringLiteral("Click here, then hold a key to drive a motor: Left/Right base, "
                                           "Up/Down shoulder, W/S elbow, E/D wrist, O/C gripper."));

    w.cmdControl =
        PanelControls::motionButtons(w.FrameMain, frmMain::IdleBackColor, frmMain::IdleHoverBackColor);
    w.ArmLabel = PanelControls::jointLabels(w.FrameMain);

    w.FrameCM = new MacFrame(w.FrameMain);
    w.FrameCM->setGeometry(twipRect(60, 5010, 1755, 990));
    w.lblCM = PanelControls::captionLabel(QStringLiteral("Command Mode"), w.FrameCM, true);
    w.lblCM->setGeometry(12, 5, 100, 14);
    w.FrameCM->setAccessibleName(QStringLiteral("Command Mode"));
    w.optInteractive = new MacRadioButton(w.FrameCM);
    w.optInteractive->setAccessibleName(QStringLiteral("Interactive"));
    w.optInteractive->move(twips(180), twips(360));
    w.lblInteractive = PanelControls::captionLabel(QStringLiteral("Interactive"), w.FrameCM, false);
    w.lblInteractive->setGeometry(twipRect(420, 352, 750, 210));
    w.optScripting = new MacRadioButton(w.FrameCM);
    w.optScripting->setAccessibleName(QStringLiteral("Scripting"));
    w.optScripting->move(twips(180), twips(600));
    w.lblScripting = PanelControls::captionLabel(QStringLiteral("Scripting"), w.FrameCM, false);
    w.lblScripting->setGeometry(twipRect(420, 592, 630, 210));
    // Selected at design time: no Click, as when a form loads its controls.
    PropertyBag selected;
    selected.writeProperty(QStringLiteral("Value"), true);
    w.optInteractive->ReadProperties(selected);

    // The readout of the last code sent from the panel; it sits under the arm picture.
    // Shown while in Scripting mode, so that nobody records by accident.
    w.m_recordingBadge = new QLabel(QStringLiteral("\u25CF Recording"), w.FrameMain);
    w.m_recordingBadge->setAccessibleName(QStringLiteral("Recording"));
    w.m_recordingBadge->setToolTip(
        QStringLiteral("Scripting mode: every motion is recorded as a step of the script."));
    w.m_recordingBadge->setAlignment(Qt::AlignCenter);
    w.m_recordingBadge->setFont(arialFont(8.25, true));
    w.m_recordingBadge->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: rgb(192, 40, 40); border: 1px solid rgb(128, 24, "
                       "24); border-radius: 4px; }"));
    w.m_recordingBadge->setGeometry(w.FrameMain->width() - 92, 8, 84, 19);
    w.m_recordingBadge->hide();

    w.Text1 = new QLineEdit(QStringLiteral("Text1"), &w);
    w.Text1->setGeometry(twipRect(1080, 720, 615, 375));
    w.Text1->lower();
    w.Text1->hide();
}

void WindowLayout::scriptArea(frmMain &w)
{
    w.pctFrame = new MacFrame(&w);
    w.pctFrame->setGeometry(twipRect(8100, 105, 3795, 4530));
    w.Grid = new ScriptGrid(w.pctFrame, w.Script);
    w.Grid->setGeometry(w.pctFrame->rect().adjusted(6, 6, -11, -29));
    w.lblTotals = new QLabel(w.pctFrame);
    w.lblTotals->setFont(arialFont(8.25));
    w.lblTotals->setGeometry(
        QRect(w.Grid->x() + 1, w.Grid->geometry().bottom() + 3, w.Grid->width() - 2, 14));
    // Over the totals line while a run lasts.
    w.m_runDisplay = new RunDisplay(w.pctFrame);
    w.m_runDisplay->setFont(arialFont(8.25));
    w.m_runDisplay->setGeometry(QRect(w.Grid->x(), w.Grid->geometry().bottom() + 2, w.Grid->width(), 17));

    w.FrameTB = new MacFrame(&w);
    w.FrameTB->setGeometry(twipRect(8100, 4770, 3795, 1230));

    // Nothing fixes the toolbar's inner layout: a title row, then two rows of buttons, the repetitions
    // box at the end of the second row.
    w.Label5 = new QLabel(QStringLiteral("Toolbox"), w.FrameTB);
    w.Label5->setFont(arialFont(8.25, true));
    w.Label5->setGeometry(10, 4, 120, 16);

    auto makeButton = [&w](const QString &caption, int x, int y) {
        auto *button = new MacButtonD(w.FrameTB);
        button->SetCaption(caption);
        button->move(x, y);
        return button;
    };
    w.cmdRun = makeButton(QStringLiteral("Run"), 9, 23);
    w.cmdClear = makeButton(QStringLiteral("Clear"), 89, 23);
    w.cmdLoad = makeButton(QStringLiteral("Load"), 169, 23);
    w.cmdSave = makeButton(QStringLiteral("Save"), 9, 52);
    w.cmdSaveAs = makeButton(QStringLiteral("Save As"), 89, 52);

    w.lblReps = new QLabel(QStringLiteral("Repeat"), w.FrameTB);
    w.lblReps->setFont(arialFont(8.25));
    w.lblReps->setGeometry(169, 55, 36, 16);
    w.txtReps = new QLineEdit(QStringLiteral("1"), w.FrameTB);
    w.txtReps->setFont(arialFont(8.25));
    w.txtReps->setMaxLength(5);
    w.txtReps->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for the largest count, 32767, to show whole.
    w.txtReps->setGeometry(205, 52, 40, 22);
    w.cmdRun->setToolTip(QStringLiteral("Play the script (Esc or Space stops it)"));
    w.cmdClear->setToolTip(QStringLiteral("Empty the script (Ctrl+Z brings it back)"));
    w.cmdLoad->setToolTip(QStringLiteral("Open a script file (Ctrl+O)"));
    w.cmdSave->setToolTip(QStringLiteral("Save the script (Ctrl+S)"));
    w.cmdSaveAs->setToolTip(QStringLiteral("Save the script in a new file"));
    w.txtReps->setToolTip(QStringLiteral("How many times Run plays the script: 1 to 32767"));

    w.GridText = new ::GridText(&w);
    w.GridText->hide();
}
