#include "frmMain.h"

// Recording, cell editing, running and the script files are wired in by the script work; until then
// the toolbar and the grid are laid out and connected but do nothing.

void frmMain::RecordScriptStep() {}

void frmMain::GridEdit(qint16) {}

void frmMain::CommitCellEdit() {}

void frmMain::cmdClear_Click() {}

void frmMain::cmdRun_Click() {}

void frmMain::RunScript() {}

void frmMain::cmdLoad_Click() {}

void frmMain::Script_Save() {}

void frmMain::Script_SaveAs() {}
