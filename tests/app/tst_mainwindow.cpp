#include "ArmDeviceList.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacRadioButton.h"
#include "ScriptGrid.h"
#include "VirtualHidTransport.h"
#include "WindowHarness.h"
#include "frmAbout.h"
#include "frmColorScheme.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Shape = VirtualArm::Shape;

class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUpStatus_data();
    void startUpStatus();
    void openDeniedIsExplained();
    void deviceEvents_data();
    void deviceEvents();
    void arrivalAfterStartBindsAndFollowsName();
    void removalLeavesMotionLit();
    void clickCases_data();
    void clickCases();
    void stepTimerFollowsMotion();
    void everyDeviceReceivesEveryCode();
    void splitArmIsOneDevice();
    void closingFirstOfTwoKeepsTheSecond();
    void scriptingLeavesMotorRunning();
    void scriptingLabelEndsMotionAgain();
    void closingStopsTheArm_data();
    void closingStopsTheArm();
    void noWriteWhileDisconnected();
    void elbowDownCaptionWhilePressed();
    void aboutWindowIsReused();
    void settingsAtStartUp_data();
    void settingsAtStartUp();
    void settingsReadBackFromWhereTheyAreSaved();
    void colourDialogOpening();
};

namespace {

bool isLit(const HoverButton *button)
{
    return button->backcolor() == frmMain::OnColor && button->hoverbackcolor() == frmMain::OnColor;
}

QList<int> litButtons(const frmMain &w)
{
    QList<int> lit;
    for (int i = 0; i < 11; ++i) {
        if (isLit(w.cmdControl[size_t(i)]))
            lit.append(i);
    }
    return lit;
}

} // namespace

void tst_MainWindow::startUpStatus_data()
{
    QTest::addColumn<QString>("devices");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<int>("deviceObjects");

    QTest::newRow("arm attached") << "arm" << true << 1;
    QTest::newRow("nothing attached") << "" << false << 0;
    QTest::newRow("only another vendor's mouse") << "mouse" << false << 0;
    QTest::newRow("arm and mouse") << "arm+mouse" << true << 1;
}

void tst_MainWindow::startUpStatus()
{
    QFETCH(QString, devices);
    QFETCH(bool, ready);
    QFETCH(int, deviceObjects);

    WindowHarness h;
    if (devices.contains(u"arm"))
        h.addArm();
    if (devices.contains(u"mouse"))
        h.transport.addOtherDevice();
    frmMain &w = h.open();

    QCOMPARE(w.lblDisp->text(), ready ? frmMain::ReadyText : frmMain::DisconnectedText);
    QCOMPARE(w.ConnectionState(), ready ? frmMain::Ready : QString());
    const QImage expected = (ready ? w.pctLEDOnRed : w.pctLEDOff)->pixmap().toImage();
    QCOMPARE(w.pctLED->pixmap().toImage(), expected);
    QVERIFY(w.pctLEDOnRed->pixmap().toImage() != w.pctLEDOff->pixmap().toImage());
    QCOMPARE(w.Devices->Count(), deviceObjects);
    QVERIFY(!w.StartingUp());
    QCOMPARE(w.NextStep, qint16(1));
    QCOMPARE(w.Grid->TextMatrix(0, 1), QStringLiteral("Function"));
    QCOMPARE(w.Grid->Rows(), 14);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro"));
    QCOMPARE(w.size(), QSize(800, 442));
}

void tst_MainWindow::openDeniedIsExplained()
{
    WindowHarness h;
    VirtualArm &arm = h.addArm();
    arm.armInterface()->denyOpen(true);
    frmMain &w = h.open();

    QCOMPARE(w.lblDisp->text(), frmMain::DisconnectedText);
    QMessageBox *box = w.openDeniedMessage();
    QVERIFY(box);
    QVERIFY(box->text().contains(QStringLiteral("70-tessaro.rules")));
    QVERIFY(box->text().contains(QStringLiteral("permission denied")));

    // Plugging it in again without a fix says nothing new.
    box->close();
    QTRY_VERIFY(!w.openDeniedMessage());
    arm.unplug();
    arm.plugIn();
    QVERIFY(!w.openDeniedMessage());
}

