// libFuzzer target for the Base64 codec: the decoder (whole text, as QString, and in pieces)
// against a plain reference decoder written from the rules, and the encode/decode round trip.

#include "base64.h"
#include "error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace tessarin;

namespace {

int valueOf(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// The rules, one character at a time: skip what is neither of the alphabet nor "="; groups of
// four; "=" refused in the first two places, and before an alphabet character in the last two;
// a partial group at the end refused.
std::optional<QByteArray> reference(const QByteArray &text)
{
    QByteArray out;
    char g[4];
    int k = 0;
    for (const char c : text) {
        if (valueOf(c) < 0 && c != '=')
            continue;
        g[k++] = c;
        if (k < 4)
            continue;
        k = 0;
        if (g[0] == '=' || g[1] == '=' || (g[2] == '=' && g[3] != '='))
            return std::nullopt;
        const int v0 = valueOf(g[0]), v1 = valueOf(g[1]);
        out.append(char((v0 << 2) | (v1 >> 4)));
        if (g[2] == '=')
            continue;
        const int v2 = valueOf(g[2]);
        out.append(char(((v1 << 4) | (v2 >> 2)) & 255));
        if (g[3] == '=')
            continue;
        out.append(char(((v2 << 6) | valueOf(g[3])) & 255));
    }
    if (k != 0)
        return std::nullopt;
    return out;
}

template<class F>
std::optional<QByteArray> attempt(F &&decode)
{
    try {
        return decode();
    } catch (const Error &) {
        return std::nullopt;
    }
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QByteArray> expected = reference(input);

    if (attempt([&] { return base64Decode(input); }) != expected)
        fail("base64Decode disagrees with the reference");
    if (attempt([&] { return DecodeBase64Text(QString::fromLatin1(input)); }) != expected)
        fail("DecodeBase64Text disagrees with the reference");
    // In pieces cut where the input's first bytes say.
    const auto inPieces = attempt([&] {
        Base64StreamDecoder decoder;
        QByteArray out;
        qsizetype at = 0;
        for (qsizetype k = 0; at < input.size(); ++k) {
            const qsizetype step = 1 + (k < input.size() ? uchar(input[k]) % 23 : 7);
            decoder.decode(QByteArrayView(input).sliced(at, std::min(step, input.size() - at)),
                           out);
            at += step;
        }
        decoder.finish();
        return out;
    });
    if (inPieces != expected)
        fail("Base64StreamDecoder disagrees with the reference");

    const QByteArray text = base64Encode(input);
    if (text.size() != base64EncodedSize(input.size()) || base64Decode(text) != input
        || reference(text) != input)
        fail("encoding does not round-trip");
    return 0;
}
