#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

// Runs the built tessaro-cli as a user would and checks what it prints and how it exits.
class TestCli : public QObject
{
    Q_OBJECT

private:
    struct Outcome
    {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    static Outcome cli(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral(TESSARO_CLI), args);
        if (!p.waitForFinished(60000))
            qFatal("tessaro-cli did not finish");
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return path;
    }

    // The command codes of a virtual-arm log, one line per report: "seconds code hex".
    static QList<int> loggedCodes(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<int> codes;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 3)
                codes.append(parts[1].toInt());
        }
        return codes;
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void describePrintsTheLayout()
    {
        // A Generic Desktop collection: X and Y in, one output byte.
        const QString path = write(QStringLiteral("arm.hex"),
                                   "05 01 09 00 a1 01 09 30 09 31 15 00 26 ff 00 75 08 95 02 81 02\n"
                                   "09 3e 95 01 91 02 c0\n");
        const Outcome r = cli({QStringLiteral("describe"), path});
        QCOMPARE(r.status, 0);
        const QJsonObject json = QJsonDocument::fromJson(r.out).object();
        const QJsonArray reports = json.value(QLatin1String("reports")).toArray();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports[0].toObject().value(QLatin1String("type")).toString(), QStringLiteral("Input"));
        QCOMPARE(reports[0].toObject().value(QLatin1String("size_bytes")).toInt(), 2);
        const QJsonArray vars = json.value(QLatin1String("variables")).toArray();
        QCOMPARE(vars.size(), 3);
        const QJsonObject out = vars[2].toObject();
        QCOMPARE(out.value(QLatin1String("type")).toString(), QStringLiteral("Output"));
        QCOMPARE(out.value(QLatin1String("usage")).toInt(), 0x3e);
        QCOMPARE(out.value(QLatin1String("bit_offset")).toInt(), 0);
        QCOMPARE(vars[1].toObject().value(QLatin1String("bit_offset")).toInt(), 8);
    }

    void describeRefusesBadInput()
    {
        // Usage Page with a 2-byte size but one byte left.
        const Outcome bad = cli({QStringLiteral("describe"), write(QStringLiteral("bad.hex"), "05 01 06 01")});
        QCOMPARE(bad.status, 2);
        QVERIFY(bad.out.isEmpty());
        QCOMPARE(bad.err.count('\n'), 1);
        QVERIFY2(bad.err.contains('2'), bad.err.constData()); // the offset of the cut item

        const Outcome missing = cli({QStringLiteral("describe"), m_dir.filePath(QStringLiteral("none"))});
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.out.isEmpty());
    }

    void describeKeepsMemoryNearItsOutput()
    {
        // 256 Input items of 255 one-bit fields: 65,280 variables from 525 bytes.
        QByteArray hex = "05 01 09 00 a1 01 15 00 25 01 75 01 95 ff\n";
        for (int i = 0; i < 256; ++i)
            hex += "81 02\n";
        hex += "c0\n";
        const QString path = write(QStringLiteral("wide.hex"), hex);
        const QString json = m_dir.filePath(QStringLiteral("wide.json"));
        QProcess p;
        p.setStandardOutputFile(json);
        p.start(QStringLiteral(TESSARO_CLI), {QStringLiteral("describe"), path});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);

        rusage usage{};
        QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
        const qint64 peakBytes = qint64(usage.ru_maxrss) * 1024;
        const qint64 outputBytes = QFileInfo(json).size();
        qInfo("describe: %lld bytes of JSON, peak resident %lld bytes", outputBytes, peakBytes);
        QVERIFY2(outputBytes > 40'000'000, "the descriptor should describe 65,280 variables");
        QVERIFY2(peakBytes < 2 * outputBytes, qPrintable(QStringLiteral("peak %1 bytes").arg(peakBytes)));

        QFile f(json);
        QVERIFY(f.open(QIODevice::ReadOnly));
        f.seek(f.size() - 4096);
        const QByteArray tail = f.read(4096);
        QVERIFY2(tail.contains("\"index\": 65279"), tail.right(300).constData());
        QVERIFY(tail.trimmed().endsWith("    ]\n}"));
    }

    void runPlaysAScriptOnTheVirtualArm()
    {
        const QString script = write(QStringLiteral("two.SRP"), "\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                               "\" 1\",\"ElbowUp\",\" .03\"\r\n"
                                                               "\" 2\",\"Pause\",\" .01\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("arm.log"));
        const Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--reps"), QStringLiteral("2"),
                               QStringLiteral("--virtual-arm"), QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 0);
        // No stop between steps or repetitions, one at the end.
        QCOMPARE(loggedCodes(log), (QList<int>{3, 0, 3, 0, 0}));
        QCOMPARE(r.out.count("ElbowUp"), 2);
        QVERIFY2(r.out.contains("Final pose: "), r.out.constData());
    }

    void runRefusesWhatItCannotPlay_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("status");
        QTest::newRow("count beyond the step counter")
            << QByteArray("\" 40000\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 0\"\r\n")
            << QByteArray("the step count 40000 does not fit: a script holds at most 32766 steps") << 65;
        QTest::newRow("no steps") << QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n")
                                  << QByteArray("Empty script!") << 65;
        QTest::newRow("not a script") << QByteArray("Shopping list\r\n3 apples\r\n")
                                      << QByteArray("refused.SRP is not a Tessaro script (its first line is not a "
                                                    "step count)")
                                      << 65;
    }

    void runRefusesWhatItCannotPlay()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, message);
        QFETCH(int, status);
        const Outcome r = cli({QStringLiteral("run"), write(QStringLiteral("refused.SRP"), script),
                               QStringLiteral("--virtual-arm")});
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(!r.err.contains("Empty script!") || message == "Empty script!");
        QVERIFY(r.out.isEmpty());
    }

    // Steps that are not motions are named, every one, and played as written only when asked to.
    void runPlaysUnknownStepsOnlyWhenAskedTo()
    {
        const QString script =
            write(QStringLiteral("grab.SRP"), "\" 3\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"ElbowUp\",\" .02\"\r\n"
                                              "\" 2\",\"Grab\",\" .02\"\r\n\" 3\",\"wristup\",\" .02\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("grab.log"));
        Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 67);
        QVERIFY2(r.err.contains("Step 2 \"Grab\" is not a motion: ElbowUp keeps running through it"),
                 r.err.constData());
        QVERIFY2(r.err.contains("Step 3 \"wristup\" is not a motion: ElbowUp keeps running through it"),
                 r.err.constData());
        QVERIFY2(r.err.contains("--allow-unknown-steps"), r.err.constData());
        QVERIFY(loggedCodes(log).isEmpty());

        r = cli({QStringLiteral("run"), script, QStringLiteral("--allow-unknown-steps"),
                 QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 0);
        QCOMPARE(loggedCodes(log), (QList<int>{3, 0}));
    }

    void runEndsWhenACommandFails_data()
    {
        QTest::addColumn<int>("failedWrite");
        QTest::addColumn<QList<int>>("logged");
        QTest::addColumn<QByteArray>("step");
        // ElbowUp, Pause, twice, then the stop: five reports when none fails. The stop still goes out.
        QTest::newRow("first command") << 1 << QList<int>{0} << QByteArray("step 1 (ElbowUp)");
        QTest::newRow("second step") << 2 << QList<int>{3, 0} << QByteArray("step 2 (Pause)");
        QTest::newRow("second repetition") << 3 << QList<int>{3, 0, 0} << QByteArray("step 1 (ElbowUp)");
        QTest::newRow("final stop") << 5 << QList<int>{3, 0, 3, 0} << QByteArray("step 2 (Pause)");
    }

    void runEndsWhenACommandFails()
    {
        QFETCH(int, failedWrite);
        QFETCH(QList<int>, logged);
        QFETCH(QByteArray, step);
        const QString script = write(QStringLiteral("fail.SRP"), "\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                                "\" 1\",\"ElbowUp\",\" .03\"\r\n"
                                                                "\" 2\",\"Pause\",\" .01\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("fail%1.log").arg(failedWrite));
        const Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--reps"), QStringLiteral("2"),
                               QStringLiteral("--virtual-arm-log"), log, QStringLiteral("--virtual-arm-fail-write"),
                               QString::number(failedWrite)});
        QCOMPARE(r.status, 5);
        QCOMPARE(loggedCodes(log), logged);
        QVERIFY2(r.err.contains("a command did not reach the arm during " + step), r.err.constData());
        QVERIFY2(r.err.contains("not written"), r.err.constData());
    }

    void runWithoutAnArmSaysSo()
    {
        const QString script = write(QStringLiteral("one.SRP"),
                                     "\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 0\"\r\n");
        // The real transport: this machine has no arm attached.
        const Outcome r = cli({QStringLiteral("run"), script});
        QCOMPARE(r.status, 3);
        QVERIFY(r.err.contains("no robotic arm"));
    }

    void gamepadCommand_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("waits for a pad, for a while")
            << QStringList{"gamepad", "--virtual-arm", "--for", "0.2"} << 0
            << QByteArray("No gamepad attached; waiting for one.\n");
        QTest::newRow("help") << QStringList{"gamepad", "--help"} << 0
                              << QByteArray("Usage: tessaro-cli gamepad [--for SECONDS] [--virtual-arm]\n");
        QTest::newRow("negative time") << QStringList{"gamepad", "--for", "-1"} << 64 << QByteArray();
        QTest::newRow("unknown option") << QStringList{"gamepad", "--all"} << 64 << QByteArray();
    }
    void gamepadCommand()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, printed);
        const Outcome r = cli(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.out.startsWith(printed), r.out.constData());
        QCOMPARE(r.err.isEmpty(), status == 0);
    }

    void interruptStopsTheArm()
    {
        const QString script = write(QStringLiteral("long.SRP"),
                                     "\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"BaseCW\",\" 30\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("stop.log"));
        QProcess p;
        p.start(QStringLiteral(TESSARO_CLI), {QStringLiteral("run"), script, QStringLiteral("--virtual-arm"),
                                              QStringLiteral("--virtual-arm-log"), log});
        QVERIFY(p.waitForStarted());
        // The first step has gone out once its line is printed.
        QTRY_VERIFY_WITH_TIMEOUT((p.waitForReadyRead(100), p.peek(4096).contains("BaseCW")), 20000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 128 + SIGINT);
        QCOMPARE(loggedCodes(log), (QList<int>{7, 0}));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
