#include "AppOptions.h"
#include "MacButton.h"
#include "frmAbout.h"
#include "frmMsg.h"
#include "frmSplashScreen.h"

#include <QPointer>
#include <QTest>

// The small windows and the command line.
class tst_MainWindowAux : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void options_data();
    void options();
    void messagePosition_data();
    void messagePosition();
    void messageWindowPlacesItself();
    void messageClosesOnOk();
    void splashOpensMainWindowAfterThreeSeconds();
    void aboutTexts();
};

void tst_MainWindowAux::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("virtualArm");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<bool>("fails");

    QTest::newRow("none") << QStringList{} << false << "" << false << false << false;
    QTest::newRow("virtual arm") << QStringList{"--virtual-arm"} << true << "" << false << false << false;
    QTest::newRow("log with a separate value")
        << QStringList{"--virtual-arm", "--virtual-arm-log", "/tmp/a.log"} << true << "/tmp/a.log" << false
        << false << false;
    QTest::newRow("log with =") << QStringList{"--virtual-arm-log=/tmp/b.log", "--virtual-arm"} << true
                                << "/tmp/b.log" << false << false << false;
    QTest::newRow("log without its value")
        << QStringList{"--virtual-arm", "--virtual-arm-log"} << true << "" << false << false << true;
    QTest::newRow("log with an empty value")
        << QStringList{"--virtual-arm", "--virtual-arm-log="} << true << "" << false << false << true;
    QTest::newRow("log without the virtual arm")
        << QStringList{"--virtual-arm-log", "/tmp/c.log"} << false << "/tmp/c.log" << false << false << true;
    QTest::newRow("realistic arm") << QStringList{"--virtual-arm-realistic"} << true << "" << false << false << false;
    QTest::newRow("realistic arm of a seed")
        << QStringList{"--virtual-arm-realistic=7", "s.SRP"} << true << "" << false << false << false;
    QTest::newRow("realistic arm of no number")
        << QStringList{"--virtual-arm-realistic=x"} << true << "" << false << false << true;
    QTest::newRow("help") << QStringList{"--help"} << false << "" << true << false << false;
    QTest::newRow("version") << QStringList{"--version"} << false << "" << false << true << false;
    QTest::newRow("unknown option") << QStringList{"--virtual"} << false << "" << false << false << true;
    QTest::newRow("two scripts") << QStringList{"a.SRP", "b.SRP"} << false << "" << false << false << true;
}

void tst_MainWindowAux::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, virtualArm);
    QFETCH(QString, log);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(bool, fails);

    arguments.prepend(QStringLiteral("tessaro"));
    const AppOptions options = AppOptions::parse(arguments);
    QCOMPARE(!options.error.isEmpty(), fails);
    if (fails)
        return;
    QCOMPARE(options.virtualArm, virtualArm);
    QCOMPARE(options.virtualArmLog, log);
    QCOMPARE(options.help, help);
    QCOMPARE(options.version, version);
    QVERIFY(!options.startupProbe);
    const QString realistic = arguments.filter(QStringLiteral("--virtual-arm-realistic")).value(0);
    QCOMPARE(options.virtualArmFaultSeed.has_value(), !realistic.isEmpty());
    if (!realistic.isEmpty())
        QCOMPARE(*options.virtualArmFaultSeed, realistic.contains(u'=') ? realistic.section(u'=', 1).toUInt()
                                                                        : AppOptions::DefaultFaultSeed);
}

void tst_MainWindowAux::messagePosition_data()
{
    QTest::addColumn<QVariant>("top");
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("ownWidth");
    QTest::addColumn<QPointF>("expected");

    QTest::newRow("centred on a wider area")
        << QVariant(1000) << QVariant(2000) << 9000 << 6600 << QPointF(3200, 1250);
    QTest::newRow("half a twip stays") << QVariant(0) << QVariant(0) << 6601 << 6600 << QPointF(0.5, 250);
    QTest::newRow("narrower area") << QVariant(-500) << QVariant(100.5) << 3000 << 6510
                                   << QPointF(100.5 - 1755, -250);
    QTest::newRow("text values") << QVariant(QStringLiteral("15")) << QVariant(QStringLiteral("30")) << 600
                                 << 600 << QPointF(30, 265);
}

void tst_MainWindowAux::messagePosition()
{
    QFETCH(QVariant, top);
    QFETCH(QVariant, left);
    QFETCH(int, width);
    QFETCH(int, ownWidth);
    QFETCH(QPointF, expected);
    QCOMPARE(frmMsg::positionFor(top, left, width, ownWidth), expected);
}

void tst_MainWindowAux::messageWindowPlacesItself()
{
    frmMsg msg;
    QCOMPARE(msg.windowTitle(), QStringLiteral("Information"));
    QCOMPARE(msg.size(), QSize(434, 136));
    QCOMPARE(msg.lblMainTitle->text(), QStringLiteral("Title"));
    QCOMPARE(msg.lblSubTitle->text(), QStringLiteral("Sub Title"));
    QCOMPARE(msg.pctInfo->pixmap().deviceIndependentSize(), QSizeF(64, 64));

    msg.PTop = 1500;
    msg.PLeft = 3000;
    msg.PWidth = 12000;
    msg.SetPosition();
    // 6510 twips wide: left 3000 + (12000 - 6510) / 2 = 5745 twips = 383 px; top 1750 twips = 117 px.
    QCOMPARE(msg.pos(), QPoint(383, 117));
}

void tst_MainWindowAux::messageClosesOnOk()
{
    auto *msg = new frmMsg;
    msg->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<frmMsg> guard(msg);
    msg->show();
    QCOMPARE(msg->cmdOK->Caption(), QStringLiteral("OK"));
    QTest::mouseClick(msg->cmdOK, Qt::LeftButton);
    QTRY_VERIFY(!guard);
}

void tst_MainWindowAux::splashOpensMainWindowAfterThreeSeconds()
{
    QWidget main;
    int loads = 0;
    QElapsedTimer clock;
    clock.start();
    auto *splash = new frmSplashScreen([&] {
        ++loads;
        return &main;
    });
    splash->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<frmSplashScreen> guard(splash);
    QCOMPARE(splash->windowTitle(), QStringLiteral("KORIVPro"));
    QCOMPARE(splash->Label2->text(), QStringLiteral("v2.0 (USB)"));
    QVERIFY(splash->Timer->isActive());
    QVERIFY(splash->Timer->isSingleShot());
    QCOMPARE(splash->Timer->timerType(), Qt::PreciseTimer);
    QCOMPARE(splash->Timer->interval(), 3000);
    splash->show();

    QTRY_VERIFY_WITH_TIMEOUT(!guard, 6000);
    QVERIFY2(clock.elapsed() >= 2995, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(loads, 1);
    QVERIFY(main.isVisible());
}

void tst_MainWindowAux::aboutTexts()
{
    frmAbout about;
    QCOMPARE(about.size(), QSize(393, 298));
    QCOMPARE(about.Label2->text(), QStringLiteral("v2.0 (USB)"));
    QCOMPARE(about.Label3->text(),
             QStringLiteral("OWI-535 Robotic Arm Interface to control and automate the arm movements."));
    QVERIFY(about.Label3->wordWrap());
    QCOMPARE(about.cmdOK->Caption(), QStringLiteral("Close"));
    QCOMPARE(about.cmdOK->pos(), QPoint(284, 267));
}

QTEST_MAIN(tst_MainWindowAux)
#include "tst_mainwindow_aux.moc"