void tst_MainWindow::deviceEvents_data()
{
    QTest::addColumn<bool>("settingsFile");
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("deviceName");
    QTest::addColumn<bool>("matches");

    QTest::newRow("no settings file: any name") << false << ""
                                                << "Some Mouse" << true;
    QTest::newRow("no settings file: blank name") << false << ""
                                                  << "   " << false;
    QTest::newRow("empty identity: any name") << true << ""
                                              << "VID_2A7B&PID_0101 mouse" << true;
    QTest::newRow("identity in lower case") << true << "vid_1e6f&pid_1113"
                                            << "VID_1E6F&PID_1113 Arm" << true;
    QTest::newRow("name in lower case") << true << "ARM-01"
                                        << "usb arm-01 port" << true;
    QTest::newRow("spaces around identity and name") << true << "  arm-01  "
                                                     << "  ARM-01  " << true;
    QTest::newRow("spaces inside the name count") << true << "ARM-01"
                                                  << "ARM - 01" << false;
    QTest::newRow("identity not in the name") << true << "ARM-01"
                                              << "VID_1E6F&PID_1113 Arm" << false;
    QTest::newRow("empty name never matches") << true << ""
                                              << "" << false;
}

void tst_MainWindow::deviceEvents()
{
    QFETCH(bool, settingsFile);
    QFETCH(QString, identity);
    QFETCH(QString, deviceName);
    QFETCH(bool, matches);

    // Arrival, starting Disconnected.
    {
        WindowHarness h;
        if (settingsFile)
            h.writeSettings(identity);
        frmMain &w = h.open();
        QCOMPARE(w.CurrentDevice(), identity.trimmed().toUpper());
        QCOMPARE(w.DeviceNameMatches(deviceName), matches);
        Q_EMIT w.HIDagent->OnDeviceArrival(0, deviceName);
        QCOMPARE(w.ConnectionState(), matches ? frmMain::Ready : QString());
        QCOMPARE(w.lblDisp->text(), matches ? frmMain::ReadyText : frmMain::DisconnectedText);
    }
    // Removal, starting Ready.
    {
        WindowHarness h;
        if (settingsFile)
            h.writeSettings(identity);
        h.addArm();
        frmMain &w = h.open();
        QCOMPARE(w.ConnectionState(), frmMain::Ready);
        Q_EMIT w.HIDagent->OnDeviceRemoval(0, deviceName);
        QCOMPARE(w.ConnectionState(), matches ? QString() : frmMain::Ready);
        QCOMPARE(w.lblDisp->text(), matches ? frmMain::DisconnectedText : frmMain::ReadyText);
        // Only the interface events change the device list.
        QCOMPARE(w.Devices->Count(), 1);
    }
}

void tst_MainWindow::arrivalAfterStartBindsAndFollowsName()
{
    WindowHarness h;
    h.writeSettings(QStringLiteral("VID_1E6F&PID_1113"));
    VirtualArm &arm = h.addArm();
    arm.unplug();
    frmMain &w = h.open();
    QCOMPARE(w.ConnectionState(), QString());
    QCOMPARE(w.Devices->Count(), 0);

    arm.plugIn();
    QCOMPARE(w.Devices->Count(), 1);
    QCOMPARE(w.ConnectionState(), frmMain::Ready);
    h.click(3);
    QCOMPARE(h.codes(), QList<int>({3}));

    arm.unplug();
    QCOMPARE(w.ConnectionState(), QString());
    QCOMPARE(w.Devices->Count(), 0);

    // A device whose name does not hold the identity still makes the window search again.
    WindowHarness other;
    other.writeSettings(QStringLiteral("NOT-THIS-ONE"));
    VirtualArm &late = other.addArm();
    late.unplug();
    frmMain &w2 = other.open();
    late.plugIn();
    QCOMPARE(w2.Devices->Count(), 1);
    QCOMPARE(w2.lblDisp->text(), frmMain::DisconnectedText);
}

void tst_MainWindow::removalLeavesMotionLit()
{
    WindowHarness h;
    VirtualArm &arm = h.addArm();
    frmMain &w = h.open();
    h.click(1);
    arm.unplug();
    QCOMPARE(w.ConnectionState(), QString());
    QCOMPARE(litButtons(w), QList<int>({1}));
    QVERIFY(w.MotionActive());
    QCOMPARE(h.codes(), QList<int>({1}));
}

