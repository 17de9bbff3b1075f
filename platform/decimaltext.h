#pragma once
// Reading a decimal number held as text, the one grammar the formulas, the value exchange and the
// display formats agree on.
#include <QString>

#include <optional>

namespace tessarin {

// The whole text as a decimal floating-point number: optional blanks around, an optional sign,
// digits with an optional "." and an optional exponent, correctly rounded; nothing when the text
// is anything else or out of range. Locale independent: the decimal separator is always ".".
std::optional<double> numberFromText(const QString &text);

} // namespace tessarin
