#include "xmldocument.h"

#include "error.h"
#include "textcodec.h"

#include <QDomNamedNodeMap>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

namespace tessarin {

namespace {

void writeIndent(QString &out, int depth)
{
    out += QString(depth, QLatin1Char(' '));
}

void writeAttributes(QString &out, const QDomElement &element, const QStringList &order)
{
    const QDomNamedNodeMap attrs = element.attributes();
    std::vector<std::pair<QString, QString>> list;
    list.reserve(static_cast<size_t>(attrs.count()));
    for (int i = 0; i < attrs.count(); ++i) {
        const QDomAttr a = attrs.item(i).toAttr();
        list.emplace_back(a.name(), a.value());
    }
    auto rank = [&](const QString &name) {
        const qsizetype r = order.indexOf(name);
        return r < 0 ? order.size() : r;
    };
    std::sort(list.begin(), list.end(), [&](const auto &a, const auto &b) {
        const qsizetype ra = rank(a.first);
        const qsizetype rb = rank(b.first);
        return ra != rb ? ra < rb : a.first < b.first;
    });
    for (const auto &[name, value] : list) {
        out += QLatin1Char(' ') + name + QLatin1String("=\"");
        appendXmlEscaped(out, value, true);
        out += QLatin1Char('"');
    }
}

void writeNode(QString &out, const QDomNode &node, int depth, const QStringList &order)
{
    if (node.isElement()) {
        const QDomElement e = node.toElement();
        writeIndent(out, depth);
        out += QLatin1Char('<') + e.tagName();
        writeAttributes(out, e, order);
        QDomNode child = e.firstChild();
        if (child.isNull()) {
            out += QLatin1String("/>\n");
            return;
        }
        bool textOnly = true;
        for (QDomNode c = child; !c.isNull(); c = c.nextSibling())
            textOnly = textOnly && (c.isText() || c.isCDATASection());
        if (textOnly) {
            out += QLatin1Char('>');
            for (QDomNode c = child; !c.isNull(); c = c.nextSibling())
                appendXmlEscaped(out, c.toCharacterData().data(), false);
            out += QLatin1String("</") + e.tagName() + QLatin1String(">\n");
            return;
        }
        out += QLatin1String(">\n");
        for (QDomNode c = child; !c.isNull(); c = c.nextSibling())
            writeNode(out, c, depth + 1, order);
        writeIndent(out, depth);
        out += QLatin1String("</") + e.tagName() + QLatin1String(">\n");
    } else if (node.isText() || node.isCDATASection()) {
        const QString text = node.toCharacterData().data();
        if (text.trimmed().isEmpty())
            return;
        writeIndent(out, depth);
        appendXmlEscaped(out, text, false);
        out += QLatin1Char('\n');
    } else if (node.isComment()) {
        writeIndent(out, depth);
        out += QLatin1String("<!--") + node.toComment().data() + QLatin1String("-->\n");
    } else if (node.isProcessingInstruction()) {
        const QDomProcessingInstruction pi = node.toProcessingInstruction();
        writeIndent(out, depth);
        out += QLatin1String("<?") + pi.target() + QLatin1Char(' ') + pi.data()
               + QLatin1String("?>\n");
    }
}

QString encodingOf(const QDomDocument &doc)
{
    for (QDomNode n = doc.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isProcessingInstruction() && n.nodeName() == QLatin1String("xml")) {
            const QString data = n.toProcessingInstruction().data();
            const QString text = QStringLiteral("<?xml %1?>").arg(data);
            return declaredXmlEncoding(text.toLatin1());
        }
    }
    return QStringLiteral("UTF-8");
}

// Line and column (1-based) of a byte offset, counted in decoded characters.
std::pair<int, int> lineAndColumn(const QString &decodedPrefix)
{
    const int line = static_cast<int>(decodedPrefix.count(QLatin1Char('\n'))) + 1;
    const qsizetype lastBreak = decodedPrefix.lastIndexOf(QLatin1Char('\n'));
    return {line, static_cast<int>(decodedPrefix.size() - lastBreak)};
}

// Line and column (1-based, in characters) of an offset in a decoded text.
std::pair<qsizetype, qsizetype> placeOf(QStringView text, qsizetype offset)
{
    const QStringView before = text.first(offset);
    return {before.count(QLatin1Char('\n')) + 1, offset - before.lastIndexOf(QLatin1Char('\n'))};
}

[[noreturn]] void refuseCharacter(QStringView text, qsizetype at, const QString &where)
{
    const char16_t c = text[at].unicode();
    const auto [line, column] = placeOf(text, at);
    const QString code = QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    QString what;
    if (c < 0x20)
        what = QStringLiteral("control character ") + code;
    else if (QChar::isSurrogate(c))
        what = QStringLiteral("unpaired surrogate ") + code;
    else
        what = QStringLiteral("character ") + code;
    throw Error(QStringLiteral("%1: not a well-formed XML document: %2 at line %3, column %4 "
                               "cannot appear in XML")
                    .arg(where, what)
                    .arg(line)
                    .arg(column));
}

void checkCharacters(QStringView text, const QString &where)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0xD800)
            continue;
        if (c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0xE000 && c < 0xFFFE))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < n
            && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        refuseCharacter(text, i, where);
    }
}

