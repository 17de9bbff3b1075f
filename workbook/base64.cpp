#include "base64.h"

#include "error.h"

#include <QIODevice>

#include <array>
#include <bit>
#include <cstring>
#include <limits>

// The vector paths are chosen at run time on x86-64 CPUs with AVX2; everything else (and a build
// with TESSARIN_BASE64_SCALAR, which the tests use to check the portable path) stays scalar.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TESSARIN_BASE64_SCALAR)
#include <immintrin.h>
#define TESSARIN_BASE64_AVX2 1
#endif

namespace tessarin {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char Pad = '=';

// Value of each byte as an alphabet character, -1 for "=" and -2 for everything else.
constexpr std::array<qint8, 256> makeValues()
{
    std::array<qint8, 256> t{};
    for (auto &v : t)
        v = -2;
    for (int i = 0; i < 64; ++i)
        t[static_cast<uchar>(Alphabet[i])] = static_cast<qint8>(i);
    t[static_cast<uchar>(Pad)] = -1;
    return t;
}
constexpr std::array<qint8, 256> Values = makeValues();

// Two output characters for every 12-bit half of a group, so a group costs two lookups.
using CharPair = std::array<char, 2>;
constexpr std::array<CharPair, 4096> makePairs()
{
    std::array<CharPair, 4096> t{};
    for (int i = 0; i < 4096; ++i)
        t[i] = {Alphabet[i >> 6], Alphabet[i & 63]};
    return t;
}
constexpr std::array<CharPair, 4096> Pairs = makePairs();

// Decoding tables, one per place in a group. OR-ing the four entries gives the three output
// bytes in memory order in the low 24 bits of a little-endian word; any character that is not
// an alphabet character ("=" included) sets bits above them, which sends the group to the
// careful path.
constexpr quint32 NotFast = 0xFF000000u;
enum class Place { First, Second, Third, Fourth };
constexpr std::array<quint32, 256> makeDecodeTable(Place place)
{
    std::array<quint32, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const int v = Values[c];
        if (v < 0) {
            t[c] = NotFast;
            continue;
        }
        const auto u = static_cast<quint32>(v);
        switch (place) {
        case Place::First: t[c] = u << 2; break;
        case Place::Second: t[c] = (u >> 4) | ((u & 15) << 12); break;
        case Place::Third: t[c] = ((u >> 2) << 8) | ((u & 3) << 22); break;
        case Place::Fourth: t[c] = u << 16; break;
        }
    }
    return t;
}
constexpr std::array<quint32, 256> D0 = makeDecodeTable(Place::First);
constexpr std::array<quint32, 256> D1 = makeDecodeTable(Place::Second);
constexpr std::array<quint32, 256> D2 = makeDecodeTable(Place::Third);
constexpr std::array<quint32, 256> D3 = makeDecodeTable(Place::Fourth);

inline void encodeTriple(const uchar *in, char *out)
{
    const quint32 v = (quint32(in[0]) << 16) | (quint32(in[1]) << 8) | in[2];
    std::memcpy(out, Pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, Pairs[v & 0xFFF].data(), 2);
}

#ifdef TESSARIN_BASE64_AVX2
// 24 bytes into 32 characters per step (each 128-bit lane turns 12 bytes into 16 characters);
// reads 4 bytes beyond each step, so it stops while 28 bytes remain. Returns the bytes done.
__attribute__((target("avx2"))) qsizetype encodeAvx2(const uchar *in, qsizetype n, char *out)
{
    // Per lane, the bytes of each group b0 b1 b2 spread over one 32-bit word as b1 b0 b2 b1.
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,
                                            1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    // What to add to a 6-bit index to get its character, chosen by the index's range.
    const __m256i offsets = _mm256_setr_epi8(
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52,
        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '+' - 62, '/' - 63, 'A', 0, 0);
    qsizetype i = 0;
    for (; i + 28 <= n; i += 24, out += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 12));
        const __m256i words = _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), spread);
        // Move the four 6-bit fields of every word into the low bits of its four bytes.
        const __m256i ac = _mm256_mulhi_epu16(
            _mm256_and_si256(words, _mm256_set1_epi32(0x0fc0fc00)), _mm256_set1_epi32(0x04000040));
        const __m256i bd = _mm256_mullo_epi16(
            _mm256_and_si256(words, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
        const __m256i indices = _mm256_or_si256(ac, bd);
        // Range of each index: 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12.
        __m256i range = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
        const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
        range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
        const __m256i chars = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), indices);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), chars);
    }
    return i;
}

