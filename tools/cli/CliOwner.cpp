#include "CliOwner.h"

#include "CliCommon.h"
#include "CliScript.h"

#include "ServiceSocket.h"
#include "StopSignals.h"

#include <QFileInfo>
#include <QJsonArray>

#include <cmath>
#include <csignal>

namespace {

QString errorOf(const QJsonObject &reply)
{
    return reply.value(QLatin1String("error")).toString();
}

// "base ±3°, shoulder unknown, ...": each joint's `field` from a pose reply, rounded up as the window
// rounds its bands.
QString bandText(const QJsonObject &pose, const char *field, bool withDegrees)
{
    QStringList parts;
    const QJsonObject joints = pose.value(QLatin1String("joints")).toObject();
    for (const ArmJointMotion &m : armJointMotions) {
        const QJsonObject joint = joints.value(QLatin1String(m.name)).toObject();
        const QJsonValue band = joint.value(QLatin1String(field));
        const bool known = withDegrees ? joint.value(QLatin1String("knowledge")).toString() == u"at ends"
                                       : band.isDouble();
        if (!known) {
            parts << QStringLiteral("%1 unknown").arg(QLatin1String(m.name));
            continue;
        }
        const QString plusMinus =
            QStringLiteral("\u00B1%1\u00B0").arg(std::max(0.0, std::ceil(band.toDouble() - 1e-6)), 0, 'f', 0);
        parts << (withDegrees ? QStringLiteral("%1 %2\u00B0 %3")
                                    .arg(QLatin1String(m.name))
                                    .arg(std::round(joint.value(QLatin1String("degrees")).toDouble()), 0, 'f', 0)
                                    .arg(plusMinus)
                              : QStringLiteral("%1 %2").arg(QLatin1String(m.name), plusMinus));
    }
    return parts.join(QStringLiteral(", "));
}

// Waits for the reply of a run, sending a stop on Ctrl+C and the other stop signals; the signal, if
// one came.
std::optional<QJsonObject> awaitRun(ServiceClient &owner, const QString &cmd, QJsonObject fields, int *signal)
{
    StopSignals stopSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    QMetaObject::Connection stopping;
    if (stopSignals.notifier()) {
        stopping = QObject::connect(stopSignals.notifier(), &QSocketNotifier::activated, &owner, [&] {
            if (const int s = stopSignals.take(); s != 0) {
                *signal = s;
                owner.send(QStringLiteral("stop"));
            }
        });
    }
    const std::optional<QJsonObject> reply = owner.request(cmd, std::move(fields), -1);
    QObject::disconnect(stopping);
    return reply;
}

} // namespace

std::unique_ptr<ServiceClient> cliOwner()
{
    auto client = std::make_unique<ServiceClient>();
    QString why;
    if (!client->connectTo(ServiceSocket::defaultPath(), &why))
        return nullptr;
    return client;
}

bool cliTakeControl(ServiceClient &owner, QTextStream &err)
{
    QString why;
    const std::optional<QJsonObject> reply = owner.request(QStringLiteral("take"), {}, 5000, &why);
    if (reply && reply->value(QLatin1String("ok")).toBool())
        return true;
    err << "tessaro-cli: the arm is served by " << owner.ownerText() << ": "
        << (reply ? errorOf(*reply) : why) << "\n";
    return false;
}

int cliDevicesThroughOwner(ServiceClient &owner, QTextStream &out, QTextStream &err)
{
    QString why;
    const std::optional<QJsonObject> reply = owner.request(QStringLiteral("arms"), {}, 5000, &why);
    if (!reply) {
        err << "tessaro-cli: " << why << "\n";
        return CliExit::Failed;
    }
    const QJsonArray arms = reply->value(QLatin1String("arms")).toArray();
    out << "The arm is served by " << owner.ownerText() << (arms.isEmpty() ? ": no arm is open" : ":") << "\n";
    for (const QJsonValue &arm : arms)
        out << "  " << arm.toString() << "\n";
    return arms.isEmpty() ? CliExit::NoArm : CliExit::Ok;
}

