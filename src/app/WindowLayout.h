#pragma once

class frmMain;

// Makes the main window's controls and puts them where the layout tables have them: the status
// line, the arm picture with its motion buttons and the command mode, the script grid and the
// toolbox. What the controls do is wired by the window.
class WindowLayout
{
public:
    static void build(frmMain &w);

private:
    static void motionPanel(frmMain &w);
    static void scriptArea(frmMain &w);
};
