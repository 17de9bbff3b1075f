#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

// The word dictionary of formulas and its substitution: every key found in a text is replaced by
// its value, longer keys first, with double-quoted literals left untouched.
namespace tessarin {

// One dictionary entry: the word to replace and its replacement.
class TqzDicElement
{
public:
    TqzDicElement() = default;
    TqzDicElement(const QString &key, const QString &value)
        : Key(key)
        , Value(value)
    {}

    QString Key;
    QString Value;
};

class KeyMatcher;

// The longest text, in UTF-16 code units, a formula may grow to while its names are replaced,
// and the longest for a whole program: the interpreter refuses longer texts anyway.
inline constexpr qsizetype kMaxFormulaLength = 64 * 1024;
inline constexpr qsizetype kMaxProgramLength = 256 * 1024;

class TqzTranslate
{
public:
    TqzTranslate();
    ~TqzTranslate();
    TqzTranslate(const TqzTranslate &) = delete;
    TqzTranslate &operator=(const TqzTranslate &) = delete;

    // Sets the value of the entry whose key equals `key` without regard to letter case (the
    // entry keeps the key text it was created with), or appends a new entry.
    void AddWord(const QString &key, const QString &value);
    // Removes every entry.
    void Clear();

    // The text with its literals protected and every key replaced by its value:
    // 1. each pair of double quotes, from the left, encloses a literal (quotes included) that no
    //    key is looked for in; a last unpaired quote is ordinary text;
    // 2. keys are applied one after the other, longest first (equal lengths in the order they
    //    were added); each replaces every occurrence left to right, case-sensitive, without
    //    rescanning its own replacements (later, shorter keys do see them);
    // 3. blanks and control characters are trimmed from both ends.
    // A key never matches across a literal, and text inside a literal is never changed. Nor does
    // a key match inside, or overlapping, a number literal of the text as it stands when the key
    // is applied (written in the formula or put there by an earlier key): a digit not preceded by
    // a name character, with every name character, "." and exponent sign after it ("1E-3",
    // "0x1F", "2E"). Throws Error, naming the formula, as soon as the text would grow past
    // `maxLength` code units: chains of keys whose values hold later keys double it per key.
    QString Translate(const QString &text, qsizetype maxLength = kMaxFormulaLength) const;

    // The entries in the order they were added.
    const std::vector<std::unique_ptr<TqzDicElement>> &Words() const { return m_words; }
    int count() const { return static_cast<int>(m_words.size()); }
    // The value stored for `key` (letter case ignored), or a null string.
    QString valueOf(const QString &key) const;

private:
    std::vector<std::unique_ptr<TqzDicElement>> m_words;
    QHash<QString, int> m_index;                   // case-folded key -> position in m_words
    mutable std::unique_ptr<KeyMatcher> m_matcher; // built on demand, dropped when keys change
};

} // namespace tessarin
