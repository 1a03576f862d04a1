#include "SessionService.h"

namespace {

// How ServiceServer::listen names another owner holding the socket's lock.
const QString ServedBy = QStringLiteral("the arm is already served by ");

} // namespace

SessionService::SessionService(ArmSession &session, const QString &ownerName)
    : m_arm(session), m_server(&m_arm)
{
    m_server.setOwnerName(ownerName);
}

SessionService::Listen SessionService::listen(const QString &path, QString *error, QString *owner)
{
    if (m_server.listen(path, error))
        return Listen::Serving;
    if (!error->startsWith(ServedBy))
        return Listen::Failed;
    if (owner)
        *owner = error->mid(ServedBy.size());
    return Listen::OtherOwner;
}
