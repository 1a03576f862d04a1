#include "ArmSettingsDialog.h"
#include "ControlOptions.h"
#include "GridText.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacCheckBox.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "ScriptGrid.h"
#include "ScriptRunner.h"
#include "VirtualArmWindow.h"
#include "WindowHarness.h"
#include "frmAbout.h"
#include "frmColorScheme.h"
#include "Gamepad.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QMap<QString, int> KeyNames{{"Left", Qt::Key_Left}, {"Right", Qt::Key_Right}, {"Up", Qt::Key_Up},
                                  {"Down", Qt::Key_Down}, {"W", Qt::Key_W},         {"S", Qt::Key_S},
                                  {"E", Qt::Key_E},       {"D", Qt::Key_D},         {"O", Qt::Key_O},
                                  {"C", Qt::Key_C},       {"X", Qt::Key_X}};

void sendKey(QWidget *to, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = {}, bool repeat = false)
{
    QKeyEvent event(type, key, modifiers, QString(), repeat);
    QApplication::sendEvent(to, &event);
}

// Plays "+Up -Up" style strokes at a widget: + press, - release, * an auto-repeated press and
// release pair, ^ a press with Ctrl held.
void play(QWidget *to, const QString &strokes)
{
    for (const QString &stroke : strokes.split(u' ', Qt::SkipEmptyParts)) {
        const int key = KeyNames.value(stroke.mid(1));
        switch (stroke.at(0).unicode()) {
        case '+':
            sendKey(to, QEvent::KeyPress, key);
            break;
        case '-':
            sendKey(to, QEvent::KeyRelease, key);
            break;
        case '*':
            sendKey(to, QEvent::KeyRelease, key, {}, true);
            sendKey(to, QEvent::KeyPress, key, {}, true);
            break;
        case '^':
            sendKey(to, QEvent::KeyPress, key, Qt::ControlModifier);
            sendKey(to, QEvent::KeyRelease, key, Qt::ControlModifier);
            break;
        }
    }
}

QStringList recordedFunctions(const frmMain &w)
{
    QStringList functions;
    for (int row = 1; row < ui::NextStep(w); ++row)
        functions << ui::Grid(w)->TextMatrix(row, 1);
    return functions;
}

QList<int> litButtons(const frmMain &w)
{
    QList<int> lit;
    for (int i = 0; i < 11; ++i) {
        if (ui::cmdControl(w)[size_t(i)]->backcolor() == frmMain::OnColor)
            lit.append(i);
    }
    return lit;
}

bool openActive(WindowHarness &h)
{
    h.addArm();
    frmMain &w = h.open();
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

// Every accessible object below `root`, depth first.
void collect(QAccessibleInterface *root, QList<QAccessibleInterface *> &out)
{
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface *child = root->child(i)) {
            out << child;
            collect(child, out);
        }
    }
}

QAccessibleInterface *findAccessible(QWidget *window, QAccessible::Role role, const QString &name)
{
    QList<QAccessibleInterface *> all;
    collect(QAccessible::queryAccessibleInterface(window), all);
    for (QAccessibleInterface *iface : all) {
        if (iface->role() == role && iface->text(QAccessible::Name) == name)
            return iface;
    }
    return nullptr;
}

} // namespace

