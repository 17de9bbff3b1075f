#include "base64.h"
#include "error.h"

#include <QBuffer>
#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
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

// The message of the Error that decoding `text` throws, or "" when it is accepted.
QString refusal(const QByteArray &text)
{
    try {
        base64Decode(text);
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

QByteArray insertEvery(const QByteArray &text, qsizetype every, const QByteArray &what)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); i += every)
        out += text.mid(i, every) + what;
    return out;
}

} // namespace

struct Vector
{
    const char *bytes;
    const char *text;
};

class Base64Vectors : public ::testing::TestWithParam<Vector>
{};

TEST_P(Base64Vectors, EncodeAndDecode)
{
    const QByteArray bytes(GetParam().bytes), text(GetParam().text);
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64EncodedSize(bytes.size()), text.size());
    EXPECT_EQ(EncodeBase64Text(bytes), QString::fromLatin1(text));
    EXPECT_EQ(DecodeBase64Text(QString::fromLatin1(text)), bytes);
}

INSTANTIATE_TEST_SUITE_P(Known, Base64Vectors,
                         ::testing::Values(Vector{"", ""}, Vector{"a", "YQ=="},
                                           Vector{"ab", "YWI="}, Vector{"abc", "YWJj"},
                                           Vector{"foob", "Zm9vYg=="},
                                           Vector{"fooba", "Zm9vYmE="},
                                           Vector{"\xFB\xEF\xBE", "++++"},
                                           Vector{"\xFF\xFF\xFF", "////"}));

TEST(Base64, NulAndFfBytesSurviveAnywhere)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    for (const QByteArray &bytes :
         {QByteArray(1, '\0'), QByteArray(3, '\0'), QByteArray(7, '\xFF'),
          QByteArray("\xFF\0\xFF\0", 4), all + all.left(1),
          QByteArray(100, '\0') + "x" + QByteArray(100, '\xFF')})
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
}

TEST(Base64, AgreesWithQtOnRandomData)
{
    // Every remainder, on both sides of the block sizes the codec works in.
    for (qsizetype size :
         {1, 2, 3, 4, 5, 11, 12, 13, 14, 15, 27, 28, 29, 47, 48, 49, 51, 52, 53, 1000, 65537}) {
        const QByteArray bytes = randomBytes(size, static_cast<unsigned>(size));
        EXPECT_EQ(base64Encode(bytes), bytes.toBase64()) << size;
        EXPECT_EQ(base64Decode(bytes.toBase64()), bytes) << size;
    }
}

struct Noise
{
    const char *name;
    std::function<QByteArray(const QByteArray &)> apply;
};

class Base64Noise : public ::testing::TestWithParam<Noise>
{};

