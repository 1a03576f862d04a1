#include "ArmViewGeometry.h"
#include "SideBySide.h"
#include "StepFunctions.h"
#include "VirtualArm.h"
#include "VirtualArmWindow.h"
#include "KitArmList.h"
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

namespace {

// An estimate with every joint at the home pose, known or not, each `spread` degrees either way
// (within its range).
PoseEstimate homeEstimate(bool known, double spread)
{
    PoseEstimate estimate;
    for (int i = 0; i < ArmJointCount; ++i) {
        const ArmJointMotion &m = armJointMotions[size_t(i)];
        JointEstimate &j = estimate.joints[size_t(i)];
        j.known = known;
        j.knowledge = known ? PoseKnowledge::AtEnds : PoseKnowledge::Unknown;
        j.degrees = m.homeDegrees;
        j.low = known ? std::max(m.minDegrees, m.homeDegrees - spread) : m.minDegrees;
        j.high = known ? std::min(m.maxDegrees, m.homeDegrees + spread) : m.maxDegrees;
    }
    return estimate;
}

// The window drawing the estimate of `estimate`, as it shows.
QImage estimateImage(const PoseEstimate &estimate, QString *message = nullptr, bool *plugShown = nullptr)
{
    VirtualArmWindow window([estimate] { return EstimatedPose{estimate, 0}; });
    window.resize(860, 500);
    window.show();
    if (message)
        *message = window.messageText();
    if (plugShown)
        *plugShown = window.findChild<QPushButton *>(QStringLiteral("plugInButton"))->isVisible();
    return window.grab().toImage();
}

int differingPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        for (int x = 0; x < std::min(a.width(), b.width()); ++x)
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    }
    return count;
}

} // namespace
Q_DECLARE_METATYPE(SideBySide::Arrangement)

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
    void labelsStandApart_data();
    void labelsStandApart();
    void tableStopsTheArm();
    void noArmDrawnBelowTheTable();
    void closesWithTheMainWindow();
    void drawsTheEstimateOfTheRealArm_data();
    void drawsTheEstimateOfTheRealArm();
    void showsTheKitsLight_data();
    void showsTheKitsLight();
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
    QTest::addColumn<SideBySide::Arrangement>("arrangement");
    QTest::addColumn<bool>("fullSize");
    using A = SideBySide::Arrangement;
    QTest::newRow("1280x720") << QRect(0, 0, 1280, 720) << A::Beside << false;
    QTest::newRow("1280x720 with a top panel") << QRect(0, 27, 1280, 693) << A::Beside << false;
    QTest::newRow("1366x768") << QRect(0, 0, 1366, 768) << A::Beside << false;
    QTest::newRow("1366x768 with a bottom panel") << QRect(0, 0, 1366, 728) << A::Beside << false;
    QTest::newRow("1280x1024: below leaves it more") << QRect(0, 0, 1280, 1024) << A::Below << false;
    QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080) << A::Beside << true;
    QTest::newRow("1920x1080 right of another screen, top panel") << QRect(1920, 40, 1920, 1040) << A::Beside << true;
    QTest::newRow("2560x1440 left of the primary") << QRect(-2560, 0, 2560, 1440) << A::Beside << true;
    QTest::newRow("smaller than supported") << QRect(0, 0, 1024, 600) << A::Overlapping << false;
}

