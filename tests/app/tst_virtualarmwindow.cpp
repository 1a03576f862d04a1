#include "SideBySide.h"
#include "StepFunctions.h"
#include "VirtualArm.h"
#include "VirtualArmWindow.h"
#include "VirtualHidTransport.h"

#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

constexpr qint64 s(double seconds)
{
    return static_cast<qint64>(seconds * 1e9);
}

bool near(double a, double b)
{
    return std::abs(a - b) < 1e-6;
}

// A window on a clock the test moves by hand, fed with codes stamped on that clock.
struct Rig
{
    VirtualHidTransport transport;
    VirtualArm arm{transport};
    qint64 now = s(1000);
    std::unique_ptr<VirtualArmWindow> window;

    Rig()
    {
        window = std::make_unique<VirtualArmWindow>(arm);
        window->setClock([this] { return now; });
        window->resize(860, 500);
    }

    void send(int code) { Q_EMIT arm.commandReceived(code, now, QByteArray(1, char(code))); }

    QPushButton *button(const char *name) const
    {
        return window->findChild<QPushButton *>(QLatin1String(name));
    }

    QString motionText() const { return window->findChild<QLabel *>(QStringLiteral("motionLabel"))->text(); }

    // Pixels in the strong red the view marks a straining joint with.
    int redPixels() const
    {
        const QImage image = window->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 170 && c.green() < 80 && c.blue() < 80)
                    ++count;
            }
        }
        return count;
    }
};

} // namespace

Q_DECLARE_METATYPE(ArmJoint)

class TestVirtualArmWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void codesMoveTheDrawnPose_data();
    void codesMoveTheDrawnPose();
    void noTimerWhileIdle();
    void strainingIsMarked();
    void redrawsOnlyWhatMoved_data();
    void redrawsOnlyWhatMoved();
    void plugButtonsCallThrough();
    void resetPose();
    void followsReportsWrittenToTheArm();
    void unplugStopsTheDrawnArm();
    void placedOnScreen_data();
    void placedOnScreen();
    void closesWithTheMainWindow();
};

void TestVirtualArmWindow::codesMoveTheDrawnPose_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<ArmJoint>("joint");
    QTest::addColumn<double>("degreesAfterOneSecond");

    QTest::newRow("shoulder up") << 1 << ArmJoint::Shoulder << 90 + 20.0;
    QTest::newRow("base cw") << 7 << ArmJoint::Base << -22.5;
    QTest::newRow("wrist down") << 9 << ArmJoint::Wrist << -20.0;
}

void TestVirtualArmWindow::codesMoveTheDrawnPose()
{
    QFETCH(int, code);
    QFETCH(ArmJoint, joint);
    QFETCH(double, degreesAfterOneSecond);

    Rig rig;
    rig.window->show();
    const QImage before = rig.window->grab().toImage();
    rig.send(code);
    QVERIFY(rig.motionText().contains(StepFunctions::name(code)));
    rig.now += s(1);
    // The animation timer picks up the new time on its next frame.
    QTRY_VERIFY(near(rig.window->displayedPose().angle(joint), degreesAfterOneSecond));
    QVERIFY(rig.window->grab().toImage() != before);

    rig.send(0);
    rig.now += s(3);
    QVERIFY(near(rig.window->displayedPose().angle(joint), degreesAfterOneSecond));
    QCOMPARE(rig.motionText(), QStringLiteral("Stopped"));
}

void TestVirtualArmWindow::noTimerWhileIdle()
{
    Rig rig;
    rig.window->show();
    QCOMPARE(rig.motionText(), QStringLiteral("Stopped"));
    QVERIFY(!rig.window->isAnimating());

    rig.send(2);
    QVERIFY(rig.window->isAnimating());
    rig.send(0);
    QVERIFY(!rig.window->isAnimating());

    // A motor already at its stop turns nothing: no animation, only the strain shows.
    rig.send(10); // the gripper opens, and it is open at home
    QVERIFY(!rig.window->isAnimating());
    QVERIFY(rig.window->displayedPose().isStraining(ArmJoint::Gripper));

    // A closing gripper animates until it reaches its stop, then the timer ends by itself.
    rig.send(5);
    QVERIFY(rig.window->isAnimating());
    rig.now += s(2);
    QTRY_VERIFY(!rig.window->isAnimating());
    QCOMPARE(rig.window->displayedPose().angle(ArmJoint::Gripper), 0.0);
    QVERIFY(rig.window->displayedPose().isStraining(ArmJoint::Gripper));
    QVERIFY(rig.motionText().contains(QStringLiteral("Gripper straining")));
}

