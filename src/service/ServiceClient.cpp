#include "ServiceClient.h"

#include "ServiceSocket.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>

ServiceClient::ServiceClient(QObject *parent) : QObject(parent)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, &ServiceClient::readLines);
    connect(&m_socket, &QLocalSocket::disconnected, this, &ServiceClient::disconnected);
}

bool ServiceClient::connectTo(const QString &path, QString *error, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    m_socket.connectToServer(path);
    if (!m_socket.waitForConnected(int(deadline.remainingTime()))) {
        *error = QStringLiteral("no program serves the arm at %1").arg(path);
        return false;
    }
    const std::optional<ServiceProtocol::Greeting> greeting =
        ServiceSocket::readGreeting(m_socket, int(deadline.remainingTime()));
    if (!greeting || greeting->protocol != ServiceProtocol::Version) {
        *error = greeting ? QStringLiteral("the program at %1 speaks another protocol").arg(path)
                          : QStringLiteral("the program at %1 did not greet").arg(path);
        m_socket.abort();
        return false;
    }
    m_greeting = *greeting;
    m_greeted = true;
    // What came with the greeting.
    if (m_socket.bytesAvailable() > 0)
        QTimer::singleShot(0, this, &ServiceClient::readLines);
    return true;
}

bool ServiceClient::isConnected() const
{
    return m_greeted && m_socket.state() == QLocalSocket::ConnectedState;
}

QString ServiceClient::ownerText() const
{
    ServiceSocket::Owner owner;
    owner.state = ServiceSocket::Owner::Live;
    owner.greeting = m_greeting;
    return owner.text();
}

qint64 ServiceClient::send(const QString &cmd, QJsonObject fields)
{
    const qint64 id = m_nextId++;
    fields.insert(QStringLiteral("id"), id);
    fields.insert(QStringLiteral("cmd"), cmd);
    m_socket.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    m_socket.flush();
    return id;
}

std::optional<QJsonObject> ServiceClient::request(const QString &cmd, QJsonObject fields, int timeoutMs,
                                                  QString *error)
{
    if (!isConnected()) {
        if (error)
            *error = QStringLiteral("the program that served the arm has gone");
        return std::nullopt;
    }
    std::optional<QJsonObject> reply;
    QEventLoop loop;
    const qint64 id = send(cmd, std::move(fields));
    const QMetaObject::Connection heard = connect(this, &ServiceClient::replied, &loop,
                                                  [&](qint64 replyId, const QJsonObject &r) {
                                                      if (replyId != id)
                                                          return;
                                                      reply = r;
                                                      loop.quit();
                                                  });
    const QMetaObject::Connection gone = connect(this, &ServiceClient::disconnected, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        timer.start(timeoutMs);
    // A reply read already, with the greeting or an earlier reply's, is told on the next turn.
    readLines();
    if (!reply && isConnected())
        loop.exec();
    disconnect(heard);
    disconnect(gone);
    if (!reply && error)
        *error = isConnected() ? QStringLiteral("no reply to %1 within %2 ms").arg(cmd).arg(timeoutMs)
                               : QStringLiteral("the program that served the arm has gone");
    return reply;
}

void ServiceClient::readLines()
{
    // The greeting is connectTo's to read.
    if (!m_greeted)
        return;
    while (m_socket.canReadLine()) {
        const QByteArray line = m_socket.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains(QLatin1String("event")))
            Q_EMIT eventHeard(object.value(QLatin1String("event")).toString(), object);
        else if (object.contains(QLatin1String("id")))
            Q_EMIT replied(qint64(object.value(QLatin1String("id")).toDouble(-1)), object);
    }
}
