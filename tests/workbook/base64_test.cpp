#include "base64.h"
#include "error.h"

#include <QBuffer>
#include <QByteArray>

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace tessarin;

namespace {

QByteArray randomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char &c : b)
        c = static_cast<char>(rng() & 0xFF);
    return b;
}

// The message of the Error that decoding `text` throws, or "" when it does not throw.
QString refusal(const QByteArray &text)
{
    try {
        base64Decode(text);
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

} // namespace

// --- known vectors -------------------------------------------------------------------------

struct Vector
{
    const char *bytes;
    const char *text;
};

class Base64Vectors : public ::testing::TestWithParam<Vector>
{};

TEST_P(Base64Vectors, EncodeAndDecode)
{
    const QByteArray bytes(GetParam().bytes);
    const QByteArray text(GetParam().text);
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes);
    EXPECT_EQ(EncodeBase64Text(bytes), QString::fromLatin1(text));
    EXPECT_EQ(DecodeBase64Text(QString::fromLatin1(text)), bytes);
    EXPECT_EQ(base64EncodedSize(bytes.size()), text.size());
}

INSTANTIATE_TEST_SUITE_P(Known, Base64Vectors,
                         ::testing::Values(Vector{"", ""}, Vector{"a", "YQ=="},
                                           Vector{"ab", "YWI="}, Vector{"abc", "YWJj"},
                                           Vector{"foob", "Zm9vYg=="},
                                           Vector{"fooba", "Zm9vYmE="},
                                           Vector{"foobar", "Zm9vYmFy"},
                                           Vector{"\xFB\xEF\xBE", "++++"},
                                           Vector{"\xFF\xFF\xFF", "////"}));

TEST(Base64, NulAndFfBytesSurviveAnywhere)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    const QByteArray cases[] = {
        QByteArray(1, '\0'), QByteArray(2, '\0'), QByteArray(3, '\0'), QByteArray(7, '\xFF'),
        QByteArray("\0a\0", 3), QByteArray("\xFF\0\xFF\0", 4), all, all + all.left(1),
        QByteArray(100, '\0') + "x" + QByteArray(100, '\xFF'),
    };
    for (const QByteArray &bytes : cases) {
        const QByteArray text = base64Encode(bytes);
        EXPECT_EQ(base64Decode(text), bytes) << text.constData();
        EXPECT_EQ(DecodeBase64Text(EncodeBase64Text(bytes)), bytes);
    }
    EXPECT_EQ(base64Encode(QByteArray(3, '\0')), "AAAA");
}

TEST(Base64, AgreesWithQtOnRandomData)
{
    // Lengths around every remainder and across the unrolled blocks of the encoder.
    for (qsizetype size :
         {1, 2, 3, 4, 5, 11, 12, 13, 14, 15, 27, 28, 29, 47, 48, 49, 51, 52, 53, 1000, 65537}) {
        const QByteArray bytes = randomBytes(size, static_cast<unsigned>(size));
        const QByteArray ours = base64Encode(bytes);
        EXPECT_EQ(ours, bytes.toBase64()) << size;
        EXPECT_EQ(base64Decode(bytes.toBase64()), bytes) << size;
        EXPECT_EQ(QByteArray::fromBase64(ours), bytes) << size;
    }
}

// --- lenient decoding ----------------------------------------------------------------------

struct Noise
{
    const char *name;
    std::function<QByteArray(const QByteArray &)> apply;
};

class Base64Noise : public ::testing::TestWithParam<Noise>
{};

QByteArray insertEvery(const QByteArray &text, qsizetype every, const QByteArray &what)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); i += every)
        out += text.mid(i, every) + what;
    return out;
}