void TestVirtualArmWindow::strainingIsMarked()
{
    Rig rig;
    rig.window->show();
    rig.send(1);
    rig.now += s(2);
    QTRY_VERIFY(rig.window->displayedPose().angle(ArmJoint::Shoulder) > 120);
    QCOMPARE(rig.redPixels(), 0);

    rig.now += s(10);
    QTRY_VERIFY(rig.window->displayedPose().isStraining(ArmJoint::Shoulder));
    QVERIFY2(rig.redPixels() > 200, "the straining shoulder is not drawn in red");

    // Stopping the motor ends the strain, and the mark goes with it.
    rig.send(0);
    QVERIFY(!rig.window->displayedPose().anyStraining());
    QCOMPARE(rig.window->displayedPose().angle(ArmJoint::Shoulder), 180.0);
    QCOMPARE(rig.redPixels(), 0);
}

namespace {

// The regions the view repaints, as the paint events ask for them.
class PaintRecorder : public QObject
{
public:
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
            ++paints;
        }
        return false;
    }
};

} // namespace

void TestVirtualArmWindow::redrawsOnlyWhatMoved_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("sideView");
    QTest::addColumn<bool>("topView");
    QTest::newRow("base turns: top view only") << 7 << false << true;
    QTest::newRow("gripper closes: side view only") << 5 << true << false;
    QTest::newRow("wrist bends: both, the reach changes") << 4 << true << true;
}

void TestVirtualArmWindow::redrawsOnlyWhatMoved()
{
    QFETCH(int, code);
    QFETCH(bool, sideView);
    QFETCH(bool, topView);

    Rig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto *view = rig.window->findChild<QWidget *>(QStringLiteral("armView"));
    QVERIFY(view);
    rig.send(code);
    PaintRecorder recorder;
    view->installEventFilter(&recorder);
    QTRY_VERIFY(recorder.paints > 0); // the new motion's caption
    const QImage before = view->grab().toImage();
    recorder.painted = QRegion();
    recorder.paints = 0;

    rig.now += s(0.5);
    QTRY_VERIFY(recorder.paints > 0);
    const QRect left(0, 0, view->width() * 6 / 10, view->height());
    const QRect right(view->width() * 7 / 10, 0, view->width() * 3 / 10, view->height());
    QCOMPARE(recorder.painted.intersects(left), sideView);
    QCOMPARE(recorder.painted.intersects(right), topView);

    // What was repainted, laid over the picture before, is the picture of the new pose.
    QImage patched = before;
    view->render(&patched, recorder.painted.boundingRect().topLeft(), recorder.painted);
    QCOMPARE(patched, view->grab().toImage());
}

void TestVirtualArmWindow::plugButtonsCallThrough()
{
    Rig rig;
    QVERIFY(rig.transport.startMonitoring());
    QSignalSpy removed(&rig.transport, &HidTransport::interfaceRemoved);
    QSignalSpy arrived(&rig.transport, &HidTransport::interfaceArrived);
    QPushButton *plugIn = rig.button("plugInButton");
    QPushButton *unplug = rig.button("unplugButton");
    QVERIFY(plugIn && unplug);
    QCOMPARE(plugIn->text(), QStringLiteral("Plug in"));
    QCOMPARE(unplug->text(), QStringLiteral("Unplug"));
    QVERIFY(!plugIn->isEnabled());
    QVERIFY(unplug->isEnabled());

    QTest::mouseClick(unplug, Qt::LeftButton);
    QVERIFY(!rig.arm.isPluggedIn());
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(0).value<HidInterfaceInfo>().path, rig.arm.armInterface()->info.path);
    QVERIFY(plugIn->isEnabled());
    QVERIFY(!unplug->isEnabled());

    QTest::mouseClick(plugIn, Qt::LeftButton);
    QVERIFY(rig.arm.isPluggedIn());
    QCOMPARE(arrived.count(), 1);
    QCOMPARE(removed.count(), 1);
    QVERIFY(!plugIn->isEnabled());
}

void TestVirtualArmWindow::resetPose()
{
    Rig rig;
    rig.send(8);
    rig.now += s(1);
    rig.send(2);
    rig.now += s(1);
    QPushButton *reset = rig.button("resetPoseButton");
    QVERIFY(reset);
    QCOMPARE(reset->text(), QStringLiteral("Reset pose"));
    QTest::mouseClick(reset, Qt::LeftButton);
    const ArmPose pose = rig.window->displayedPose();
    for (int i = 0; i < ArmJointCount; ++i)
        QVERIFY(near(pose.degrees[i], ArmPose::home().degrees[i]));
    // The base's code is still in force, so it turns on from home.
    QVERIFY(rig.window->isAnimating());
    rig.now += s(1);
    QTRY_VERIFY(near(rig.window->displayedPose().angle(ArmJoint::Base), 22.5));
}