void tst_MainWindow::clickCases_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<bool>("motionActive");
    QTest::addColumn<QString>("activeTag");

    QTest::newRow("pause from idle") << QList<int>{0} << QList<int>{0} << QList<int>{0} << "0" << true
                                     << "Pause";
    QTest::newRow("second click stops")
        << QList<int>{1, 1} << QList<int>{1, 0} << QList<int>{} << "0" << false << "ShoulderUp";
    QTest::newRow("switch sends no stop")
        << QList<int>{1, 7} << QList<int>{1, 7} << QList<int>{7} << "7" << true << "BaseCW";
    QTest::newRow("switch then stop")
        << QList<int>{1, 7, 7} << QList<int>{1, 7, 0} << QList<int>{} << "0" << false << "BaseCW";
    QTest::newRow("three switches") << QList<int>{2, 3, 10} << QList<int>{2, 3, 10} << QList<int>{10} << "10"
                                    << true << "GripOpen";
    QTest::newRow("stop then start again")
        << QList<int>{5, 5, 5} << QList<int>{5, 0, 5} << QList<int>{5} << "5" << true << "GripClose";
}

void tst_MainWindow::clickCases()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QList<int>, codes);
    QFETCH(QList<int>, lit);
    QFETCH(QString, text1);
    QFETCH(bool, motionActive);
    QFETCH(QString, activeTag);

    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    for (int index : clicks)
        h.click(index);

    QCOMPARE(h.codes(), codes);
    QCOMPARE(litButtons(w), lit);
    QCOMPARE(w.Text1->text(), text1);
    QCOMPARE(w.MotionActive(), motionActive);
    QCOMPARE(w.ActiveTag(), activeTag);
    // A button that has been on once keeps the on border for the rest of the run, idle or not.
    for (int i = 0; i < 11; ++i) {
        const quint32 border = w.cmdControl[size_t(i)]->bordercolor();
        QCOMPARE(border, clicks.contains(i) ? frmMain::OnBorderColor : 0u);
        if (!lit.contains(i)) {
            QCOMPARE(w.cmdControl[size_t(i)]->backcolor(), frmMain::IdleBackColor);
            QCOMPARE(w.cmdControl[size_t(i)]->hoverbackcolor(), frmMain::IdleHoverBackColor);
        }
    }
}

void tst_MainWindow::stepTimerFollowsMotion()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(!w.TimerT->isActive());
    QCOMPARE(w.TimerT->interval(), 250);
    h.click(4);
    QVERIFY(w.TimerT->isActive());
    QTRY_VERIFY(w.StepTicks() >= 1);
    h.click(9);
    // A switch in Interactive mode leaves the timer off; the next start resets it.
    QVERIFY(!w.TimerT->isActive());
    h.click(9);
    QVERIFY(!w.TimerT->isActive());
    h.click(2);
    QVERIFY(w.TimerT->isActive());
    QCOMPARE(w.StepTicks(), 0.0f);
}

void tst_MainWindow::everyDeviceReceivesEveryCode()
{
    WindowHarness h;
    h.addArm();
    h.addArm();
    frmMain &w = h.open();
    QCOMPARE(w.Devices->Count(), 2);

    h.click(6);
    h.click(8);
    h.click(8);
    QCOMPARE(h.codesOf(0), QList<int>({6, 8, 0}));
    QCOMPARE(h.codesOf(1), QList<int>({6, 8, 0}));
    // First device first, every time.
    for (qsizetype i = 0; i < h.received.size(); ++i)
        QCOMPARE(h.received.at(i).first, int(i % 2));
}

void tst_MainWindow::splitArmIsOneDevice()
{
    WindowHarness h;
    VirtualArm &arm = h.addArm(Shape::TwoInterfaces);
    frmMain &w = h.open();
    QCOMPARE(w.Devices->Count(), 1);
    QCOMPARE(w.ConnectionState(), frmMain::Ready);
    h.click(2);
    QCOMPARE(h.codes(), QList<int>({2}));
    QCOMPARE(arm.armInterface()->written.size(), 1);
}

void tst_MainWindow::closingFirstOfTwoKeepsTheSecond()
{
    WindowHarness h;
    // An identity no device name holds: removal leaves the look alone, so the remaining arm is still
    // commanded.
    h.writeSettings(QStringLiteral("NO SUCH DEVICE"));
    VirtualArm &first = h.addArm();
    h.addArm();
    frmMain &w = h.open();
    QCOMPARE(w.Devices->Count(), 2);

    first.unplug();
    QCOMPARE(w.Devices->Count(), 1);
    QCOMPARE(w.ConnectionState(), frmMain::Ready);
    h.click(3);
    QCOMPARE(h.codesOf(0), QList<int>());
    QCOMPARE(h.codesOf(1), QList<int>({3}));
}

