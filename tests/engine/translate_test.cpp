#include "error.h"
#include "qzcomplier.h"
#include "qztranslate.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

using namespace tessarin;

namespace {

struct Word
{
    const char *key;
    const char *value;
};

struct TranslateCase
{
    const char *name;
    std::vector<Word> words;
    const char *text;
    const char *expected;
};

class TranslateCases : public ::testing::TestWithParam<TranslateCase>
{};

TEST_P(TranslateCases, Substitutes)
{
    const TranslateCase &c = GetParam();
    TqzTranslate dict;
    for (const Word &w : c.words)
        dict.AddWord(QString::fromUtf8(w.key), QString::fromUtf8(w.value));
    EXPECT_EQ(dict.Translate(QString::fromUtf8(c.text)).toStdString(), c.expected);
}

const TranslateCase kTranslateCases[] = {
    {"LongerNameFirst", {{"Q", "1.5"}, {"QM", "7.0"}}, "QM*Q+Q", "7.0*1.5+1.5"},
    {"LongerNameAddedLater",
     {{"H", "2.0"}, {"HH", "3.0"}, {"HHH", "4.0"}},
     "HHH+HH+H",
     "4.0+3.0+2.0"},
    {"NameInLiteralUntouched", {{"Q", "9"}}, "f(\"Q\", Q)", "f(\"Q\", 9)"},
    {"LiteralsComeBackWithQuotes", {{"a", "x"}}, "\"a\"+\"b a\"+a", "\"a\"+\"b a\"+x"},
    {"OddQuoteTailSubstituted", {{"Q", "9"}}, "\"Q\" Q \"Q", "\"Q\" 9 \"9"},
    {"SingleQuoteAloneIsText", {{"Q", "9"}}, "Q\"Q", "9\"9"},
    {"EmptyLiteral", {{"Q", "9"}}, "\"\"Q\"\"", "\"\"9\"\""},
    {"NoEntriesTrimmedOnly", {}, " \t a + b \r\n", "a + b"},
    {"TrimsControlsAfterSubstitution", {{"x", " 1 "}}, "x", "1"},
    {"ReplacementNotRescannedBySameKey", {{"a", "aa"}}, "a+a", "aa+aa"},
    {"ShorterKeySeesLongerKeysValue", {{"AB", "B+1"}, {"B", "2"}}, "AB", "2+1"},
    {"CaseSensitiveMatch", {{"Flow", "3"}}, "Flow+flow+FLOW", "3+flow+FLOW"},
    {"InsideLongerWord", {{"H", "5"}}, "HEAD", "5EAD"},
    {"ChineseNames", {{"流量", "12.0"}, {"流量计", "3.0"}}, "流量计*流量", "3.0*12.0"},
    {"NumberLikeTextKept", {{"Q", "1"}}, "10000000+\"s\"+Q", "10000000+\"s\"+1"},
    {"KeyNeverSpansLiteral", {{"a1", "Z"}}, "a\"1\"", "a\"1\""},
    {"EmptyKeyIgnored", {{"", "X"}, {"b", "c"}}, "ab", "ac"},
    // A key never matches inside a number literal, written or substituted.
    {"KeyNotInsideExponent", {{"E", "2"}}, "1E3*E", "1E3*2"},
    {"SubstitutedNumberKept", {{"AB", "1E-3"}, {"E", "5"}}, "AB*E", "1E-3*5"},
    {"NegativeValueInParentheses", {{"AB", "(-1E-3)"}, {"E", "5"}}, "AB+E", "(-1E-3)+5"},
    {"HexDigitsKept", {{"F", "9"}}, "0x1F+F", "0x1F+9"},
    {"NameGluedToNumberKept", {{"E", "3"}, {"PI", "3.14"}}, "2E+2PI", "2E+2PI"},
    {"KeyTouchingNumberPassedOver", {{"+1", "-7"}, {"a+", "b-"}}, "a+1.5", "b-1.5"},
    {"DigitsInsideNameStillReplaced", {{"E", "3"}}, "xE1+x1E", "x31+x13"},
};

INSTANTIATE_TEST_SUITE_P(Translate, TranslateCases, ::testing::ValuesIn(kTranslateCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TqzTranslate, AddWordIgnoresCaseButKeepsFirstKeyText)
{
    TqzTranslate dict;
    dict.AddWord(QStringLiteral("Flow"), QStringLiteral("1"));
    dict.AddWord(QStringLiteral("FLOW"), QStringLiteral("2"));
    ASSERT_EQ(dict.count(), 1);
    EXPECT_EQ(dict.Words().front()->Key, QStringLiteral("Flow"));
    EXPECT_EQ(dict.Words().front()->Value, QStringLiteral("2"));
    EXPECT_EQ(dict.valueOf(QStringLiteral("flow")), QStringLiteral("2"));
    // Substitution still looks for the text the entry was created with.
    EXPECT_EQ(dict.Translate(QStringLiteral("Flow+FLOW")), QStringLiteral("2+FLOW"));
}

TEST(TqzTranslate, GrowthPastTheLimitIsRefusedNamingTheFormula)
{
    // Each key's value holds the next key twice: the text doubles per key.
    auto key
        = [](int i) { return QStringLiteral("K") + QChar(u'a' + i / 26) + QChar(u'a' + i % 26); };
    TqzTranslate chain;
    for (int i = 0; i < 28; ++i)
        chain.AddWord(key(i), key(i + 1) + QLatin1Char('+') + key(i + 1));
    TqzTranslate single;
    single.AddWord(QStringLiteral("A"), QString(100, QLatin1Char('9')));
    const std::pair<const TqzTranslate *, QString> cases[]
        = {{&chain, QStringLiteral("Kaa*2")}, {&single, QStringLiteral("A").repeated(1000)}};
    for (const auto &[dict, text] : cases) {
        try {
            dict->Translate(text);
            ADD_FAILURE() << "no error for " << text.left(20).toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("formula \"") + text.left(20)))
                << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("65536"))) << e.message().toStdString();
        }
    }
    // Within the limit the same chain translates; a program may grow further.
    EXPECT_EQ(chain.Translate(QStringLiteral("Kao")).size(), 16384 * 4 - 1);
    EXPECT_EQ(single.Translate(QStringLiteral("A").repeated(1000), kMaxProgramLength).size(),
              100000);
    // The compiler fails the step instead of running a cut or huge text.
    TqzComplier complier;
    complier.Dictionary.AddWord(QStringLiteral("A"), QString(100, QLatin1Char('9')));
    complier.Source = QStringLiteral("A").repeated(1000);
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.ErrorText.startsWith(QStringLiteral("error: formula \"AAAA")))
        << complier.ErrorText.toStdString();
    EXPECT_THROW(complier.Translate(complier.Dictionary, complier.Source), Error);
}

