#include "frmMain.h"

#include <QMessageBox>

// The arm is attached but may not be opened.
void frmMain::HIDagent_OnOpenDenied()
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

// An arm stopped taking reports outside a run and has been let go; its stop waits behind what it is
// stuck on.
void frmMain::HIDagent_OnWriteStalled()
{
    // Told from the event loop, not from inside the component's event; once, however many of the
    // stops around a stall (each tried again) did not go out.
    if (m_stallTold)
        return;
    m_stallTold = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (ScriptDialogs *dialogs = m_commonDialog.Dialogs())
                dialogs->warningMessage(this, QStringLiteral("Tessaro"), StalledText);
            m_stallTold = false;
        },
        Qt::QueuedConnection);
}
