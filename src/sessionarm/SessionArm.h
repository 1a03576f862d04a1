#pragma once

#include "ServiceArm.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

class ArmSession;
class ScriptSource;

// The arm of an ArmSession, as the service serves it. A client's motion of one joint is the panel's
// motion, started as a click starts it: it passes the end-stop rule and the runaway limit, lights the
// window's button, and carries its own end to the way out (ArmSession::boundMotion) so that the motor
// stops on time even should this thread be held up. Runs go through ArmSession::runScript, a script
// file through the script reader, Return to start through the session's.
//
// Several joints at once are one motion of a combined code; an arm that takes one motion at a time
// refuses them before anything is sent. The session's thread only.
class SessionArm : public ServiceArm
{
    Q_OBJECT

public:
    // While a motion is in force the pose is told this often, for the clients that watch it.
    static constexpr int PoseTickMs = 20;

    // The session is not owned and must outlive this.
    explicit SessionArm(ArmSession &session, QObject *parent = nullptr);
    ~SessionArm() override;

    bool ready() const override;
    QStringList arms() const override;
    void startMotion(Token token, const ServiceMotion &motion, int ms) override;
    void stopMotion(Token token) override;
    void stopEverything() override;
    bool setLight(bool on, QString *error) override;
    bool light() const override;
    ServicePose pose() const override;
    bool declareStartPose(QString *error) override;
    void returnToStart(Token token) override;
    void playFile(Token token, const QString &path, int repetitions) override;
    void playSteps(Token token, const QList<ServiceStep> &steps, int repetitions) override;

    // Whether a run of a client's is asked for or playing.
    bool runBusy() const { return m_runToken != 0; }

private:
    struct Motion
    {
        Token token = 0;
        int code = 0;
        QElapsedTimer clock;
        // How it ended, once it did: told on the next turn of the event loop, so that the session's
        // word on why (the limit, an end stop) comes first.
        std::optional<MotionResult> ended;
    };

    // Refuses a run, and says so, while another is asked for or no arm is there.
    bool runRefused(Token token);
    // Plays on the next turn of the event loop, never inside the server's reading of a request; without
    // a source, Return to start.
    void playLater(Token token, std::shared_ptr<ScriptSource> source);
    void play(Token token, ScriptSource *source);
    void finishRun(Token token, RunResult result);
    void stepStarted(Token token, int row, int code);

    // The motion in force ends (once) as `end` says, and is told.
    void motionOver(MotionEnd end, const QString &message = QString());
    void tellMotionEnd();
    void setMotion(const ServiceMotion &motion);
    void tellConnection();

    ArmSession &m_session;
    std::optional<Motion> m_motion;
    QTimer m_motionTimer;
    ServiceMotion m_inForce;
    QTimer m_poseTick;
    bool m_ready = false;
    QStringList m_arms;
    bool m_light = false;

    Token m_runToken = 0;
    bool m_runCancelled = false;
    int m_runStep = 0;
    int m_runRepetition = 0;
    QElapsedTimer m_runClock;
};
