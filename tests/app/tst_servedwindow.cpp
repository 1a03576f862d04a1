#include "ControlBanner.h"
#include "HoverButton.h"
#include "KitArmList.h"
#include "MacButtonD.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "ServiceSocket.h"
#include "ServiceTestSupport.h"
#include "VirtualArm.h"
#include "VirtualKitTransport.h"
#include "WindowHarness.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool lit(const HoverButton *button)
{
    return button->backcolor() == frmMain::OnColor;
}

const QJsonObject ElbowUp{{QStringLiteral("elbow"), QStringLiteral("up")}};

} // namespace

// The window serves its arms to other programs, on a virtual kit: a client that takes control drives
// through the window's panel and is shown there, and the operator stops it and takes control back.
class tst_ServedWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString socketPath() const { return m_dir.filePath(QStringLiteral("tessaro/arm.sock")); }
    // This test program, as the server names its clients.
    static QString self() { return ServiceSocket::describe(QCoreApplication::applicationPid()); }

private Q_SLOTS:
    void aClientDrivesAndIsStopped_data()
    {
        QTest::addColumn<QString>("ending");
        // What the client's held motion says as it ends; empty: no reply is looked at.
        QTest::addColumn<QString>("message");
        const QString revoked = QStringLiteral("stopped by the owner: control was taken back");
        QTest::newRow("Esc") << "Esc" << revoked;
        QTest::newRow("Space") << "Space" << revoked;
        QTest::newRow("the Stop button") << "Stop" << revoked;
        QTest::newRow("Take control back") << "take back"
                                           << "control was taken back by the owner";
        QTest::newRow("the client lets go") << "release"
                                            << "control was released";
        QTest::newRow("the client goes away") << "disconnect"
                                              << "";
    }
    void aClientDrivesAndIsStopped()
    {
        QFETCH(QString, ending);
        VirtualKitTransport kitTransport;
        VirtualArm kit(kitTransport);
        QList<int> codes;
        connect(&kit, &VirtualArm::commandReceived, this, [&codes](int code) { codes << code; });
        KitArmList kits(kitTransport);
        WindowHarness h;
        h.kits = &kits;
        h.servicePath = socketPath();
        frmMain &w = h.open();
        QVERIFY(w.service());

        TestClient client(socketPath());
        QCOMPARE(client.greeting().value(QLatin1String("owner")).toString(), QStringLiteral("tessaro"));
        QVERIFY(client.request(1, QStringLiteral("take")).value(QLatin1String("ok")).toBool());
        QCOMPARE(w.Driver(), self());
        QCOMPARE(w.controlBanner().text(), QStringLiteral("Driven by %1").arg(self()));
        QVERIFY(!ui::FrameMain(w)->isEnabled());
        QCOMPARE(ui::cmdRun(w)->Caption(), QStringLiteral("Stop"));
        QVERIFY(w.EditLockText().contains(self()));
        ui::optScripting(w)->SetValue(true);

        client.send(2, QStringLiteral("hold"),
                    {{QStringLiteral("joints"), ElbowUp}, {QStringLiteral("holdMs"), 1000}});
        QTRY_COMPARE(codes, QList<int>{3});
        QVERIFY(lit(ui::cmdControl(w)[3]));
        // A client's motion is not the operator's: nothing is recorded, even in Scripting mode.
        QCOMPARE(ui::NextStep(w), qint16(1));

        if (ending == u"Esc")
            QTest::keyClick(ui::Grid(w), Qt::Key_Escape);
        else if (ending == u"Space")
            QTest::keyClick(ui::Grid(w), Qt::Key_Space);
        else if (ending == u"Stop")
            QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        else if (ending == u"take back")
            QTest::mouseClick(w.controlBanner().button(), Qt::LeftButton);
        else if (ending == u"release")
            client.send(3, QStringLiteral("release"));
        else
            client.socket().disconnectFromServer();

        QTRY_VERIFY(!codes.isEmpty() && codes.last() == 0);
        QFETCH(QString, message);
        if (!message.isEmpty()) {
            const QJsonObject reply = client.waitReply(2);
            QCOMPARE(reply.value(QLatin1String("ended")).toString(), QStringLiteral("stopped"));
            QCOMPARE(reply.value(QLatin1String("message")).toString(), message);
        }
        // The operator has the arm again, and the panel is back.
        QTRY_COMPARE(w.Driver(), QString());
        QVERIFY(ui::FrameMain(w)->isEnabled());
        QVERIFY(!w.controlBanner().isVisible());
        QCOMPARE(ui::cmdRun(w)->Caption(), QStringLiteral("Run"));
        QVERIFY(!lit(ui::cmdControl(w)[3]));
        if (client.connected()) {
            const QJsonObject status = client.request(4, QStringLiteral("status"));
            QVERIFY(status.value(QLatin1String("control")).isNull());
            QCOMPARE(status.value(QLatin1String("you")).toBool(), false);
        }
    }

    // A second window finds the first serving: it opens no arm, names the owner, shows the motion a
    // client drives there, stops it with Esc, and says when the owner has gone.
    void aSecondWindowWatches()
    {
        WindowHarness owner;
        owner.addArm();
        owner.servicePath = socketPath();
        frmMain &first = owner.open();
        QVERIFY(first.service());
        WindowHarness watcher;
        watcher.addArm();
        watcher.servicePath = socketPath();
        frmMain &second = watcher.open();
        const QString named = QStringLiteral("tessaro, pid %1").arg(QCoreApplication::applicationPid());
        // The first window greets once this thread's loop turns: in the probe, the owner seemed silent.
        QTRY_COMPARE(second.WatchedOwner(), named);
        QVERIFY(!second.service());
        QVERIFY(second.session().attachedArms().isEmpty());
        QVERIFY(
            second.controlBanner().text().startsWith(QStringLiteral("The arm is served by %1").arg(named)));
        QVERIFY(!ui::FrameMain(second)->isEnabled());

        TestClient client(socketPath());
        QVERIFY(client.request(1, QStringLiteral("take")).value(QLatin1String("ok")).toBool());
        QTRY_VERIFY(second.controlBanner().text().endsWith(QStringLiteral("Driven by %1").arg(self())));
        client.send(2, QStringLiteral("move"),
                    {{QStringLiteral("joints"), ElbowUp}, {QStringLiteral("ms"), 5000}});
        QTRY_VERIFY(lit(ui::cmdControl(second)[3]));
        QTest::keyClick(ui::Grid(second), Qt::Key_Escape);
        const QJsonObject reply = client.waitReply(2);
        QCOMPARE(reply.value(QLatin1String("ended")).toString(), QStringLiteral("stopped"));
        QTRY_VERIFY(!lit(ui::cmdControl(second)[3]));
        QCOMPARE(owner.codes().last(), 0);

        owner.destroyWindow();
        QTRY_VERIFY(second.controlBanner().text().contains(QStringLiteral("no longer serves the arm")));
        QVERIFY(!ui::FrameMain(second)->isEnabled());
    }
};

QTEST_MAIN(tst_ServedWindow)
#include "tst_servedwindow.moc"