int cliLightThroughOwner(ServiceClient &owner, bool on, QTextStream &out, QTextStream &err)
{
    if (!cliTakeControl(owner, err))
        return CliExit::Served;
    QString why;
    const std::optional<QJsonObject> reply =
        owner.request(QStringLiteral("light"), {{QStringLiteral("on"), on}}, 5000, &why);
    owner.request(QStringLiteral("release"));
    if (!reply || !reply->value(QLatin1String("ok")).toBool()) {
        err << "tessaro-cli: " << (reply ? errorOf(*reply) : why) << "\n";
        return CliExit::Refused;
    }
    out << "light " << (on ? "on" : "off") << ": the arm served by " << owner.ownerText() << "\n";
    return CliExit::Ok;
}

int cliRunThroughOwner(ServiceClient &owner, const CliOwnerRun &run, CliScript &script, QTextStream &out,
                       QTextStream &err)
{
    if (!cliTakeControl(owner, err))
        return CliExit::Served;
    if (!run.quiet)
        out << "Playing on the arm served by " << owner.ownerText() << "\n";
    if (run.light)
        owner.request(QStringLiteral("light"), {{QStringLiteral("on"), true}});
    if (run.returnAfter)
        owner.request(QStringLiteral("setStart"));
    const QMetaObject::Connection progress = QObject::connect(
        &owner, &ServiceClient::eventHeard, &owner, [&script](const QString &kind, const QJsonObject &e) {
            if (kind == u"run")
                script.stepStarting(e.value(QLatin1String("step")).toInt());
        });
    owner.request(QStringLiteral("subscribe"), {{QStringLiteral("events"), QJsonArray{QStringLiteral("run")}}});

    int signal = 0;
    script.begin();
    const std::optional<QJsonObject> played =
        awaitRun(owner, QStringLiteral("play"),
                 {{QStringLiteral("file"), QFileInfo(run.file).absoluteFilePath()},
                  {QStringLiteral("repetitions"), run.reps}},
                 &signal);
    script.end();
    QObject::disconnect(progress);
    if (!played) {
        err << "tessaro-cli: the program that served the arm has gone during the run\n";
        return CliExit::ArmGone;
    }
    const QString ended = played->value(QLatin1String("ended")).toString();
    const QString message = played->value(QLatin1String("message")).toString();
    bool returned = false;
    if (run.returnAfter && ended == u"finished" && signal == 0) {
        if (!run.quiet)
            out << "Returning to start\n";
        const std::optional<QJsonObject> back = awaitRun(owner, QStringLiteral("returnToStart"), {}, &signal);
        returned = back && back->value(QLatin1String("ended")).toString() == u"finished";
        if (back && !returned && !run.quiet)
            out << (errorOf(*back).isEmpty() ? back->value(QLatin1String("message")).toString() : errorOf(*back))
                << "\n";
    }
    const std::optional<QJsonObject> pose = owner.request(QStringLiteral("pose"));
    owner.request(QStringLiteral("release"));

    int status = CliExit::Ok;
    if (signal != 0) {
        err << "tessaro-cli: " << script.progress().stoppedText() << "\n";
        status = CliExit::SignalBase + signal;
    } else if (ended == u"disconnected") {
        err << "tessaro-cli: the arm was disconnected during the run; the run was stopped\n";
        status = CliExit::ArmGone;
    } else if (ended == u"failed" || ended == u"refused" || ended == u"stopped") {
        const QString why = ended == u"refused" ? errorOf(*played) : message;
        err << "tessaro-cli: the run " << (ended == u"stopped" ? "was stopped" : "did not play")
            << (why.isEmpty() ? QString() : QStringLiteral(": ") + why) << "\n";
        status = CliExit::Refused;
    }
    if (!run.quiet) {
        // A finished run's message names the steps cut short, one a line.
        if (ended == u"finished" && !message.isEmpty())
            out << message << "\n";
        if (ended == u"finished")
            out << script.progress().finishedText(played->value(QLatin1String("seconds")).toDouble()) << "\n";
        if (returned)
            out << "Returned to the start pose (estimated)\n";
        if (pose && returned)
            out << "Return error (estimated): " << bandText(*pose, "startBand", false) << "\n";
        else if (pose && !run.returnAfter)
            out << "Estimated pose: " << bandText(*pose, "band", true) << "\n";
    }
    return status;
}
