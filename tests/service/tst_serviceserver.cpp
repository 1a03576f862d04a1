#include "ServiceServer.h"
#include "ServiceSocket.h"
#include "ServiceTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// Whether every field of `want` is in `got` with the same value.
bool has(const QJsonObject &got, const QJsonObject &want)
{
    for (auto it = want.begin(); it != want.end(); ++it)
        if (got.value(it.key()) != it.value()) {
            qWarning() << "got" << got << "want" << want;
            return false;
        }
    return true;
}

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    return address;
}

// A client that connects and never reads: a raw socket, so no event loop drains it.
int rawClient(const QString &path, const QByteArray &line)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = addressOf(path);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::write(fd, line.constData(), size_t(line.size())) != line.size())
        return -1;
    return fd;
}

} // namespace

class TestServiceServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeArm m_arm;
    std::unique_ptr<ServiceServer> m_server;
    QString path() const { return m_dir.path() + QStringLiteral("/tessaro/arm.sock"); }

private Q_SLOTS:
    void init()
    {
        m_arm.calls.clear();
        m_arm.armsAsked = 0;
        m_arm.oneMotorOnly = false;
        m_arm.startSet = false;
        m_server = std::make_unique<ServiceServer>(&m_arm);
        m_server->setOwnerName(QStringLiteral("tessaro"));
        QString error;
        QVERIFY2(m_server->listen(path(), &error), qPrintable(error));
    }
    void cleanup() { m_server.reset(); }

    void drives_data()
    {
        QTest::addColumn<QList<QJsonObject>>("requests");
        QTest::addColumn<bool>("oneMotorOnly");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QJsonObject>("expected");
        QTest::addColumn<int>("runEvents");
        const QJsonObject done = json(R"({"ok":true,"ended":"done"})");
        QTest::newRow("single move") << QList{json(R"({"cmd":"move","joints":{"elbow":"up"},"ms":30})")}
                                     << false << QStringList{"start elbow:up 30"} << done << 0;
        QTest::newRow("combined move")
            << QList{json(R"({"cmd":"move","joints":{"gripper":"open","base":"cw"},"ms":30})")} << false
            << QStringList{"start base:cw gripper:open 30"} << done << 0;
        QTest::newRow("combined move refused")
            << QList{json(R"({"cmd":"move","joints":{"gripper":"close","wrist":"down"},"ms":30})")} << true
            << QStringList{"start wrist:down gripper:close 30"}
            << json(R"({"ok":false,"ended":"refused","error":"the HID board drives one motor at a time"})")
            << 0;
        QTest::newRow("light") << QList{json(R"({"cmd":"light","on":true})"), json(R"({"cmd":"light"})")}
                               << false << QStringList{"light on"} << json(R"({"ok":true,"on":true})") << 0;
        QTest::newRow("play steps")
            << QList{json(R"({"cmd":"play","repetitions":2,"steps":[{"function":"ElbowUp","seconds":1.5},
                                                                   {"function":"Pause","seconds":0.5}]})")}
            << false << QStringList{"playSteps ElbowUp:1.5 Pause:0.5 x2"}
            << json(R"({"ok":true,"ended":"finished","step":2,"repetition":2})") << 4;
        QTest::newRow("play a file") << QList{json(R"({"cmd":"play","file":"/tmp/wave.SRP"})")} << false
                                     << QStringList{"playFile /tmp/wave.SRP x1"}
                                     << json(R"({"ok":true,"ended":"finished"})") << 1;
        QTest::newRow("return to start")
            << QList{json(R"({"cmd":"setStart"})"), json(R"({"cmd":"returnToStart"})")} << false
            << QStringList{"setStart", "returnToStart"} << json(R"({"ok":true,"ended":"finished","step":2})")
            << 2;
        QTest::newRow("return without a start pose")
            << QList{json(R"({"cmd":"returnToStart"})")} << false << QStringList{"returnToStart"}
            << json(R"({"ok":false,"ended":"refused","error":"no start pose is set"})") << 0;
    }
    void drives()
    {
        QFETCH(QList<QJsonObject>, requests);
        QFETCH(bool, oneMotorOnly);
        m_arm.oneMotorOnly = oneMotorOnly;
        TestClient client(path());
        QCOMPARE(client.greeting().value("owner").toString(), QStringLiteral("tessaro"));
        QVERIFY(has(client.request(100, "subscribe", json(R"({"events":["run"]})")), json(R"({"ok":true})")));
        QVERIFY(has(client.request(101, "take"), json(R"({"ok":true})")));
        for (int i = 0; i < requests.size(); ++i)
            client.send(i + 1, requests[i].value("cmd").toString(), requests[i]);
        QFETCH(QJsonObject, expected);
        QFETCH(QStringList, calls);
        QFETCH(int, runEvents);
        QVERIFY(has(client.waitReply(int(requests.size())), expected));
        QCOMPARE(m_arm.calls, calls);
        QCOMPARE(client.events("run").size(), runEvents);
    }

    // One client drives while others watch; the owner has the last word.
    void control()
    {
        TestClient a(path());
        TestClient b(path());
        QSignalSpy changes(m_server.get(), &ServiceServer::controllerChanged);
        QVERIFY(has(b.request(1, "subscribe", json(R"({"events":["control"]})")), json(R"({"ok":true})")));
        QVERIFY(has(a.request(1, "take"), json(R"({"ok":true})")));
        QVERIFY(m_server->controller().contains(QStringLiteral("pid %1").arg(getpid())));

        const QString heldBy = QStringLiteral("control is held by ") + m_server->controller();
        QVERIFY(has(b.request(2, "take"), QJsonObject{{"ok", false}, {"error", heldBy}}));
        QVERIFY(has(b.request(3, "move", json(R"({"joints":{"elbow":"up"},"ms":30})")),
                    QJsonObject{{"ok", false}, {"error", heldBy}}));
        QCOMPARE(m_arm.calls, QStringList{});

        a.send(2, "hold", json(R"({"joints":{"wrist":"up"},"holdMs":1000})"));
        QTRY_COMPARE(m_arm.calls, QStringList{"start wrist:up 0"});
        m_server->revokeControl();
        QVERIFY(
            has(a.waitReply(2),
                json(R"({"ok":true,"ended":"stopped","message":"control was taken back by the owner"})")));
        QCOMPARE(m_arm.calls.last(), QStringLiteral("stopEverything"));
        QCOMPARE(m_server->controller(), QString());
        QVERIFY(has(a.request(3, "move", json(R"({"joints":{"elbow":"up"},"ms":30})")),
                    json(R"({"ok":false,"error":"this client does not have control: send take first"})")));

        QVERIFY(has(b.request(6, "take"), json(R"({"ok":true})")));
        QVERIFY(has(a.request(4, "take"), json(R"({"ok":false})")));
        QVERIFY(has(b.request(7, "release"), json(R"({"ok":true})")));
        QVERIFY(has(a.request(5, "take"), json(R"({"ok":true})")));
        QCOMPARE(changes.size(), 5);
        b.pump(20);
        const QList<QJsonObject> told = b.events("control");
        QCOMPARE(told.size(), 5);
        QVERIFY(has(told[1], json(R"({"by":null,"you":false})")));
        QVERIFY(has(told[2], json(R"({"you":true})")));
    }

    // What a client drives is stopped when it goes, lets a held motion lapse or gives up control;
    // another client then goes on as before.
    void stopsWhatAClientLeaves_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("disconnected") << "disconnect"
                                      << "stopEverything" << QJsonObject{};
        QTest::newRow("cut off for a long line") << "long line"
                                                 << "stopEverything" << QJsonObject{};
        QTest::newRow("not renewed") << "lapse"
                                     << "stopMotion" << json(R"({"ok":true,"ended":"not renewed"})");
        QTest::newRow("released") << "release"
                                  << "stopEverything"
                                  << json(
                                         R"({"ok":true,"ended":"stopped","message":"control was released"})");
    }
    void stopsWhatAClientLeaves()
    {
        QFETCH(QString, how);
        QFETCH(QString, stop);
        QFETCH(QJsonObject, expected);
        TestClient a(path());
        TestClient watcher(path());
        QVERIFY(has(a.request(1, "take"), json(R"({"ok":true})")));
        a.send(2, "hold", json(R"({"joints":{"elbow":"down"},"holdMs":150})"));
        // Renewed in time, the motion goes on.
        for (int i = 3; i < 8; ++i) {
            a.pump(60);
            QVERIFY(has(a.request(i, "renew"), json(R"({"ok":true})")));
        }
        QCOMPARE(m_arm.calls, QStringList{"start elbow:down 0"});
        if (how == "disconnect")
            a.socket().abort();
        else if (how == "long line")
            a.sendLine(QByteArray(ServiceProtocol::MaxLineBytes + 10, ' '));
        else if (how == "release")
            a.send(8, "release");
        QTRY_COMPARE(m_arm.calls, (QStringList{"start elbow:down 0", stop}));
        if (!expected.isEmpty())
            QVERIFY(has(a.waitReply(2), expected));
        if (how == "long line") {
            QTRY_COMPARE(a.socket().state(), QLocalSocket::UnconnectedState);
            QVERIFY(has(
                a.waitReply(QJsonValue()),
                json(R"({"ok":false,"error":"line longer than 65536 bytes: the connection is closed"})")));
        }
        if (how != "lapse")
            QVERIFY(has(watcher.request(1, "take"), json(R"({"ok":true})")));
        QVERIFY(has(watcher.request(2, "status"), json(R"({"ok":true,"motion":{}})")));
    }

    // Each bad line has its error reply, and the connection goes on.
    void badInput_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray(R"({"id":1,)") << QJsonValue()
                                  << "not JSON: unterminated object at byte 8";
        QTest::newRow("not an object") << QByteArray("[1,2]") << QJsonValue() << "a request is a JSON object";
        QTest::newRow("no id") << QByteArray(R"({"cmd":"status"})") << QJsonValue()
                               << R"(a request needs an "id", a number or a string)";
        QTest::newRow("unknown command")
            << QByteArray(R"({"id":1,"cmd":"dance"})") << QJsonValue(1) << R"(unknown command "dance")";
        QTest::newRow("no such joint")
            << QByteArray(R"({"id":1,"cmd":"move","joints":{"elbow":"up","knee":"up"},"ms":5})")
            << QJsonValue(1) << R"(no joint is called "knee" (base, shoulder, elbow, wrist, gripper))";
        QTest::newRow("wrong way") << QByteArray(R"({"id":1,"cmd":"hold","joints":{"base":"up"}})")
                                   << QJsonValue(1) << R"(the base goes "ccw" or "cw")";
        QTest::newRow("no time") << QByteArray(R"({"id":1,"cmd":"move","joints":{"wrist":"up"},"ms":0.5})")
                                 << QJsonValue(1) << R"("ms" must be a whole number from 1 to 60000)";
        QTest::newRow("unknown event")
            << QByteArray(R"({"id":1,"cmd":"subscribe","events":["pose","weather"]})") << QJsonValue(1)
            << R"(no event is called "weather" (connection, motion, run, pose, light, control))";
        QTest::newRow("without control") << QByteArray(R"({"id":1,"cmd":"renew"})") << QJsonValue(1)
                                         << "this client does not have control: send take first";
    }
    void badInput()
    {
        QFETCH(QByteArray, line);
        QFETCH(QJsonValue, id);
        QFETCH(QString, error);
        TestClient client(path());
        client.sendLine(line + "\r\n");
        QVERIFY(has(client.waitReply(id), QJsonObject{{"ok", false}, {"error", error}}));
        QVERIFY(has(client.request(2, "arms"),
                    json(R"({"ok":true,"ready":true,"arms":["Virtual HID board 1e6f:1113"]})")));
        QCOMPARE(m_arm.calls, QStringList{});
    }

    // A client that does not read its events is cut off alone: the others hear every event, and the
    // motion in force runs on.
    void slowReaderCutOffAlone()
    {
        TestClient driver(path());
        TestClient watcher(path());
        QVERIFY(has(driver.request(1, "take"), json(R"({"ok":true})")));
        driver.send(2, "move", json(R"({"joints":{"gripper":"open"},"ms":30000})"));
        QVERIFY(has(watcher.request(1, "subscribe", json(R"({"events":["connection"]})")),
                    json(R"({"ok":true})")));
        const int slow = rawClient(path(), R"({"id":1,"cmd":"subscribe","events":["connection"]})"
                                           "\n");
        QVERIFY(slow >= 0);
        QTRY_COMPARE(m_server->clientCount(), 3);
        watcher.pump(50);
        const QStringList arms{QString(1000, QLatin1Char('a'))};
        const int count = 3000;
        for (int i = 0; i < count; ++i) {
            Q_EMIT m_arm.connectionChanged(true, arms);
            if (i % 50 == 0)
                watcher.pump(1);
        }
        QTRY_COMPARE(m_server->clientCount(), 2);
        QTRY_COMPARE(watcher.events("connection").size(), count);
        QCOMPARE(m_arm.calls, QStringList{"start gripper:open 30000"});
        QVERIFY(has(driver.request(3, "stop"), json(R"({"ok":true})")));
        QVERIFY(has(driver.waitReply(2), json(R"({"ok":true,"ended":"stopped"})")));
        ::close(slow);
    }

    // A client that floods the server with lines does not hold up another's stop.
    void floodDoesNotDelayStop()
    {
        TestClient flood(path());
        TestClient stopper(path());
        QByteArray lines;
        for (int i = 1; i <= 3000; ++i)
            lines += R"({"id":)" + QByteArray::number(i) +
                     R"(,"cmd":"status"})"
                     "\n";
        flood.sendLine(lines);
        stopper.send(1, "stop");
        QVERIFY(has(stopper.waitReply(1), json(R"({"ok":true})")));
        QCOMPARE(m_arm.calls, QStringList{"stopEverything"});
        // A turn is 8 lines; the socket's buffer alone would hold some 2,000.
        QVERIFY2(m_arm.armsAskedAtStop < 300, qPrintable(QString::number(m_arm.armsAskedAtStop)));
        QVERIFY(has(flood.waitReply(3000, 20000), json(R"({"ok":true})")));
    }

    // A subscriber hears the pose at the rate it asked for, the latest pose last; others not at all.
    void poseEventsRateLimited()
    {
        TestClient fast(path());
        TestClient other(path());
        QVERIFY(has(fast.request(1, "subscribe", json(R"({"events":["pose"],"poseHz":20})")),
                    json(R"({"ok":true})")));
        QVERIFY(has(other.request(1, "subscribe", json(R"({"events":["motion"]})")), json(R"({"ok":true})")));
        QElapsedTimer clock;
        clock.start();
        ServicePose pose;
        for (int i = 0; clock.elapsed() < 500; ++i) {
            pose.joints[0].degrees = i;
            Q_EMIT m_arm.poseChanged(pose);
            QTest::qWait(2);
        }
        fast.pump(150);
        other.pump(1);
        const QList<QJsonObject> poses = fast.events("pose");
        QVERIFY2(poses.size() >= 5 && poses.size() <= 15, qPrintable(QString::number(poses.size())));
        QCOMPARE(poses.last().value("joints").toObject().value("base").toObject().value("degrees").toDouble(),
                 pose.joints[0].degrees);
        QCOMPARE(other.events("pose").size(), 0);
    }

    // The socket is ours alone: a folder others may enter is refused, a stale socket replaced, and a
    // live owner named.
    void owners()
    {
        m_server.reset();
        const QString folder = QFileInfo(path()).absolutePath();
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        ServiceServer second(&m_arm);
        QString error;
        QVERIFY(!second.listen(path(), &error));
        QCOMPARE(error, folder + " may be entered by other users (mode 0755; it must be 0700)");
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);

        // A socket whose owner died without removing it.
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = addressOf(path());
        QVERIFY(::bind(stale, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
        ::close(stale);
        QVERIFY(second.listen(path(), &error));
        struct stat st
        {
        };
        QVERIFY(::stat(QFile::encodeName(path()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        second.close();

        // A live owner on another thread: a second one is refused and told who serves.
        QThread thread;
        thread.start();
        FakeArm otherArm;
        otherArm.moveToThread(&thread);
        ServiceServer *owner = nullptr;
        bool listening = false;
        QMetaObject::invokeMethod(
            &otherArm,
            [&] {
                owner = new ServiceServer(&otherArm);
                owner->setOwnerName(QStringLiteral("tessaro-cli serve"));
                QString ownerError;
                listening = owner->listen(path(), &ownerError);
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(listening);
        QVERIFY(!second.listen(path(), &error));
        QCOMPARE(error,
                 QStringLiteral("the arm is already served by tessaro-cli serve, pid %1").arg(getpid()));
        const ServiceSocket::Owner probed = ServiceSocket::probeOwner(path());
        QCOMPARE(probed.state, ServiceSocket::Owner::Live);
        QCOMPARE(probed.greeting.protocol, ServiceProtocol::Version);
        QMetaObject::invokeMethod(
            &otherArm, [&] { delete owner; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        QCOMPARE(ServiceSocket::probeOwner(path()).state, ServiceSocket::Owner::None);
    }
};

QTEST_GUILESS_MAIN(TestServiceServer)
#include "tst_serviceserver.moc"
