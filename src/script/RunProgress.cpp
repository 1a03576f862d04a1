#include "RunProgress.h"

#include "NumberReading.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// The runner's bounds: a step of more than this is as good as endless, and the repetition counter is
// 16 bits wide.
constexpr double MaxStepSeconds = 1e9;
constexpr int MaxRepetitions = 32767;

bool usable(double seconds)
{
    return seconds > 0 && std::isfinite(seconds);
}

// h:mm:ss or m:ss of a whole number of seconds.
QString clock(double wholeSeconds)
{
    const double hours = std::floor(wholeSeconds / 3600);
    const int minutes = int(std::fmod(std::floor(wholeSeconds / 60), 60));
    const int secs = int(std::fmod(wholeSeconds, 60));
    const QString mmss = QStringLiteral("%1:%2").arg(minutes, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(secs, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours, 0, 'f', 0).arg(mmss) : mmss;
}

} // namespace

QString RunProgress::durationText(double seconds)
{
    if (!usable(seconds))
        return QStringLiteral("0 s");
    // Decided on the rounded value, so that 59.9996 s shows as 1:00, not as "60 s".
    if (std::round(seconds * 1000) < 60'000) {
        QString text = QString::number(seconds, 'f', 3);
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return text + QStringLiteral(" s");
    }
    return clock(std::round(seconds));
}

QString RunProgress::elapsedText(double seconds)
{
    if (!usable(seconds))
        return QStringLiteral("0.0 s");
    // Decided on the rounded value, so that 59.96 s shows as 1:00, not as "60.0 s".
    if (std::round(seconds * 10) < 600)
        return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
    return clock(std::round(seconds));
}

QString RunProgress::clockText(double seconds)
{
    return clock(usable(seconds) ? std::floor(seconds) : 0.0);
}

QString RunProgress::totalText(double passSeconds, int repetitions)
{
    const double pass = usable(passSeconds) ? passSeconds : 0.0;
    if (repetitions == 1)
        return QStringLiteral("Total %1").arg(durationText(pass));
    return QStringLiteral("Total %1 \u00D7 %2 = %3")
        .arg(durationText(pass))
        .arg(repetitions)
        .arg(durationText(pass * std::max(repetitions, 0)));
}

int RunProgress::repetitionsPlayed(double value)
{
    if (!(value > 0))
        return 0;
    return int(std::ceil(std::min(value, double(MaxRepetitions))));
}

double RunProgress::stepSeconds(const QString &timeText)
{
    const double seconds = LeadingNumber(timeText);
    return usable(seconds) ? std::min(seconds, MaxStepSeconds) : 0.0;
}

void RunProgress::setPlan(const QList<double> &stepSeconds, int repetitions)
{
    m_seconds.clear();
    m_prefix = {0.0};
    for (double s : stepSeconds) {
        const double seconds = usable(s) ? std::min(s, MaxStepSeconds) : 0.0;
        m_seconds.append(seconds);
        m_prefix.append(m_prefix.last() + seconds);
    }
    m_repetitions = std::max(repetitions, 0);
    m_row = std::min(m_row, steps());
    m_repetition = std::min(m_repetition, m_repetitions);
}

void RunProgress::start(qint64 nowNs, int firstStep)
{
    m_firstStep = std::max(firstStep, 1);
    m_repetition = 0;
    m_row = 0;
    m_startNs = m_stepStartNs = nowNs;
}

void RunProgress::stepStarted(int row, qint64 nowNs)
{
    if (m_repetition == 0 || row <= m_row)
        m_repetition = std::min(m_repetition + 1, std::max(m_repetitions, 1));
    m_row = std::clamp(row, 1, std::max(steps(), 1));
    m_stepStartNs = nowNs;
}

double RunProgress::rowsSeconds(int from, int to) const
{
    from = std::max(from, 1);
    to = std::min(to, steps());
    return from > to ? 0.0 : m_prefix[to] - m_prefix[from - 1];
}

double RunProgress::passSeconds() const
{
    return m_prefix.isEmpty() ? 0.0 : m_prefix.last();
}

double RunProgress::totalSeconds() const
{
    if (m_repetitions == 0)
        return 0.0;
    return rowsSeconds(m_firstStep, steps()) + (m_repetitions - 1) * passSeconds();
}

double RunProgress::secondsRun(qint64 nowNs) const
{
    if (m_repetition == 0 || m_row == 0)
        return 0.0;
    double done = 0;
    if (m_repetition == 1)
        done = rowsSeconds(m_firstStep, m_row - 1);
    else
        done = rowsSeconds(m_firstStep, steps()) + (m_repetition - 2) * passSeconds() + rowsSeconds(1, m_row - 1);
    const double inStep = std::clamp(double(nowNs - m_stepStartNs) / 1e9, 0.0, m_seconds.value(m_row - 1));
    return std::min(done + inStep, totalSeconds());
}

double RunProgress::secondsLeft(qint64 nowNs) const
{
    return std::max(totalSeconds() - secondsRun(nowNs), 0.0);
}

double RunProgress::fraction(qint64 nowNs) const
{
    const double total = totalSeconds();
    if (total > 0)
        return std::clamp(secondsRun(nowNs) / total, 0.0, 1.0);
    return m_row > 0 ? 1.0 : 0.0;
}

QString RunProgress::repetitionText() const
{
    return QStringLiteral("%1 of %2").arg(m_repetition).arg(m_repetitions);
}

QString RunProgress::progressLine(qint64 nowNs, const QString &stepName) const
{
    if (m_row == 0)
        return QStringLiteral("Starting, %1 left").arg(clockText(std::ceil(secondsLeft(nowNs))));
    QString step = QStringLiteral("Step %1 of %2").arg(m_row).arg(steps());
    if (!stepName.isEmpty())
        step += QLatin1Char(' ') + stepName;
    return QStringLiteral("Repetition %1  %2  %3 left")
        .arg(repetitionText(), step, clockText(std::ceil(secondsLeft(nowNs))));
}

QString RunProgress::finishedText(double seconds) const
{
    return QStringLiteral("Run finished: %1 %2, %3")
        .arg(m_repetitions)
        .arg(m_repetitions == 1 ? QStringLiteral("repetition") : QStringLiteral("repetitions"))
        .arg(elapsedText(seconds));
}

QString RunProgress::stoppedText() const
{
    if (m_row == 0)
        return QStringLiteral("Run stopped before its first step");
    return QStringLiteral("Run stopped at step %1 of repetition %2").arg(m_row).arg(m_repetition);
}
