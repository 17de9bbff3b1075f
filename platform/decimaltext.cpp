#include "decimaltext.h"

#include <charconv>
#include <cmath>
#include <string>

namespace tessarin {

std::optional<double> numberFromText(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    std::string s;
    qsizetype i = begin;
    auto at = [&](qsizetype k) { return k < end ? text.at(k).unicode() : char16_t(0); };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (at(i) == u'+' || at(i) == u'-') {
        if (at(i) == u'-')
            s += '-';
        ++i;
    }
    int digits = 0;
    for (; isDigit(at(i)); ++i, ++digits)
        s += static_cast<char>(at(i));
    if (at(i) == u'.') {
        s += '.';
        for (++i; isDigit(at(i)); ++i, ++digits)
            s += static_cast<char>(at(i));
    }
    if (digits == 0)
        return std::nullopt;
    if (at(i) == u'e' || at(i) == u'E') {
        s += 'e';
        ++i;
        if (at(i) == u'+' || at(i) == u'-')
            s += static_cast<char>(at(i++));
        if (!isDigit(at(i)))
            return std::nullopt;
        for (; isDigit(at(i)); ++i)
            s += static_cast<char>(at(i));
    }
    if (i != end)
        return std::nullopt;
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace tessarin
