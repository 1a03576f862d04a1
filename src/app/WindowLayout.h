#pragma once

#include <QPixmap>

#include <array>

class GridText;
class HoverButton;
class MacButton;
class MacButtonD;
class MacFrame;
class MacRadioButton;
class MotionPanel;
class QLabel;
class QLineEdit;
class QWidget;
class RunDisplay;
class ScriptGrid;
class ScriptModel;

// The main window's controls, named as the layout names them. Each also carries its name as its
// objectName, so that a test can find it.
struct WindowControls
{
    // Dialogs that borrow the window's background take this texture, without the title strip.
    QPixmap backgroundPicture;

    QLabel *pctLED = nullptr;
    QLabel *lblDisp = nullptr;
    // The hidden lamp pictures the status looks copy from.
    QLabel *pctLEDOnRed = nullptr;
    QLabel *pctLEDOff = nullptr;

    MotionPanel *FrameMain = nullptr;
    std::array<HoverButton *, 11> cmdControl{};
    std::array<QLabel *, 5> ArmLabel{};
    MacFrame *FrameCM = nullptr;
    QLabel *lblCM = nullptr;
    MacRadioButton *optInteractive = nullptr;
    QLabel *lblInteractive = nullptr;
    MacRadioButton *optScripting = nullptr;
    QLabel *lblScripting = nullptr;
    // Shown while in Scripting mode, so that nobody records by accident.
    QLabel *recordingBadge = nullptr;
    // The readout of the last code sent from the panel.
    QLineEdit *Text1 = nullptr;

    MacFrame *pctFrame = nullptr;
    ScriptGrid *Grid = nullptr;
    QLabel *lblTotals = nullptr;
    // Over the totals line while a run lasts.
    RunDisplay *runDisplay = nullptr;
    // The cell editor, laid over the grid's current cell while it is open.
    ::GridText *GridText = nullptr;

    MacFrame *FrameTB = nullptr;
    QLabel *Label5 = nullptr;
    MacButtonD *cmdRun = nullptr;
    MacButtonD *cmdClear = nullptr;
    MacButtonD *cmdLoad = nullptr;
    MacButtonD *cmdSave = nullptr;
    MacButtonD *cmdSaveAs = nullptr;
    QLabel *lblReps = nullptr;
    QLineEdit *txtReps = nullptr;

    MacButton *cmdColors = nullptr;
    MacButton *cmdAbout = nullptr;
    MacButton *cmdArmSettings = nullptr;
};

// Makes the main window's controls and puts them where the layout tables have them: the status
// line, the arm picture with its motion buttons and the command mode, the script grid (a view of
// `script`) and the toolbox. What the controls do is wired by the window.
class WindowLayout
{
public:
    static WindowControls build(QWidget &window, ScriptModel *script);

private:
    static void motionPanel(QWidget &window, WindowControls &ui);
    static void scriptArea(QWidget &window, ScriptModel *script, WindowControls &ui);
    static void toolbox(QWidget &window, WindowControls &ui);
    // Each control's objectName is its name above.
    static void nameControls(WindowControls &ui);
};
