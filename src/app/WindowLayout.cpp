#include "WindowLayout.h"

#include "ArmArtwork.h"
#include "AuxWindow.h"
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
#include "WindowLook.h"

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

using AuxWindow::twips;

} // namespace

WindowControls WindowLayout::build(QWidget &w, ScriptModel *script)
{
    WindowControls ui;
    w.setWindowTitle(QStringLiteral("Tessaro[*]"));
    w.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                     Qt::MSWindowsFixedSizeDialogHint);
    w.setFixedSize(twips(12000), twips(6630));

    const qreal dpr = w.devicePixelRatioF();
    // Dialogs that borrow the background take the texture without the title strip.
    ui.backgroundPicture = ArmArtwork::windowTexture(w.size(), dpr);
    QPalette back = w.palette();
    back.setColor(QPalette::Window, winColorToQColor(WindowLook::BackColor));
    back.setBrush(QPalette::Window, QBrush(ArmArtwork::windowBackground(w.size(), dpr)));
    w.setPalette(back);
    w.setAutoFillBackground(true);

    // The hidden lamp pictures the status looks copy from.
    ui.pctLEDOnRed = new QLabel(&w);
    ui.pctLEDOnRed->setPixmap(ArmArtwork::lampLitRed(dpr));
    ui.pctLEDOnRed->setGeometry(-40, -40, 20, 20);
    ui.pctLEDOnRed->hide();
    ui.pctLEDOff = new QLabel(&w);
    ui.pctLEDOff->setPixmap(ArmArtwork::lampDark(dpr));
    ui.pctLEDOff->setGeometry(-40, -40, 20, 20);
    ui.pctLEDOff->hide();

    ui.pctLED = new QLabel(&w);
    ui.pctLED->setGeometry(twipRect(4155, 120, 300, 300));
    ui.pctLED->setProperty("Tag", QString());

    ui.lblDisp = new QLabel(WindowLook::DisconnectedText, &w);
    ui.lblDisp->setGeometry(twipRect(4560, 165, 3345, 240));
    ui.lblDisp->setFont(arialFont(9.75, true));
    QPalette status = ui.lblDisp->palette();
    status.setColor(QPalette::WindowText, Qt::white);
    ui.lblDisp->setPalette(status);

    motionPanel(w, ui);
    scriptArea(w, script, ui);
    toolbox(w, ui);
    ui.GridText = new ::GridText(&w);
    ui.GridText->hide();

    ui.cmdColors = new MacButton(&w);
    ui.cmdColors->SetCaption(QStringLiteral("Colors"));
    ui.cmdColors->move(twips(9420), twips(6165));
    ui.cmdAbout = new MacButton(&w);
    ui.cmdAbout->SetCaption(QStringLiteral("About"));
    ui.cmdAbout->move(twips(10620), twips(6165));
    // In line with Run above it: the arm's own settings, apart from the colours.
    ui.cmdArmSettings = new MacButton(&w);
    ui.cmdArmSettings->SetCaption(QStringLiteral("Arm setup"));
    ui.cmdArmSettings->move(ui.FrameTB->x() + 9, twips(6165));
    ui.cmdArmSettings->setToolTip(
        QStringLiteral("The runaway limit, the interface kit's reversed motors and the calibration"));
    ui.cmdColors->setToolTip(QStringLiteral("The colour of the running step, and whether to highlight it"));

    // Centred on the screen at start.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        w.move(available.center() - QPoint(w.width() / 2, w.height() / 2));
    }
    nameControls(ui);
    return ui;
}