void TestVirtualArmWindow::followsReportsWrittenToTheArm()
{
    // The real clock and the real road: a report written to the arm's interface.
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    QWidget parent;
    QWidget *widget = createVirtualArmWindow(arm, &parent);
    QVERIFY(widget->isWindow()); // beside the main window, not inside it
    QCOMPARE(widget->windowTitle(), QStringLiteral("Virtual Arm"));
    auto *window = qobject_cast<VirtualArmWindow *>(widget);
    QVERIFY(window);

    QString error;
    const std::unique_ptr<HidConnection> connection = transport.open(arm.armInterface()->info, &error);
    QVERIFY2(connection, qPrintable(error));
    QVERIFY(connection->writeOutputReport(QByteArray::fromHex("0007"), &error));
    QVERIFY(window->isAnimating());
    QTRY_VERIFY(window->displayedPose().angle(ArmJoint::Base) < -0.5);
    QVERIFY(connection->writeOutputReport(QByteArray::fromHex("0000"), &error));
    QVERIFY(!window->isAnimating());
    const double stoppedAt = window->displayedPose().angle(ArmJoint::Base);
    QVERIFY(stoppedAt < -0.5);
    QCOMPARE(window->simulator().code(), 0);
}

void TestVirtualArmWindow::unplugStopsTheDrawnArm()
{
    Rig rig;
    rig.send(7);
    QVERIFY(rig.window->isAnimating());
    QTest::mouseClick(rig.button("unplugButton"), Qt::LeftButton);
    QCOMPARE(rig.window->simulator().code(), 0);
    QVERIFY(!rig.window->isAnimating());
    QCOMPARE(rig.motionText(), QStringLiteral("Stopped"));
}

void TestVirtualArmWindow::placedOnScreen_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<bool>("sideBySide");
    // The main window's frame is 808 x 474 and the Virtual Arm window's 948 x 572: 1768 wide together.
    QTest::newRow("1280x720") << QRect(0, 0, 1280, 720) << false;
    QTest::newRow("1366x768 with a bottom panel") << QRect(0, 0, 1366, 728) << false;
    QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080) << true;
    QTest::newRow("1920x1080 right of another screen, top panel") << QRect(1920, 40, 1920, 1040) << true;
    QTest::newRow("just wide enough") << QRect(0, 0, 1768, 720) << true;
    QTest::newRow("one pixel short") << QRect(0, 0, 1767, 720) << false;
    QTest::newRow("2560x1440 left of the primary") << QRect(-2560, 0, 2560, 1440) << true;
    QTest::newRow("smaller than the companion") << QRect(0, 0, 800, 500) << false;
}

void TestVirtualArmWindow::placedOnScreen()
{
    QFETCH(QRect, available);
    QFETCH(bool, sideBySide);
    const QSize mainFrame(808, 474);
    const QSize armFrame(948, 572);
    const SideBySide place = placeSideBySide(mainFrame, armFrame, available);
    QVERIFY2(available.contains(place.main), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                            .arg(place.main.x())
                                                            .arg(place.main.y())
                                                            .arg(place.main.width())
                                                            .arg(place.main.height())));
    QVERIFY(available.contains(place.companion));
    QCOMPARE(place.main.size(), mainFrame.boundedTo(available.size()));
    QCOMPARE(place.companion.size(), armFrame.boundedTo(available.size()));
    if (sideBySide) {
        QCOMPARE(place.main.top(), place.companion.top());
        QVERIFY(place.main.right() < place.companion.left());
    } else {
        QCOMPARE(place.main.topLeft(), available.topLeft());
        QCOMPARE(place.companion.bottomRight(), available.bottomRight());
    }
}

void TestVirtualArmWindow::closesWithTheMainWindow()
{
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    QWidget mainWindow;
    // The headless screen is 800 pixels wide, narrower than the real main window with its frame.
    mainWindow.setFixedSize(400, 300);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    std::unique_ptr<QWidget> armWindow(createVirtualArmWindow(arm));
    showBesideMainWindow(mainWindow, *armWindow);
    QVERIFY(QTest::qWaitForWindowExposed(armWindow.get()));
    const QRect screen = mainWindow.screen()->availableGeometry();
    QVERIFY(screen.contains(mainWindow.frameGeometry()));
    QVERIFY(screen.contains(armWindow->frameGeometry()));

    // The main window is the one that keeps the program running; the arm's window goes with it.
    QVERIFY(!armWindow->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(mainWindow.close());
    QVERIFY(!armWindow->isVisible());
}

QTEST_MAIN(TestVirtualArmWindow)
#include "tst_virtualarmwindow.moc"
