#include "dispformat.h"

#include "decimaltext.h"

#include <QFontMetrics>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace tessarin {

namespace {

constexpr int MaxSignificantDigits = 17;
// Longest run of decimals a fixed or scientific format may ask for.
constexpr int MaxDecimals = 30;

enum class FormatKind { None, Fixed, Significant, Scientific, Choice, General };

struct ParsedFormat
{
    FormatKind kind = FormatKind::None;
    int digits = 0;         // decimals (fixed, scientific mantissa) or significant digits
    int exponentDigits = 2; // scientific: least digits of the exponent
    QChar exponentLetter = u'E';
    QString yes; // choice: the word of a non-zero number
    QString no;  // choice: the word of zero
};

// Count of `c` starting at `pos`.
qsizetype runOf(const QString &s, qsizetype pos, QChar c)
{
    qsizetype n = 0;
    while (pos + n < s.size() && s.at(pos + n) == c)
        ++n;
    return n;
}

ParsedFormat parseFormat(const QString &f)
{
    ParsedFormat p;
    if (f.isEmpty())
        return p;
    if (f == QLatin1String("G")) {
        p.kind = FormatKind::General;
        return p;
    }
    if (const qsizetype bar = f.indexOf(u'|'); bar >= 0) {
        if (f.indexOf(u'|', bar + 1) < 0) {
            p.kind = FormatKind::Choice;
            p.yes = f.left(bar);
            p.no = f.mid(bar + 1);
        }
        return p;
    }
    if (const qsizetype at = runOf(f, 0, u'@'); at > 0) {
        if (at == f.size() && at <= MaxSignificantDigits) {
            p.kind = FormatKind::Significant;
            p.digits = static_cast<int>(at);
        }
        return p;
    }
    // 0[.0...] optionally followed by E+0...
    if (f.at(0) != u'0' || runOf(f, 0, u'0') != 1)
        return p;
    qsizetype pos = 1;
    int decimals = 0;
    if (pos < f.size() && f.at(pos) == u'.') {
        const qsizetype zeros = runOf(f, pos + 1, u'0');
        if (zeros == 0 || zeros > MaxDecimals)
            return p;
        decimals = static_cast<int>(zeros);
        pos += 1 + zeros;
    }
    if (pos == f.size()) {
        p.kind = FormatKind::Fixed;
        p.digits = decimals;
        return p;
    }
    if ((f.at(pos) == u'E' || f.at(pos) == u'e') && pos + 1 < f.size() && f.at(pos + 1) == u'+') {
        const qsizetype zeros = runOf(f, pos + 2, u'0');
        if (zeros > 0 && pos + 2 + zeros == f.size() && zeros <= 4) {
            p.kind = FormatKind::Scientific;
            p.digits = decimals;
            p.exponentDigits = std::max(2, static_cast<int>(zeros));
            p.exponentLetter = f.at(pos);
        }
    }
    return p;
}

// A non-negative number as 0.DIGITS x 10^exponent: digits without leading or trailing zeros
// (none for zero).
struct Decimal
{
    std::string digits;
    int exponent = 0;
};

// The exact decimal value of |value|: every double has a finite decimal expansion, as many
// places after the point as it has binary places, 52 less its binary exponent (at most 1074).
Decimal exactDecimal(double value)
{
    static constexpr int maxPlaces = 1080;
    const int places = value == 0.0 ? 1 : std::clamp(52 - std::ilogb(value), 1, maxPlaces);
    char buf[309 + 1 + maxPlaces + 1]; // the largest double has 309 integer digits
    const int n = std::snprintf(buf, sizeof buf, "%.*f", places, std::fabs(value));
    const std::string s(buf, size_t(std::clamp(n, 0, int(sizeof buf) - 1)));
    const size_t point = s.find('.');
    Decimal d;
    d.digits = s.substr(0, point) + s.substr(point + 1);
    const size_t lead = std::min(d.digits.find_first_not_of('0'), d.digits.size());
    d.digits.erase(0, lead);
    d.exponent = int(point) - int(lead);
    const size_t last = d.digits.find_last_not_of('0');
    d.digits.resize(last == std::string::npos ? 0 : last + 1);
    return d;
}

// Keeps the first `count` digits, rounding half away from zero (on the exact value, so 0.125
// becomes 0.13 with two decimals).
void roundDigits(Decimal &d, int count)
{
    if (count >= int(d.digits.size()))
        return;
    if (count < 0) {
        d.digits.clear();
        return;
    }
    const bool up = d.digits[size_t(count)] >= '5';
    d.digits.resize(size_t(count));
    if (up) {
        int i = count - 1;
        for (; i >= 0 && d.digits[size_t(i)] == '9'; --i)
            d.digits[size_t(i)] = '0';
        if (i >= 0) {
            ++d.digits[size_t(i)];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.exponent;
        }
    }
    const size_t last = d.digits.find_last_not_of('0');
    d.digits.resize(last == std::string::npos ? 0 : last + 1);
}

// Digit `i` of the padded digit string (0 outside it).
char digitAt(const Decimal &d, int i)
{
    return i >= 0 && i < int(d.digits.size()) ? d.digits[size_t(i)] : '0';
}

QString withSign(double value, const Decimal &d, std::string body)
{
    if (value < 0 && !d.digits.empty())
        body.insert(body.begin(), '-');
    return QString::fromLatin1(body);
}

QString scientific(double value, int decimals, int exponentDigits, QChar letter)
{
    Decimal d = exactDecimal(value);
    roundDigits(d, decimals + 1);
    const int exponent = d.digits.empty() ? 0 : d.exponent - 1;
    std::string body(1, digitAt(d, 0));
    if (decimals > 0)
        body += '.';
    for (int i = 1; i <= decimals; ++i)
        body += digitAt(d, i);
    QString out = withSign(value, d, body);
    out += letter;
    out += exponent < 0 ? u'-' : u'+';
    out += QString::number(std::abs(exponent)).rightJustified(exponentDigits, u'0');
    return out;
}

QString fixed(double value, int decimals)
{
    Decimal d = exactDecimal(value);
    roundDigits(d, d.exponent + decimals);
    std::string body;
    if (d.digits.empty() || d.exponent <= 0)
        body = "0";
    else
        for (int i = 0; i < d.exponent; ++i)
            body += digitAt(d, i);
    if (decimals > 0)
        body += '.';
    for (int i = 0; i < decimals; ++i)
        body += digitAt(d, d.digits.empty() ? -1 : d.exponent + i);
    return withSign(value, d, body);
}

QString significant(double value, int count)
{
    Decimal d = exactDecimal(value);
    roundDigits(d, count);
    if (d.digits.empty())
        return fixed(0.0, count - 1);
    const int exponent = d.exponent - 1; // of the leading digit
    if (exponent >= 15 || exponent <= -16)
        return scientific(value, count - 1, 2, u'E');
    std::string body;
    if (exponent < 0) {
        body = "0." + std::string(size_t(-exponent - 1), '0');
        for (int i = 0; i < count; ++i)
            body += digitAt(d, i);
    } else {
        for (int i = 0; i <= exponent; ++i)
            body += digitAt(d, i);
        if (count > exponent + 1) {
            body += '.';
            for (int i = exponent + 1; i < count; ++i)
                body += digitAt(d, i);
        }
    }
    return withSign(value, d, body);
}

} // namespace

