#include "textcodec.h"

#include "error.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextStream>

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

bool isKnownEncoding(const QString &encoding)
{
    return QStringDecoder(normalisedEncoding(encoding).toLatin1().constData()).isValid();
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

QString decodeXml(const QByteArray &bytes)
{
    const QString encoding = declaredXmlEncoding(bytes);
    QStringDecoder dec(normalisedEncoding(encoding).toLatin1().constData(),
                       QStringDecoder::Flag::Stateless);
    if (!dec.isValid())
        throw Error(QStringLiteral("unknown encoding \"%1\" in the XML declaration").arg(encoding));
    QString text = dec.decode(bytes);
    if (!text.isEmpty() && text.front() == QChar(0xFEFF))
        text.remove(0, 1);
    return text;
}

QByteArray encodeXml(const QString &text, const QString &encoding)
{
    const QByteArray name = normalisedEncoding(encoding).toLatin1();
    QStringEncoder enc(name.constData(), QStringEncoder::Flag::Stateless);
    if (!enc.isValid())
        throw Error(QStringLiteral("unknown encoding \"%1\"").arg(encoding));
    QByteArray whole = enc.encode(text);
    // Fast path: the whole text survives the round trip.
    QStringDecoder dec(name.constData(), QStringDecoder::Flag::Stateless);
    if (!enc.hasError() && QString(dec.decode(whole)) == text)
        return whole;

    // Slow path: encode piece by piece, referencing each character that does not round-trip.
    QByteArray out;
    out.reserve(whole.size() + 64);
    const qsizetype n = text.size();
    qsizetype runStart = 0;
    auto flushRun = [&](qsizetype to) {
        if (to > runStart) {
            QStringEncoder e(name.constData(), QStringEncoder::Flag::Stateless);
            out += QByteArray(e.encode(QStringView(text).mid(runStart, to - runStart)));
        }
    };
    for (qsizetype i = 0; i < n;) {
        const char32_t cp = QChar::isHighSurrogate(text[i].unicode()) && i + 1 < n
                                    && QChar::isLowSurrogate(text[i + 1].unicode())
                                ? QChar::surrogateToUcs4(text[i], text[i + 1])
                                : text[i].unicode();
        const qsizetype len = cp > 0xFFFF ? 2 : 1;
        const QStringView piece = QStringView(text).mid(i, len);
        QStringEncoder e(name.constData(), QStringEncoder::Flag::Stateless);
        const QByteArray bytes = e.encode(piece);
        QStringDecoder d(name.constData(), QStringDecoder::Flag::Stateless);
        const bool ok = !e.hasError() && QString(d.decode(bytes)) == piece;
        if (!ok) {
            flushRun(i);
            out += "&#" + QByteArray::number(static_cast<uint>(cp)) + ';';
            runStart = i + len;
        }
        i += len;
    }
    flushRun(n);
    return out;
}

QDomDocument parseXml(const QByteArray &bytes, const QString &where)
{
    const QString text = decodeXml(bytes);
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(text, &message, &line, &column)) {
        throw Error(QStringLiteral("%1: not a well-formed XML document (line %2, column %3): %4")
                        .arg(where)
                        .arg(line)
                        .arg(column)
                        .arg(message));
    }
    return doc;
}

QByteArray serializeXml(const QDomDocument &doc, int indent)
{
    // The declaration is written by hand: QDomDocument only knows the UTF encodings.
    QString encoding = QStringLiteral("UTF-8");
    QString declaration;
    QString body;
    QTextStream stream(&body);
    const QDomNodeList children = doc.childNodes();
    for (int i = 0; i < children.count(); ++i) {
        const QDomNode node = children.at(i);
        if (node.isProcessingInstruction() && node.nodeName() == QLatin1String("xml")) {
            static const QRegularExpression re(
                QStringLiteral("encoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)[\"']"));
            const QString data = node.toProcessingInstruction().data();
            const auto m = re.match(data);
            if (m.hasMatch())
                encoding = m.captured(1);
            declaration = QStringLiteral("<?xml %1?>\n").arg(data);
            continue;
        }
        node.save(stream, indent);
    }
    stream.flush();
    return encodeXml(declaration + body, encoding);
}

} // namespace tessarin
