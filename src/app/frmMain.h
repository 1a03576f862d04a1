#pragma once

#include "ArmSession.h"
#include "ArmSettingsDialog.h"
#include "ColorSchemeHost.h"
#include "GridScriptHost.h"
#include "ScriptDialogs.h"
#include "ScriptEditorHost.h"
#include "WindowLayout.h"
#include "WindowLook.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>

class Gamepad;
class GridScriptSource;
class HidTransport;
class KitArmList;
class LampButton;
class PoseControls;
class QAction;
class QMessageBox;
class RunDisplay;
class ScriptEditor;
class ScriptModel;
class ScriptRunner;
class StatusLine;
class frmAbout;

// The program's one working window. Data flow of a motion click: cmdControl(i) -> the click handler
// decides start, stop or switch and updates the looks and the motion state -> in Scripting mode
// RecordScriptStep records the step -> SendArmCommand(code) -> while the connection state is "Ready",
// every device object in the session's device list takes the code into its output variable and
// writes its report -> the session's HIDagent writes the report through the transport.
//
// Start-up runs in the constructor, so a window that exists has searched for the arm and shows its
// status. Everything runs on the GUI thread; the component's events arrive nested inside the calls that
// cause them (OnIntfOpened inside OpenMatchingIntfs).
class frmMain : public QWidget,
                public ColorSchemeHost,
                public ArmSettingsHost,
                public ScriptEditorHost,
                public GridScriptHost,
                public WindowLook
{
    Q_OBJECT

public:
    struct Setup
    {
        // Where interfaces come from; not owned, must outlive the window.
        HidTransport *transport = nullptr;
        // Where LoadColors reads the settings file and where the colour dialog saves it.
        QString settingsReadPath;
        QString settingsWritePath;
        // Made the current directory at start-up; empty leaves the current directory alone.
        QString programFolder;
        // The options file beside the settings file; empty paths keep the default options.
        QString optionsReadPath;
        QString optionsWritePath;
        // The USB interface kits driven beside the HID arms; not owned; none when null.
        KitArmList *kits = nullptr;
        // Whether the session starts the guard that stops the arm should the program die, and the
        // virtual arm's log that stands for the arm then.
        bool guard = false;
        QString guardLog;
    };

    explicit frmMain(const Setup &setup, QWidget *parent = nullptr);
    ~frmMain() override;

    // ColorSchemeHost
    void SetHilight(bool on) override;
    void SetGridSelectionColor(quint32 winColour) override;
    QString CurrentDevice() const override { return m_currentDevice; }
    QPixmap BackgroundPicture() const override { return m_ui.backgroundPicture; }
    QString SettingsFilePath() const override { return m_setup.settingsWritePath; }
    // Once a save has made the file where settings are written, that file is the one to read: the
    // start-up copy (beside the program, for an installed one) is only read until then.
    QString SettingsReadPath() const override;

    // ArmSettingsHost
    QString OptionsFilePath() const override { return m_setup.optionsWritePath; }
    QString OptionsReadPath() const override;
    // Also puts the status line right: "· runaway limit off" for as long as the limit is off.
    void SetControlOptions(const ControlOptions &options) override;
    void ShowCalibration() override;
    ControlOptions Options() const;

    // The arm setup dialog (the button "Arm setup" under the toolbox, and the arm picture's menu),
    // brought to the front if it is open already.
    void ShowArmSettings();

    bool Hilight() const { return m_hilight; }
    bool StartingUp() const { return m_startingUp; }

    // Reads the settings file: highlight flag, grid selection colour, device identity.
    void LoadColors();

    // The connection state kept in the lamp's Tag: "Ready" or empty.
    QString ConnectionState() const;
    // The status line's own text: the connection state, and whether the runaway limit is off.
    QString connectionText() const;
    void showConnectionState();
    void ShowReady();
    void ShowDisconnected();
    // Device-name matching against CurrentDevice: which open interfaces count as the arm.
    bool DeviceNameMatches(const QString &deviceName) const;
    // Ready exactly while an open interface of the component counts as the arm. Losing the last one
    // during a run ends the run as Stop does; having one closes the permission warning.
    void UpdateConnectionStatus();
    bool ArmInterfaceOpen() const;

    // Motion panel. False when the code did not reach every arm (not Ready, refused or not written);
    // error then says why, unless the window was simply not Ready. May also be called from a run's
    // timing thread.
    bool SendArmCommand(qint16 code, QString *error = nullptr);
    void ResetControlButtons();
    bool MotionActive() const override { return m_session->motionActive(); }
    QString ActiveTag() const { return m_session->activeTag(); }
    float StepTicks() const { return m_session->stepTicks(); }
    bool ScriptingMode() const override;
    static QString Tag(const QWidget *control);

    // Esc and Space: stops the arm from wherever the key was pressed. During a run this is Stop;
    // otherwise it ends the motion that is on as its second click would, or, with none on, sends 0
    // and puts out a button left lit.
    void StopEverything();
    // How long the motion of `code` may run before it is stopped, in milliseconds; 0 when it is not
    // limited.
    int RunLimitMs(int code) const;
    // Every motion gets this limit instead of its joint's (a test's short limit); nullopt restores them.
    void SetRunLimitOverride(std::optional<int> milliseconds);
    bool RunLimitArmed() const { return m_session->runLimitArmed(); }
    // The gamepad that jogs the arm alongside the keys.
    Gamepad *gamepad() const { return &m_session->gamepad(); }
    // The Virtual Arm window, brought back once closed by Ctrl+Shift+V and the arm picture's menu.
    void SetVirtualArmWindow(QWidget *armWindow);
    // What the window drives the arm through.
    ArmSession &session() const { return *m_session; }

    // Script handlers. Editing, recording's steps and the script's files are the editor's; running
    // is the window's.
    ScriptEditor &Editor() const { return *m_editor; }
    void RecordScriptStep();
    void GridEdit(qint16 KeyAscii);
    bool CommitCellEdit();
    void cmdClear_Click();
    void cmdLoad_Click();
    bool Script_Save();
    bool Script_SaveAs();
    void cmdRun_Click();
    void RunScript();
    // A run from step `row` to the end, then the remaining repetitions from step 1.
    void RunFrom(int row) override;
    // Return to start (the arm picture's menu, Ctrl+Shift+R), played as a run is: the panel locked,
    // Run reading Stop, the progress line saying "Returning to start", and its ending told.
    void ReturnToStart();
    // A run of the script or Return to start is in progress: the session's word, which the Run
    // button's caption follows.
    bool Running() const override;
    // Where the run stands, shown under the grid while it lasts.
    RunDisplay &runDisplay() const { return *m_ui.runDisplay; }
    // The connection state, and messages in its place for a while.
    StatusLine &statusLine() const { return *m_statusLine; }

    // Where the file dialogs and error messages come from; the window's own widget dialogs until a
    // test puts its own in (not owned; null puts the widget dialogs back).
    void SetScriptDialogs(ScriptDialogs *dialogs);
    // True once the window has closed: the arm is stopped and the component closed.
    bool Unloaded() const override { return m_unloaded; }

    // The colour dialog and the about window while they are open.
    QWidget *colorSchemeDialog() const { return m_colorScheme; }
    ArmSettingsDialog *armSettingsDialog() const { return m_armSettings; }
    // "Arm setup…" in the arm picture's menu.
    QAction *armSettingsAction() const { return m_armSettingsAction; }
    frmAbout *aboutWindow() const;
    // The warning shown when the arm is present but may not be opened; null until then.
    QMessageBox *openDeniedMessage() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void buildMotionPanel();
    void Form_Load();
    void Form_Unload();
    void connectSession();

    void cmdControl_Click(int Index);
    void showOnLook(int code);
    void optScripting_Click();
    void lblInteractive_Click();
    void lblScripting_Click();
    void FrameMain_JogPressed(int code);
    void FrameMain_JogReleased(int code);
    void showStatusMessage(const QString &text, const QString &details);

    // ScriptEditorHost
    void LeaveScriptingMode() override;
    void showStatusMessage(const QString &text) override;
    QString ScriptFolder() const override;
    void SetScriptFolder(const QString &folder) override;
    // GridScriptHost
    void ShowStepStarting(int row) override;

    void wireScriptArea();
    void startRun(int firstStep);
    // What the window shows of any run, the script's or Return to start's, while it lasts; endRunLook
    // returns the seconds it took. `what` names a run that is not the script's.
    void beginRunLook(const QList<double> &plan, int repetitions, int firstStep, const QString &what);
    double endRunLook();
    // The ending on the status line (with the steps cut short at an end), and a box where the arm
    // failed the run.
    void tellRunEnd(const QString &ending);
    // Each step's seconds and the repetitions, as the runner will time them.
    QList<double> runPlan() const;
    int runRepetitions() const;

    void HIDagent_OnOpenDenied();
    void HIDagent_OnWriteStalled();

    void cmdColors_Click();
    void cmdAbout_Click();

    Setup m_setup;
    // The cells and the end marker of the script, which the grid shows.
    ScriptModel *const m_script;
    WindowControls m_ui;
    // The one dialog object of loading and saving; where every question and message goes.
    CommonDialog m_commonDialog;
    // Connection, motion, the pad, the run and recording: everything done with the arm.
    std::unique_ptr<ArmSession> m_session;
    QString m_currentDevice;
    bool m_hilight = false;
    bool m_startingUp = false;
    // A warning that the arm may still be running is on its way: one is enough.
    bool m_stallTold = false;
    // Read by a run's timing thread as it sends.
    std::atomic<bool> m_unloaded{false};
    bool m_openDeniedShown = false;
    // How the last run ended, for what the operator is told.
    ArmSession::RunEnd m_runEnd = ArmSession::RunEnd::Finished;

    // Messages in place of the connection state for a while.
    StatusLine *m_statusLine = nullptr;
    PoseControls *m_pose = nullptr;
    // Esc and Space in every window of the program.
    QObject *m_stopKeyFilter = nullptr;

    QPointer<QWidget> m_colorScheme;
    QPointer<ArmSettingsDialog> m_armSettings;
    QAction *m_armSettingsAction = nullptr;
    QAction *m_armSettingsSeparator = nullptr;
    QPointer<frmAbout> m_about;
    QPointer<QWidget> m_calibration;
    QPointer<QMessageBox> m_openDeniedBox;

    WidgetScriptDialogs m_widgetDialogs;
    // Shared with a run in progress, which keeps it alive should the window go under it.
    std::shared_ptr<GridScriptSource> m_scriptSource;

    ScriptEditor *m_editor = nullptr;
    LampButton *m_lamp = nullptr; // the gripper's light, on the arm picture
    int m_runFirstStep = 1;
};
