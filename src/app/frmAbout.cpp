#include "frmAbout.h"

#include "ArmArtwork.h"
#include "AuxWindow.h"
#include "MacButton.h"

#include <QKeyEvent>

frmAbout::frmAbout(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("About KORIV Pro"));
    AuxWindow::makeFixedDialog(this, QSize(AuxWindow::twips(5895), AuxWindow::twips(4470)));
    AuxWindow::setBackground(this, 12632256, ArmArtwork::aboutPicture(size(), devicePixelRatioF()));

    Label2 = AuxWindow::verdanaLabel(QStringLiteral("v2.0 (USB)"), this, 9.75, false, 2368548);
    Label2->setGeometry(AuxWindow::twipRect(2407, 2055, 1080, 240));
    Label3 = AuxWindow::verdanaLabel(
        QStringLiteral("OWI-535 Robotic Arm Interface to control and automate the arm movements."), this,
        9.75, false, 2368548);
    Label3->setWordWrap(true);
    Label3->setGeometry(AuxWindow::twipRect(532, 2595, 4830, 540));

    cmdOK = new MacButton(this);
    cmdOK->SetCaption(QStringLiteral("Close"));
    cmdOK->move(AuxWindow::twips(4260), AuxWindow::twips(4005));
    connect(cmdOK, &MacButton::Click, this, &QWidget::close);

    AuxWindow::centreOnScreen(this);
}

void frmAbout::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
