#include "ServiceTestSupport.h"

#include "ServiceProtocol.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTest>

FakeArm::FakeArm()
{
    m_motionTimer.setSingleShot(true);
    connect(&m_motionTimer, &QTimer::timeout, this, [this] { endMotion(MotionEnd::Done); });
}

void FakeArm::startMotion(Token token, const ServiceMotion &motion, int ms)
{
    QStringList joints;
    for (const JointDrive &d : motion)
        joints << ServiceProtocol::jointName(d.joint) + QLatin1Char(':') +
                      ServiceProtocol::directionWord(d.joint, d.direction);
    calls << QStringLiteral("start %1 %2").arg(joints.join(QLatin1Char(' '))).arg(ms);
    if (oneMotorOnly && motion.size() > 1) {
        Q_EMIT motionEnded(
            token, {MotionEnd::Refused, QStringLiteral("the HID board drives one motor at a time"), 0});
        return;
    }
    endMotion(MotionEnd::Stopped);
    m_motion = token;
    Q_EMIT motionChanged(motion);
    if (ms > 0)
        m_motionTimer.start(ms);
}

void FakeArm::endMotion(MotionEnd end)
{
    if (!m_motion)
        return;
    m_motionTimer.stop();
    const Token token = std::exchange(m_motion, 0);
    Q_EMIT motionChanged({});
    Q_EMIT motionEnded(token, {end, QString(), 10});
}

void FakeArm::stopEverything()
{
    calls << QStringLiteral("stopEverything");
    armsAskedAtStop = armsAsked;
    endMotion(MotionEnd::Stopped);
    if (m_run)
        Q_EMIT runEnded(std::exchange(m_run, 0), {RunOutcome::Stopped, QString(), 0.5, 1, 1});
}

void FakeArm::returnToStart(Token token)
{
    calls << QStringLiteral("returnToStart");
    if (!startSet)
        Q_EMIT runEnded(token, {RunOutcome::Refused, QStringLiteral("no start pose is set"), 0, 0, 0});
    else
        play(token, 2, 1);
}

void FakeArm::playSteps(Token token, const QList<ServiceStep> &steps, int repetitions)
{
    QStringList names;
    for (const ServiceStep &s : steps)
        names << QStringLiteral("%1:%2").arg(s.function).arg(s.seconds);
    calls << QStringLiteral("playSteps %1 x%2").arg(names.join(QLatin1Char(' '))).arg(repetitions);
    play(token, int(steps.size()), repetitions);
}

void FakeArm::play(Token token, int steps, int repetitions)
{
    m_run = token;
    for (int r = 1; r <= repetitions; ++r)
        for (int s = 1; s <= steps; ++s)
            Q_EMIT runProgress(token, s, r);
    QTimer::singleShot(0, this, [this, token, steps, repetitions] {
        if (m_run == token)
            Q_EMIT runEnded(std::exchange(m_run, 0),
                            {RunOutcome::Finished, QString(), 1.0, steps, repetitions});
    });
}

TestClient::TestClient(const QString &path)
{
    m_socket.connectToServer(path);
    // The server runs on this thread: it greets once the event loop turns.
    QDeadlineTimer deadline(5000);
    while (m_socket.waitForConnected(5000) && m_lines.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(1);
        readLines();
    }
    if (!m_lines.isEmpty())
        m_greeting = m_lines.takeFirst();
}

void TestClient::readLines()
{
    m_input += m_socket.readAll();
    for (qsizetype nl; (nl = m_input.indexOf('\n')) >= 0;) {
        m_lines.append(QJsonDocument::fromJson(m_input.left(nl)).object());
        m_input.remove(0, nl + 1);
    }
}

void TestClient::sendLine(const QByteArray &line)
{
    m_socket.write(line);
    m_socket.flush();
}

void TestClient::send(int id, const QString &cmd, QJsonObject fields)
{
    fields.insert(QStringLiteral("id"), id);
    fields.insert(QStringLiteral("cmd"), cmd);
    sendLine(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
}

QJsonObject TestClient::request(int id, const QString &cmd, QJsonObject fields, int timeoutMs)
{
    send(id, cmd, fields);
    return waitReply(id, timeoutMs);
}

QJsonObject TestClient::waitReply(const QJsonValue &id, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        for (qsizetype i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].contains(QLatin1String("ok")) && m_lines[i].value(QLatin1String("id")) == id)
                return m_lines.takeAt(i);
        if (deadline.hasExpired())
            return {};
        QTest::qWait(1);
        readLines();
    }
}

QList<QJsonObject> TestClient::events(const QString &name)
{
    readLines();
    QList<QJsonObject> found;
    for (const QJsonObject &line : std::as_const(m_lines))
        if (line.value(QLatin1String("event")).toString() == name)
            found.append(line);
    return found;
}

void TestClient::pump(int ms)
{
    QTest::qWait(ms);
    readLines();
}
