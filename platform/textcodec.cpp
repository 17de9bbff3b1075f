#include "textcodec.h"

#include "error.h"
#include "xmldocument.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace tessarin {

namespace {

constexpr const char *kCodePage = "GB18030";

// Encodings whose Qt/ICU name differs from the one found in documents.
QString normalisedEncoding(const QString &name)
{
    const QString n = name.trimmed();
    if (n.isEmpty())
        return QStringLiteral("UTF-8");
    return n;
}

} // namespace

QByteArray toCodePage(const QString &text)
{
    QStringEncoder enc(kCodePage);
    return enc.encode(text);
}

QString fromCodePage(QByteArrayView bytes)
{
    QStringDecoder dec(kCodePage);
    return dec.decode(bytes);
}

QString declaredXmlEncoding(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QStringLiteral("UTF-8");
    if (bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("UTF-16LE");
    if (bytes.startsWith("\xFE\xFF"))
        return QStringLiteral("UTF-16BE");
    if (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == '\0')
        return QStringLiteral("UTF-16LE");
    if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] == '<')
        return QStringLiteral("UTF-16BE");
    if (!bytes.startsWith("<?xml"))
        return QStringLiteral("UTF-8");
    const qsizetype end = QByteArrayView(bytes).indexOf("?>");
    const QByteArray decl = (end < 0 ? bytes.first(qMin<qsizetype>(bytes.size(), 200))
                                     : bytes.first(end))
                                .toByteArray();
    static const QRegularExpression re(
        QStringLiteral("encoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)[\"']"));
    const auto m = re.match(QString::fromLatin1(decl));
    if (m.hasMatch())
        return m.captured(1);
    return QStringLiteral("UTF-8");
}

QByteArray encodeXml(const QString &text, const QString &encoding)
{
    const QByteArray name = normalisedEncoding(encoding).toLatin1();
    QStringEncoder enc(name.constData(), QStringEncoder::Flag::Stateless);
    if (!enc.isValid())
        throw Error(QStringLiteral("unknown encoding \"%1\"").arg(encoding));
    // A character counts as held when the bytes it is written as read back as that character
    // the way the program reads such a document: a GB2312 label is read as GB18030, and the two
    // tables disagree on a few characters (U+2015 is A1AA in one, A1AA is U+2014 in the
    // other), which must then be written as references.
    const QByteArray reading = xmlDecodingCodec(normalisedEncoding(encoding));
    QByteArray whole = enc.encode(text);
    // Fast path: the whole text survives the round trip.
    QStringDecoder dec(reading.constData(), QStringDecoder::Flag::Stateless);
    if (!enc.hasError() && QString(dec.decode(whole)) == text && !dec.hasError())
        return whole;

    // Slow path: blocks that round-trip are taken whole; only a block that does not is looked
    // at character by character, referencing each character that does not round-trip.
    auto roundTrips = [&name, &reading](QStringView piece, QByteArray &bytes) {
        QStringEncoder e(name.constData(), QStringEncoder::Flag::Stateless);
        bytes = e.encode(piece);
        QStringDecoder d(reading.constData(), QStringDecoder::Flag::Stateless);
        return !e.hasError() && QString(d.decode(bytes)) == piece && !d.hasError();
    };
    QByteArray out;
    out.reserve(whole.size() + 64);
    const qsizetype n = text.size();
    constexpr qsizetype Block = 256;
    QByteArray bytes;
    for (qsizetype start = 0; start < n;) {
        qsizetype end = std::min(n, start + Block);
        if (end < n && QChar::isHighSurrogate(text[end - 1].unicode()))
            ++end; // keep a surrogate pair in one block
        const QStringView block = QStringView(text).mid(start, end - start);
        if (roundTrips(block, bytes)) {
            out += bytes;
            start = end;
            continue;
        }
        for (qsizetype i = start; i < end;) {
            const char32_t cp = QChar::isHighSurrogate(text[i].unicode()) && i + 1 < n
                                        && QChar::isLowSurrogate(text[i + 1].unicode())
                                    ? QChar::surrogateToUcs4(text[i], text[i + 1])
                                    : text[i].unicode();
            const qsizetype len = cp > 0xFFFF ? 2 : 1;
            if (roundTrips(QStringView(text).mid(i, len), bytes))
                out += bytes;
            else
                out += "&#" + QByteArray::number(static_cast<uint>(cp)) + ';';
            i += len;
        }
        start = end;
    }
    return out;
}

} // namespace tessarin
