// Feeds arbitrary bytes to the service's request reader, one line at a time as the server splits them:
// each line is a request or an error with a reason, never both, and a motion read back from the way
// the server writes it is the same motion.

#include "ServiceProtocol.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace ServiceProtocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &line : input.split('\n')) {
        const Parsed parsed = parseRequest(line);
        if (parsed.request.has_value() == !parsed.error.isEmpty())
            abort();
        if (!parsed.request) {
            if (!parsed.id.isNull() && !parsed.id.isDouble() && !parsed.id.isString())
                abort();
            continue;
        }
        const Request &r = *parsed.request;
        if (r.id != parsed.id || r.repetitions < 1 || r.repetitions > MaxRepetitions)
            abort();
        if (r.command == Command::Move || r.command == Command::Hold) {
            if (r.motion.isEmpty() || r.motion.size() > ArmJointCount)
                abort();
            const QJsonObject again{{QStringLiteral("id"), 1},
                                    {QStringLiteral("cmd"), QStringLiteral("hold")},
                                    {QStringLiteral("joints"), motionJson(r.motion)}};
            const Parsed back = parseRequest(QJsonDocument(again).toJson(QJsonDocument::Compact));
            if (!back.request || back.request->motion != r.motion)
                abort();
        }
        for (const ServiceStep &step : r.steps)
            if (step.function.isEmpty() || !(step.seconds >= 0.0) || step.seconds > MaxStepSeconds)
                abort();
    }
    (void)parseGreeting(input);
    return 0;
}