// 32 characters into 24 bytes per step while every character is of the alphabet; stops at the
// first step holding anything else ("=" included) and leaves it to the careful path. Writes 32
// bytes per step (8 beyond what it keeps). Returns the characters done; *written the bytes.
__attribute__((target("avx2"))) qsizetype decodeAvx2(const uchar *in, qsizetype n, char *out,
                                                     qsizetype *written)
{
    // Bit sets by low and high nibble: a character is of the alphabet when its two sets share
    // no bit.
    const __m256i byLow = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                           0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11,
                                           0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13,
                                           0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i byHigh = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10,
                                            0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
                                            0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10,
                                            0x10, 0x10, 0x10, 0x10, 0x10);
    // What to add to a character to get its value, by high nibble ("/" gets its own entry).
    const __m256i shift = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0,
                                           0, 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0,
                                           0, 0);
    const __m256i slash = _mm256_set1_epi8(0x2F);
    // Three bytes of every 32-bit word to the front of each lane, then the lanes joined.
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                                          2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, -1, -1);
    qsizetype i = 0;
    char *const start = out;
    for (; i + 32 <= n; i += 32, out += 24) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), slash);
        const __m256i low = _mm256_and_si256(chars, slash);
        if (!_mm256_testz_si256(_mm256_shuffle_epi8(byLow, low),
                                _mm256_shuffle_epi8(byHigh, high)))
            break;
        const __m256i isSlash = _mm256_cmpeq_epi8(chars, slash);
        const __m256i values = _mm256_add_epi8(
            chars, _mm256_shuffle_epi8(shift, _mm256_add_epi8(isSlash, high)));
        // 6-bit values a b c d -> 24-bit words, then bytes in order.
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), bytes);
    }
    *written = out - start;
    return i;
}

bool haveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// Encodes n bytes into exactly base64EncodedSize(n) characters at out.
void encodeInto(const uchar *in, qsizetype n, char *out)
{
    qsizetype i = 0;
#ifdef TESSARIN_BASE64_AVX2
    if (haveAvx2()) {
        i = encodeAvx2(in, n, out);
        out += i / 3 * 4;
    }
#endif
    for (; i + 12 <= n; i += 12, out += 16) {
        encodeTriple(in + i, out);
        encodeTriple(in + i + 3, out + 4);
        encodeTriple(in + i + 6, out + 8);
        encodeTriple(in + i + 9, out + 12);
    }
    for (; i + 3 <= n; i += 3, out += 4)
        encodeTriple(in + i, out);
    const qsizetype rest = n - i;
    if (rest > 0) {
        const quint32 value = in[i] | (rest > 1 ? quint32(in[i + 1]) << 8 : 0u);
        EncodeGroup(value, static_cast<int>(rest), out);
    }
}

QString printable(char c)
{
    const auto u = static_cast<uchar>(c);
    if (u > 0x20 && u < 0x7F)
        return QStringLiteral("\"%1\"").arg(QLatin1Char(c));
    return QStringLiteral("0x%1").arg(u, 2, 16, QLatin1Char('0'));
}

[[noreturn]] void refuse(const QString &why)
{
    throw Error(QStringLiteral("Base64 text: ") + why);
}

// Refuses a misplaced "=" among the first `size` significant characters (alphabet or "=") of
// a group, found at the given offsets.
void checkPadding(const char g[4], const qsizetype offsets[4], int size)
{
    for (int k = 0; k < 2 && k < size; ++k)
        if (g[k] == Pad)
            refuse(QStringLiteral("\"=\" at offset %1 stands in the %2 place of a group of four")
                       .arg(offsets[k])
                       .arg(k == 0 ? QStringLiteral("first") : QStringLiteral("second")));
    if (size == 4 && g[2] == Pad && g[3] != Pad)
        refuse(QStringLiteral("character %1 at offset %2 follows the \"=\" at offset %3 in its "
                              "group of four")
                   .arg(printable(g[3]))
                   .arg(offsets[3])
                   .arg(offsets[2]));
}