TEST_P(Base64Noise, IsSkipped)
{
    for (qsizetype size : {0, 1, 2, 57, 58, 59, 300, 4096}) {
        const QByteArray bytes = randomBytes(size, 7u + static_cast<unsigned>(size));
        EXPECT_EQ(base64Decode(GetParam().apply(base64Encode(bytes))), bytes) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lenient, Base64Noise,
    ::testing::Values(
        Noise{"CrLfEvery76", [](const QByteArray &t) { return insertEvery(t, 76, "\r\n"); }},
        Noise{"LfEvery64", [](const QByteArray &t) { return insertEvery(t, 64, "\n"); }},
        Noise{"BlankEvery3", [](const QByteArray &t) { return insertEvery(t, 3, " "); }},
        Noise{"TabNulEvery5", [](const QByteArray &t) { return insertEvery(t, 5, {"\t\0", 2}); }},
        Noise{"HighBytesEvery7", [](const QByteArray &t) { return insertEvery(t, 7, "\xB1\xC3"); }},
        Noise{"Punctuation", [](const QByteArray &t) { return "-----\n" + t + "\n.!*~-_\n"; }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Base64, ConcatenatedTextsDecodeToConcatenatedBytes)
{
    EXPECT_EQ(base64Decode("YQ==YWI=YWJj"), "aababc");
    const QByteArray a = randomBytes(100, 1), b = randomBytes(101, 2), c = randomBytes(5, 3);
    EXPECT_EQ(base64Decode(base64Encode(a) + "\r\n" + base64Encode(b) + base64Encode(c)),
              a + b + c);
}

TEST(Base64, WideCharactersAreSkippedAndCountedInOffsets)
{
    EXPECT_EQ(DecodeBase64Text(QStringLiteral("流YW量Jj😀")), "abc");
    try {
        DecodeBase64Text(QStringLiteral("流量YQ=A"));
        FAIL() << "accepted a letter after \"=\"";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("offset 5"))) << e.what();
    }
}

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
    EXPECT_TRUE(message.contains(QLatin1String(GetParam().expected))) << message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, Base64Refusals,
    ::testing::Values(Refused{"Y", "1 character(s) from offset 0"},
                      Refused{"YQ=", "3 character(s) from offset 0"},
                      Refused{"YWJj\r\n Y W", "2 character(s) from offset 7"},
                      Refused{"=WJj", "\"=\" at offset 0 stands in the first place"},
                      Refused{"Y=Jj", "\"=\" at offset 1 stands in the second place"},
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

TEST(Base64Stream, DecodesFromTheCurrentPositionAndWritesNothingWhenRefused)
{
    const QByteArray page("\0page\xFF", 6);
    for (const QByteArray &tail : {QByteArray("\r\n"), QByteArray("YQ=A")}) {
        QByteArray source = "skipped:" + base64Encode(page) + tail, result;
        QBuffer in(&source), out(&result);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        in.seek(8);
        if (tail.startsWith('Y')) {
            EXPECT_THROW(DecodeBase64Stream(in, out), Error);
            EXPECT_TRUE(result.isEmpty());
        } else {
            DecodeBase64Stream(in, out);
            EXPECT_EQ(result, page);
        }
    }
}

TEST(Base64Group, EncodeIgnoresMissingBytesAndDecodeRestoresCount)
{
    const struct
    {
        quint32 value;
        int count;
        const char *chars;
    } rows[] = {{0x636261, 3, "YWJj"}, {0xFF6261, 2, "YWI="}, {0xFFFF61, 1, "YQ=="}};
    for (const auto &r : rows) {
        char out[5] = {};
        EncodeGroup(r.value, r.count, out);
        EXPECT_STREQ(out, r.chars);
        int count = 0;
        EXPECT_EQ(DecodeGroup(r.chars, count), r.value & (0xFFFFFFu >> (8 * (3 - r.count))));
        EXPECT_EQ(count, r.count) << r.chars;
    }
    int count = -1;
    for (const char *bad : {"YW\nj", "Y=Jj", "YQ=A"})
        EXPECT_THROW(DecodeGroup(bad, count), Error) << bad;
    EXPECT_EQ(count, -1);
    char out[4];
    EXPECT_THROW(EncodeGroup(0, 0, out), Error);
}

TEST(Base64Into, ReusedBufferHoldsExactlyTheEncoding)
{
    QByteArray text(100, 'x'); // longer than needed: must shrink to the encoding
    tessarin::base64EncodeInto(QByteArrayView("any carnal pleas"), text);
    EXPECT_EQ(text, QByteArray("YW55IGNhcm5hbCBwbGVhcw=="));
    tessarin::base64EncodeInto(QByteArrayView(), text);
    EXPECT_TRUE(text.isEmpty());
}

// A text handed over in pieces decodes to what the whole text decodes to, or is refused with
// the same message (offsets counted over the whole text), wherever the pieces are cut.
TEST(Base64Pieces, AgreeWithTheWholeTextWhereverTheyAreCut)
{
    const QByteArray valid = base64Encode(randomBytes(100, 3));
    const QByteArray texts[] = {
        "",
        "YWJj",
        "YQ==YWI=YWJj",
        " Y\r\nW J\tj ",
        insertEvery(valid, 7, "\r\n"),
        "YW=j",       // letter after "=" in the third place
        "=WJj",       // "=" first
        "YWJjY",      // ends inside a group
        "YWJjYW\n\n", // ends inside a group, noise after it
        "YWJj!!Y=Jj", // "=" second, noise before
    };
    for (const QByteArray &text : texts) {
        const QString whole = refusal(text);
        const QByteArray expected = whole.isEmpty() ? base64Decode(text) : QByteArray();
        for (qsizetype piece : {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(5)}) {
            for (qsizetype first = 0; first <= std::min<qsizetype>(text.size(), 9); ++first) {
                Base64StreamDecoder decoder;
                QByteArray out;
                QString error;
                try {
                    decoder.decode(QByteArrayView(text).first(first), out);
                    for (qsizetype at = first; at < text.size(); at += piece)
                        decoder.decode(QByteArrayView(text).sliced(at).first(
                                           std::min(piece, text.size() - at)),
                                       out);
                    decoder.finish();
                } catch (const Error &e) {
                    error = e.message();
                }
                SCOPED_TRACE(text.left(40).toStdString() + " first " + std::to_string(first)
                             + " piece " + std::to_string(piece));
                EXPECT_EQ(error.toStdString(), whole.toStdString());
                if (whole.isEmpty()) {
                    EXPECT_EQ(out, expected);
                }
            }
        }
    }
}
