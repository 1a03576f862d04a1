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
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

using Shape = VirtualArm::Shape;

namespace {

bool isLit(const HoverButton *button)
{
    return button->backcolor() == frmMain::OnColor && button->hoverbackcolor() == frmMain::OnColor;
}

QList<int> litButtons(const frmMain &w)
{
    QList<int> lit;
    for (int i = 0; i < 11; ++i) {
        if (isLit(ui::cmdControl(w)[size_t(i)]))
            lit.append(i);
    }
    return lit;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUpStatus_data()
    {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<bool>("ready");
        QTest::newRow("arm attached") << "arm" << true;
        QTest::newRow("arm on two interfaces is one device") << "split" << true;
        QTest::newRow("nothing attached") << "" << false;
        QTest::newRow("only another vendor's mouse") << "mouse" << false;
        QTest::newRow("arm and mouse") << "arm+mouse" << true;
    }
    void startUpStatus()
    {
        QFETCH(QString, devices);
        QFETCH(bool, ready);
        WindowHarness h;
        if (devices.contains(u"arm") || devices == u"split")
            h.addArm(devices == u"split" ? Shape::TwoInterfaces : Shape::OneInterface);
        if (devices.contains(u"mouse"))
            h.transport.addOtherDevice();
        frmMain &w = h.open();

        QCOMPARE(ui::lblDisp(w)->text(), ready ? frmMain::ReadyText : frmMain::DisconnectedText);
        QCOMPARE(w.ConnectionState(), ready ? frmMain::Ready : QString());
        QCOMPARE(ui::pctLED(w)->pixmap().toImage(),
                 (ready ? ui::pctLEDOnRed(w) : ui::pctLEDOff(w))->pixmap().toImage());
        QVERIFY(ui::pctLEDOnRed(w)->pixmap().toImage() != ui::pctLEDOff(w)->pixmap().toImage());
        QCOMPARE(w.session().devices().Count(), ready ? 1 : 0);
        QVERIFY(!w.StartingUp());
        QCOMPARE(ui::NextStep(w), qint16(1));
        QCOMPARE(ui::Grid(w)->TextMatrix(0, 1), QStringLiteral("Function"));
        QCOMPARE(ui::Grid(w)->Rows(), 14);
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro[*]"));
        QVERIFY(!w.isWindowModified());
        QCOMPARE(w.size(), QSize(800, 442));
        h.click(2);
        QCOMPARE(h.codes(), ready ? QList<int>({2}) : QList<int>());
        if (ready)
            QCOMPARE(h.arms[0]->armInterface()->written.size(), 1);
    }

    void openDeniedIsExplained()
    {
        WindowHarness h;
        VirtualArm &arm = h.addArm();
        arm.armInterface()->denyOpen(true);
        frmMain &w = h.open();
        QCOMPARE(ui::lblDisp(w)->text(), frmMain::DisconnectedText);
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
        QCOMPARE(w.ConnectionState(), QString());
    }

    // The warning goes by itself once the arm could be opened after all; a later refusal tells again.
    void openDeniedWarningClosesOnceTheArmOpens()
    {
        WindowHarness h;
        VirtualArm &arm = h.addArm();
        arm.armInterface()->denyOpen(true);
        frmMain &w = h.open();
        QVERIFY(w.openDeniedMessage());
        arm.unplug();
        arm.armInterface()->allowOpen();
        arm.plugIn();
        QCOMPARE(w.ConnectionState(), frmMain::Ready);
        QTRY_VERIFY(!w.openDeniedMessage());

        arm.unplug();
        arm.armInterface()->denyOpen(true);
        arm.plugIn();
        QCOMPARE(w.ConnectionState(), QString());
        QVERIFY(w.openDeniedMessage());
    }

    void deviceNameMatching_data()
    {
        QTest::addColumn<bool>("settingsFile");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<bool>("matches");
        using Row = std::tuple<const char *, bool, const char *, const char *, bool>;
        for (const auto &[tag, settingsFile, identity, deviceName, matches] : std::initializer_list<Row>{
                 {"no settings file: any name", false, "", "Some Mouse", true},
                 {"no settings file: blank name", false, "", "   ", false},
                 {"empty identity: any name", true, "", "VID_2A7B&PID_0101 mouse", true},
                 {"identity in lower case", true, "vid_1e6f&pid_1113", "VID_1E6F&PID_1113 Arm", true},
                 {"name in lower case", true, "ARM-01", "usb arm-01 port", true},
                 {"spaces around both", true, "  arm-01  ", "  ARM-01  ", true},
                 {"spaces inside the name count", true, "ARM-01", "ARM - 01", false},
                 {"identity not in the name", true, "ARM-01", "VID_1E6F&PID_1113 Arm", false},
                 {"empty name never matches", true, "", "", false}}) {
            QTest::newRow(tag) << settingsFile << QString::fromUtf8(identity) << QString::fromUtf8(deviceName)
                               << matches;
        }
    }
    void deviceNameMatching()
    {
        QFETCH(bool, settingsFile);
        QFETCH(QString, identity);
        QFETCH(QString, deviceName);
        WindowHarness h;
        if (settingsFile)
            h.writeSettings(identity);
        frmMain &w = h.open();
        QCOMPARE(w.CurrentDevice(), identity.trimmed().toUpper());
        QTEST(w.DeviceNameMatches(deviceName), "matches");
    }

    // Ready exactly while an interface of the arm is open that the identity text (when set) names;
    // what other devices do, and events that open or close nothing of the arm, change nothing.
    void statusFollowsTheArm_data()
    {
        QTest::addColumn<QString>("identity"); // "-": no settings file
        QTest::addColumn<QString>("atStart");
        QTest::addColumn<QString>("then");
        QTest::addColumn<bool>("ready");
        using Row = std::tuple<const char *, const char *, const char *, const char *, bool>;
        for (const auto &[tag, identity, atStart, then, ready] : std::initializer_list<Row>{
                 {"no settings: arm", "-", "arm", "", true},
                 {"no settings: mouse unplugged, arm stays", "-", "arm mouse", "unplug mouse", true},
                 {"no settings: mouse plugged, no arm", "-", "", "plug mouse", false},
                 {"no settings: arm unplugged", "-", "arm mouse", "unplug arm", false},
                 {"no settings: arm plugged later", "-", "", "plug arm", true},
                 {"no settings: refused arm plugged", "-", "", "plug refused arm", false},
                 {"no settings: refused arm at start", "-", "refused", "", false},
                 {"identity names the arm", "VID_1E6F&PID_1113", "arm", "", true},
                 {"identity in lower case", "vid_1e6f&pid_1113", "", "plug arm", true},
                 {"identity names another device", "ARM-01", "arm", "", false},
                 {"identity names another device, arm plugged", "ARM-01", "", "plug arm", false}}) {
            QTest::newRow(tag) << QString::fromUtf8(identity) << QString::fromUtf8(atStart)
                               << QString::fromUtf8(then) << ready;
        }
    }
    void statusFollowsTheArm()
    {
        QFETCH(QString, identity);
        QFETCH(QString, atStart);
        QFETCH(QString, then);
        QFETCH(bool, ready);
        WindowHarness h;
        if (identity != u"-")
            h.writeSettings(identity);
        VirtualArm &arm = h.addArm();
        if (atStart == u"refused" || then == u"plug refused arm")
            arm.armInterface()->denyOpen(true);
        if (!atStart.contains(u"arm") && atStart != u"refused")
            arm.unplug();
        VirtualHidInterface *mouse = h.transport.addOtherDevice(atStart.contains(u"mouse"));
        frmMain &w = h.open();

        if (then == u"unplug mouse")
            h.transport.unplug(mouse->info.path);
        else if (then == u"plug mouse")
            h.transport.plug(mouse->info.path);
        else if (then == u"unplug arm")
            arm.unplug();
        else if (then.startsWith(u"plug") && then.endsWith(u"arm"))
            arm.plugIn();

        QCOMPARE(w.ConnectionState(), ready ? frmMain::Ready : QString());
        QCOMPARE(ui::lblDisp(w)->text(), ready ? frmMain::ReadyText : frmMain::DisconnectedText);
        h.click(2);
        QCOMPARE(h.codes(), ready ? QList<int>({2}) : QList<int>());
    }

    void arrivalAndRemovalAfterStart()
    {
        WindowHarness h;
        h.writeSettings(QStringLiteral("VID_1E6F&PID_1113"));
        VirtualArm &arm = h.addArm();
        arm.unplug();
        frmMain &w = h.open();
        QCOMPARE(w.ConnectionState(), QString());
        QCOMPARE(w.session().devices().Count(), 0);

        arm.plugIn();
        QCOMPARE(w.session().devices().Count(), 1);
        QCOMPARE(w.ConnectionState(), frmMain::Ready);
        h.click(1);
        // Removal leaves the motion and its lit button alone.
        arm.unplug();
        QCOMPARE(w.ConnectionState(), QString());
        QCOMPARE(w.session().devices().Count(), 0);
        QCOMPARE(litButtons(w), QList<int>({1}));
        QVERIFY(w.MotionActive());
        QCOMPARE(h.codes(), QList<int>({1}));
    }

    void boundButNotReadyWritesNothing()
    {
        // A device whose name does not hold the identity is bound but leaves the window Disconnected.
        WindowHarness h;
        h.writeSettings(QStringLiteral("NOT-THIS-ONE"));
        VirtualArm &arm = h.addArm();
        arm.unplug();
        frmMain &w = h.open();
        arm.plugIn();
        QCOMPARE(w.session().devices().Count(), 1);
        QCOMPARE(ui::lblDisp(w)->text(), frmMain::DisconnectedText);

        h.click(2);
        h.click(2);
        w.SendArmCommand(5);
        QCOMPARE(litButtons(w), QList<int>());
        QCOMPARE(ui::Text1(w)->text(), QStringLiteral("0"));
        h.click(9);
        QCOMPARE(litButtons(w), QList<int>({9}));
        h.closeWindow();
        QVERIFY(arm.armInterface()->written.isEmpty());
        QVERIFY(h.codes().isEmpty());
    }

    void clickCases_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QList<int>>("lit");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<bool>("motionActive");
        QTest::addColumn<QString>("activeTag");
        QTest::addColumn<bool>("stepTimer"); // a switch in Interactive mode leaves it off
        using L = QList<int>;
        QTest::newRow("pause from idle") << L{0} << L{0} << L{0} << "0" << true << "Pause" << true;
        QTest::newRow("second click stops")
            << L{1, 1} << L{1, 0} << L{} << "0" << false << "ShoulderUp" << false;
        QTest::newRow("switch sends no stop")
            << L{1, 7} << L{1, 7} << L{7} << "7" << true << "BaseCW" << false;
        QTest::newRow("switch then stop")
            << L{1, 7, 7} << L{1, 7, 0} << L{} << "0" << false << "BaseCW" << false;
        QTest::newRow("three switches")
            << L{2, 3, 10} << L{2, 3, 10} << L{10} << "10" << true << "GripOpen" << false;
        QTest::newRow("stop then start again")
            << L{5, 5, 5} << L{5, 0, 5} << L{5} << "5" << true << "GripClose" << true;
    }
    void clickCases()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, lit);
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        for (int index : clicks)
            h.click(index);

        QTEST(h.codes(), "codes");
        QCOMPARE(litButtons(w), lit);
        QTEST(ui::Text1(w)->text(), "text1");
        QTEST(w.MotionActive(), "motionActive");
        QTEST(w.ActiveTag(), "activeTag");
        QTEST(w.session().stepTimer()->isActive(), "stepTimer");
        // Only a lit button has the on border: one put out loses it with its colour.
        for (int i = 0; i < 11; ++i) {
            const HoverButton *button = ui::cmdControl(w)[size_t(i)];
            QCOMPARE(button->bordercolor(), lit.contains(i) ? frmMain::OnBorderColor : frmMain::IdleBorderColor);
            if (!lit.contains(i)) {
                QCOMPARE(button->backcolor(), frmMain::IdleBackColor);
                QCOMPARE(button->hoverbackcolor(), frmMain::IdleHoverBackColor);
            }
        }
    }

    void stepTimerCountsAndRestarts()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(!w.session().stepTimer()->isActive());
        QCOMPARE(w.session().stepTimer()->interval(), 250);
        h.click(4);
        QTRY_VERIFY(w.StepTicks() >= 1);
        h.click(9);
        h.click(9);
        h.click(2);
        QVERIFY(w.session().stepTimer()->isActive());
        QCOMPARE(w.StepTicks(), 0.0f);
    }

    void everyDeviceReceivesEveryCodeInOrder()
    {
        WindowHarness h;
        VirtualArm &first = h.addArm();
        h.addArm();
        frmMain &w = h.open();
        QCOMPARE(w.session().devices().Count(), 2);
        h.click(6);
        h.click(8);
        h.click(8);
        QCOMPARE(h.codesOf(0), QList<int>({6, 8, 0}));
        QCOMPARE(h.codesOf(1), QList<int>({6, 8, 0}));
        for (qsizetype i = 0; i < h.received.size(); ++i)
            QCOMPARE(h.received.at(i).first, int(i % 2));

        // The second arm keeps the window Ready when the first goes.
        first.unplug();
        QCOMPARE(w.session().devices().Count(), 1);
        QCOMPARE(w.ConnectionState(), frmMain::Ready);
        h.click(3);
        QCOMPARE(h.codesOf(0), QList<int>({6, 8, 0}));
        QCOMPARE(h.codesOf(1), QList<int>({6, 8, 0, 3}));
    }

    void scriptingModeLeavesMotorRunning()
    {
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        h.click(1);
        ui::optScripting(w)->SetValue(true);
        QVERIFY(w.ScriptingMode());
        QVERIFY(!ui::optInteractive(w)->Value());
        QCOMPARE(litButtons(w), QList<int>({1}));
        QVERIFY(!w.MotionActive());
        QVERIFY(!w.session().stepTimer()->isActive());
        QCOMPARE(w.StepTicks(), 0.0f);
        QCOMPARE(w.ActiveTag(), QStringLiteral("ShoulderUp"));
        // The next click starts afresh: the other button is lit as well, the old one is not reset.
        h.click(7);
        QCOMPARE(litButtons(w), QList<int>({1, 7}));
        QCOMPARE(h.codes(), QList<int>({1, 7}));

        // Back to Interactive: nothing happens at once.
        QTest::mouseClick(ui::lblInteractive(w), Qt::LeftButton);
        QVERIFY(ui::optInteractive(w)->Value());
        QVERIFY(w.MotionActive());
        QCOMPARE(h.codes(), QList<int>({1, 7}));

        QTest::mouseClick(ui::lblScripting(w), Qt::LeftButton);
        QVERIFY(w.ScriptingMode());
        h.click(4);
        QVERIFY(w.MotionActive());
        // The label sets the radio button again even though it is selected, which ends the motion.
        QTest::mouseClick(ui::lblScripting(w), Qt::LeftButton);
        QVERIFY(!w.MotionActive());
        QCOMPARE(litButtons(w), QList<int>({1, 4, 7}));
        // A click on the selected radio button itself does nothing.
        h.click(4);
        QTest::mouseClick(ui::optScripting(w), Qt::LeftButton);
        QVERIFY(w.MotionActive());
        QCOMPARE(h.codes(), QList<int>({1, 7, 4, 4}));
    }

    void closingStopsTheArm_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<bool>("closeFirst");
        QTest::newRow("motor running") << QList<int>{10} << QList<int>{10, 0} << true;
        QTest::newRow("after a switch") << QList<int>{1, 6} << QList<int>{1, 6, 0} << true;
        QTest::newRow("idle") << QList<int>{} << QList<int>{0} << true;
        QTest::newRow("destroyed without closing") << QList<int>{7} << QList<int>{7, 0} << false;
    }
    void closingStopsTheArm()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, codes);
        WindowHarness h;
        VirtualArm &arm = h.addArm();
        frmMain &w = h.open();
        for (int index : clicks)
            h.click(index);
        QFETCH(bool, closeFirst);
        if (closeFirst) {
            h.closeWindow();
            QCOMPARE(h.codes(), codes);
            QVERIFY(!arm.armInterface()->isOpen());
            QCOMPARE(w.session().devices().Count(), 0);
            h.closeWindow(); // a second close sends nothing more
        }
        // Nor does the window's end after its closing.
        h.destroyWindow();
        QCOMPARE(h.codes(), codes);
        QVERIFY(!arm.armInterface()->isOpen());
    }

    void elbowDownCaptionWhilePressed()
    {
        WindowHarness h;
        frmMain &w = h.open();
        for (int i = 0; i < 11; ++i) {
            HoverButton *button = ui::cmdControl(w)[size_t(i)];
            QCOMPARE(button->index(), i);
            QCOMPARE(button->captionover(), button->caption());
            QCOMPARE(button->captiondown(), i == 8 ? QStringLiteral(" Down") : button->caption());
            QCOMPARE(button->font().bold(), i == 0);
        }
        HoverButton *elbowDown = ui::cmdControl(w)[8];
        QTest::mousePress(elbowDown, Qt::LeftButton);
        QCOMPARE(elbowDown->currentCaption(), QStringLiteral(" Down"));
        QTest::mouseRelease(elbowDown, Qt::LeftButton);
        QCOMPARE(elbowDown->currentCaption().trimmed(), QStringLiteral("Down"));
        QCOMPARE(ui::Text1(w)->text(), QStringLiteral("8"));
    }

    void toolWindowsAreReused_data()
    {
        QTest::addColumn<bool>("about");
        QTest::newRow("about") << true;
        QTest::newRow("colour scheme") << false;
    }
    void toolWindowsAreReused()
    {
        QFETCH(bool, about);
        WindowHarness h;
        frmMain &w = h.open();
        QWidget *button = about ? static_cast<QWidget *>(ui::cmdAbout(w)) : ui::cmdColors(w);
        const auto current = [&]() -> QWidget * {
            return about ? static_cast<QWidget *>(w.aboutWindow()) : w.colorSchemeDialog();
        };
        QVERIFY(!current());
        QTest::mouseClick(button, Qt::LeftButton);
        QPointer<QWidget> tool = current();
        QVERIFY(tool && tool->isVisible() && !tool->isModal());
        if (about)
            QCOMPARE(tool->windowTitle(), QStringLiteral("About KORIV Pro"));
        else
            QVERIFY(qobject_cast<frmColorScheme *>(tool.data()) && !tool->parentWidget());

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(current(), tool.data());
        // Closed, it is gone; the next click loads a fresh one.
        if (about)
            QTest::mouseClick(qobject_cast<frmAbout *>(tool.data())->cmdOK, Qt::LeftButton);
        else
            tool->close();
        QTRY_VERIFY(!tool);
        QTest::mouseClick(button, Qt::LeftButton);
        tool = current();
        QVERIFY(tool);
        // The main window's closing takes it along.
        h.closeWindow();
        QTRY_VERIFY(!tool);
    }

    void settingsAtStartUp_data()
    {
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("highlight");
        QTest::addColumn<quint32>("colour");
        QTest::newRow("no file: black, no highlight") << false << false << 0u;
        QTest::newRow("highlight with preset colour") << true << true << 8421631u;
        QTest::newRow("no highlight, other colour") << true << false << 10916490u;
    }
    void settingsAtStartUp()
    {
        QFETCH(bool, file);
        QFETCH(bool, highlight);
        QFETCH(quint32, colour);
        WindowHarness h;
        if (file)
            h.writeSettings(QStringLiteral(" arm-01 "), highlight, colour);
        frmMain &w = h.open();
        QCOMPARE(w.Hilight(), highlight);
        QCOMPARE(ui::Grid(w)->BackColorSel(), colour);
        QCOMPARE(w.CurrentDevice(), file ? QStringLiteral("ARM-01") : QString());
        QVERIFY(w.SettingsFilePath().endsWith(QStringLiteral("KORIV.INI")));
        // The colour dialog's Save reaches the grid at once.
        w.SetGridSelectionColor(11954481u);
        QCOMPARE(ui::Grid(w)->BackColorSel(), 11954481u);
    }

    void settingsReadBackFromWhereTheyAreSaved()
    {
        // An installed program reads the copy beside it until its first save makes the per-user file.
        QTemporaryDir dir;
        VirtualHidTransport transport;
        frmMain::Setup setup;
        setup.transport = &transport;
        setup.settingsReadPath = dir.filePath(QStringLiteral("KORIV.INI"));
        setup.settingsWritePath = dir.filePath(QStringLiteral("config/KORIV.INI"));
        frmMain w(setup);
        QCOMPARE(w.SettingsReadPath(), setup.settingsReadPath);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config"))));
        QFile saved(setup.settingsWritePath);
        QVERIFY(saved.open(QIODevice::WriteOnly));
        saved.close();
        QCOMPARE(w.SettingsReadPath(), setup.settingsWritePath);
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
