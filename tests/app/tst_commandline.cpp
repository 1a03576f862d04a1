#include "AppOptions.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// A script named on the command line, as a file manager passes it.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scriptArgument_data();
    void scriptArgument();
    void programOpensTheScript_data();
    void programOpensTheScript();
};

void tst_CommandLine::scriptArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("fails");

    QTest::newRow("none") << QStringList{"--virtual-arm"} << "" << false;
    QTest::newRow("after the options") << QStringList{"--virtual-arm", "a.SRP"} << "a.SRP" << false;
    QTest::newRow("before the options") << QStringList{"/tmp/a b.srp", "--virtual-arm"} << "/tmp/a b.srp" << false;
    QTest::newRow("after a log value")
        << QStringList{"--virtual-arm", "--virtual-arm-log", "x.log", "s.SRP"} << "s.SRP" << false;
    QTest::newRow("the virtual kit") << QStringList{"--virtual-arm=kit", "k.SRP"} << "k.SRP" << false;
    QTest::newRow("the virtual HID board") << QStringList{"--virtual-arm=HID"} << "" << false;
    QTest::newRow("no such kind of arm") << QStringList{"--virtual-arm=usb"} << "" << true;
    QTest::newRow("dash name after --") << QStringList{"--", "-odd.SRP"} << "-odd.SRP" << false;
    QTest::newRow("dash name without --") << QStringList{"-odd.SRP"} << "" << true;
    QTest::newRow("two scripts") << QStringList{"a.SRP", "b.SRP"} << "" << true;
    QTest::newRow("two after --") << QStringList{"--", "a.SRP", "b.SRP"} << "" << true;
    QTest::newRow("empty name") << QStringList{""} << "" << true;
}

void tst_CommandLine::scriptArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, script);
    QFETCH(bool, fails);

    arguments.prepend(QStringLiteral("tessaro"));
    const AppOptions options = AppOptions::parse(arguments);
    QCOMPARE(!options.error.isEmpty(), fails);
    if (!fails)
        QCOMPARE(options.scriptFile, script);
    if (!fails)
        QCOMPARE(options.virtualKit, arguments.contains(QStringLiteral("--virtual-arm=kit")));
}

void tst_CommandLine::programOpensTheScript_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");

    // Relative names are taken from where the program was started, not from its own folder.
    QTest::newRow("good") << "two.SRP" << "Tessaro (%1/two.SRP)" << "";
    QTest::newRow("missing") << "none.SRP" << "Tessaro" << "message Error: ";
    QTest::newRow("unreadable") << "folder.SRP" << "Tessaro" << "message Error: ";
}

void tst_CommandLine::programOpensTheScript()
{
    QFETCH(QString, argument);
    QFETCH(QString, title);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("two.SRP")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"ElbowUp\",\" 1\"\r\n\" 2\",\"Pause\",\" 2\"\r\n");
    script.close();
    // A folder cannot be read as a script.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.SRP")));

    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TESSARO_APP), {"--virtual-arm", "--startup-probe", argument});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());

    QVERIFY2(output.contains(QStringLiteral("\ntitle %1\n").arg(title.arg(dir.path()))), qPrintable(output));
    const qsizetype at = output.indexOf(QStringLiteral("\nmessage "));
    if (message.isEmpty()) {
        QVERIFY2(at < 0, qPrintable(output));
    } else {
        // The same report as Load gives: the error box names the file.
        QVERIFY2(at >= 0, qPrintable(output));
        QVERIFY2(output.mid(at + 1).startsWith(message), qPrintable(output));
        QVERIFY2(output.mid(at).contains(dir.filePath(argument)), qPrintable(output));
    }
}

QTEST_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
