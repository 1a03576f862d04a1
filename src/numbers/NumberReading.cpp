#include "NumberReading.h"

#include <QByteArray>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The longest numeric prefix of ASCII text with blanks already removed, as text strtod reads
// (exponent letter "D" turned into "E"); empty when the text does not start with a number.
QByteArray numericPrefix(const QByteArray &s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return QByteArray();
    qsizetype end = i;
    if (i < n && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        qsizetype j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-'))
            ++j;
        const qsizetype expStart = j;
        while (j < n && isDigit(s[j]))
            ++j;
        if (j > expStart)
            end = j;
    }
    QByteArray prefix = s.left(end);
    for (char &c : prefix) {
        if (c == 'D' || c == 'd')
            c = 'E';
    }
    return prefix;
}

// strtod in the C locale's sense: our prefixes hold only digits, signs, "." and "E".
double parsePrefix(const QByteArray &prefix, bool *overflow)
{
    errno = 0;
    const double v = std::strtod(prefix.constData(), nullptr);
    const bool over = errno == ERANGE && std::isinf(v);
    if (overflow)
        *overflow = over;
    if (over)
        return 0.0;
    // Underflow yields a denormal or zero, which is the nearest value anyway.
    return v;
}

// Half to even, worked out by hand rather than with nearbyint, which would follow whatever rounding
// mode the process has set. Returns false when the result lies outside [low, high].
bool roundHalfEven(double value, double low, double high, double *result)
{
    if (!std::isfinite(value))
        return false;
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;
    if (rounded < low || rounded > high)
        return false;
    *result = rounded;
    return true;
}

} // namespace

double LeadingNumber(const QString &text, bool *overflow)
{
    if (overflow)
        *overflow = false;
    QByteArray compact;
    compact.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == u' ' || u == u'\t' || u == u'\n')
            continue;
        // Anything outside ASCII ends a number, so it can stand in as a stop mark.
        compact.append(u < 0x80 ? char(u) : '\x01');
    }
    const QByteArray prefix = numericPrefix(compact);
    if (prefix.isEmpty())
        return 0.0;
    return parsePrefix(prefix, overflow);
}

bool WholeTextNumber(const QString &text, double *value)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    QByteArray ascii;
    for (const QChar ch : trimmed) {
        if (ch.unicode() >= 0x80)
            return false;
        ascii.append(char(ch.unicode()));
    }
    const QByteArray prefix = numericPrefix(ascii);
    if (prefix.size() != ascii.size())
        return false;
    bool over = false;
    const double v = parsePrefix(prefix, &over);
    if (over)
        return false;
    if (value)
        *value = v;
    return true;
}

bool RoundToInt16(double value, qint16 *result)
{
    double rounded = 0;
    if (!roundHalfEven(value, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max(), &rounded))
        return false;
    if (result)
        *result = qint16(rounded);
    return true;
}

bool RoundToInt32(double value, qint32 *result)
{
    double rounded = 0;
    if (!roundHalfEven(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), &rounded))
        return false;
    if (result)
        *result = qint32(rounded);
    return true;
}
