#include "RunawayLimit.h"

#include "ArmMotion.h"
#include "RunSteps.h"

#include <algorithm>
#include <cmath>

RunawayLimit::RunawayLimit(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RunawayLimit::reached);
}

void RunawayLimit::setLimits(bool on, double percent)
{
    m_on = on;
    m_percent = percent;
    // A motion that is on keeps the limit it started with unless the limit is switched off.
    if (!on)
        pause();
}

int RunawayLimit::limitMs(int code) const
{
    const int limiting = limitingCode(code);
    if (limiting == 0 || !m_on)
        return 0;
    if (m_override)
        return *m_override;
    const double ms = armCodeMotion(limiting)->motion().fullTravelSeconds * 1000.0 * m_percent / 100.0;
    return std::max(FloorMs, int(std::lround(ms)));
}

int RunawayLimit::limitingCode(int code)
{
    int limiting = 0;
    for (const int part : armCodeParts(code)) {
        if (limiting == 0 ||
            armCodeMotion(part)->motion().fullTravelSeconds < armCodeMotion(limiting)->motion().fullTravelSeconds)
            limiting = part;
    }
    return limiting;
}

std::optional<qint64> RunawayLimit::arm(int code)
{
    pause();
    const int limit = limitMs(code);
    if (limit <= 0)
        return std::nullopt;
    const bool goesOn = code == m_code && m_pause.isValid() && m_pause.elapsed() < GapMs;
    if (!goesOn)
        m_ranMs = 0;
    m_code = code;
    m_clock.start();
    const qint64 left = std::max<qint64>(0, limit - m_ranMs);
    m_timer.start(int(left));
    return left;
}

void RunawayLimit::pause()
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    m_ranMs += m_clock.elapsed();
    m_pause.start();
}

void RunawayLimit::stop()
{
    m_timer.stop();
    m_pause.invalidate();
}

double RunawayLimit::ranSeconds() const
{
    return double(m_ranMs + m_clock.elapsed()) / 1000.0;
}

QString RunawayLimit::reachedText(int code, double seconds)
{
    return QStringLiteral("%1 stopped after %2 s: end of travel")
        .arg(jointTitle(limitingCode(code)), QString::number(seconds, 'f', 1));
}

void RunMotionLimits::take(const RunawayLimit &limit)
{
    for (int code = 0; code < int(m_limitsMs.size()); ++code)
        m_limitsMs[size_t(code)] = limit.limitMs(code);
    m_code = -1;
}

qint64 RunMotionLimits::deadlineFor(int code, qint64 nowNs)
{
    if (!armCodeMotion(code)) {
        m_code = -1;
        return 0;
    }
    // Consecutive steps of one motion are one motion, with one time limit.
    if (code != m_code) {
        m_code = code;
        m_startNs = nowNs;
        const int limit = m_limitsMs[size_t(code)];
        m_deadlineNs = limit > 0 ? nowNs + qint64(limit) * 1'000'000 : 0;
    }
    return m_deadlineNs;
}
