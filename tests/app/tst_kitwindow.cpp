#include "HoverButton.h"
#include "KitArmList.h"
#include "KitCommand.h"
#include "LampButton.h"
#include "MotionPanel.h"
#include "VirtualArm.h"
#include "VirtualKitTransport.h"
#include "WindowHarness.h"

#include <QLabel>
#include <QTest>

// The USB interface kit in the window: an arm like the HID arm for Ready, the motion buttons and the
// status line's tooltip, with the gripper's lamp button and the key L for its light.
class tst_KitWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void kitInTheWindow_data()
    {
        QTest::addColumn<bool>("hidArm");
        QTest::addColumn<bool>("kitAtStart");    // plugged in before the window opens
        QTest::addColumn<QByteArray>("options"); // TESSARO.INI
        // Done in turn: lamp (a click on the lamp), L / ctrl-L (the key on the arm picture), mN (a click
        // on motion button N), plug and unplug (the kit).
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QStringList>("kitBytes");
        QTest::addColumn<QList<int>>("hidCodes");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("lampEnabled");
        QTest::addColumn<QString>("toolTip");
        const QString hid = QStringLiteral("HID board 1e6f:1113, virtual/arm0");
        const QString kit = QStringLiteral("USB interface kit 1267:0000 on bus 0, address 1");
        QTest::newRow("a HID arm alone: no light to switch")
            << true << false << QByteArray() << "lamp L" << QStringList{} << QList<int>{} << true << false
            << hid;
        QTest::newRow("a kit: the lamp and L switch its light")
            << false << true << QByteArray() << "lamp L L ctrl-L" << QStringList{"000001", "000000", "000001"}
            << QList<int>{} << true << true << kit;
        QTest::newRow("a kit beside a HID arm: the motion with the light, the stop keeps it")
            << true << true << QByteArray() << "m3 lamp m3" << QStringList{"100000", "100001", "000001"}
            << QList<int>{3, 0} << true << true << hid + u'\n' + kit;
        QTest::newRow("a reversed base in the options file")
            << false << true << QByteArray("BaseReversed=Yes\r\n") << "m7 m7"
            << QStringList{"000200", "000000"} << QList<int>{} << true << true << kit;
        QTest::newRow("a kit plugged in while the window is open makes it Ready")
            << false << false << QByteArray() << "plug lamp" << QStringList{"000001"} << QList<int>{} << true
            << true << kit;
        // The motion the kit had when it went is nobody's: the light comes back with a stop.
        QTest::newRow("the lamp after an unplug and a replug sends no motion")
            << false << true << QByteArray() << "m5 unplug plug lamp" << QStringList{"010000", "000001"}
            << QList<int>{} << true << true << kit;
        QTest::newRow("the only kit unplugged: Disconnected, the lamp off")
            << false << true << QByteArray() << "unplug lamp" << QStringList{} << QList<int>{} << false
            << false << "No arm attached";
    }

    void kitInTheWindow()
    {
        QFETCH(bool, hidArm);
        QFETCH(bool, kitAtStart);
        QFETCH(QByteArray, options);
        QFETCH(QString, actions);
        VirtualKitTransport kitTransport;
        VirtualArm kit(kitTransport);
        QStringList got;
        connect(&kit, &VirtualArm::commandReceived, this, [&](int, qint64, const QByteArray &bytes) {
            got.append(QString::fromLatin1(bytes.toHex()));
        });
        if (!kitAtStart)
            kit.unplug();
        KitArmList kits(kitTransport);
        WindowHarness h;
        if (hidArm)
            h.addArm();
        if (!options.isEmpty())
            h.writeOptions(options);
        h.kits = &kits;
        frmMain &w = h.open();
        QVERIFY(ui::cmdLamp(w));
        QVERIFY(ui::cmdLamp(w)->isVisibleTo(&w));
        for (const QString &action : actions.split(u' ')) {
            if (action == u"lamp")
                QTest::mouseClick(ui::cmdLamp(w), Qt::LeftButton);
            else if (action == u"L")
                QTest::keyClick(ui::FrameMain(w), Qt::Key_L);
            else if (action == u"ctrl-L")
                QTest::keyClick(ui::FrameMain(w), Qt::Key_L, Qt::ControlModifier);
            else if (action == u"plug")
                kit.plugIn();
            else if (action == u"unplug")
                kit.unplug();
            else
                h.click(action.mid(1).toInt());
        }
        QFETCH(QStringList, kitBytes);
        QTRY_COMPARE(got, kitBytes);
        QFETCH(bool, ready);
        QCOMPARE(w.ConnectionState() == frmMain::Ready, ready);
        QCOMPARE(ui::lblDisp(w)->text(), ready ? frmMain::ReadyText : frmMain::DisconnectedText);
        QFETCH(bool, lampEnabled);
        QCOMPARE(ui::cmdLamp(w)->isEnabled(), lampEnabled);
        QTEST(ui::lblDisp(w)->toolTip(), "toolTip");
        // The HID arm got the motions, and nothing of the key or the lamp.
        QTEST(h.codes(), "hidCodes");
    }
};

QTEST_MAIN(tst_KitWindow)
#include "tst_kitwindow.moc"