class tst_HandsOn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jogKeys_data()
    {
        QTest::addColumn<bool>("scripting");
        QTest::addColumn<QString>("strokes");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("lit");

        QTest::newRow("hold and release") << false << "+Left -Left" << QList<int>{2, 0} << QStringList{}
                                          << QList<int>{};
        QTest::newRow("auto-repeat is not a release") << false << "+O *O *O" << QList<int>{10} << QStringList{}
                                                      << QList<int>{10};
        QTest::newRow("second key switches, first release is stale")
            << true << "+Up +W -Up -W" << QList<int>{1, 3, 0} << QStringList{"ShoulderUp", "ElbowUp"}
            << QList<int>{};
        QTest::newRow("every key in turn")
            << true << "+Right -Right +Down -Down +S -S +E -E +D -D +C -C"
            << QList<int>{7, 0, 6, 0, 8, 0, 4, 0, 9, 0, 5, 0}
            << QStringList{"BaseCW", "ShoulderDown", "ElbowDown", "WristUp", "WristDown", "GripClose"}
            << QList<int>{};
        QTest::newRow("with Ctrl it is no jog") << false << "^Left ^W" << QList<int>{} << QStringList{}
                                                << QList<int>{};
        QTest::newRow("other letters do nothing") << false << "+X -X" << QList<int>{} << QStringList{}
                                                  << QList<int>{};
    }
    void jogKeys()
    {
        QFETCH(bool, scripting);
        QFETCH(QString, strokes);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, lit);
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        if (scripting)
            ui::optScripting(w)->SetValue(true);
        play(ui::FrameMain(w), strokes);
        // A release is told once no press of its key has followed it for the repeat gap.
        QTest::qWait(MotionPanel::RepeatGapMs * 3);
        QCOMPARE(h.codes(), codes);
        QCOMPARE(recordedFunctions(w), steps);
        QCOMPARE(litButtons(w), lit);
    }

    void panelTakesFocusAndShowsIt()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        ui::txtReps(w)->setFocus();
        const QImage unfocused = ui::FrameMain(w)->grab().toImage();
        QTest::mouseClick(ui::FrameMain(w), Qt::LeftButton, {}, QPoint(200, 200));
        QVERIFY(ui::FrameMain(w)->hasFocus());
        QVERIFY(ui::FrameMain(w)->grab().toImage() != unfocused);

        // A click on a motion button leaves the focus with the panel, so keys go on working.
        ui::txtReps(w)->setFocus();
        h.click(3);
        QVERIFY(ui::FrameMain(w)->hasFocus());
        // The focus leaving while a key is held does not lose the key: let go in the repetitions box,
        // it stops its motion there, and the box does not take it.
        QTest::keyPress(QApplication::focusWidget(), Qt::Key_E);
        QTest::mouseClick(ui::txtReps(w), Qt::LeftButton);
        QVERIFY(ui::txtReps(w)->hasFocus());
        QCOMPARE(h.codes(), (QList<int>{3, 4}));
        QTest::keyRelease(ui::txtReps(w), Qt::Key_E);
        QTRY_COMPARE(h.codes(), (QList<int>{3, 4, 0}));
        // Keys typed into the repetitions box are its own.
        QTest::keyClick(ui::txtReps(w), Qt::Key_Left);
        QTest::qWait(MotionPanel::RepeatGapMs * 2);
        QCOMPARE(h.codes(), (QList<int>{3, 4, 0}));
    }

    void tooltipsAndNamesOfTheMotionButtons_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::newRow("base CCW") << 2 << "Base CCW" << "Left";
        QTest::newRow("shoulder down") << 6 << "Shoulder Down" << "Down";
        QTest::newRow("elbow down") << 8 << "Elbow Down" << "S";
        QTest::newRow("wrist up") << 4 << "Wrist Up" << "E";
        QTest::newRow("gripper open") << 10 << "Gripper Open" << "O";
        QTest::newRow("gripper close") << 5 << "Gripper Close" << "C";
    }
    void tooltipsAndNamesOfTheMotionButtons()
    {
        QFETCH(int, index);
        QFETCH(QString, name);
        QFETCH(QString, key);
        WindowHarness h;
        frmMain &w = h.open();
        HoverButton *button = ui::cmdControl(w)[size_t(index)];
        QCOMPARE(button->toolTip(), QStringLiteral("%1 (key %2)").arg(name, key));
        // The key in the tooltip is the key that drives the button.
        QCOMPARE(MotionPanel::codeForKey(KeyNames.value(key)), std::optional<int>(index));
        QAccessibleInterface *iface = findAccessible(&w, QAccessible::Button, name);
        QVERIFY(iface);
        QCOMPARE(iface->object(), static_cast<QObject *>(button));
    }

    void accessibilityTree()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QAccessibleInterface *run = findAccessible(&w, QAccessible::Button, QStringLiteral("Run"));
        QVERIFY(run && run->object() == static_cast<QObject *>(ui::cmdRun(w)));
        QVERIFY(run->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        QAccessibleInterface *interactive =
            findAccessible(&w, QAccessible::RadioButton, QStringLiteral("Interactive"));
        QAccessibleInterface *scripting = findAccessible(&w, QAccessible::RadioButton, QStringLiteral("Scripting"));
        QVERIFY(interactive && scripting);
        QVERIFY(interactive->state().checkable && interactive->state().checked);
        QVERIFY(!scripting->state().checked);
        // Pressing through the accessibility interface is a click: the mode changes.
        scripting->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(w.ScriptingMode());
        QVERIFY(scripting->state().checked && !interactive->state().checked);
        QVERIFY(findAccessible(&w, QAccessible::Grouping, QStringLiteral("Command Mode")));

        // The caption follows the button: Run becomes Stop while a script runs.
        ui::cmdRun(w)->SetCaption(QStringLiteral("Stop"));
        QCOMPARE(run->text(QAccessible::Name), QStringLiteral("Stop"));

        frmColorScheme dialog(w);
        QAccessibleInterface *highlight =
            findAccessible(&dialog, QAccessible::CheckBox, QStringLiteral("Highlight Grid"));
        QVERIFY(highlight && !highlight->state().checked);
        dialog.chkHighlightGrid->SetValue(1);
        QVERIFY(highlight->state().checked);
        QVERIFY(findAccessible(&dialog, QAccessible::RadioButton, QStringLiteral("Custom")));
    }

    void stopKeyFromEveryWindow_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("stops");
        QTest::newRow("Esc, main window") << "main" << int(Qt::Key_Escape) << true;
        QTest::newRow("Esc, arm picture") << "panel" << int(Qt::Key_Escape) << true;
        QTest::newRow("Esc, virtual arm") << "virtual arm" << int(Qt::Key_Escape) << true;
        QTest::newRow("Esc, about") << "about" << int(Qt::Key_Escape) << true;
        QTest::newRow("Esc, settings") << "settings" << int(Qt::Key_Escape) << true;
        QTest::newRow("Esc, repetitions box") << "reps" << int(Qt::Key_Escape) << true;
        QTest::newRow("Space, main window") << "main" << int(Qt::Key_Space) << true;
        QTest::newRow("Space, virtual arm") << "virtual arm" << int(Qt::Key_Space) << true;
        QTest::newRow("Space, settings") << "settings" << int(Qt::Key_Space) << true;
        QTest::newRow("Esc, arm setup") << "arm setup" << int(Qt::Key_Escape) << true;
        QTest::newRow("Space, arm setup") << "arm setup" << int(Qt::Key_Space) << true;
        QTest::newRow("Space, repetitions box is typing") << "reps" << int(Qt::Key_Space) << false;
    }
    void stopKeyFromEveryWindow()
    {
        QFETCH(QString, where);
        QFETCH(int, key);
        QFETCH(bool, stops);
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        std::unique_ptr<QWidget> armWindow(createVirtualArmWindow(*h.arms.front()));
        QWidget *target = &w;
        if (where == u"panel") {
            target = ui::FrameMain(w);
        } else if (where == u"reps") {
            target = ui::txtReps(w);
        } else if (where == u"virtual arm") {
            armWindow->show();
            target = armWindow.get();
        } else if (where == u"about" || where == u"settings") {
            QTest::mouseClick(where == u"about" ? static_cast<QWidget *>(ui::cmdAbout(w)) : ui::cmdColors(w),
                              Qt::LeftButton);
            target = where == u"about" ? static_cast<QWidget *>(w.aboutWindow()) : w.colorSchemeDialog();
        } else if (where == u"arm setup") {
            QTest::mouseClick(ui::cmdArmSettings(w), Qt::LeftButton);
            target = w.armSettingsDialog();
        }
        QVERIFY(target);
        ui::optScripting(w)->SetValue(true);
        h.click(7);
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(h.codes(), stops ? QList<int>({7, 0}) : QList<int>({7}));
        QCOMPARE(litButtons(w), stops ? QList<int>() : QList<int>({7}));
        QCOMPARE(w.MotionActive(), !stops);
        // Stopped as a second click stops: the step is closed with its time.
        QCOMPARE(ui::NextStep(w), qint16(stops ? 2 : 1));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 2).isEmpty(), !stops);
        // Esc also closes the About window, as it closes a dialog.
        if (where == u"about")
            QCOMPARE(w.aboutWindow() != nullptr && w.aboutWindow()->isVisible(), key != Qt::Key_Escape);
    }

    void stopKeyWithNothingOn()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        // Scripting selected while a motor runs ends the motion state, but the motor and its light stay.
        h.click(4);
        ui::optScripting(w)->SetValue(true);
        QVERIFY(!w.MotionActive());
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(h.codes(), (QList<int>{4, 0}));
        QCOMPARE(litButtons(w), QList<int>());
        QCOMPARE(ui::Text1(w)->text(), QStringLiteral("0"));
        QCOMPARE(ui::NextStep(w), qint16(1));
        // Held down, the key stops once.
        sendKey(&w, QEvent::KeyPress, Qt::Key_Escape, {}, true);
        QCOMPARE(h.codes(), (QList<int>{4, 0}));
    }

    void escapeInTheCellEditorDropsTheEditAndStops()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        ui::optScripting(w)->SetValue(true);
        h.click(3);
        h.click(3);
        // Not recorded: a step being recorded may not be edited.
        ui::optInteractive(w)->SetValue(true);
        h.click(9);
        ui::Grid(w)->SetRow(1);
        ui::Grid(w)->SetCol(1);
        w.GridEdit(qint16('w'));
        QVERIFY(ui::GridText(w)->isVisible());
        QTest::keyClicks(ui::GridText(w), QStringLiteral("ristup"));
        QTest::keyClick(ui::GridText(w), Qt::Key_Escape);
        QVERIFY(!ui::GridText(w)->isVisible());
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("ElbowUp"));
        QCOMPARE(h.codes(), (QList<int>{3, 0, 9, 0}));
        QCOMPARE(recordedFunctions(w), (QStringList{"ElbowUp"}));
    }

    void escapeDuringARunIsStop()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        ui::Grid(w)->SetTextMatrix(1, 0, QStringLiteral(" 1"));
        ui::Grid(w)->SetTextMatrix(1, 1, QStringLiteral("BaseCW"));
        ui::Grid(w)->SetTextMatrix(1, 2, QStringLiteral(" 10"));
        ui::Script(w)->setNextStep(2);
        QObject::connect(h.arms.front().get(), &VirtualArm::commandReceived, &w, [&w](int code) {
            if (code == 7)
                QTimer::singleShot(0, &w, [&w] { QTest::keyClick(&w, Qt::Key_Escape); });
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &w, [&w] { w.session().stopRun(); });
        guard.start(20000);
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        QVERIFY(guard.isActive());
        QCOMPARE(ui::cmdRun(w)->Caption(), QStringLiteral("Run"));
        QCOMPARE(h.codes(), (QList<int>{7, 0}));
        QVERIFY(ui::FrameMain(w)->isEnabled());
    }

    void jogKeysAreLockedDuringARun()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        // A step that outlasts the test: the keys are played while it runs, then Stop ends the run.
        ui::Grid(w)->SetTextMatrix(1, 1, QStringLiteral("Pause"));
        ui::Grid(w)->SetTextMatrix(1, 2, QStringLiteral(" 30"));
        ui::Script(w)->setNextStep(2);
        // A motion left on when Run is clicked ends first, as Esc would end it.
        h.click(5);
        QVERIFY(w.RunLimitArmed());
        bool scheduled = false, playedInRun = false;
        QObject::connect(h.arms.front().get(), &VirtualArm::commandReceived, &w, [&](int code) {
            if (code != 0 || scheduled)
                return;
            scheduled = true;
            QTimer::singleShot(0, &w, [&] {
                playedInRun = w.session().running();
                play(ui::FrameMain(w), QStringLiteral("+Left -Left +O"));
                QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
            });
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &w, [&w] { w.session().stopRun(); });
        guard.start(20000);
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        QVERIFY(guard.isActive());
        QVERIFY(playedInRun);
        // The motion's stop, the step's 0, then Stop's.
        QCOMPARE(h.codes(), (QList<int>{5, 0, 0, 0}));
        QCOMPARE(w.ActiveTag(), QStringLiteral("GripClose"));
        QVERIFY(!w.RunLimitArmed());
    }

    void runLimitOfEachJoint_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("limitMs");
        QTest::newRow("gripper, travel and a half") << 5 << true << 150 << 2250;
        QTest::newRow("gripper at its travel time is held to 2 s") << 10 << true << 100 << 2000;
        QTest::newRow("shoulder") << 1 << true << 150 << 13500;
        QTest::newRow("base, doubled") << 7 << true << 200 << 24000;
        QTest::newRow("wrist") << 9 << true << 150 << 9000;
        QTest::newRow("elbow") << 3 << true << 150 << 21000;
        QTest::newRow("pause moves nothing") << 0 << true << 150 << 0;
        QTest::newRow("switched off") << 5 << false << 150 << 0;
    }
    void runLimitOfEachJoint()
    {
        QFETCH(int, code);
        QFETCH(bool, on);
        QFETCH(int, percent);
        QFETCH(int, limitMs);
        WindowHarness h;
        frmMain &w = h.open();
        w.SetControlOptions(ControlOptions{on, percent, QString(), {}});
        QCOMPARE(w.RunLimitMs(code), limitMs);
        h.click(code);
        QCOMPARE(w.RunLimitArmed(), limitMs > 0);
        // A second click, or the stop key, ends the watch.
        h.click(code);
        QVERIFY(!w.RunLimitArmed());
        h.click(code);
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.RunLimitArmed());
    }

    void runLimitStopsAGrindingMotor_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<bool>("scripting");
        QTest::newRow("click, interactive") << "click" << false;
        QTest::newRow("click, recorded") << "click" << true;
        QTest::newRow("key held, recorded") << "key" << true;
        QTest::newRow("mode changed under it") << "mode" << true;
    }
    void runLimitStopsAGrindingMotor()
    {
        QFETCH(QString, drive);
        QFETCH(bool, scripting);
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        w.SetRunLimitOverride(300);
        const QRect statusLine = ui::lblDisp(w)->geometry();
        if (drive == u"mode") {
            h.click(10);
            ui::optScripting(w)->SetValue(true);
        } else {
            ui::optScripting(w)->SetValue(scripting);
            if (drive == u"key")
                sendKey(ui::FrameMain(w), QEvent::KeyPress, Qt::Key_C);
            else
                h.click(5);
        }
        QTRY_COMPARE(h.codes().size(), 2);
        QCOMPARE(h.codes().back(), 0);
        QCOMPARE(litButtons(w), QList<int>());
        QVERIFY(!w.MotionActive());
        const QRegularExpressionMatch message =
            QRegularExpression(QStringLiteral("^Gripper stopped after (\\d+\\.\\d) s: end of travel$"))
                .match(ui::lblDisp(w)->text());
        QVERIFY2(message.hasMatch(), qPrintable(ui::lblDisp(w)->text()));
        QVERIFY(message.captured(1).toDouble() >= 0.3);
        // The whole message can be read.
        QVERIFY(ui::lblDisp(w)->fontMetrics().horizontalAdvance(ui::lblDisp(w)->text()) <=
                ui::lblDisp(w)->width());
        if (scripting && drive != u"mode") {
            QCOMPARE(recordedFunctions(w), QStringList{"GripClose"});
            QCOMPARE(ui::Grid(w)->TextMatrix(1, 2), QStringLiteral(" .25"));
        } else {
            QCOMPARE(ui::NextStep(w), qint16(1));
        }
        // The key's late release finds nothing to stop.
        sendKey(ui::FrameMain(w), QEvent::KeyRelease, Qt::Key_C);
        QCOMPARE(h.codes().size(), 2);
        // A new status of the arm takes the line back at once.
        w.ShowReady();
        QCOMPARE(ui::lblDisp(w)->text(), frmMain::ReadyText);
        QCOMPARE(ui::lblDisp(w)->geometry(), statusLine);
    }

    // The limit counts a motion's time in one go: started again right after a stop (a key's repeat, a
    // stick at the edge of its dead zone, a quick tap), the motion keeps the time it had run.
    void runLimitCountsARestartedMotionAsOne()
    {
        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        w.SetRunLimitOverride(1000);
        h.click(5);
        QTest::qWait(800);
        h.click(5);
        QElapsedTimer sinceRestart;
        sinceRestart.start();
        h.click(5);
        QTRY_COMPARE_WITH_TIMEOUT(h.codes().size(), 4, 3000);
        QCOMPARE(h.codes(), (QList<int>{5, 0, 5, 0}));
        QVERIFY2(sinceRestart.elapsed() < 700, qPrintable(QString::number(sinceRestart.elapsed())));
        QVERIFY2(ui::lblDisp(w)->text().startsWith(QStringLiteral("Gripper stopped after 1.")),
                 qPrintable(ui::lblDisp(w)->text()));
    }

    // A motion started by a key or a pad control ends when that control is let go, whatever came in
    // between; the motor never runs on with nobody holding it.
    void heldControlsReleaseStopsItsMotion_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("scripting");
        QTest::addColumn<QString>("between");
        QTest::newRow("key, Scripting chosen") << "key" << false << "scripting";
        QTest::newRow("key, Interactive chosen") << "key" << true << "interactive";
        QTest::newRow("key, Scripting chosen again") << "key" << true << "scripting";
        QTest::newRow("key, About opened") << "key" << false << "about";
        QTest::newRow("pad, Scripting chosen") << "pad" << false << "scripting";
        QTest::newRow("pad, Interactive chosen") << "pad" << true << "interactive";
    }
    void heldControlsReleaseStopsItsMotion()
    {
        QFETCH(QString, control);
        QFETCH(bool, scripting);
        QFETCH(QString, between);
        WindowHarness h;
        VirtualHidInterface *pad = h.transport.addGamepad();
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        ui::optScripting(w)->SetValue(scripting);
        const bool key = control == u"key";
        if (key) {
            ui::FrameMain(w)->setFocus();
            QTest::keyPress(ui::FrameMain(w), Qt::Key_W);
        } else {
            pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
            w.gamepad()->poll();
            pad->queueInputReport(VirtualHidTransport::gamepadReport(20, 128, 128));
            w.gamepad()->poll();
        }
        const int code = key ? 3 : 2;
        QCOMPARE(h.codes(), QList<int>{code});
        if (between == u"scripting")
            QTest::mouseClick(ui::lblScripting(w), Qt::LeftButton);
        else if (between == u"interactive")
            QTest::mouseClick(ui::lblInteractive(w), Qt::LeftButton);
        else
            QTest::mouseClick(ui::cmdAbout(w), Qt::LeftButton);
        QCOMPARE(h.codes(), QList<int>{code});
        if (key) {
            QWidget *to = QApplication::focusWidget() ? QApplication::focusWidget() : ui::FrameMain(w);
            QTest::keyRelease(to, Qt::Key_W);
        } else {
            pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
            w.gamepad()->poll();
        }
        QTRY_COMPARE(h.codes(), (QList<int>{code, 0}));
        QCOMPARE(litButtons(w), QList<int>());
        QTest::qWait(MotionPanel::RepeatGapMs * 2);
        QCOMPARE(h.codes(), (QList<int>{code, 0}));
        if (w.aboutWindow())
            w.aboutWindow()->close();
    }

    void armSetupKeepsItsOptions_data()
    {
        QTest::addColumn<QByteArray>("stored"); // TESSARO.INI before
        // Done in turn: menu / button (opens the dialog), limit (its box clicked), percent=N (typed),
        // base / shoulder / wrist (a reversed motor's box clicked), save, close.
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("shown"); // what the dialog showed on opening
        QTest::addColumn<QByteArray>("written");
        const QByteArray defaults("RunLimit=Yes\r\nRunLimitPercent=150\r\n");
        QTest::newRow("no file: the limit on at 150, Save writes it")
            << QByteArray() << "button save" << "on 150" << defaults;
        QTest::newRow("limit switched off from the arm picture's menu")
            << defaults << "menu limit save" << "on 150" << QByteArray("RunLimit=No\r\nRunLimitPercent=150\r\n");
        QTest::newRow("limit back on and scaled")
            << QByteArray("RunLimit=No\r\nRunLimitPercent=300\r\n") << "button limit percent=200 save"
            << "off 300" << QByteArray("RunLimit=Yes\r\nRunLimitPercent=200\r\n");
        QTest::newRow("two motors reversed, one put back, the rest of the file kept")
            << QByteArray("RunLimit=Yes\r\nRunLimitPercent=150\r\nScriptFolder=/tmp/scripts\r\n"
                          "TravelElbowUp=13.412\r\nShoulderReversed=Yes\r\n")
            << "menu base shoulder wrist save" << "on 150 shoulder"
            << QByteArray("RunLimit=Yes\r\nRunLimitPercent=150\r\nScriptFolder=/tmp/scripts\r\n"
                          "TravelElbowUp=13.412\r\nBaseReversed=Yes\r\nWristReversed=Yes\r\n");
        QTest::newRow("Close keeps nothing")
            << defaults << "button limit base close" << "on 150" << defaults;
    }
    void armSetupKeepsItsOptions()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, actions);
        QFETCH(QByteArray, written);
        WindowHarness h;
        h.writeSettings(QStringLiteral("ARM-01"), true);
        h.addArm();
        if (!stored.isEmpty())
            h.writeOptions(stored);
        frmMain &w = h.open();
        const ControlOptions before = w.Options();
        QFile koriv(w.SettingsFilePath());
        QVERIFY(koriv.open(QIODevice::ReadOnly));
        const QByteArray korivBefore = koriv.readAll();
        koriv.close();

        QPointer<ArmSettingsDialog> dialog;
        QString shown;
        for (const QString &action : actions.split(u' ')) {
            if (action == u"menu" || action == u"button") {
                if (action == u"menu")
                    w.armSettingsAction()->trigger();
                else
                    QTest::mouseClick(ui::cmdArmSettings(w), Qt::LeftButton);
                dialog = w.armSettingsDialog();
                QVERIFY(dialog && dialog->isVisible() && !dialog->parentWidget());
                shown = QStringLiteral("%1 %2").arg(dialog->runLimit->isChecked() ? u"on" : u"off")
                            .arg(dialog->runLimitPercent->value());
                QCOMPARE(dialog->runLimitPercent->isEnabled(), dialog->runLimit->isChecked());
                for (size_t m = 0; m < dialog->reversed.size(); ++m)
                    if (dialog->reversed[m]->isChecked())
                        shown += u' ' + QString::fromLatin1(ControlOptions::KitMotorNames[m]).toLower();
            } else if (action == u"limit") {
                QTest::mouseClick(dialog->runLimit, Qt::LeftButton, {}, QPoint(8, dialog->runLimit->height() / 2));
                QCOMPARE(dialog->runLimitPercent->isEnabled(), dialog->runLimit->isChecked());
            } else if (action.startsWith(u"percent=")) {
                QTest::keyClick(dialog->runLimitPercent, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(dialog->runLimitPercent, action.mid(8));
            } else if (action == u"save" || action == u"close") {
                QTest::mouseClick(action == u"save" ? dialog->saveButton : dialog->closeButton, Qt::LeftButton);
                QTRY_VERIFY(!dialog);
            } else {
                const auto m = std::find_if(ControlOptions::KitMotorNames.begin(), ControlOptions::KitMotorNames.end(),
                                            [&](const char *name) { return action == QString::fromLatin1(name).toLower(); });
                QVERIFY2(m != ControlOptions::KitMotorNames.end(), qPrintable(action));
                QCheckBox *box = dialog->reversed[size_t(m - ControlOptions::KitMotorNames.begin())];
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
            }
        }
        QTEST(shown, "shown");

        QFile options(w.OptionsFilePath());
        QCOMPARE(options.open(QIODevice::ReadOnly) ? options.readAll() : QByteArray(), written);
        QVERIFY(koriv.open(QIODevice::ReadOnly));
        QCOMPARE(koriv.readAll(), korivBefore);
        // Applied at once (a Close applies nothing), and the status line says while the limit is off.
        const ControlOptions applied = actions.endsWith(u"close") ? before : ControlOptions::parse(written);
        QCOMPARE(w.Options(), applied);
        QCOMPARE(w.RunLimitMs(7) > 0, applied.runLimit);
        QCOMPARE(ui::lblDisp(w)->text().endsWith(frmMain::RunLimitOffText), !applied.runLimit);
    }

    void gamepadDrivesTheArm_data()
    {
        QTest::addColumn<bool>("scripting");
        QTest::addColumn<QList<QByteArray>>("reports"); // "unplug" unplugs the pad
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("steps");
        using R = VirtualHidTransport;
        const QByteArray centre = R::gamepadReport(128, 128, 128);
        QTest::newRow("stick out and back") << false << QList<QByteArray>{R::gamepadReport(20, 128, 128), centre}
                                            << QList<int>{2, 0} << QStringList{};
        QTest::newRow("inside the dead zone") << false << QList<QByteArray>{R::gamepadReport(150, 106, 150)}
                                              << QList<int>{} << QStringList{};
        QTest::newRow("largest deflection switches, recorded")
            << true << QList<QByteArray>{R::gamepadReport(200, 128, 128), R::gamepadReport(200, 255, 128), centre}
            << QList<int>{7, 6, 0} << QStringList{"BaseCW", "ShoulderDown"};
        QTest::newRow("diagonal jitter is one motion, one step")
            << true
            << QList<QByteArray>{R::gamepadReport(200, 210, 128), R::gamepadReport(210, 200, 128),
                                 R::gamepadReport(200, 210, 128), centre}
            << QList<int>{6, 0} << QStringList{"ShoulderDown"};
        QTest::newRow("unplugged mid-motion stops")
            << true << QList<QByteArray>{R::gamepadReport(128, 128, 128, 8, 0x1), "unplug"} << QList<int>{10, 0}
            << QStringList{"GripOpen"};
        QTest::newRow("stop button acts as Esc")
            << false
            << QList<QByteArray>{R::gamepadReport(128, 128, 128, 0), R::gamepadReport(128, 128, 128, 0, 0x200),
                                 centre}
            << QList<int>{4, 0} << QStringList{};
    }
    void gamepadDrivesTheArm()
    {
        QFETCH(bool, scripting);
        QFETCH(QList<QByteArray>, reports);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, steps);
        WindowHarness h;
        VirtualHidInterface *pad = h.transport.addGamepad();
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        QVERIFY(w.gamepad()->isAttached());
        // The pad tells where it stands as it is opened: an axis drives only once seen at rest.
        pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
        w.gamepad()->poll();
        ui::optScripting(w)->SetValue(scripting);
        for (const QByteArray &report : reports) {
            if (report == "unplug") {
                h.transport.unplug(pad->info.path);
            } else {
                pad->queueInputReport(report);
                w.gamepad()->poll();
            }
        }
        QCOMPARE(h.codes(), codes);
        QCOMPARE(recordedFunctions(w), steps);
        QCOMPARE(litButtons(w), QList<int>());
    }

    void refusedGamepadIsTold()
    {
        WindowHarness h;
        VirtualHidInterface *pad = h.transport.addGamepad();
        pad->denyOpen(true);
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        QVERIFY(!w.gamepad()->isAttached());
        QCOMPARE(ui::lblDisp(w)->text(), frmMain::GamepadDeniedText);
        // Allowed and plugged in again, it drives.
        pad->allowOpen();
        h.transport.unplug(pad->info.path);
        h.transport.plug(pad->info.path);
        QVERIFY(w.gamepad()->isAttached());
        pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 128, 128));
        pad->queueInputReport(VirtualHidTransport::gamepadReport(128, 0, 128));
        w.gamepad()->poll();
        QCOMPARE(h.codes(), QList<int>{1});
    }
};

QTEST_MAIN(tst_HandsOn)
#include "tst_handson.moc"