void TestVirtualArmWindow::placedOnScreen()
{
    QFETCH(QRect, available);
    QFETCH(SideBySide::Arrangement, arrangement);
    QFETCH(bool, fullSize);
    // The real windows' sizes, with the frame a window manager is assumed to add before it says.
    Rig rig;
    const QMargins frame = assumedFrame(*rig.window);
    const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize mainFrame = QSize(800, 442) + extra;
    const QSize armFrame = QSize(940, 540) + extra;
    const QSize armMinimum = rig.window->minimumSizeHint() + extra;
    const SideBySide place = placeSideBySide(mainFrame, armFrame, armMinimum, available);
    const auto text = [](const QRect &r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    const QString where = QStringLiteral("main %1, arm %2").arg(text(place.main), text(place.companion));

    QCOMPARE(place.arrangement, arrangement);
    QCOMPARE(place.main.size(), mainFrame);
    // Wholly on the screen, title bars included, and never smaller than the arm window can be.
    QVERIFY2(available.contains(place.main), qPrintable(where));
    QVERIFY2(available.contains(place.companion), qPrintable(where));
    QVERIFY2(place.companion.width() >= armMinimum.width() && place.companion.height() >= armMinimum.height(),
             qPrintable(where));
    if (arrangement == SideBySide::Arrangement::Overlapping)
        return;
    QVERIFY2(!place.main.intersects(place.companion), qPrintable(where));
    if (fullSize)
        QCOMPARE(place.companion.size(), armFrame);
    else
        QVERIFY2(place.companion.width() < armFrame.width() || place.companion.height() < armFrame.height(),
                 qPrintable(where));
    if (arrangement == SideBySide::Arrangement::Beside) {
        QVERIFY(place.main.right() < place.companion.left());
        QCOMPARE(place.main.top(), place.companion.top());
    } else {
        QVERIFY(place.main.bottom() < place.companion.top());
    }
}

namespace {

// Sizes of the four side-view labels as the window's font draws their longest texts.
QList<QSizeF> labelSizes(bool straining)
{
    QFont f;
    f.setPointSizeF(f.pointSizeF() * 0.92);
    f.setBold(straining);
    const QFontMetricsF fm(f);
    const QString tail = straining ? QStringLiteral(" \u2013 straining") : QString();
    QList<QSizeF> sizes;
    for (const char *text : {"Shoulder 141\u00B0", "Elbow -150\u00B0", "Wrist -60\u00B0", "Gripper 30\u00B0"})
        sizes << QSizeF(fm.horizontalAdvance(QString::fromUtf8(text) + tail) + 14, fm.height() + 6);
    return sizes;
}

QString rectText(const QRectF &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

void TestVirtualArmWindow::labelsStandApart_data()
{
    QTest::addColumn<QSize>("view");
    QTest::addColumn<bool>("straining");
    QTest::newRow("as it opens") << QSize(930, 490) << false;
    QTest::newRow("beside the main window on 1280x720") << QSize(420, 560) << false;
    QTest::newRow("beside the main window on 1366x768") << QSize(510, 620) << false;
    QTest::newRow("smallest") << QSize(ArmViewGeometry::MinimumViewWidth, ArmViewGeometry::MinimumViewHeight)
                              << false;
    QTest::newRow("smallest, every joint straining")
        << QSize(ArmViewGeometry::MinimumViewWidth, ArmViewGeometry::MinimumViewHeight) << true;
}

void TestVirtualArmWindow::labelsStandApart()
{
    QFETCH(QSize, view);
    QFETCH(bool, straining);
    const QList<QSizeF> sizes = labelSizes(straining);
    int poses = 0;
    // Every reach of the arm, in steps fine enough to meet the labels' tight spots.
    for (double shoulder = 0; shoulder <= 180; shoulder += 10) {
        for (double elbow = -150; elbow <= 150; elbow += 15) {
            for (double wrist = -60; wrist <= 60; wrist += 20) {
                for (double gripper : {0.0, 30.0}) {
                    ArmPose pose = ArmPose::home();
                    pose.degrees[int(ArmJoint::Shoulder)] = shoulder;
                    pose.degrees[int(ArmJoint::Elbow)] = elbow;
                    pose.degrees[int(ArmJoint::Wrist)] = wrist;
                    pose.degrees[int(ArmJoint::Gripper)] = gripper;
                    const ArmViewGeometry::SideLayout layout =
                        ArmViewGeometry::sideLayout(pose, QSizeF(view), sizes);
                    const QString where = QStringLiteral("shoulder %1 elbow %2 wrist %3 gripper %4")
                                              .arg(shoulder).arg(elbow).arg(wrist).arg(gripper);
                    QCOMPARE(layout.labels.size(), 4);
                    for (int i = 0; i < 4; ++i) {
                        QVERIFY2(layout.labelBounds.contains(layout.labels[i]),
                                 qPrintable(where + QLatin1Char(' ') + rectText(layout.labels[i])));
                        QCOMPARE(layout.labels[i].size(), sizes[i]);
                        for (int j = i + 1; j < 4; ++j) {
                            QVERIFY2(!layout.labels[i].intersects(layout.labels[j]),
                                     qPrintable(QStringLiteral("%1: label %2 %3 over label %4 %5")
                                                    .arg(where).arg(i).arg(rectText(layout.labels[i])).arg(j)
                                                    .arg(rectText(layout.labels[j]))));
                        }
                    }
                    ++poses;
                }
            }
        }
    }
    QCOMPARE(poses, 19 * 21 * 7 * 2);
}

void TestVirtualArmWindow::tableStopsTheArm()
{
    using namespace ArmViewGeometry;
    const QPointF shoulder(300, 200);
    const double scale = 0.8;
    const double floorY = shoulder.y() + ShoulderHeight * scale;
    const auto distance = [](QPointF a, QPointF b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); };
    int stopped = 0;
    for (double s = 0; s <= 180; s += 7.5) {
        for (double e = -150; e <= 150; e += 10) {
            for (double w = -60; w <= 60; w += 15) {
                ArmPose pose = ArmPose::home();
                pose.degrees[int(ArmJoint::Shoulder)] = s;
                pose.degrees[int(ArmJoint::Elbow)] = e;
                pose.degrees[int(ArmJoint::Wrist)] = w;
                const SideChain free = sideChain(pose, shoulder, scale);
                const SideChain rest = restOnTable(free, floorY);
                const QString where = QStringLiteral("shoulder %1 elbow %2 wrist %3").arg(s).arg(e).arg(w);
                // Nothing below the table.
                for (QPointF p : {rest.elbow, rest.wrist, rest.hand, rest.upperJaw, rest.lowerJaw})
                    QVERIFY2(p.y() <= floorY + 1e-6, qPrintable(where));
                // The parts keep their lengths; the shoulder does not move.
                QCOMPARE(rest.shoulder, shoulder);
                QVERIFY(qAbs(distance(rest.shoulder, rest.elbow) - UpperArmLength * scale) < 1e-6);
                QVERIFY(qAbs(distance(rest.elbow, rest.wrist) - ForearmLength * scale) < 1e-6);
                QVERIFY(qAbs(distance(rest.wrist, rest.hand) - HandLength * scale) < 1e-6);
                QVERIFY(qAbs(distance(rest.hand, rest.upperJaw) - JawLength * scale) < 1e-6);
                QVERIFY(qAbs(distance(rest.upperJaw, rest.lowerJaw) - distance(free.upperJaw, free.lowerJaw)) < 1e-6);
                // A pose clear of the table stands as its angles say; one that is not rests on the table.
                const bool clear = free.elbow.y() <= floorY && free.wrist.y() <= floorY && free.hand.y() <= floorY &&
                                   free.upperJaw.y() <= floorY && free.lowerJaw.y() <= floorY;
                if (clear) {
                    QVERIFY2(rest.wrist == free.wrist && rest.upperJaw == free.upperJaw &&
                                 rest.lowerJaw == free.lowerJaw,
                             qPrintable(where));
                } else {
                    const double lowest = std::max({rest.elbow.y(), rest.wrist.y(), rest.hand.y(), rest.upperJaw.y(),
                                                    rest.lowerJaw.y()});
                    QVERIFY2(lowest > floorY - 1e-3, qPrintable(where + QStringLiteral(": lifted off the table")));
                    ++stopped;
                }
            }
        }
    }
    QVERIFY(stopped > 100); // the sweep does reach below the table
}

void TestVirtualArmWindow::noArmDrawnBelowTheTable()
{
    // The shoulder down flat from home, the forearm still hanging straight down from it: half the
    // forearm below the table by the angles.
    Rig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    rig.send(6);
    rig.now += s(5);
    rig.send(0);
    const ArmPose pose = rig.window->displayedPose();
    QCOMPARE(pose.angle(ArmJoint::Shoulder), 0.0);
    QCOMPARE(pose.angle(ArmJoint::Elbow), -90.0);

    auto *view = rig.window->findChild<QWidget *>(QStringLiteral("armView"));
    QVERIFY(view);
    const ArmViewGeometry::Panels panels = ArmViewGeometry::viewPanels(QSizeF(view->size()));
    const ArmViewGeometry::SideFrame frame = ArmViewGeometry::sideFrame(panels.side.adjusted(10, 34, -10, -10));
    const ArmViewGeometry::SideChain free = ArmViewGeometry::sideChain(pose, frame.shoulder, frame.scale);
    QVERIFY(free.wrist.y() > frame.floorY + 20);

    // The arm's orange, in the side panel: above the table only, and there is some of it.
    const QImage image = view->grab().toImage();
    int above = 0;
    int below = 0;
    for (int y = int(panels.side.top()); y < int(panels.side.bottom()); ++y) {
        for (int x = int(panels.side.left()); x < int(panels.side.right()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 170 && c.green() > 90 && c.green() < 175 && c.blue() < 90)
                ++(y > frame.floorY + 0.5 ? below : above);
        }
    }
    QVERIFY2(above > 500, qPrintable(QString::number(above)));
    QCOMPARE(below, 0);
}

void TestVirtualArmWindow::closesWithTheMainWindow()
{
    VirtualHidTransport transport;
    VirtualArm arm(transport);
    QWidget mainWindow;
    // The headless screen is 800 pixels wide, narrower than the real main window with its frame.
    mainWindow.setFixedSize(400, 300);
    // As the program starts: both placed, then both shown.
    std::unique_ptr<QWidget> armWindow(createVirtualArmWindow(arm));
    showBesideMainWindow(mainWindow, *armWindow);
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    QVERIFY(QTest::qWaitForWindowExposed(armWindow.get()));
    const QRect screen = mainWindow.screen()->availableGeometry();
    QVERIFY(screen.contains(mainWindow.frameGeometry()));
    QVERIFY(screen.contains(armWindow->frameGeometry()));

    // The main window is the one that keeps the program running; the arm's window goes with it.
    QVERIFY(!armWindow->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(mainWindow.close());
    QVERIFY(!armWindow->isVisible());
}

// The window for the real arm draws the estimate: the guess, and faint about it the arm at the
// extremes of its uncertainty; it says it is an estimate, or that the pose is unknown (and draws the
// arm fainter).
void TestVirtualArmWindow::drawsTheEstimateOfTheRealArm_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<double>("spread");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("unlikeExact");
    QTest::newRow("just set") << true << 0.0 << "Elbow: known at its ends \u00B1 0\u00B0" << false;
    QTest::newRow("after some motion") << true << 6.0 << "Elbow: known at its ends \u00B1 6\u00B0" << true;
    QTest::newRow("unknown") << false << 0.0 << "Pose unknown" << true;
}

void TestVirtualArmWindow::drawsTheEstimateOfTheRealArm()
{
    QFETCH(bool, known);
    QFETCH(double, spread);
    QFETCH(QString, message);
    QFETCH(bool, unlikeExact);
    QString said;
    bool plugShown = true;
    const QImage drawn = estimateImage(homeEstimate(known, spread), &said, &plugShown);
    QVERIFY2(said.contains(message), qPrintable(said));
    // The real arm is not the window's to plug in or reset.
    QVERIFY(!plugShown);
    // The same guess, known exactly: what differs is the faint arms about it (and the labels' figures),
    // or for a pose not known the fainter arm.
    const QImage exact = estimateImage(homeEstimate(true, 0.0));
    QCOMPARE(differingPixels(drawn, exact) > 2000, unlikeExact);

    // While a motor turns the estimate moves, and the window follows it frame by frame.
    int asked = 0;
    VirtualArmWindow moving([&asked] {
        ++asked;
        return EstimatedPose{homeEstimate(true, 1.0), 3};
    });
    QVERIFY(moving.isAnimating());
    QTRY_VERIFY(asked > 3);
}

// Posing as the interface kit, the window shows the light in the gripper as the kit's commands set it;
// the HID board has no light and no word of one.
void TestVirtualArmWindow::showsTheKitsLight_data()
{
    QTest::addColumn<bool>("kit");
    QTest::addColumn<QList<bool>>("lights"); // set through the kits' list, one after another
    QTest::newRow("the HID board") << false << QList<bool>{};
    QTest::newRow("a kit, dark") << true << QList<bool>{};
    QTest::newRow("a kit, lit") << true << QList<bool>{true};
    QTest::newRow("a kit, lit then dark") << true << QList<bool>{true, false};
}

void TestVirtualArmWindow::showsTheKitsLight()
{
    QFETCH(bool, kit);
    QFETCH(QList<bool>, lights);
    VirtualHidTransport transport;
    VirtualKitTransport kits;
    std::unique_ptr<VirtualArm> arm = kit ? std::make_unique<VirtualArm>(kits) : std::make_unique<VirtualArm>(transport);
    KitArmList list(kits);
    list.start();
    VirtualArmWindow window(*arm);
    window.resize(860, 500);
    for (const bool on : lights)
        QVERIFY(list.setLight(on, 0).allTook);
    const bool lit = !lights.isEmpty() && lights.last();
    QTRY_COMPARE(window.lightShown(), lit);
    auto *label = window.findChild<QLabel *>(QStringLiteral("lightLabel"));
    QVERIFY(label);
    QCOMPARE(label->isVisibleTo(&window), kit);
    if (kit)
        QCOMPARE(label->text(), lit ? QStringLiteral("Light on") : QStringLiteral("Light off"));
    // The lamp's yellow, drawn between the jaws only while lit.
    const QImage image = window.grab().toImage();
    int lamp = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 240 && c.green() > 200 && c.blue() < 110)
                ++lamp;
        }
    }
    QCOMPARE(lamp > 20, lit);
}

QTEST_MAIN(TestVirtualArmWindow)
#include "tst_virtualarmwindow.moc"
