#pragma once

// Tag IDs of report cells: the parser `TqzCellTag` and the rules by which a cell's tag takes
// part in the exchange of values between report cells and calculation nodes.

#include <QString>
#include <QtGlobal>

#include <optional>

namespace tessarin {

// A cell's tag is either a plain name or the bracketed form "[d][d][d][NAME]": one character in
// each of the first three brackets, the name from the eleventh character up to the last but
// one. Only the name is used by the exchange; the three values are kept for whoever reads them.
class TqzCellTag
{
public:
    bool SecondIsOne = true; // fifth character is the digit 1
    quint8 ThirdValue = 0;   // eighth character as a decimal digit, 0 when not a digit
    quint8 FirstValue = 2;   // second character as a decimal digit, 0 when not a digit
    QString Name;

    // Fills the four fields from `Tag` as given (no trimming). A text without "[" or without
    // "]" is a plain name and gets the default values. A bracketed text shorter than eight
    // characters is refused with tessarin::Error naming it; the fields are then unchanged.
    void Parse(const QString &Tag);
};

// Cell text that marks a run button; such cells never take part in an exchange.
inline constexpr char16_t RunButtonCaption[] = u"[执行计算]";

bool isRunButtonText(const QString &cellText);

// `tag` without leading and trailing blanks and control characters (code units up to U+0020).
QString trimTag(const QString &tag);

// `text` with a to z upper-cased and every other character, Chinese included, left alone;
// `text` itself (shared, not copied) when it holds no a to z.
QString upperAscii(const QString &text);

// The name a cell with tag `tagId` answers to, whatever the cell's text: the trimmed tag
// parsed by `scratch` (the parser the caller owns; it keeps the fields of the last tag parsed)
// with a to z upper-cased. Nothing for a tag that is empty once trimmed. Throws what
// TqzCellTag::Parse throws.
std::optional<QString> tagKey(const QString &tagId, TqzCellTag &scratch);

// The name under which a cell takes part in the exchange, or nothing when it takes no part
// (a run button, or a tag that is empty once trimmed). A requested name matches the cell when
// it equals this key code unit for code unit; requests are not case-folded. Throws what
// TqzCellTag::Parse throws.
std::optional<QString> exchangeKey(const QString &cellText, const QString &tagId,
                                   TqzCellTag &scratch);

// Whether a cell with this text and tag answers to the requested name.
bool tagMatches(const QString &cellText, const QString &tagId, const QString &name,
                TqzCellTag &scratch);

} // namespace tessarin