// Writes the bytes of one group of four significant characters whose "=" placement has been
// checked; returns how many bytes it wrote.
int decodeCheckedGroup(const char g[4], char *out)
{
    const quint32 v0 = static_cast<quint32>(Values[static_cast<uchar>(g[0])]);
    const quint32 v1 = static_cast<quint32>(Values[static_cast<uchar>(g[1])]);
    out[0] = static_cast<char>((v0 << 2) | (v1 >> 4));
    if (g[2] == Pad)
        return 1;
    const quint32 v2 = static_cast<quint32>(Values[static_cast<uchar>(g[2])]);
    out[1] = static_cast<char>(((v1 << 4) | (v2 >> 2)) & 255);
    if (g[3] == Pad)
        return 2;
    const quint32 v3 = static_cast<quint32>(Values[static_cast<uchar>(g[3])]);
    out[2] = static_cast<char>(((v2 << 6) | v3) & 255);
    return 3;
}

// Decodes n characters at in into out, which has room for 3 * (n / 4) + 8 bytes (the fast
// paths store whole words and may write up to 8 bytes past what they keep). Returns the byte
// count. Offsets in messages are counted from `base`.
qsizetype decodeInto(const char *in, qsizetype n, char *out, qsizetype base = 0)
{
    const auto *u = reinterpret_cast<const uchar *>(in);
    char *const start = out;
    qsizetype i = 0;
    for (;;) {
#ifdef TESSARIN_BASE64_AVX2
        if (haveAvx2()) {
            qsizetype written = 0;
            i += decodeAvx2(u + i, n - i, out, &written);
            out += written;
        }
#endif
        // Clean groups of four alphabet characters: no per-character branching.
        for (; i + 4 <= n; i += 4) {
            const quint32 x = D0[u[i]] | D1[u[i + 1]] | D2[u[i + 2]] | D3[u[i + 3]];
            if (x & NotFast)
                break;
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out, &x, 4);
            } else {
                out[0] = static_cast<char>(x & 255);
                out[1] = static_cast<char>((x >> 8) & 255);
                out[2] = static_cast<char>((x >> 16) & 255);
            }
            out += 3;
        }
        // Careful path: gather the next four significant characters, skipping the rest.
        char g[4];
        qsizetype offsets[4];
        int k = 0;
        for (; i < n && k < 4; ++i) {
            if (Values[u[i]] == -2)
                continue;
            g[k] = in[i];
            offsets[k] = base + i;
            ++k;
        }
        if (k == 0)
            return out - start;
        checkPadding(g, offsets, k);
        if (k < 4)
            refuse(QStringLiteral("the text ends inside a group: %1 character(s) from offset %2 "
                                  "do not make a group of four")
                       .arg(k)
                       .arg(offsets[0]));
        out += decodeCheckedGroup(g, out);
    }
}

QByteArray decodeBytes(const char *in, qsizetype n)
{
    QByteArray result(3 * (n / 4) + 8, Qt::Uninitialized);
    result.truncate(decodeInto(in, n, result.data()));
    return result;
}

} // namespace

qsizetype base64EncodedSize(qsizetype byteCount)
{
    if (byteCount < 0 || byteCount / 3 >= std::numeric_limits<qsizetype>::max() / 4 - 1)
        throw Error(QStringLiteral("Base64: %1 bytes are too many to encode").arg(byteCount));
    return 4 * (byteCount / 3) + (byteCount % 3 ? 4 : 0);
}

QByteArray base64Encode(QByteArrayView bytes)
{
    QByteArray text(base64EncodedSize(bytes.size()), Qt::Uninitialized);
    encodeInto(reinterpret_cast<const uchar *>(bytes.data()), bytes.size(), text.data());
    return text;
}

void base64EncodeInto(QByteArrayView bytes, QByteArray &text)
{
    text.resize(base64EncodedSize(bytes.size()));
    encodeInto(reinterpret_cast<const uchar *>(bytes.data()), bytes.size(), text.data());
}

QByteArray base64Decode(QByteArrayView text)
{
    return decodeBytes(text.data(), text.size());
}

