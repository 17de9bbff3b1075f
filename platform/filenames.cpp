#include "filenames.h"

namespace tessarin {

namespace {

constexpr char16_t kRawByteBase = 0xDC00;

bool isRawByte(const QString &text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= kRawByteBase + 0x80 && c <= kRawByteBase + 0xFF
           && (i == 0 || !QChar::isHighSurrogate(text[i - 1].unicode()));
}

// The length of the valid UTF-8 sequence at `at` (1..4), or 0 when it is not one: no overlong
// forms, no surrogates, nothing above U+10FFFF.
int sequenceLength(QByteArrayView b, qsizetype at)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(b[k]); };
    const unsigned char c = byte(at);
    if (c < 0x80)
        return 1;
    int n = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + n > b.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (int k = 2; k < n; ++k)
        if (byte(at + k) < 0x80 || byte(at + k) > 0xBF)
            return 0;
    return n;
}

} // namespace

QString fileNameFromNative(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int n = sequenceLength(bytes, i);
        if (n == 0) {
            out += QChar(char16_t(kRawByteBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        out += QString::fromUtf8(bytes.sliced(i, n));
        i += n;
    }
    return out;
}

QByteArray nativeFileName(const QString &name)
{
    if (!hasRawBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size());
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isRawByte(name, i))
            continue;
        out += QStringView(name).sliced(from, i - from).toUtf8();
        out += static_cast<char>(name[i].unicode() - kRawByteBase);
        from = i + 1;
    }
    out += QStringView(name).sliced(from).toUtf8();
    return out;
}

bool hasRawBytes(const QString &name)
{
    for (qsizetype i = 0; i < name.size(); ++i)
        if (isRawByte(name, i))
            return true;
    return false;
}

QString withoutRawBytes(const QString &text)
{
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i)
        if (isRawByte(text, i))
            out[i] = QChar(QChar::ReplacementCharacter);
    return out;
}

} // namespace tessarin