TEST(TqzTranslate, UpdatesAndClearSeenByLaterTranslations)
{
    TqzTranslate dict;
    dict.AddWord(QStringLiteral("a"), QStringLiteral("1"));
    EXPECT_EQ(dict.Translate(QStringLiteral("a+b")), QStringLiteral("1+b"));
    dict.AddWord(QStringLiteral("b"), QStringLiteral("2"));
    dict.AddWord(QStringLiteral("A"), QStringLiteral("3"));
    EXPECT_EQ(dict.Translate(QStringLiteral("a+b")), QStringLiteral("3+2"));
    dict.Clear();
    EXPECT_EQ(dict.count(), 0);
    EXPECT_EQ(dict.Translate(QStringLiteral("a+b")), QStringLiteral("a+b"));
}

// Every occurrence of `key` in `text` that overlaps no number literal replaced by `value`, found
// left to right; the literals are those of the text before this key.
QString referenceReplace(const QString &text, const QString &key, const QString &value)
{
    static const QRegularExpression number(
        QStringLiteral("(?<![\\p{L}\\p{N}_])[0-9](?:[\\p{L}\\p{N}_.]|(?<=[eEpP])[+-])*"));
    std::vector<bool> inNumber(static_cast<size_t>(text.size()), false);
    for (auto it = number.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        for (qsizetype k = m.capturedStart(); k < m.capturedEnd(); ++k)
            inNumber[static_cast<size_t>(k)] = true;
    }
    QString out;
    qsizetype pos = 0;
    while (pos < text.size()) {
        bool free = text.mid(pos, key.size()) == key;
        for (qsizetype k = pos; free && k < pos + key.size(); ++k)
            free = !inNumber[static_cast<size_t>(k)];
        if (free) {
            out += value;
            pos += key.size();
        } else {
            out += text.at(pos++);
        }
    }
    return out;
}

