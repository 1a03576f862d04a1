#pragma once

#include "ServiceServer.h"
#include "SessionArm.h"

#include <QString>

class ArmSession;

// The arms of a session served on the socket, as the programs that own them serve them (tessaro-cli
// serve, the window): a SessionArm over the session and the ServiceServer that speaks for it, under
// the owner's name. Made and listening before the session starts, so that while another program
// serves, the arms are not touched.
class SessionService
{
public:
    enum class Listen {
        Serving,
        // Another program serves the arm there: it is the owner.
        OtherOwner,
        // The socket cannot be served (its folder is not ours, the lock cannot be made, ...).
        Failed,
    };

    // The session is not owned and must outlive this.
    SessionService(ArmSession &session, const QString &ownerName);

    // Serves at `path`. Otherwise `error` says why ("the arm is already served by tessaro-cli serve,
    // pid 4711"), and for another owner `owner` names it ("tessaro-cli serve, pid 4711").
    Listen listen(const QString &path, QString *error, QString *owner = nullptr);

    SessionArm &arm() { return m_arm; }
    ServiceServer &server() { return m_server; }

private:
    SessionArm m_arm;
    ServiceServer m_server;
};