// Counts the attributes of every start tag (each "=" outside quoted values) and, in a document
// type declaration, the "=" inside each quoted literal (an entity's replacement text may hold a
// start tag), and follows the nesting depth (start tags not closed by "/>" against end tags).
// Comments, CDATA sections and processing instructions are skipped. Every step moves forward,
// so the pass is linear.
void checkMarkup(QStringView text, const QString &where)
{
    const qsizetype n = text.size();
    auto refuse = [&](qsizetype at, bool declaration) {
        qsizetype end = at + 1;
        while (end < n && end < at + 64 && !text[end].isSpace() && text[end] != u'>'
               && text[end] != u'/')
            ++end;
        const auto [line, column] = placeOf(text, at);
        const QString what = declaration ? QStringLiteral("a literal in the declaration")
                                         : QStringLiteral("element <%1>")
                                               .arg(text.sliced(at + 1, end - at - 1).toString());
        throw Error(QStringLiteral("%1: %2 at line %3, column %4 carries more than %5 "
                                   "attributes; no document the program reads has that many")
                        .arg(where, what)
                        .arg(line)
                        .arg(column)
                        .arg(MaxXmlAttributes));
    };
    auto refuseDepth = [&](qsizetype at) {
        qsizetype end = at + 1;
        while (end < n && end < at + 64 && !text[end].isSpace() && text[end] != u'>'
               && text[end] != u'/')
            ++end;
        const auto [line, column] = placeOf(text, at);
        throw Error(QStringLiteral("%1: element <%2> at line %3, column %4 is nested more than %5 "
                                   "levels deep; no document the program reads nests that deep")
                        .arg(where, text.sliced(at + 1, end - at - 1).toString())
                        .arg(line)
                        .arg(column)
                        .arg(MaxXmlDepth));
    };
    qsizetype depth = 0;
    auto skipPast = [&](qsizetype from, QStringView end) {
        const qsizetype at = text.indexOf(end, from);
        return at < 0 ? n : at + end.size();
    };
    qsizetype i = 0;
    while (i < n) {
        i = text.indexOf(u'<', i);
        if (i < 0)
            return;
        const QStringView rest = text.sliced(i);
        if (rest.startsWith(u"<!--")) {
            i = skipPast(i + 4, u"-->");
        } else if (rest.startsWith(u"<![CDATA[")) {
            i = skipPast(i + 9, u"]]>");
        } else if (rest.startsWith(u"<?")) {
            i = skipPast(i + 2, u"?>");
        } else if (rest.startsWith(u"</")) {
            i = skipPast(i + 2, u">");
            if (depth > 0)
                --depth;
        } else if (rest.startsWith(u"<!")) {
            // Declarations: up to the ">" outside quotes and outside an internal subset.
            qsizetype j = i + 2;
            int depth = 0;
            for (; j < n; ++j) {
                const char16_t c = text[j].unicode();
                if (c == u'"' || c == u'\'') {
                    const qsizetype close = text.indexOf(QChar(c), j + 1);
                    const qsizetype stop = close < 0 ? n : close;
                    if (text.sliced(j, stop - j).count(u'=') > MaxXmlAttributes)
                        refuse(i, true);
                    j = stop;
                } else if (c == u'[') {
                    ++depth;
                } else if (c == u']') {
                    --depth;
                } else if (c == u'>' && depth <= 0) {
                    break;
                }
            }
            i = j + 1;
        } else {
            int count = 0;
            qsizetype j = i + 1;
            for (; j < n; ++j) {
                const char16_t c = text[j].unicode();
                if (c == u'"' || c == u'\'') {
                    const qsizetype close = text.indexOf(QChar(c), j + 1);
                    j = close < 0 ? n : close;
                } else if (c == u'=') {
                    if (++count > MaxXmlAttributes)
                        refuse(i, false);
                } else if (c == u'>') {
                    break;
                }
            }
            if (j < n && text[j - 1] != u'/' && ++depth > MaxXmlDepth)
                refuseDepth(i);
            i = j + 1;
        }
    }
}

} // namespace

