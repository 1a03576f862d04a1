#include "frmMain.h"

#include "ArmDeviceList.h"
#include "MacButtonD.h"
#include "ScriptRunner.h"

#include <QMessageBox>

#include <exception>

// The component's handlers have no handling of their own: an error ends the handler where it happens.
// Qt slots must not let it escape, so each catches it at the top.

// The status follows the interfaces the component holds open, not the names the events carry: a
// refused arm opens nothing, and the removal of some other device closes nothing of the arm.

void frmMain::HIDagent_OnDeviceArrival(int, const QString &)
{
    if (m_startingUp)
        return;
    try {
        HIDagent->OpenMatchingIntfs();
    } catch (const std::exception &) {
    }
    UpdateConnectionStatus();
}

void frmMain::HIDagent_OnDeviceRemoval(int, const QString &)
{
    if (!m_startingUp)
        UpdateConnectionStatus();
}

void frmMain::HIDagent_OnIntfOpened()
{
    try {
        Devices->OnIntfOpened();
    } catch (const std::exception &) {
    }
}

void frmMain::HIDagent_OnIntfClosed(int NumStillOpen, const QString &IntfName, int AHidHandle)
{
    try {
        Devices->OnIntfClosed(NumStillOpen, IntfName, AHidHandle);
    } catch (const std::exception &) {
    }
    // Closed without a removal event too (a write to a device that has gone).
    if (!m_startingUp)
        UpdateConnectionStatus();
}

void frmMain::HIDagent_OnRptArrived(int RptIndexInIntf, int AllRptIndex)
{
    try {
        Devices->OnRptArrived(RptIndexInIntf, AllRptIndex);
    } catch (const std::exception &) {
    }
}

void frmMain::HIDagent_OnOpenDenied(const HidInterfaceInfo &, const QString &)
{
    // Said once per run: after a failed plug-in the operator knows what to do, and more boxes would
    // only bury the window.
    if (m_openDeniedBox || m_openDeniedShown)
        return;
    m_openDeniedShown = true;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tessaro"), OpenDeniedText,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    m_openDeniedBox = box;
    box->show();
}

void frmMain::HIDagent_OnWriteStalled()
{
    // The arm is given up right after this. A stop handed to it now waits behind the report it is
    // stuck on and goes out should it ever take that one; every other arm stops at once.
    SendArmCommand(0);
    if (m_runner->isRunning()) {
        m_runCutByStall = true;
        cmdRun->SetCaption(QStringLiteral("Run"));
        StopRequested = true;
        m_runner->requestStop();
        return;
    }
    // Told from the event loop, not from inside the component's event.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (ScriptDialogs *dialogs = CommD.Dialogs())
                dialogs->warningMessage(this, QStringLiteral("Tessaro"), StalledText);
        },
        Qt::QueuedConnection);
}