void WindowLayout::nameControls(WindowControls &ui)
{
    const auto name = [](QWidget *control, const char *objectName) {
        control->setObjectName(QLatin1StringView(objectName));
    };
    name(ui.pctLED, "pctLED");
    name(ui.lblDisp, "lblDisp");
    name(ui.pctLEDOnRed, "pctLEDOnRed");
    name(ui.pctLEDOff, "pctLEDOff");
    name(ui.FrameMain, "FrameMain");
    for (size_t i = 0; i < ui.cmdControl.size(); ++i)
        ui.cmdControl[i]->setObjectName(QStringLiteral("cmdControl%1").arg(i));
    for (size_t i = 0; i < ui.ArmLabel.size(); ++i)
        ui.ArmLabel[i]->setObjectName(QStringLiteral("ArmLabel%1").arg(i));
    name(ui.FrameCM, "FrameCM");
    name(ui.lblCM, "lblCM");
    name(ui.optInteractive, "optInteractive");
    name(ui.lblInteractive, "lblInteractive");
    name(ui.optScripting, "optScripting");
    name(ui.lblScripting, "lblScripting");
    name(ui.recordingBadge, "recordingBadge");
    name(ui.Text1, "Text1");
    name(ui.pctFrame, "pctFrame");
    name(ui.Grid, "Grid");
    name(ui.lblTotals, "lblTotals");
    name(ui.runDisplay, "runDisplay");
    name(ui.GridText, "GridText");
    name(ui.FrameTB, "FrameTB");
    name(ui.Label5, "Label5");
    name(ui.cmdRun, "cmdRun");
    name(ui.cmdClear, "cmdClear");
    name(ui.cmdLoad, "cmdLoad");
    name(ui.cmdSave, "cmdSave");
    name(ui.cmdSaveAs, "cmdSaveAs");
    name(ui.lblReps, "lblReps");
    name(ui.txtReps, "txtReps");
    name(ui.cmdColors, "cmdColors");
    name(ui.cmdAbout, "cmdAbout");
    name(ui.cmdArmSettings, "cmdArmSettings");
}

void WindowLayout::motionPanel(QWidget &w, WindowControls &ui)
{
    ui.FrameMain = new MotionPanel(&w);
    ui.FrameMain->setGeometry(twipRect(60, 480, 7905, 6150));
    ui.FrameMain->setPixmap(ArmArtwork::armPicture(w.devicePixelRatioF()));
    ui.FrameMain->setAccessibleName(QStringLiteral("Arm"));
    ui.FrameMain->setToolTip(QStringLiteral("Click here, then hold a key to drive a motor: Left/Right base, "
                                            "Up/Down shoulder, W/S elbow, E/D wrist, O/C gripper."));

    ui.cmdControl =
        PanelControls::motionButtons(ui.FrameMain, WindowLook::IdleBackColor, WindowLook::IdleHoverBackColor);
    ui.ArmLabel = PanelControls::jointLabels(ui.FrameMain);

    ui.FrameCM = new MacFrame(ui.FrameMain);
    ui.FrameCM->setGeometry(twipRect(60, 5010, 1755, 990));
    ui.lblCM = PanelControls::captionLabel(QStringLiteral("Command Mode"), ui.FrameCM, true);
    ui.lblCM->setGeometry(12, 5, 100, 14);
    ui.FrameCM->setAccessibleName(QStringLiteral("Command Mode"));
    ui.optInteractive = new MacRadioButton(ui.FrameCM);
    ui.optInteractive->setAccessibleName(QStringLiteral("Interactive"));
    ui.optInteractive->move(twips(180), twips(360));
    ui.lblInteractive = PanelControls::captionLabel(QStringLiteral("Interactive"), ui.FrameCM, false);
    ui.lblInteractive->setGeometry(twipRect(420, 352, 750, 210));
    ui.optScripting = new MacRadioButton(ui.FrameCM);
    ui.optScripting->setAccessibleName(QStringLiteral("Scripting"));
    ui.optScripting->move(twips(180), twips(600));
    ui.lblScripting = PanelControls::captionLabel(QStringLiteral("Scripting"), ui.FrameCM, false);
    ui.lblScripting->setGeometry(twipRect(420, 592, 630, 210));
    // Selected at design time: no Click, as when a form loads its controls.
    PropertyBag selected;
    selected.writeProperty(QStringLiteral("Value"), true);
    ui.optInteractive->ReadProperties(selected);

    // The readout of the last code sent from the panel; it sits under the arm picture.
    // Shown while in Scripting mode, so that nobody records by accident.
    ui.recordingBadge = new QLabel(QStringLiteral("\u25CF Recording"), ui.FrameMain);
    ui.recordingBadge->setAccessibleName(QStringLiteral("Recording"));
    ui.recordingBadge->setToolTip(
        QStringLiteral("Scripting mode: every motion is recorded as a step of the script."));
    ui.recordingBadge->setAlignment(Qt::AlignCenter);
    ui.recordingBadge->setFont(arialFont(8.25, true));
    ui.recordingBadge->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: rgb(192, 40, 40); border: 1px solid rgb(128, 24, "
                       "24); border-radius: 4px; }"));
    ui.recordingBadge->setGeometry(ui.FrameMain->width() - 92, 8, 84, 19);
    ui.recordingBadge->hide();

    ui.Text1 = new QLineEdit(QStringLiteral("Text1"), &w);
    ui.Text1->setGeometry(twipRect(1080, 720, 615, 375));
    ui.Text1->lower();
    ui.Text1->hide();
}