void checkXmlText(QStringView text, const QString &where)
{
    checkCharacters(text, where);
    checkMarkup(text, where);
}

static bool isXmlChar(char16_t c)
{
    return c >= 0x20 ? (c != 0xFFFE && c != 0xFFFF) : (c == 0x09 || c == 0x0A || c == 0x0D);
}

void appendXmlEscaped(QString &out, const QString &text, bool attribute)
{
    out.reserve(out.size() + text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        switch (c) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += attribute ? QLatin1String("&quot;") : QLatin1String("\"");
            break;
        // In attribute values these would be normalised to blanks on reading.
        case u'\t':
            out += attribute ? QLatin1String("&#9;") : QLatin1String("\t");
            break;
        case u'\n':
            out += attribute ? QLatin1String("&#10;") : QLatin1String("\n");
            break;
        case u'\r':
            out += QLatin1String("&#13;");
            break;
        default:
            if (isXmlChar(c))
                out += ch;
        }
    }
}

QByteArray xmlDecodingCodec(const QString &declared)
{
    // Files labelled GB2312 (or GBK) carry GBK characters in practice; GB18030 agrees with both
    // on every character they hold.
    static const QStringList chineseLabels = {
        QStringLiteral("GB2312"), QStringLiteral("GBK"), QStringLiteral("GB_2312-80"),
        QStringLiteral("EUC-CN"), QStringLiteral("CP936"), QStringLiteral("X-GBK"),
        QStringLiteral("CSGB2312")};
    if (chineseLabels.contains(declared, Qt::CaseInsensitive))
        return QByteArrayLiteral("GB18030");
    return declared.toLatin1();
}

QString decodeXmlDocument(const QByteArray &bytes, const QString &where)
{
    const QString declared = declaredXmlEncoding(bytes);
    const QByteArray codec = xmlDecodingCodec(declared);
    if (!QStringDecoder(codec.constData()).isValid())
        throw Error(QStringLiteral("%1: unknown encoding \"%2\" in the XML declaration")
                        .arg(where, declared));

    QStringDecoder dec(codec.constData(), QStringDecoder::Flag::Stateless);
    QString text = dec.decode(bytes);
    if (dec.hasError()) {
        // Longest prefix that decodes cleanly (binary search; an error in a prefix stays an
        // error in every longer prefix).
        qsizetype lo = 0;
        qsizetype hi = bytes.size();
        while (lo < hi) {
            const qsizetype mid = (lo + hi + 1) / 2;
            QStringDecoder d(codec.constData(), QStringDecoder::Flag::Stateless);
            const QString part = d.decode(QByteArrayView(bytes).first(mid));
            if (d.hasError())
                hi = mid - 1;
            else
                lo = mid;
        }
        QStringDecoder d(codec.constData(), QStringDecoder::Flag::Stateless);
        const auto [line, column] = lineAndColumn(d.decode(QByteArrayView(bytes).first(lo)));
        const int bad = lo < bytes.size() ? static_cast<uchar>(bytes[lo]) : 0;
        throw Error(QStringLiteral("%1: byte 0x%2 at offset %3 (line %4, column %5) is not "
                                   "valid in the declared encoding %6")
                        .arg(where)
                        .arg(bad, 2, 16, QLatin1Char('0'))
                        .arg(lo)
                        .arg(line)
                        .arg(column)
                        .arg(declared));
    }
    if (!text.isEmpty() && text.front() == QChar(0xFEFF))
        text.remove(0, 1);
    return text;
}

QDomDocument readXmlDocument(const QByteArray &bytes, const QString &where)
{
    return readXmlText(decodeXmlDocument(bytes, where), where);
}

QDomDocument readXmlText(const QString &text, const QString &where)
{
    checkXmlText(text, where);
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

QDomDocument newXmlDocument(const QString &encoding)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"%1\"").arg(encoding)));
    return doc;
}

QString writeXmlElement(const QDomElement &element, int depth, const QStringList &attributeOrder)
{
    QString out;
    writeNode(out, element, depth, attributeOrder);
    return out;
}

QByteArray writeXmlDocument(const QDomDocument &doc, const QStringList &attributeOrder)
{
    const QString encoding = encodingOf(doc);
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n").arg(encoding);
    for (QDomNode n = doc.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isProcessingInstruction() && n.nodeName() == QLatin1String("xml"))
            continue;
        writeNode(out, n, 0, attributeOrder);
    }
    return encodeXml(out, encoding);
}

} // namespace tessarin