QString numberCellText(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && (text.at(end - 1) == u'\r' || text.at(end - 1) == u'\n'))
        --end;
    if (end == text.size() || end == 0)
        return text;
    const QString head = text.left(end);
    return numberFromText(head) ? head : text;
}

QString fitNumberText(const QString &shown, const QFont &font, int width)
{
    if (width < 1 || shown.isEmpty())
        return shown;
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(shown) <= width)
        return shown;
    const std::optional<double> number = numberFromText(shown);
    if (!number || !std::isfinite(*number))
        return shown;
    const double v = *number;
    for (int digits = MaxSignificantDigits - 2; digits >= 1; --digits) {
        const QString candidate = significant(v, digits);
        if (metrics.horizontalAdvance(candidate) <= width)
            return candidate;
    }
    for (int decimals = 2; decimals >= 0; --decimals) {
        const QString candidate = scientific(v, decimals, 2, u'E');
        if (metrics.horizontalAdvance(candidate) <= width)
            return candidate;
    }
    // No digits fit: as many "#" as fit, at least one, so the cell still shows a value is there.
    QString hashes = QStringLiteral("###");
    while (hashes.size() > 1 && metrics.horizontalAdvance(hashes) > width)
        hashes.chop(1);
    return hashes;
}

QString formatCellText(const QString &rawText, const QString &format)
{
    const ParsedFormat f = parseFormat(format);
    if (f.kind == FormatKind::None)
        return rawText;
    const QString text = numberCellText(rawText);
    const std::optional<double> number = numberFromText(text);
    if (!number)
        return text;
    const double v = *number;
    switch (f.kind) {
    case FormatKind::None:
        break;
    case FormatKind::Choice:
        return v != 0.0 ? f.yes : f.no;
    case FormatKind::Fixed:
        return fixed(v, f.digits);
    case FormatKind::Scientific:
        return scientific(v, f.digits, f.exponentDigits, f.exponentLetter);
    case FormatKind::Significant:
        return significant(v, f.digits);
    case FormatKind::General:
        // A whole number shows its digits alone ("50.0" shows 50); any other text as typed.
        if (v == std::trunc(v) && std::fabs(v) < 1e15)
            return QString::number(v == 0.0 ? 0.0 : v, 'f', 0);
        return text;
    }
    return text;
}

} // namespace tessarin