TEST_P(Base64Noise, DecodesToTheSameBytes)
{
    for (qsizetype size : {0, 1, 2, 57, 58, 59, 300, 4096}) {
        const QByteArray bytes = randomBytes(size, 7u + static_cast<unsigned>(size));
        const QByteArray noisy = GetParam().apply(base64Encode(bytes));
        EXPECT_EQ(base64Decode(noisy), bytes) << GetParam().name << " size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lenient, Base64Noise,
    ::testing::Values(
        Noise{"CrLfEvery76", [](const QByteArray &t) { return insertEvery(t, 76, "\r\n"); }},
        Noise{"LfEvery64", [](const QByteArray &t) { return insertEvery(t, 64, "\n"); }},
        Noise{"BlankEvery3", [](const QByteArray &t) { return insertEvery(t, 3, " "); }},
        Noise{"TabsAndNulEvery5",
              [](const QByteArray &t) { return insertEvery(t, 5, QByteArray("\t\0", 2)); }},
        Noise{"HighBytesEvery7", [](const QByteArray &t) { return insertEvery(t, 7, "\xB1\xC3"); }},
        Noise{"PunctuationAround",
              [](const QByteArray &t) { return "-----\n" + t + "\n.!*~-_\n"; }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Base64, ConcatenatedTextsDecodeToConcatenatedBytes)
{
    EXPECT_EQ(base64Decode("YQ==YWI=YWJj"), "aababc");
    EXPECT_EQ(base64Decode("YQ==\r\nYQ==\r\n"), "aa");
    const QByteArray a = randomBytes(100, 1), b = randomBytes(101, 2), c = randomBytes(5, 3);
    EXPECT_EQ(base64Decode(base64Encode(a) + "\n" + base64Encode(b) + base64Encode(c)), a + b + c);
}

TEST(Base64, UnusedLowBitsAreIgnored)
{
    // A careless encoder may leave the bits after the last byte set; the bytes are still clear.
    EXPECT_EQ(base64Decode("YR=="), "a");
    EXPECT_EQ(base64Decode("YWJ="), "ab");
}

TEST(Base64, TextWithWideCharactersSkipsThem)
{
    EXPECT_EQ(DecodeBase64Text(QStringLiteral("流YW量Jj😀")), "abc");
    EXPECT_EQ(DecodeBase64Text(QStringLiteral(" \r\n ")), QByteArray());
}

// --- refusals ------------------------------------------------------------------------------

struct Refused
{
    const char *text;
    const char *expected; // part of the message, naming the offset
};

class Base64Refusals : public ::testing::TestWithParam<Refused>
{};

TEST_P(Base64Refusals, SaysWhatAndWhere)
{
    const QString message = refusal(GetParam().text);
    ASSERT_FALSE(message.isEmpty()) << GetParam().text;
    EXPECT_TRUE(message.contains(QLatin1String(GetParam().expected))) << message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, Base64Refusals,
    ::testing::Values(Refused{"Y", "1 character(s) from offset 0"},
                      Refused{"YQ=", "3 character(s) from offset 0"},
                      Refused{"YWJjYW", "2 character(s) from offset 4"},
                      Refused{"YWJj\r\n Y W", "2 character(s) from offset 7"},
                      Refused{"=WJj", "\"=\" at offset 0 stands in the first place"},
                      Refused{"Y=Jj", "\"=\" at offset 1 stands in the second place"},
                      Refused{"YWJj\n\n==Jj", "\"=\" at offset 6 stands in the first place"},
                      Refused{"YQ===", "\"=\" at offset 4 stands in the first place"},
                      Refused{"YQ=A", "\"A\" at offset 3 follows the \"=\" at offset 2"},
                      Refused{"YQ= \nAYWJj", "\"A\" at offset 5 follows the \"=\" at offset 2"}));

TEST(Base64, OffsetsHoldDeepInALongText)
{
    const QByteArray clean = base64Encode(randomBytes(300, 11));
    for (qsizetype at = 0; at < clean.size(); at += 36) {
        QByteArray text = clean;
        text[at] = '=';
        EXPECT_TRUE(refusal(text).contains(QStringLiteral("offset %1 stands").arg(at))) << at;
    }
}

TEST(Base64, WideTextOffsetsCountItsCharacters)
{
    try {
        DecodeBase64Text(QStringLiteral("流量YQ=A"));
        FAIL() << "accepted a letter after \"=\"";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("offset 5"))) << e.what();
    }
}

TEST(Base64Stream, DecodesFromTheCurrentPosition)
{
    QByteArray source = "skipped:" + base64Encode(QByteArray("\0page\xFF", 6)) + "\r\n";
    QBuffer in(&source);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    in.seek(8);
    QByteArray result;
    QBuffer out(&result);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    DecodeBase64Stream(in, out);
    EXPECT_EQ(result, QByteArray("\0page\xFF", 6));
}

TEST(Base64Stream, RefusedTextWritesNothing)
{
    QByteArray source = base64Encode(randomBytes(3000, 9)) + "YQ=A";
    QBuffer in(&source);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray result;
    QBuffer out(&result);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    EXPECT_THROW(DecodeBase64Stream(in, out), Error);
    EXPECT_TRUE(result.isEmpty());
}

// --- single groups -------------------------------------------------------------------------

TEST(Base64Group, EncodeIgnoresMissingBytesAndDecodeRestoresCount)
{
    struct Row
    {
        quint32 value;
        int count;
        const char *chars;
        quint32 decoded;
    } rows[] = {
        {0x636261, 3, "YWJj", 0x636261},
        {0xFF6261, 2, "YWI=", 0x6261},
        {0xFFFF61, 1, "YQ==", 0x61},
        {0x000000, 3, "AAAA", 0},
    };
    for (const Row &r : rows) {
        char out[5] = {};
        EncodeGroup(r.value, r.count, out);
        EXPECT_STREQ(out, r.chars);
        int count = 0;
        EXPECT_EQ(DecodeGroup(r.chars, count), r.decoded) << r.chars;
        EXPECT_EQ(count, r.count) << r.chars;
    }
}

TEST(Base64Group, RefusesWhatIsNotAGroup)
{
    int count = -1;
    EXPECT_THROW(DecodeGroup("YW\nj", count), Error);
    EXPECT_THROW(DecodeGroup("Y=Jj", count), Error);
    EXPECT_THROW(DecodeGroup("YQ=A", count), Error);
    EXPECT_EQ(count, -1);
    char out[4];
    EXPECT_THROW(EncodeGroup(0, 0, out), Error);
    EXPECT_THROW(EncodeGroup(0, 4, out), Error);
}