// The straightforward algorithm: split off literals, apply every key in order to every
// non-literal piece, join and trim.
QString referenceTranslate(const std::vector<std::pair<QString, QString>> &entries,
                           const QString &text)
{
    std::vector<std::pair<QString, bool>> pieces;
    int pos = 0;
    for (;;) {
        const int a = text.indexOf(QLatin1Char('"'), pos);
        const int b = a < 0 ? -1 : text.indexOf(QLatin1Char('"'), a + 1);
        if (b < 0) {
            pieces.push_back({text.mid(pos), false});
            break;
        }
        pieces.push_back({text.mid(pos, a - pos), false});
        pieces.push_back({text.mid(a, b - a + 1), true});
        pos = b + 1;
    }
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        return entries[x].first.size() > entries[y].first.size();
    });
    for (size_t k : order) {
        if (entries[k].first.isEmpty())
            continue;
        for (auto &p : pieces)
            if (!p.second)
                p.first = referenceReplace(p.first, entries[k].first, entries[k].second);
    }
    QString joined;
    for (const auto &p : pieces)
        joined += p.first;
    int b = 0;
    int e = joined.size();
    while (b < e && joined[b].unicode() <= u' ')
        ++b;
    while (e > b && joined[e - 1].unicode() <= u' ')
        --e;
    return joined.mid(b, e - b);
}

QString randomText(QRandomGenerator &rng, const QString &alphabet, int maxLength)
{
    QString s;
    const int n = static_cast<int>(rng.bounded(maxLength + 1));
    for (int i = 0; i < n; ++i)
        s += alphabet[static_cast<int>(rng.bounded(alphabet.size()))];
    return s;
}

TEST(TqzTranslate, AgreesWithStraightforwardSubstitutionOnRandomInputs)
{
    QRandomGenerator rng(20261207);
    for (int round = 0; round < 3000; ++round) {
        TqzTranslate dict;
        std::vector<std::pair<QString, QString>> entries;
        const int count = static_cast<int>(rng.bounded(12));
        for (int i = 0; i < count; ++i) {
            const QString key = randomText(rng, QStringLiteral("abcEA\"1-"), 4);
            const QString value = randomText(rng, QStringLiteral("abcE 1\"-."), 4);
            dict.AddWord(key, value);
            // Mirror AddWord: a key equal without regard to case updates the existing entry.
            auto it = std::find_if(entries.begin(), entries.end(), [&](const auto &e) {
                return e.first.compare(key, Qt::CaseInsensitive) == 0;
            });
            if (it != entries.end())
                it->second = value;
            else
                entries.push_back({key, value});
        }
        for (int t = 0; t < 5; ++t) {
            const QString text = randomText(rng, QStringLiteral("abcEAB1\" +\t.-"), 30);
            ASSERT_EQ(dict.Translate(text), referenceTranslate(entries, text))
                << "round " << round << " text [" << text.toStdString() << "]";
        }
    }
}

TEST(TqzTranslate, LargeDictionaryAgreesWithReference)
{
    QRandomGenerator rng(7);
    TqzTranslate dict;
    std::vector<std::pair<QString, QString>> entries;
    for (int i = 0; i < 2000; ++i) {
        const QString key = QStringLiteral("n%1").arg(rng.bounded(100000));
        if (dict.valueOf(key).isNull()) {
            const QString value = QString::number(rng.bounded(1000)) + QStringLiteral(".5");
            dict.AddWord(key, value);
            entries.push_back({key, value});
        }
    }
    for (int t = 0; t < 50; ++t) {
        QString text;
        for (int k = 0; k < 8; ++k)
            text += entries[rng.bounded(static_cast<quint32>(entries.size()))].first
                    + QStringLiteral("*\"n1\"+");
        ASSERT_EQ(dict.Translate(text), referenceTranslate(entries, text));
    }
}

} // namespace
