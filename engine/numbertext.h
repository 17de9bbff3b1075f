#pragma once

#include <QString>

// Numbers held as text: the reading used to decide whether a text is a number, and the general
// decimal form in which program exports are written.
namespace tessarin {

// The default that marks "not a number" wherever a text is tested for being a number.
inline constexpr double kNotANumber = -0.1010101;

// The whole text read as a decimal floating-point number (optional blanks around, optional sign,
// digits with an optional "." and an optional exponent); `fallback` when it is anything else or
// out of range. Locale independent: the decimal separator is always ".".
double textToFloatDef(const QString &text, double fallback);

// True when textToFloatDef(text, -0.1010101) differs from -0.1010101.
bool isNumberText(const QString &text);

// The general form with at most 15 significant digits: trailing zeros and an unneeded point
// dropped; scientific ("1.5E-7", "1E15") when the magnitude is below 0.00001 or the integer part
// has more than 15 digits. Infinite and undefined values read "INF", "-INF" and "NAN".
QString formatGeneral(double value);

} // namespace tessarin
