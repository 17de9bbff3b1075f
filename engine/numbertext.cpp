#include "numbertext.h"

#include "decimaltext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tessarin {

double textToFloatDef(const QString &text, double fallback)
{
    return numberFromText(text).value_or(fallback);
}

bool isNumberText(const QString &text)
{
    return textToFloatDef(text, kNotANumber) != kNotANumber;
}

QString formatGeneral(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");

    // 15 significant digits, rounded once; the exponent is that of the rounded value.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const std::string text(buf);
    const bool negative = text[0] == '-';
    const size_t epos = text.find('e');
    std::string digits;
    for (size_t k = negative ? 1 : 0; k < epos; ++k)
        if (text[k] != '.')
            digits += text[k];
    const int exponent = std::atoi(text.c_str() + epos + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1)
            out += '.' + digits.substr(1);
        out += 'E' + std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits + std::string(intDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, intDigits) + '.' + digits.substr(intDigits);
        }
    }
    return QString::fromLatin1(out);
}

} // namespace tessarin