void WindowLayout::scriptArea(QWidget &w, ScriptModel *script, WindowControls &ui)
{
    ui.pctFrame = new MacFrame(&w);
    ui.pctFrame->setGeometry(twipRect(8100, 105, 3795, 4530));
    ui.Grid = new ScriptGrid(ui.pctFrame, script);
    ui.Grid->setGeometry(ui.pctFrame->rect().adjusted(6, 6, -11, -29));
    ui.lblTotals = new QLabel(ui.pctFrame);
    ui.lblTotals->setFont(arialFont(8.25));
    ui.lblTotals->setGeometry(
        QRect(ui.Grid->x() + 1, ui.Grid->geometry().bottom() + 3, ui.Grid->width() - 2, 14));
    // Over the totals line while a run lasts.
    ui.runDisplay = new RunDisplay(ui.pctFrame);
    ui.runDisplay->setFont(arialFont(8.25));
    ui.runDisplay->setGeometry(QRect(ui.Grid->x(), ui.Grid->geometry().bottom() + 2, ui.Grid->width(), 17));
}

void WindowLayout::toolbox(QWidget &w, WindowControls &ui)
{
    ui.FrameTB = new MacFrame(&w);
    ui.FrameTB->setGeometry(twipRect(8100, 4770, 3795, 1230));

    // Nothing fixes the toolbar's inner layout: a title row, then two rows of buttons, the repetitions
    // box at the end of the second row.
    ui.Label5 = new QLabel(QStringLiteral("Toolbox"), ui.FrameTB);
    ui.Label5->setFont(arialFont(8.25, true));
    ui.Label5->setGeometry(10, 4, 120, 16);

    auto makeButton = [&ui](const QString &caption, int x, int y) {
        auto *button = new MacButtonD(ui.FrameTB);
        button->SetCaption(caption);
        button->move(x, y);
        return button;
    };
    ui.cmdRun = makeButton(QStringLiteral("Run"), 9, 23);
    ui.cmdClear = makeButton(QStringLiteral("Clear"), 89, 23);
    ui.cmdLoad = makeButton(QStringLiteral("Load"), 169, 23);
    ui.cmdSave = makeButton(QStringLiteral("Save"), 9, 52);
    ui.cmdSaveAs = makeButton(QStringLiteral("Save As"), 89, 52);

    ui.lblReps = new QLabel(QStringLiteral("Repeat"), ui.FrameTB);
    ui.lblReps->setFont(arialFont(8.25));
    ui.lblReps->setGeometry(169, 55, 36, 16);
    ui.txtReps = new QLineEdit(QStringLiteral("1"), ui.FrameTB);
    ui.txtReps->setFont(arialFont(8.25));
    ui.txtReps->setMaxLength(5);
    ui.txtReps->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for the largest count, 32767, to show whole.
    ui.txtReps->setGeometry(205, 52, 40, 22);
    ui.cmdRun->setToolTip(QStringLiteral("Play the script (Esc or Space stops it)"));
    ui.cmdClear->setToolTip(QStringLiteral("Empty the script (Ctrl+Z brings it back)"));
    ui.cmdLoad->setToolTip(QStringLiteral("Open a script file (Ctrl+O)"));
    ui.cmdSave->setToolTip(QStringLiteral("Save the script (Ctrl+S)"));
    ui.cmdSaveAs->setToolTip(QStringLiteral("Save the script in a new file"));
    ui.txtReps->setToolTip(QStringLiteral("How many times Run plays the script: 1 to 32767"));
}
