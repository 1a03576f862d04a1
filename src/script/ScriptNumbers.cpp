#include "ScriptNumbers.h"

#include <QByteArray>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int SignificantDigits = 15;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

QString NumberText(double value)
{
    if (!std::isfinite(value) || value == 0.0)
        return QStringLiteral(" 0");

    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", SignificantDigits - 1, std::fabs(value));
    // buf is "d.dddddddddddddde[+-]xx"
    QByteArray digits;
    const char *p = buf;
    for (; *p && *p != 'e'; ++p) {
        if (isDigit(*p))
            digits.append(*p);
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);

    QByteArray out(value < 0 ? "-" : " ");
    if (exponent >= SignificantDigits || exponent < -4) {
        out.append(digits[0]);
        if (digits.size() > 1) {
            out.append('.');
            out.append(digits.mid(1));
        }
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        out.append(exp);
    } else if (exponent >= 0) {
        const int intDigits = exponent + 1;
        if (digits.size() <= intDigits) {
            out.append(digits);
            out.append(QByteArray(intDigits - digits.size(), '0'));
        } else {
            out.append(digits.left(intDigits));
            out.append('.');
            out.append(digits.mid(intDigits));
        }
    } else {
        out.append('.');
        out.append(QByteArray(-exponent - 1, '0'));
        out.append(digits);
    }
    return QString::fromLatin1(out);
}
