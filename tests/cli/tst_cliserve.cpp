#include "KitCommand.h"
#include "ServiceTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// tessaro-cli serve on a virtual interface kit, driven by clients on its socket as other programs
// would drive it; what reached the arm is read in the virtual arm's log.
class TestCliServe : public QObject
{
    Q_OBJECT

    struct Sent
    {
        double seconds = 0;
        int code = 0;
        QByteArray bytes;
    };

    QTemporaryDir m_dir;
    QProcess m_serve;
    QString m_socket;
    qsizetype m_logRead = 0;
    std::unique_ptr<TestClient> m_client;
    bool m_lightOn = false;

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    void start(QProcess &serve)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("TESSARO_VIRTUAL_ARM"), QStringLiteral("kit"));
        env.insert(QStringLiteral("TESSARO_VIRTUAL_ARM_LOG"), path("arm.log"));
        serve.setProcessEnvironment(env);
        serve.start(QStringLiteral(TESSARO_CLI), {QStringLiteral("serve")});
    }

    // The commands the arm received since the last call, waiting up to 2 s for at least `least`.
    QList<Sent> sentSince(int least)
    {
        QList<Sent> sent;
        QFile log(path("arm.log"));
        for (QDeadlineTimer deadline(2000); sent.size() < least && !deadline.hasExpired(); QTest::qWait(20)) {
            sent.clear();
            if (!log.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> lines = log.readAll().split('\n');
            log.close();
            for (qsizetype i = m_logRead; i < lines.size(); ++i) {
                const QList<QByteArray> f = lines[i].split(' ');
                if (f.size() >= 3)
                    sent.append({f[0].toDouble(), f[1].toInt(), QByteArray::fromHex(f[2])});
            }
        }
        m_logRead += sent.size();
        return sent;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        start(m_serve);
        QVERIFY(m_serve.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_serve.peek(200).contains("Serving the arm at"), 10000);
        m_socket = path("tessaro/arm.sock");
        QVERIFY2(m_serve.readLine().trimmed().endsWith(m_socket.toUtf8()), "the socket's path is printed");

        // One owner at a time: the second names the first.
        QProcess second;
        start(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 7);
        QVERIFY2(second.readAllStandardError().contains(
                     "the arm is already served by tessaro-cli serve, pid " + QByteArray::number(m_serve.processId())),
                 "names the owner");
        m_client = std::make_unique<TestClient>(m_socket);
        QVERIFY(m_client->request(1, QStringLiteral("take")).value(QLatin1String("ok")).toBool());
    }

    // Each request's reply, and the commands that reached the kit for it: their codes, with the light
    // on from the light's row, and the time from the first to the last (-1: not checked).
    void drivesTheKit_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("ended");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<double>("seconds");
        QTest::newRow("a timed motion") << QByteArray(R"({"cmd":"move","joints":{"elbow":"up"},"ms":400})")
                                        << "done" << QList<int>{3, 0} << 0.4;
        QTest::newRow("several motors at once")
            << QByteArray(R"({"cmd":"move","joints":{"elbow":"up","base":"cw"},"ms":400})") << "done"
            << QList<int>{armCombinedCode({-1, 0, 1, 0, 0}), 0} << 0.4;
        QTest::newRow("the light") << QByteArray(R"({"cmd":"light","on":true})") << "" << QList<int>{0} << 0.0;
        QTest::newRow("the start pose") << QByteArray(R"({"cmd":"setStart"})") << "" << QList<int>{} << 0.0;
        QTest::newRow("steps played twice")
            << QByteArray(R"({"cmd":"play","repetitions":2,"steps":[{"function":"elbowup","seconds":0.3},)"
                          R"({"function":"WristDown","seconds":0.2}]})")
            << "finished" << QList<int>{3, 9, 3, 9, 0} << 1.0;
        QTest::newRow("a step that is no motion is refused")
            << QByteArray(R"({"cmd":"play","steps":[{"function":"Grab","seconds":1}]})") << "refused"
            << QList<int>{} << 0.0;
        // The way back: the elbow down and the wrist up, for as long as the estimate reckons.
        QTest::newRow("return to start") << QByteArray(R"({"cmd":"returnToStart"})") << "finished"
                                         << QList<int>{-1, -1, 0} << -1.0;
    }
    void drivesTheKit()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, ended);
        QFETCH(QList<int>, codes);
        QFETCH(double, seconds);
        QJsonObject fields = QJsonDocument::fromJson(request).object();
        const QString cmd = fields.take(QLatin1String("cmd")).toString();
        const QJsonObject reply = m_client->request(2, cmd, fields, 10000);
        QCOMPARE(reply.value(QLatin1String("ended")).toString(), ended);
        QCOMPARE(reply.value(QLatin1String("ok")).toBool(), ended != QLatin1String("refused"));
        const QList<Sent> sent = sentSince(int(codes.size()));
        QCOMPARE(sent.size(), codes.size());
        // On from the light's row.
        m_lightOn = m_lightOn || QTest::currentDataTag() == QLatin1String("the light");
        const bool light = m_lightOn;
        for (qsizetype i = 0; i < codes.size(); ++i) {
            if (codes[i] >= 0)
                QCOMPARE(sent[i].code, codes[i]);
            else
                QVERIFY2(QList<int>({8, 4}).contains(sent[i].code), qPrintable(QString::number(sent[i].code)));
            QCOMPARE(sent[i].bytes, KitCommand::encode(sent[i].code, light));
        }
        if (seconds >= 0 && sent.size() > 1) {
            const double took = sent.last().seconds - sent.first().seconds;
            QVERIFY2(took >= seconds - 0.02 && took < seconds + 0.3, qPrintable(QString::number(took)));
        }
    }

    // The commands that reach arms go through the owner rather than open the arm beside it, and are
    // refused, naming who serves, while another client drives.
    void commandsGoThroughTheOwner_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("clientDrives");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("devices") << QStringList{"devices"} << true << 0
                                 << "The arm is served by tessaro-cli serve, pid" << QList<int>{};
        QTest::newRow("the light while a client drives")
            << QStringList{"light", "off"} << true << 7 << "control is held by" << QList<int>{};
        QTest::newRow("the light") << QStringList{"light", "off"} << false << 0 << "light off: the arm served by"
                                   << QList<int>{0};
        QTest::newRow("a run") << QStringList{"run", path("two.SRP")} << false << 0 << "Run finished: 1 repetition"
                               << QList<int>{3, 9, 0};
    }
    void commandsGoThroughTheOwner()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, clientDrives);
        QFile script(path("two.SRP"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"ElbowUp\",\" 0.3\"\r\n"
                     "\" 2\",\"WristDown\",\" 0.2\"\r\n");
        script.close();
        if (!clientDrives)
            QVERIFY(m_client->request(4, QStringLiteral("release")).value(QLatin1String("ok")).toBool());
        QProcess command;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        command.setProcessEnvironment(env);
        command.start(QStringLiteral(TESSARO_CLI), args);
        QVERIFY(command.waitForFinished(20000));
        const QString output = QString::fromUtf8(command.readAllStandardOutput() + command.readAllStandardError());
        QFETCH(QString, said);
        QVERIFY2(output.contains(said), qPrintable(output));
        QTEST(command.exitCode(), "exit");
        QFETCH(QList<int>, codes);
        QList<int> got;
        for (const Sent &sent : sentSince(int(codes.size())))
            got << sent.code;
        QCOMPARE(got, codes);
        if (!clientDrives)
            QVERIFY(m_client->request(5, QStringLiteral("take")).value(QLatin1String("ok")).toBool());
    }

    // A client that dies while it holds a motion: the motor stops at once, long before its hold lapses.
    void aClientKilledMidHoldStopsTheArm()
    {
        QVERIFY(m_client->request(3, QStringLiteral("release")).value(QLatin1String("ok")).toBool());
        double started = 0;
        {
            TestClient client(m_socket);
            QTRY_VERIFY(client.request(1, QStringLiteral("take")).value(QLatin1String("ok")).toBool());
            client.send(2, QStringLiteral("hold"),
                        {{QStringLiteral("joints"), QJsonObject{{QStringLiteral("base"), QStringLiteral("cw")}}},
                         {QStringLiteral("holdMs"), 1000}});
            const QList<Sent> start = sentSince(1);
            QCOMPARE(start.value(0).code, 7);
            started = start[0].seconds;
            client.socket().abort();
        }
        const QList<Sent> stop = sentSince(1);
        QCOMPARE(stop.value(0).code, 0);
        QVERIFY2(stop[0].seconds - started < 0.9, qPrintable(QString::number(stop[0].seconds - started)));
    }

    void cleanupTestCase()
    {
        // SIGTERM: the arm is stopped, then the program ends.
        m_client.reset();
        // A program that ended has no pid: kill(0) would end this test's whole process group.
        QVERIFY2(m_serve.state() == QProcess::Running, "serve is still serving");
        ::kill(pid_t(m_serve.processId()), SIGTERM);
        QVERIFY(m_serve.waitForFinished(10000));
        QCOMPARE(m_serve.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCliServe)
#include "tst_cliserve.moc"