void tst_MainWindow::scriptingLeavesMotorRunning()
{
    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    h.click(1);
    w.optScripting->SetValue(true);

    QVERIFY(w.ScriptingMode());
    QVERIFY(!w.optInteractive->Value());
    QCOMPARE(h.codes(), QList<int>({1}));
    QCOMPARE(litButtons(w), QList<int>({1}));
    QVERIFY(!w.MotionActive());
    QVERIFY(!w.TimerT->isActive());
    QCOMPARE(w.StepTicks(), 0.0f);
    QCOMPARE(w.ActiveTag(), QStringLiteral("ShoulderUp"));

    // The next click starts afresh: the other button is lit as well, the old one is not reset.
    h.click(7);
    QCOMPARE(litButtons(w), QList<int>({1, 7}));
    QCOMPARE(h.codes(), QList<int>({1, 7}));

    // Back to Interactive: nothing happens at once.
    QTest::mouseClick(w.lblInteractive, Qt::LeftButton);
    QVERIFY(w.optInteractive->Value());
    QVERIFY(w.MotionActive());
    QCOMPARE(h.codes(), QList<int>({1, 7}));
}

void tst_MainWindow::scriptingLabelEndsMotionAgain()
{
    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    QTest::mouseClick(w.lblScripting, Qt::LeftButton);
    QVERIFY(w.ScriptingMode());
    h.click(4);
    QVERIFY(w.MotionActive());

    // The label sets the radio button again even though it is selected, which ends the motion state.
    QTest::mouseClick(w.lblScripting, Qt::LeftButton);
    QVERIFY(!w.MotionActive());
    QCOMPARE(litButtons(w), QList<int>({4}));

    // A click on the radio button itself when selected does nothing.
    h.click(4);
    QVERIFY(w.MotionActive());
    QTest::mouseClick(w.optScripting, Qt::LeftButton);
    QVERIFY(w.MotionActive());
    QCOMPARE(h.codes(), QList<int>({4, 4}));
}

void tst_MainWindow::closingStopsTheArm_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<bool>("closeFirst");

    QTest::newRow("motor running") << QList<int>{10} << QList<int>{10, 0} << true;
    QTest::newRow("after a switch") << QList<int>{1, 6} << QList<int>{1, 6, 0} << true;
    QTest::newRow("idle") << QList<int>{} << QList<int>{0} << true;
    QTest::newRow("destroyed without closing") << QList<int>{7} << QList<int>{7, 0} << false;
}

void tst_MainWindow::closingStopsTheArm()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QList<int>, codes);
    QFETCH(bool, closeFirst);

    WindowHarness h;
    VirtualArm &arm = h.addArm();
    frmMain &w = h.open();
    for (int index : clicks)
        h.click(index);
    if (closeFirst) {
        h.closeWindow();
        QCOMPARE(h.codes(), codes);
        QVERIFY(!arm.armInterface()->isOpen());
        QCOMPARE(w.Devices->Count(), 0);
        // Closing again sends nothing more.
        h.closeWindow();
        QCOMPARE(h.codes(), codes);
    }
    // Nor does the window's end after its closing.
    h.destroyWindow();
    QCOMPARE(h.codes(), codes);
    QVERIFY(!arm.armInterface()->isOpen());
}

void tst_MainWindow::noWriteWhileDisconnected()
{
    // Bound but not Ready: the identity matches no device name, and the arm came after the start.
    WindowHarness h;
    h.writeSettings(QStringLiteral("NOT-THIS-ONE"));
    VirtualArm &arm = h.addArm();
    arm.unplug();
    frmMain &w = h.open();
    arm.plugIn();
    QCOMPARE(w.Devices->Count(), 1);
    QCOMPARE(w.ConnectionState(), QString());

    h.click(2);
    h.click(2);
    w.SendArmCommand(5);
    QCOMPARE(litButtons(w), QList<int>());
    QCOMPARE(w.Text1->text(), QStringLiteral("0"));
    h.click(9);
    QCOMPARE(litButtons(w), QList<int>({9}));
    h.closeWindow();
    QVERIFY(arm.armInterface()->written.isEmpty());
    QVERIFY(h.codes().isEmpty());
}

void tst_MainWindow::elbowDownCaptionWhilePressed()
{
    WindowHarness h;
    frmMain &w = h.open();
    for (int i = 0; i < 11; ++i) {
        HoverButton *button = w.cmdControl[size_t(i)];
        QCOMPARE(button->index(), i);
        QCOMPARE(button->captionover(), button->caption());
        QCOMPARE(button->captiondown(), i == 8 ? QStringLiteral(" Down") : button->caption());
        QCOMPARE(button->font().bold(), i == 0);
    }
    HoverButton *elbowDown = w.cmdControl[8];
    QTest::mousePress(elbowDown, Qt::LeftButton);
    QCOMPARE(elbowDown->currentCaption(), QStringLiteral(" Down"));
    QTest::mouseRelease(elbowDown, Qt::LeftButton);
    QCOMPARE(elbowDown->currentCaption().trimmed(), QStringLiteral("Down"));
    QCOMPARE(w.Text1->text(), QStringLiteral("8"));
}

