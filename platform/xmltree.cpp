#include "xmltree.h"

#include "error.h"
#include "textcodec.h"
#include "xmldocument.h"

#include <QXmlStreamReader>

namespace tessarin {

namespace {
// Deeper nesting than any stored format uses; refusing it keeps recursion bounded (the
// pre-scan of checkXmlText refuses it first, this guards what an entity could bring in).
constexpr size_t kMaxDepth = MaxXmlDepth;

void writeElement(QString &out, const XmlElement &e, int depth)
{
    out += QString(depth, QLatin1Char(' '));
    out += QLatin1Char('<');
    out += e.name;
    for (const auto &[name, value] : e.attributes) {
        out += QLatin1Char(' ');
        out += name;
        out += QLatin1String("=\"");
        appendXmlEscaped(out, value, true);
        out += QLatin1Char('"');
    }
    if (e.children.empty()) {
        out += QLatin1String("/>\n");
        return;
    }
    out += QLatin1String(">\n");
    for (const auto &c : e.children)
        writeElement(out, *c, depth + 1);
    out += QString(depth, QLatin1Char(' '));
    out += QLatin1String("</");
    out += e.name;
    out += QLatin1String(">\n");
}

} // namespace

QString writeXmlTreeElement(const XmlElement &element, int depth)
{
    QString out;
    writeElement(out, element, depth);
    return out;
}

QByteArray writeXmlTree(const XmlElement &root, const QString &encoding)
{
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n").arg(encoding);
    // Rough size of a node element, to grow the text once rather than by doubling.
    out.reserve(static_cast<qsizetype>(root.children.size() + 1) * 4096 + [&] {
        qsizetype n = 0;
        for (const auto &c : root.children)
            n += static_cast<qsizetype>(c->children.size()) * 160;
        return n;
    }());
    writeElement(out, root, 0);
    return encodeXml(out, encoding);
}

namespace {

std::unique_ptr<XmlElement> readTree(QXmlStreamReader &reader, const QString &where);

} // namespace

std::unique_ptr<XmlElement> parseXmlTree(const QByteArray &bytes, const QString &where)
{
    // A UTF-8 document, the usual one, is checked in its decoded form and then read from its own
    // bytes: given the decoded text, the reader makes a UTF-8 copy of it, and a large project
    // would be held three times over.
    // Byte-order marks take the decoded path, which reads them as the program always has.
    if (bytes.startsWith('<')
        && declaredXmlEncoding(bytes).compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0) {
        checkXmlText(decodeXmlDocument(bytes, where), where);
        QXmlStreamReader reader(bytes);
        return readTree(reader, where);
    }
    return parseXmlTreeText(decodeXmlDocument(bytes, where), where);
}

std::unique_ptr<XmlElement> parseXmlTreeText(const QString &text, const QString &where)
{
    checkXmlText(text, where);
    QXmlStreamReader reader(text);
    return readTree(reader, where);
}

namespace {

std::unique_ptr<XmlElement> readTree(QXmlStreamReader &reader, const QString &where)
{
    reader.setNamespaceProcessing(false);
    std::unique_ptr<XmlElement> root;
    std::vector<XmlElement *> open;
    // Element and attribute names repeat on every node: share one copy of each.
    std::vector<QString> names;
    auto intern = [&names](QStringView name) {
        for (const QString &known : names)
            if (known == name)
                return known;
        if (names.size() < 64)
            names.push_back(name.toString());
        return name.toString();
    };
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            auto element = std::make_unique<XmlElement>();
            element->name = intern(reader.qualifiedName());
            const QXmlStreamAttributes attrs = reader.attributes();
            element->attributes.reserve(static_cast<size_t>(attrs.size()));
            for (const QXmlStreamAttribute &a : attrs)
                element->attributes.emplace_back(intern(a.qualifiedName()), a.value().toString());
            element->line = reader.lineNumber();
            element->column = reader.columnNumber();
            XmlElement *raw = element.get();
            if (open.empty())
                root = std::move(element);
            else
                open.back()->children.push_back(std::move(element));
            open.push_back(raw);
            if (open.size() > kMaxDepth)
                throw Error(QStringLiteral("%1: elements nested deeper than %2 levels (line %3)")
                                .arg(where)
                                .arg(kMaxDepth)
                                .arg(reader.lineNumber()));
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty() && !reader.isWhitespace() && !reader.text().trimmed().isEmpty())
                open.back()->hasText = true;
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        throw Error(QStringLiteral("%1: not a well-formed XML document (line %2, column %3): %4")
                        .arg(where)
                        .arg(reader.lineNumber())
                        .arg(reader.columnNumber())
                        .arg(reader.errorString()));
    }
    if (!root)
        throw Error(QStringLiteral("%1: the document has no document element").arg(where));
    return root;
}

} // namespace

} // namespace tessarin
