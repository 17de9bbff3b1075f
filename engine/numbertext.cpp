#include "numbertext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tessarin {

double textToFloatDef(const QString &text, double fallback)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    std::string s;
    s.reserve(static_cast<size_t>(end - begin));
    qsizetype i = begin;
    auto at = [&](qsizetype k) { return k < end ? text.at(k).unicode() : char16_t(0); };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (at(i) == u'+' || at(i) == u'-') {
        if (at(i) == u'-')
            s += '-';
        ++i;
    }
    int digits = 0;
    while (isDigit(at(i))) {
        s += static_cast<char>(at(i++));
        ++digits;
    }
    if (at(i) == u'.') {
        s += '.';
        ++i;
        while (isDigit(at(i))) {
            s += static_cast<char>(at(i++));
            ++digits;
        }
    }
    if (digits == 0)
        return fallback;
    if (at(i) == u'e' || at(i) == u'E') {
        s += 'e';
        ++i;
        if (at(i) == u'+' || at(i) == u'-')
            s += static_cast<char>(at(i++));
        if (!isDigit(at(i)))
            return fallback;
        while (isDigit(at(i)))
            s += static_cast<char>(at(i++));
    }
    if (i != end)
        return fallback;
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(value))
        return fallback;
    return value;
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
