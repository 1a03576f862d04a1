#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>

#include <QRegularExpression>

#include <csignal>

#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

    // Runs tessaro-cli with its output on a terminal `columns` wide, as from an interactive shell.
    static Outcome cliOnTerminal(const QStringList &args, int columns)
    {
        QList<QByteArray> argv{QByteArrayLiteral(TESSARO_CLI)};
        for (const QString &a : args)
            argv << a.toLocal8Bit();
        QList<char *> pointers;
        for (QByteArray &a : argv)
            pointers << a.data();
        pointers << nullptr;
        winsize size{};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = 24;
        int terminal = -1;
        const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
        if (pid < 0)
            qFatal("forkpty failed");
        if (pid == 0) {
            ::execv(pointers[0], pointers.data());
            ::_exit(127);
        }
        Outcome r;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(terminal, buffer, sizeof buffer);
            if (n <= 0)
                break; // EIO once the program has ended and closed its side
            r.out.append(buffer, n);
        }
        ::close(terminal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }

    static bool armAttached()
    {
        const Outcome present = cli({QStringLiteral("devices")});
        return present.status == 0 && present.out.contains("USB 1e6f:1113");
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

    // The report bytes of a virtual-arm log, in hex, one entry per report.
    static QStringList loggedBytes(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList bytes;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 3)
                bytes.append(QString::fromLatin1(parts[2]));
        }
        return bytes;
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
        // Not on a terminal: the total first, a plain line per step, the summary, the estimated and the
        // true pose.
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.value(0), QByteArray("Total 0.04 s \xC3\x97 2 = 0.08 s"));
        QCOMPARE(lines.value(1), QByteArray("Repetition 1 of 2  Step 1 of 2  ElbowUp  .03 s"));
        QCOMPARE(lines.value(4), QByteArray("Repetition 2 of 2  Step 2 of 2  Pause  .01 s"));
        QCOMPARE(r.out.count("ElbowUp"), 2);
        QVERIFY2(lines.value(5).startsWith("Run finished: 2 repetitions, "), r.out.constData());
        QVERIFY2(lines.value(6).startsWith("Estimated pose: base unknown"), r.out.constData());
        QVERIFY2(lines.value(7).startsWith("Final pose: base 0.0 shoulder"), r.out.constData());
        QVERIFY(!r.out.contains('\r'));
        QVERIFY(r.err.isEmpty());

        // Quiet: the same run, not a word.
        const QString quietLog = m_dir.filePath(QStringLiteral("quiet.log"));
        const Outcome quiet = cli({QStringLiteral("run"), script, QStringLiteral("--reps=2"), QStringLiteral("--quiet"),
                                   QStringLiteral("--virtual-arm-log"), quietLog});
        QCOMPARE(quiet.status, 0);
        QCOMPARE(loggedCodes(quietLog), (QList<int>{3, 0, 3, 0, 0}));
        QCOMPARE(quiet.out, QByteArray());
        QCOMPARE(quiet.err, QByteArray());
    }

    void runShowsProgressOnATerminal()
    {
        const QString script = write(QStringLiteral("slow.SRP"), "\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                                "\" 1\",\"WristUp\",\" .5\"\r\n"
                                                                "\" 2\",\"WristDown\",\" .5\"\r\n");
        const int columns = 50;
        const Outcome r = cliOnTerminal({QStringLiteral("run"), script, QStringLiteral("--reps"), QStringLiteral("2"),
                                         QStringLiteral("--virtual-arm")},
                                        columns);
        QCOMPARE(r.status, 0);
        // The terminal turns each line end into CR LF; every piece between carriage returns and line
        // ends is what stood on the line at one time.
        QStringList shown;
        for (const QString &piece :
             QString::fromUtf8(r.out).remove(QStringLiteral("\x1b[K")).split(QRegularExpression(QStringLiteral("[\r\n]"))))
        {
            if (!piece.isEmpty())
                shown << piece;
        }
        QVERIFY2(shown.value(0) == QStringLiteral("Total 1 s \u00D7 2 = 2 s"), qPrintable(shown.join(QLatin1Char('|'))));
        // The line went through both repetitions and counted down, never wider than the terminal.
        QVERIFY2(shown.contains(QStringLiteral("Repetition 1 of 2  Step 1 of 2 WristUp  0:02 left")),
                 qPrintable(shown.join(QLatin1Char('|'))));
        QVERIFY2(shown.filter(QStringLiteral("Repetition 2 of 2  Step 2 of 2")).size() >= 1,
                 qPrintable(shown.join(QLatin1Char('|'))));
        const QStringList progress = shown.filter(QRegularExpression(QStringLiteral("^(Repetition|Starting)")));
        QVERIFY(progress.size() >= 4);
        for (const QString &piece : progress)
            QVERIFY2(piece.size() < columns, qPrintable(piece));
        // No plain step lines; it ends with the summary on a line of its own.
        QVERIFY(shown.filter(QStringLiteral("  WristUp       ")).isEmpty());
        QVERIFY2(shown.value(shown.size() - 3).startsWith(QStringLiteral("Run finished: 2 repetitions, ")),
                 qPrintable(shown.join(QLatin1Char('|'))));
        QVERIFY(r.out.contains("\r\x1b[KRun finished"));
    }

    void interfaceKit_data()
    {
        // The arguments (LOG stands for a fresh log file), the exit status, the bytes the virtual kit
        // received, and a text the output or the errors hold.
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("bytes");
        QTest::addColumn<QByteArray>("said");
        const QStringList run{"run", "SCRIPT", "--virtual-arm=kit", "--virtual-arm-log", "LOG"};
        QTest::newRow("devices lists the kit")
            << QStringList{"devices", "--virtual-arm=kit"} << 0 << QStringList{}
            << QByteArray("virtual/kit1\n  interface kit  USB 1267:0000  bus 0  address 1\n");
        QTest::newRow("a run: each step's motor, then the stop")
            << run << 0 << QStringList{"100000", "000000", "000000"} << QByteArray("ElbowUp");
        QTest::newRow("a run with the light: it rides along with every code")
            << run + QStringList{"--light"} << 0 << QStringList{"000001", "100001", "000001", "000001"}
            << QByteArray("Pause");
        QTest::newRow("a motion the kit does not take ends the run")
            << run + QStringList{"--virtual-arm-fail-write", "1"} << 5 << QStringList{"000000"}
            << QByteArray("a command did not reach the arm during step 1 (ElbowUp)");
        QTest::newRow("a stop the kit does not take is sent again")
            << run + QStringList{"--virtual-arm-fail-write", "2"} << 0
            << QStringList{"100000", "000000", "000000"} << QByteArray("Run finished");
        QTest::newRow("light on") << QStringList{"light", "ON", "--virtual-arm=kit", "--virtual-arm-log", "LOG"} << 0
                                  << QStringList{"000001"} << QByteArray("light on: virtual/kit1");
        QTest::newRow("light off") << QStringList{"light", "off", "--virtual-arm-log", "LOG"} << 0
                                   << QStringList{"000000"} << QByteArray("light off: virtual/kit1");
        QTest::newRow("the HID board has no light")
            << QStringList{"light", "on", "--virtual-arm"} << 3 << QStringList{} << QByteArray("--virtual-arm=kit");
        QTest::newRow("no such kind of arm")
            << QStringList{"run", "SCRIPT", "--virtual-arm=usb"} << 64 << QStringList{} << QByteArray("Usage:");
        QTest::newRow("light needs on or off")
            << QStringList{"light", "--virtual-arm=kit"} << 64 << QStringList{} << QByteArray("Usage:");
    }

    void interfaceKit()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, bytes);
        QFETCH(QByteArray, said);
        const QString script = write(QStringLiteral("kit.SRP"), "\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                               "\" 1\",\"ElbowUp\",\" .03\"\r\n"
                                                               "\" 2\",\"Pause\",\" .01\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("kit-%1.log").arg(QTest::currentDataTag()));
        args.replaceInStrings(QStringLiteral("SCRIPT"), script);
        args.replaceInStrings(QStringLiteral("LOG"), log);
        const Outcome r = cli(args);
        QVERIFY2(r.out.contains(said) || r.err.contains(said), (r.out + r.err).constData());
        QCOMPARE(r.status, status);
        QCOMPARE(loggedBytes(log), bytes);
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
                                  << QByteArray("the script is empty") << 65;
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
        QVERIFY(!r.err.contains("the script is empty") || message == "the script is empty");
        QVERIFY(r.out.isEmpty());
    }

    // Steps that are not motions, and times that are no times, are named, every one, and played as
    // written only when asked to; a step name in another case is the motion, as the editor takes it.
    void runPlaysUnknownStepsOnlyWhenAskedTo()
    {
        const QString script =
            write(QStringLiteral("grab.SRP"), "\" 4\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"ElbowUp\",\" .02\"\r\n"
                                              "\" 2\",\"Grab\",\" .02\"\r\n\" 3\",\"wristup\",\" .02\"\r\n"
                                              "\" 4\",\"Pause\",\"-2\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("grab.log"));
        Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 67);
        QVERIFY2(r.err.contains("Step 2 \"Grab\" is not a motion: ElbowUp keeps running through it"),
                 r.err.constData());
        QVERIFY2(!r.err.contains("wristup"), r.err.constData());
        QVERIFY2(r.err.contains("Step 4 time \"-2\" is not a time: the step lasts 0 s"), r.err.constData());
        QVERIFY2(r.err.contains("--allow-unknown-steps"), r.err.constData());
        QVERIFY(loggedCodes(log).isEmpty());

        r = cli({QStringLiteral("run"), script, QStringLiteral("--allow-unknown-steps"),
                 QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 0);
        QCOMPARE(loggedCodes(log), (QList<int>{3, 4, 0, 0}));
    }

    void runEndsWhenACommandFails_data()
    {
        QTest::addColumn<QString>("failedWrite");
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<int>>("logged");
        QTest::addColumn<QByteArray>("said");
        // ElbowUp, Pause, twice, then the stop: five reports when none fails. A motion that fails ends
        // the run, and the stop still goes out; a stop that fails is sent again, and the run goes on.
        const QByteArray during("a command did not reach the arm during ");
        QTest::newRow("first command") << "1" << 5 << QList<int>{0} << during + "step 1 (ElbowUp)";
        QTest::newRow("second step, a stop sent again") << "2" << 0 << QList<int>{3, 0, 3, 0, 0} << QByteArray("Run finished");
        QTest::newRow("second repetition") << "3" << 5 << QList<int>{3, 0, 0} << during + "step 1 (ElbowUp)";
        QTest::newRow("final stop, sent again") << "5" << 0 << QList<int>{3, 0, 3, 0, 0} << QByteArray("Run finished");
        QTest::newRow("a stop that never goes out")
            << "2:20" << 6 << QList<int>{3} << QByteArray("a motor may still be running");
    }

    void runEndsWhenACommandFails()
    {
        QFETCH(QString, failedWrite);
        QFETCH(int, status);
        QFETCH(QList<int>, logged);
        QFETCH(QByteArray, said);
        const QString script = write(QStringLiteral("fail.SRP"), "\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                                "\" 1\",\"ElbowUp\",\" .03\"\r\n"
                                                                "\" 2\",\"Pause\",\" .01\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("fail%1.log").arg(QString(failedWrite).replace(u':', u'-')));
        const Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--reps"), QStringLiteral("2"),
                               QStringLiteral("--virtual-arm-log"), log, QStringLiteral("--virtual-arm-fail-write"),
                               failedWrite});
        QCOMPARE(r.status, status);
        QCOMPARE(loggedCodes(log), logged);
        QVERIFY2(r.out.contains(said) || r.err.contains(said), (r.out + r.err).constData());
        if (status == 5)
            QVERIFY2(r.err.contains("not written"), r.err.constData());
    }

    // A step that outlasts its joint's travel is named before the run, its motor is stopped at the
    // joint's limit (2.3 s for the gripper), and the run goes on timed as written, naming the cut.
    void aMotionIsCutAtItsLimit()
    {
        const QString script = write(QStringLiteral("long.SRP"), "\" 3\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                                "\" 1\",\"GripClose\",\" 1.5\"\r\n"
                                                                "\" 2\",\"GripClose\",\" 1.2\"\r\n"
                                                                "\" 3\",\"GripOpen\",\" 1.6\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("long.log"));
        QElapsedTimer took;
        took.start();
        const Outcome r = cli({QStringLiteral("run"), script, QStringLiteral("--virtual-arm-log"), log});
        QCOMPARE(r.status, 0);
        QVERIFY(took.elapsed() >= 4200);
        // Steps of one motion are one motion: the second goes out, and is cut where the two reach 2.3 s.
        // The third, longer than the travel but within the limit, ends at the end the time limit made
        // known, or at its own end.
        const QList<int> codes = loggedCodes(log);
        QCOMPARE(codes.mid(0, 4), (QList<int>{5, 5, 0, 10}));
        QCOMPARE(codes.last(), 0);
        QVERIFY2(r.out.contains("Step 2 (GripClose) of repetition 1 cut short: Gripper stopped after 2.3 s: time limit"),
                 r.out.constData());
        QVERIFY2(r.err.contains("Step 3 (GripOpen, 1.6 s) runs longer than the gripper's whole travel (1.5 s): it will "
                                "be stopped after 2.3 s"),
                 r.err.constData());
        QVERIFY2(!r.err.contains("Step 1") && !r.err.contains("Step 2"), r.err.constData());
    }

    // What each command does with good and bad arguments, and how it exits.
    void statuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("printed"); // the start of standard output
        QTest::addColumn<QByteArrayList>("said");  // on standard error

        const QString script = write(QStringLiteral("ok.SRP"),
                                     "\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 0\"\r\n");
        const QString hex = write(QStringLiteral("ok.hex"), "05 01 09 00 a1 01 09 3e 75 08 95 01 91 02 c0\n");
        const QString missing = m_dir.filePath(QStringLiteral("missing.SRP"));
        const QString unknown = write(QStringLiteral("unknown.SRP"),
                                      "\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Wave\",\" 0\"\r\n");
        const QByteArrayList none;
        const QByteArrayList usage{"Usage: tessaro-cli"};
        // The real devices: this machine has no arm attached.
        const QByteArrayList noArm{"no robotic arm found", "cable", "power switch", "70-tessaro.rules"};

        QTest::newRow("no command") << QStringList{} << 64 << QByteArray()
                                    << QByteArrayList{"tessaro-cli: no command given\nUsage: tessaro-cli run|"};
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 64 << QByteArray()
                                         << QByteArrayList{"tessaro-cli: unknown command 'frobnicate'\nUsage:"};
        QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("tessaro-cli ") << none;

        QTest::newRow("run, plays") << QStringList{"run", script, "--virtual-arm"} << 0 << QByteArray("Total 0 s\n")
                                    << none;
        QTest::newRow("run, no file") << QStringList{"run", "--virtual-arm"} << 64 << QByteArray()
                                      << QByteArrayList{"no script file named", "Usage: tessaro-cli run"};
        QTest::newRow("run, two files") << QStringList{"run", script, "other.SRP"} << 64 << QByteArray()
                                        << QByteArrayList{"unexpected argument 'other.SRP'"};
        QTest::newRow("run, unknown option") << QStringList{"run", script, "--bogus"} << 64 << QByteArray()
                                             << QByteArrayList{"unknown option '--bogus'", "Usage: tessaro-cli run"};
        QTest::newRow("run, option of another command") << QStringList{"run", script, "--all"} << 64 << QByteArray()
                                                        << QByteArrayList{"unknown option '--all'"};
        QTest::newRow("run, flag given a value") << QStringList{"run", script, "--quiet=yes"} << 64 << QByteArray()
                                                 << QByteArrayList{"option '--quiet' takes no value"};
        QTest::newRow("run, --reps without a value") << QStringList{"run", script, "--reps"} << 64 << QByteArray()
                                                     << QByteArrayList{"option '--reps' needs a value"};
        for (const char *reps : {"0", "-1", "2.5", "many", "32768"}) {
            QTest::addRow("run, --reps %s", reps)
                << QStringList{"run", script, "--virtual-arm", "--reps", reps} << 64 << QByteArray()
                << QByteArrayList{"--reps takes a whole number from 1 to 32767, not '" + QByteArray(reps) + "'"};
        }
        QTest::newRow("run, --reps=3") << QStringList{"run", script, "--virtual-arm", "--reps=3", "--quiet"} << 0
                                       << QByteArray() << none;
        QTest::newRow("run, bad fail-write") << QStringList{"run", script, "--virtual-arm-fail-write", "0"} << 64
                                             << QByteArray() << QByteArrayList{"--virtual-arm-fail-write takes"};
        QTest::newRow("run, file not read") << QStringList{"run", missing, "--virtual-arm"} << 66 << QByteArray()
                                            << QByteArrayList{"missing.SRP"};
        QTest::newRow("run, no arm") << QStringList{"run", script} << 3 << QByteArray() << noArm;
        QTest::newRow("run, a step that is not a motion")
            << QStringList{"run", unknown, "--virtual-arm"} << 67 << QByteArray()
            << QByteArrayList{"--allow-unknown-steps plays the script as written"};
        QTest::newRow("run, a step that is not a motion, allowed")
            << QStringList{"run", unknown, "--virtual-arm", "--allow-unknown-steps", "--quiet"} << 0 << QByteArray()
            << none;

        QTest::newRow("devices, virtual arm") << QStringList{"devices", "--virtual-arm"} << 0
                                              << QByteArray("virtual/arm0\n  USB 1e6f:1113") << none;
        QTest::newRow("devices, no arm") << QStringList{"devices"} << 3 << QByteArray() << noArm;
        QTest::newRow("devices --all, no arm") << QStringList{"devices", "--all"} << 3 << QByteArray() << noArm;
        QTest::newRow("devices, unknown option") << QStringList{"devices", "--for", "1"} << 64 << QByteArray()
                                                 << QByteArrayList{"unknown option '--for'"};

        QTest::newRow("describe, file") << QStringList{"describe", hex} << 0 << QByteArray("{") << none;
        QTest::newRow("describe, the virtual arm") << QStringList{"describe", "--virtual-arm"} << 0
                                                   << QByteArray("{") << none;
        QTest::newRow("describe, a virtual device by path")
            << QStringList{"describe", "--virtual-arm", "--device", "virtual/arm0"} << 0 << QByteArray("{") << none;
        QTest::newRow("describe, no such device")
            << QStringList{"describe", "--virtual-arm", "--device", "virtual/none"} << 1 << QByteArray()
            << QByteArrayList{"cannot read the report descriptor of virtual/none"};
        QTest::newRow("describe, no such node") << QStringList{"describe", "--device", "/dev/hidraw-none"} << 1
                                                << QByteArray()
                                                << QByteArrayList{"cannot read the report descriptor of /dev/hidraw-none"};
        QTest::newRow("describe, no arm") << QStringList{"describe"} << 3 << QByteArray() << noArm;
        QTest::newRow("describe, file and device") << QStringList{"describe", hex, "--device", "x"} << 64
                                                   << QByteArray() << QByteArrayList{"not both"};
        QTest::newRow("describe, no log") << QStringList{"describe", "--virtual-arm-log", "x"} << 64 << QByteArray()
                                          << QByteArrayList{"unknown option '--virtual-arm-log'"};

        QTest::newRow("gamepad, waits for a pad, for a while")
            << QStringList{"gamepad", "--virtual-arm", "--for", "0.2"} << 0
            << QByteArray("No gamepad attached; waiting for one.\n") << none;
        QTest::newRow("gamepad, negative time") << QStringList{"gamepad", "--for", "-1"} << 64 << QByteArray()
                                                << QByteArrayList{"--for takes a number of seconds"};
        QTest::newRow("gamepad, no log") << QStringList{"gamepad", "--virtual-arm-log", "x"} << 64 << QByteArray()
                                         << QByteArrayList{"unknown option '--virtual-arm-log'"};
    }
    void statuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, printed);
        QFETCH(QByteArrayList, said);
        // The real devices have no way to hide an arm that is plugged in: with one there, the rows that
        // look for none have nothing to show (and a run would move it).
        if (status == 3 && armAttached())
            QSKIP("a robotic arm is attached to this machine");
        const Outcome r = cli(args);
        QVERIFY2(r.status == status, qPrintable(QStringLiteral("exit %1: %2").arg(r.status).arg(QString::fromUtf8(r.err))));
        QVERIFY2(r.out.startsWith(printed), r.out.left(200).constData());
        for (const QByteArray &words : said)
            QVERIFY2(r.err.contains(words), r.err.constData());
        QCOMPARE(r.err.isEmpty(), said.isEmpty());
        if (status == 64) {
            QVERIFY(r.out.isEmpty());
            // The error is not buried: a few lines at most.
            QVERIFY2(r.err.count('\n') <= 6, r.err.constData());
        }
    }

    void describesTheAttachedArm()
    {
        // The virtual arm's own descriptor: one output byte, the command code (Generic Desktop 0x3E).
        const Outcome r = cli({QStringLiteral("describe"), QStringLiteral("--virtual-arm")});
        QCOMPARE(r.status, 0);
        const QJsonArray vars = QJsonDocument::fromJson(r.out).object().value(QLatin1String("variables")).toArray();
        bool command = false;
        for (const QJsonValue &v : vars) {
            const QJsonObject o = v.toObject();
            command = command || (o.value(QLatin1String("type")).toString() == QLatin1String("Output") &&
                                  o.value(QLatin1String("usage")).toInt() == 0x3e);
        }
        QVERIFY2(command, r.out.left(400).constData());
    }

    // The main help (and with it the manual page) names every option and exit status each command's
    // own help names, and says rightly which commands take which option.
    void helpCoversEveryCommand()
    {
        const Outcome main = cli({QStringLiteral("--help")});
        QCOMPARE(main.status, 0);
        const QString help = QString::fromUtf8(main.out);
        const QString statuses = help.mid(help.indexOf(QLatin1String("\nExit status:\n")));
        QVERIFY(statuses.size() > 20);
        const QRegularExpression optionName(QStringLiteral("(--[a-z][a-z-]*)"));
        const QRegularExpression statusLine(QStringLiteral("^  (\\d+(?:\\+N)?) "), QRegularExpression::MultilineOption);
        const QStringList commands{QStringLiteral("run"), QStringLiteral("serve"), QStringLiteral("devices"), QStringLiteral("describe"),
                                   QStringLiteral("gamepad"), QStringLiteral("light")};
        for (const QString &command : commands) {
            const Outcome own = cli({command, QStringLiteral("--help")});
            QCOMPARE(own.status, 0);
            const QString text = QString::fromUtf8(own.out);
            QVERIFY2(text.contains(QLatin1String("\nExit status:\n")), qPrintable(command));
            for (auto it = optionName.globalMatch(text); it.hasNext();) {
                const QString option = it.next().captured(1);
                QVERIFY2(help.contains(option), qPrintable(command + QLatin1Char(' ') + option));
            }
            const QString ownStatuses = text.mid(text.indexOf(QLatin1String("\nExit status:\n")));
            for (auto it = statusLine.globalMatch(ownStatuses); it.hasNext();) {
                const QString number = it.next().captured(1);
                QVERIFY2(statuses.contains(QLatin1String("\n  ") + number + QLatin1Char(' ')),
                         qPrintable(command + QStringLiteral(" exit ") + number));
            }
        }

        // "  --option ...   run, devices: ...": the commands named take the option, the others refuse it.
        const QString options = help.mid(help.indexOf(QLatin1String("\nOptions:\n")));
        const QRegularExpression optionLine(QStringLiteral("^  (--[a-z-]+)[^\\n]*?\\n?\\s+([a-z, ]+): "),
                                            QRegularExpression::MultilineOption);
        int checked = 0;
        for (auto it = optionLine.globalMatch(options); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const QString option = m.captured(1);
            const QStringList takers = m.captured(2).split(QStringLiteral(", "));
            for (const QString &command : commands) {
                // A value for those that take one; the help ends the command before anything happens.
                const Outcome r = cli({command, option, QStringLiteral("1"), QStringLiteral("--help")});
                const bool refused = r.err.contains("unknown option '" + option.toUtf8() + "'");
                QVERIFY2(refused != takers.contains(command),
                         qPrintable(QStringLiteral("%1 %2: %3").arg(command, option, QString::fromUtf8(r.err))));
                ++checked;
            }
        }
        QCOMPARE(checked, 12 * commands.size());
    }

    // Ctrl+C and SIGTERM stop every kind of arm, the kit with its light as it was.
    void interruptStopsTheArm_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("motion"); // the logged step's command, as its code or its bytes
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("HID arm, SIGINT") << QStringList{"--virtual-arm"} << int(SIGINT) << "7" << QStringList{"7", "0"};
        QTest::newRow("HID arm, SIGTERM") << QStringList{"--virtual-arm"} << int(SIGTERM) << "7"
                                          << QStringList{"7", "0"};
        QTest::newRow("kit, SIGINT") << QStringList{"--virtual-arm=kit"} << int(SIGINT) << "000100"
                                     << QStringList{"000100", "000000"};
        QTest::newRow("kit with the light, SIGTERM")
            << QStringList{"--virtual-arm=kit", "--light"} << int(SIGTERM) << "000101"
            << QStringList{"000001", "000101", "000001"};
    }
    void interruptStopsTheArm()
    {
        QFETCH(QStringList, options);
        QFETCH(int, signal);
        QFETCH(QString, motion);
        QFETCH(QStringList, logged);
        const bool kit = options.first().endsWith(QStringLiteral("kit"));
        const QString script = write(QStringLiteral("long.SRP"),
                                     "\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"BaseCW\",\" 30\"\r\n");
        const QString log = m_dir.filePath(QStringLiteral("stop-%1.log").arg(QTest::currentDataTag()));
        const auto seen = [&] {
            if (kit)
                return loggedBytes(log);
            QStringList codes;
            for (const int code : loggedCodes(log))
                codes << QString::number(code);
            return codes;
        };
        QProcess p;
        p.start(QStringLiteral(TESSARO_CLI),
                QStringList{QStringLiteral("run"), script} + options + QStringList{QStringLiteral("--virtual-arm-log"), log});
        QVERIFY(p.waitForStarted());
        // Once the arm has the first step's command: the line for the step is printed before the send,
        // so a signal sent on seeing it could come between the two.
        QTRY_VERIFY_WITH_TIMEOUT(seen().contains(motion), 20000);
        QVERIFY(p.state() == QProcess::Running);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 128 + signal);
        QCOMPARE(seen(), logged);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
