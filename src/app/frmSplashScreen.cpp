#include "frmSplashScreen.h"

#include "ArmArtwork.h"
#include "AuxWindow.h"

frmSplashScreen::frmSplashScreen(std::function<QWidget *()> mainWindow, QWidget *parent)
    : QWidget(parent), m_mainWindow(std::move(mainWindow))
{
    setWindowTitle(QStringLiteral("KORIVPro"));
    AuxWindow::makeFixedDialog(this, QSize(AuxWindow::twips(6030), AuxWindow::twips(3720)));
    AuxWindow::setBackground(this, 16777215, ArmArtwork::splashPicture(size(), devicePixelRatioF()));

    Label2 = AuxWindow::verdanaLabel(QStringLiteral("v2.0 (USB)"), this, 9.75, false, 2368548);
    Label2->setGeometry(AuxWindow::twipRect(2475, 2700, 1080, 240));

    Timer = new QTimer(this);
    Timer->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the splash promises three full seconds.
    Timer->setTimerType(Qt::PreciseTimer);
    Timer->setInterval(3000);
    connect(Timer, &QTimer::timeout, this, &frmSplashScreen::Timer_Timer);
    Timer->start();

    AuxWindow::centreOnScreen(this);
}

void frmSplashScreen::Timer_Timer()
{
    Timer->stop();
    if (m_mainWindow) {
        if (QWidget *main = m_mainWindow()) {
            main->show();
            main->raise();
            main->activateWindow();
        }
    }
    close();
}
