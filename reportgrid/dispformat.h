#pragma once

// Display formats of cells: how a cell whose text is a number is shown on screen and on paper,
// while the cell text itself keeps the full value.
//
// The format language (a cell's FCellDispFormat):
// - fixed decimals: "0", "0.0", "0.00", ... (as many decimals as there are 0s after the point,
//   at most 30);
// - significant digits: "@@@", "@@@@", ... (as many significant digits as there are @, at most
//   17, trailing zeros kept); written without an exponent unless the leading digit lies 16 or
//   more places before or after the point, then as the scientific form with the same digits;
// - scientific: "0.00E+00" (mantissa decimals from the 0s after the point, at most 30; exponent
//   with its sign always and at least two digits, or as many as the 0s after "E+" (up to four)
//   if more); "e+" writes a lower-case "e";
// - a two-word choice "word1|word2" (for checks such as "合格|不合格"): a number other than
//   zero shows word1, zero shows word2;
// - general "G" (for typed inputs): a whole number below 1e15 shows its digits without a
//   decimal point or exponent ("50.0" and "5E1" show 50), any other number as it is written;
// - an empty format, anything else, or a text that is not a number: the text as it is.
// Numbers are read as the formula engine reads them: optional blanks around, optional sign,
// decimal digits with an optional "." and an optional exponent; the decimal point is always ".".
// Digits are rounded half away from zero on the exact value of the number (0.125 with "0.00"
// shows 0.13); a result of zero never shows a minus sign.

#include <QFont>
#include <QString>

#include <optional>

namespace tessarin {

// The text a cell shows for `text` under display format `format`. A number followed by line
// breaks (left by edit boxes of earlier versions, "60\r\n") reads as the number.
QString formatCellText(const QString &text, const QString &format);

// `text` without the line breaks at its end when what remains is a number; else `text`.
QString numberCellText(const QString &text);

// `shown`, a number as a cell displays it, fitted into one line of `width` pixels of `font`:
// unchanged when it fits; else the widest of fewer significant digits, then of scientific
// forms, that fits; else "###" (fewer "#" when even that is too wide, never none). Texts that
// are not numbers, and widths below one pixel, leave it unchanged.
QString fitNumberText(const QString &shown, const QFont &font, int width);

} // namespace tessarin
