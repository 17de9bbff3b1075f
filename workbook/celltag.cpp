#include "celltag.h"

#include "error.h"

#include <algorithm>

namespace tessarin {

namespace {

// The decimal value of one character, 0 when it is not an ASCII digit.
quint8 digitAt(const QString &text, qsizetype index)
{
    const char16_t c = text.at(index).unicode();
    return c >= u'0' && c <= u'9' ? static_cast<quint8>(c - u'0') : 0;
}

bool isTrimmed(QChar c)
{
    return c.unicode() <= 0x20;
}

} // namespace

void TqzCellTag::Parse(const QString &Tag)
{
    if (!Tag.contains(QLatin1Char('[')) || !Tag.contains(QLatin1Char(']'))) {
        Name = Tag;
        SecondIsOne = true;
        ThirdValue = 0;
        FirstValue = 2;
        return;
    }
    // The values sit at fixed places 2, 5 and 8 (1-based); the brackets are not checked.
    if (Tag.size() < 8)
        throw Error(QStringLiteral("tag \"%1\" is too short for a bracketed tag: it has %2 "
                                   "character(s), the form [d][d][d][NAME] needs at least 8")
                        .arg(Tag)
                        .arg(Tag.size()));
    FirstValue = digitAt(Tag, 1);
    SecondIsOne = digitAt(Tag, 4) == 1;
    ThirdValue = digitAt(Tag, 7);
    Name = Tag.size() > 11 ? Tag.mid(10, Tag.size() - 11) : QString();
}

bool isRunButtonText(const QString &cellText)
{
    return cellText == QStringView(RunButtonCaption);
}

QString trimTag(const QString &tag)
{
    qsizetype begin = 0;
    qsizetype end = tag.size();
    while (begin < end && isTrimmed(tag.at(begin)))
        ++begin;
    while (end > begin && isTrimmed(tag.at(end - 1)))
        --end;
    return begin == 0 && end == tag.size() ? tag : tag.mid(begin, end - begin);
}

QString upperAscii(const QString &text)
{
    const auto isLower = [](QChar c) { return c.unicode() >= u'a' && c.unicode() <= u'z'; };
    if (std::none_of(text.cbegin(), text.cend(), isLower))
        return text;
    QString result = text;
    for (QChar &c : result)
        if (isLower(c))
            c = QChar(static_cast<char16_t>(c.unicode() - u'a' + u'A'));
    return result;
}

std::optional<QString> tagKey(const QString &tagId, TqzCellTag &scratch)
{
    const QString tag = trimTag(tagId);
    if (tag.isEmpty())
        return std::nullopt;
    scratch.Parse(tag);
    return upperAscii(scratch.Name);
}

std::optional<QString> exchangeKey(const QString &cellText, const QString &tagId,
                                   TqzCellTag &scratch)
{
    if (isRunButtonText(cellText))
        return std::nullopt;
    return tagKey(tagId, scratch);
}

bool tagMatches(const QString &cellText, const QString &tagId, const QString &name,
                TqzCellTag &scratch)
{
    const std::optional<QString> key = exchangeKey(cellText, tagId, scratch);
    return key && *key == name;
}

} // namespace tessarin