QString EncodeBase64Text(QByteArrayView Bytes)
{
    return QString::fromLatin1(base64Encode(Bytes));
}

QByteArray DecodeBase64Text(const QString &Text)
{
    // One byte per UTF-16 unit keeps offsets; anything above U+00FF becomes "?", which is
    // skipped like any other character outside the alphabet.
    const QByteArray latin = Text.toLatin1();
    return decodeBytes(latin.constData(), latin.size());
}

void DecodeBase64Stream(QIODevice &Source, QIODevice &Target)
{
    const QByteArray text = Source.readAll();
    const QByteArray bytes = decodeBytes(text.constData(), text.size());
    if (Target.write(bytes) != bytes.size())
        throw Error(QStringLiteral("Base64: cannot write the decoded bytes: %1")
                        .arg(Target.errorString()));
}

void Base64StreamDecoder::decode(QByteArrayView text, QByteArray &out)
{
    const auto *u = reinterpret_cast<const uchar *>(text.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
    // First complete a group left open by the previous piece.
    for (; m_pending > 0 && m_pending < 4 && i < n; ++i) {
        if (Values[u[i]] == -2)
            continue;
        m_group[m_pending] = text[i];
        m_offsets[m_pending] = m_consumed + i;
        ++m_pending;
    }
    if (m_pending == 4) {
        checkPadding(m_group, m_offsets, 4);
        char bytes[3];
        out.append(bytes, decodeCheckedGroup(m_group, bytes));
        m_pending = 0;
    }
    if (m_pending == 0 && i < n) {
        // The rest decodes in whole groups up to the last few significant characters, which
        // wait for the next piece.
        qsizetype significant = 0;
        for (qsizetype j = i; j < n; ++j)
            significant += Values[u[j]] != -2;
        qsizetype cut = n;
        for (qsizetype tail = significant % 4; tail > 0; --cut)
            if (Values[u[cut - 1]] != -2)
                --tail;
        const qsizetype at = out.size();
        out.resize(at + 3 * ((cut - i) / 4) + 8);
        out.truncate(at + decodeInto(text.data() + i, cut - i, out.data() + at, m_consumed + i));
        for (i = cut; i < n; ++i) {
            if (Values[u[i]] == -2)
                continue;
            m_group[m_pending] = text[i];
            m_offsets[m_pending] = m_consumed + i;
            ++m_pending;
        }
    }
    m_consumed += n;
}

void Base64StreamDecoder::finish()
{
    if (m_pending == 0)
        return;
    checkPadding(m_group, m_offsets, m_pending);
    refuse(QStringLiteral("the text ends inside a group: %1 character(s) from offset %2 do not "
                          "make a group of four")
               .arg(m_pending)
               .arg(m_offsets[0]));
}

void EncodeGroup(quint32 Value, int Count, char *Out)
{
    if (Count < 1 || Count > 3)
        throw Error(QStringLiteral("Base64: a group holds 1 to 3 bytes, not %1").arg(Count));
    const quint32 b0 = Value & 255;
    const quint32 b1 = Count > 1 ? (Value >> 8) & 255 : 0;
    const quint32 b2 = Count > 2 ? (Value >> 16) & 255 : 0;
    Out[0] = Alphabet[b0 >> 2];
    Out[1] = Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    Out[2] = Count > 1 ? Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : Pad;
    Out[3] = Count > 2 ? Alphabet[b2 & 63] : Pad;
}

quint32 DecodeGroup(const char *Chars, int &Count)
{
    const qsizetype offsets[4] = {0, 1, 2, 3};
    for (int k = 0; k < 4; ++k)
        if (Values[static_cast<uchar>(Chars[k])] == -2)
            refuse(QStringLiteral("character %1 at offset %2 of a group is not a Base64 "
                                  "character")
                       .arg(printable(Chars[k]))
                       .arg(k));
    char bytes[3] = {0, 0, 0};
    checkPadding(Chars, offsets, 4);
    Count = decodeCheckedGroup(Chars, bytes);
    return quint32(uchar(bytes[0])) | (quint32(uchar(bytes[1])) << 8)
           | (quint32(uchar(bytes[2])) << 16);
}

} // namespace tessarin