void tst_MainWindow::aboutWindowIsReused()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(!w.aboutWindow());
    QTest::mouseClick(w.cmdAbout, Qt::LeftButton);
    QPointer<frmAbout> about = w.aboutWindow();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QCOMPARE(about->windowTitle(), QStringLiteral("About KORIV Pro"));

    QTest::mouseClick(w.cmdAbout, Qt::LeftButton);
    QCOMPARE(w.aboutWindow(), about.data());

    // Its Close button unloads it; the next click makes a new one.
    QTest::mouseClick(about->cmdOK, Qt::LeftButton);
    QTRY_VERIFY(!about);
    QTest::mouseClick(w.cmdAbout, Qt::LeftButton);
    about = w.aboutWindow();
    QVERIFY(about);

    // The main window's closing takes it along.
    h.closeWindow();
    QTRY_VERIFY(!about);
}

void tst_MainWindow::settingsAtStartUp_data()
{
    QTest::addColumn<bool>("file");
    QTest::addColumn<bool>("highlight");
    QTest::addColumn<quint32>("colour");

    QTest::newRow("no file: black, no highlight") << false << false << 0u;
    QTest::newRow("highlight with preset colour") << true << true << 8421631u;
    QTest::newRow("no highlight, other colour") << true << false << 10916490u;
}

void tst_MainWindow::settingsAtStartUp()
{
    QFETCH(bool, file);
    QFETCH(bool, highlight);
    QFETCH(quint32, colour);

    WindowHarness h;
    if (file)
        h.writeSettings(QStringLiteral(" arm-01 "), highlight, colour);
    frmMain &w = h.open();
    QCOMPARE(w.Hilight(), highlight);
    QCOMPARE(w.Grid->BackColorSel(), colour);
    QCOMPARE(w.CurrentDevice(), file ? QStringLiteral("ARM-01") : QString());
    QVERIFY(w.SettingsFilePath().endsWith(QStringLiteral("KORIV.INI")));

    // What the colour dialog's Save applies reaches the window at once.
    w.SetHilight(!highlight);
    w.SetGridSelectionColor(11954481u);
    QCOMPARE(w.Hilight(), !highlight);
    QCOMPARE(w.Grid->BackColorSel(), 11954481u);
}

void tst_MainWindow::colourDialogOpening()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(!w.colorSchemeDialog());
    QTest::mouseClick(w.cmdColors, Qt::LeftButton);
    QPointer<QWidget> dialog = w.colorSchemeDialog();
    QVERIFY(dialog);
    QVERIFY(qobject_cast<frmColorScheme *>(dialog.data()));
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->parentWidget());
    QVERIFY(!dialog->isModal());

    // A second click shows the same dialog.
    QTest::mouseClick(w.cmdColors, Qt::LeftButton);
    QCOMPARE(w.colorSchemeDialog(), dialog.data());

    // Closed, it is gone; the next click loads a fresh one.
    dialog->close();
    QTRY_VERIFY(!dialog);
    QTest::mouseClick(w.cmdColors, Qt::LeftButton);
    dialog = w.colorSchemeDialog();
    QVERIFY(dialog);

    h.closeWindow();
    QTRY_VERIFY(!dialog);
}

QTEST_MAIN(tst_MainWindow)
void tst_MainWindow::settingsReadBackFromWhereTheyAreSaved()
{
    // An installed program reads the copy beside it until its first save makes the per-user file.
    QTemporaryDir dir;
    const QString beside = dir.filePath(QStringLiteral("KORIV.INI"));
    const QString perUser = dir.filePath(QStringLiteral("config/KORIV.INI"));
    VirtualHidTransport transport;
    frmMain::Setup setup;
    setup.transport = &transport;
    setup.settingsReadPath = beside;
    setup.settingsWritePath = perUser;
    frmMain w(setup);
    QCOMPARE(w.SettingsReadPath(), beside);

    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config"))));
    QFile saved(perUser);
    QVERIFY(saved.open(QIODevice::WriteOnly));
    saved.close();
    QCOMPARE(w.SettingsReadPath(), perUser);
}

#include "tst_mainwindow.moc"
