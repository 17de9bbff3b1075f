#include "workbookformat.h"

#include "error.h"
#include "textcodec.h"
#include "textlines.h"
#include "xmldocument.h"
#include "xmltree.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QStringList>
#include <QXmlStreamReader>

#include <memory>

namespace tessarin {

namespace {

const QString kExcelElement = QString::fromUtf16(WorkbookElementName);
const QString kShowPages = QString::fromUtf16(WorkbookTabsAttribute);
const QString kSaveText = QString::fromUtf16(WorkbookPageTextAttribute);
const QString kOwnerIndex = QString::fromUtf16(WorkbookOwnerIndexAttribute);
const QString kPageElement = QString::fromUtf16(WorkbookPageElementName);

// A project document's element: it holds one of the project's parts, or nothing at all.
bool isProjectElement(const XmlElement &root)
{
    static const QStringList parts{QStringLiteral("TRTL"),
                                   QStringLiteral("TVariables"),
                                   QStringLiteral("TProcess"),
                                   kExcelElement};
    for (const auto &child : root.children)
        if (parts.contains(child->name))
            return true;
    // An empty document element takes the workbook as its only child.
    return root.children.empty() && !root.hasText;
}

template<class E>
WorkbookRead readElement(const E &element, const PageSetup &setup, int ownerIndex)
{
    // Read everything into detached pages first; only a complete read replaces the workbook.
    WorkbookRead read;
    QString attribute;
    if (readAttribute(element, kShowPages, attribute))
        read.names = splitTextLines(attribute);

    std::vector<WorkbookPageRead> &pages = read.pages;
    QStringList &errors = read.errors;
    forEachChildElement(element, [&](const E &child) {
        const int number = static_cast<int>(pages.size()) + 1;
        const qint64 line = elementLine(child);
        auto page = std::make_unique<TqzReportPage>(setup);
        page->OwnerIndex = ownerIndex;
        std::optional<QString> unread;
        QString text;
        if (readAttribute(child, kSaveText, text)) {
            try {
                // An empty text is an empty page; anything else without a page stream may be
                // a page of a later format, which must survive a save.
                if (!page->LoadFromText(text) && !text.trimmed().isEmpty()) {
                    unread = text;
                    errors.append(QStringLiteral("page %1 (line %2): the text holds no page "
                                                 "stream this program knows (unknown magic "
                                                 "word); the page is shown empty and its text "
                                                 "is kept as it was")
                                      .arg(number)
                                      .arg(line));
                }
            } catch (const Error &e) {
                // The refused text left the new page as it was: empty.
                unread = text;
                errors.append(QStringLiteral("page %1 (line %2): %3; the page is left empty")
                                  .arg(number)
                                  .arg(line)
                                  .arg(e.message()));
            }
        }
        if (readAttribute(child, kOwnerIndex, text)) {
            // A decimal integer with optional sign and surrounding blanks, within 32 bits, read
            // as the project's other integer attributes are.
            bool ok = false;
            const int value = text.trimmed().toInt(&ok, 10);
            if (!ok)
                throw Error(QStringLiteral("page %1 (line %2): attribute \"OwnerIndex\" is not a "
                                           "decimal integer: \"%3\"")
                                .arg(number)
                                .arg(line)
                                .arg(text));
            page->OwnerIndex = value;
        }
        pages.push_back({std::move(page), std::move(unread)});
    });
    return read;
}

} // namespace

QByteArray spliceWorkbookElement(const QByteArray &document,
                                 const WorkbookElementWriter &write,
                                 const QString &where)
{
    return spliceProjectElement(
        document, kExcelElement, write, {kShowPages, kSaveText, kOwnerIndex}, where);
}

QByteArray spliceProjectElement(const QByteArray &document,
                                const QString &elementName,
                                const WorkbookElementWriter &write,
                                const QStringList &attributeOrder,
                                const QString &where)
{
    return spliceProjectElementText(
        document,
        elementName,
        [&] {
            // The new element, written as the program writes documents.
            QDomDocument scratch;
            QDomElement fresh = scratch.createElement(elementName);
            scratch.appendChild(fresh);
            write(fresh);
            return writeXmlElement(fresh, 0, attributeOrder);
        },
        where);
}

QByteArray spliceProjectElementText(const QByteArray &document,
                                    const QString &elementName,
                                    const std::function<QString()> &render,
                                    const QString &where)
{
    // The whole document must be sound before anything is written. It is decoded once: the
    // splice below works on the same text.
    const QString text = decodeXmlDocument(document, where);
    // A lean element tree: a DOM of a large project would take many times its size.
    std::unique_ptr<XmlElement> root = parseXmlTreeText(text, where);
    if (!isProjectElement(*root))
        throw Error(QStringLiteral("%1: not a project file: its document element <%2> holds "
                                   "none of \"TRTL\", \"TVariables\", \"TProcess\" and "
                                   "\"TqzExcel\"; it is left as it was")
                        .arg(where, root->name));
    const QString rootName = root->name;
    root.reset();

    // Find the old element (the first child of that name of the document element) or the end tag
    // of the document element in the text, and splice the new element in there. Every byte
    // outside that range stays exactly as it was read: other elements, attribute order,
    // comments, white space and line ends.
    QXmlStreamReader reader(text);
    // Names as the document gives them, as the DOM above compares them ("x:TqzExcel" is not
    // the workbook element).
    reader.setNamespaceProcessing(false);
    qsizetype from = -1;
    qsizetype to = -1;
    bool replacing = false;
    // Set when the document element is written as an empty-element tag ("<FLW/>"): the new
    // element then goes between a start tag and an end tag made from it.
    QString emptyRootName;
    qsizetype rootStartEnd = -1;
    int depth = 0;
    while (!reader.atEnd() && to < 0) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        const qsizetype offset = static_cast<qsizetype>(reader.characterOffset());
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1)
                rootStartEnd = offset;
            if (depth == 2 && from < 0 && reader.qualifiedName() == elementName) {
                // A start tag holds no other '<' (attribute values cannot).
                from = text.lastIndexOf(QLatin1Char('<'), offset - 1);
                replacing = true;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (replacing && depth == 2) {
                to = offset;
            } else if (depth == 1 && from < 0) {
                if (offset == rootStartEnd && text.mid(offset - 2, 2) == QLatin1String("/>")) {
                    from = offset - 2;
                    to = offset;
                    emptyRootName = reader.qualifiedName().toString();
                } else {
                    from = to = text.lastIndexOf(QLatin1Char('<'), offset - 1);
                }
            }
            --depth;
        }
    }
    // The places must be markup of the document's own text: an element that an entity
    // reference brought in has none, and splicing there would break the document.
    const QStringView all(text);
    auto tagAt = [&](qsizetype at, const QString &open) {
        if (at < 0 || !all.sliced(at).startsWith(open))
            return false;
        const qsizetype after = at + open.size();
        return after < all.size()
               && (all[after].isSpace() || all[after] == u'/' || all[after] == u'>');
    };
    const QRegularExpression endTag(QStringLiteral("</") + QRegularExpression::escape(elementName)
                                    + QStringLiteral("\\s*>$"));
    bool sound = from >= 0 && to >= from;
    if (sound && replacing) {
        const QString element = text.mid(from, to - from);
        sound = tagAt(from, QStringLiteral("<") + elementName)
                && (element.endsWith(QLatin1String("/>")) || endTag.match(element).hasMatch());
    } else if (sound && emptyRootName.isEmpty()) {
        sound = tagAt(from, QStringLiteral("</") + rootName);
    }
    if (!sound)
        throw Error(where
                    + QStringLiteral(": cannot find where the %1 goes in the document's text (is "
                                     "it brought in by an entity reference?); the document is "
                                     "left as it was")
                          .arg(elementName == kExcelElement
                                   ? QStringLiteral("workbook element")
                                   : QStringLiteral("\"%1\" element").arg(elementName)));

    const QString lineEnd
        = text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString element = render();
    if (element.endsWith(QLatin1Char('\n')))
        element.chop(1);
    if (replacing) {
        // Inner lines follow the indentation of the line the old element started on.
        const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), from - 1) + 1;
        QString indent = text.mid(lineStart, from - lineStart);
        if (!indent.trimmed().isEmpty())
            indent.clear();
        element.replace(QLatin1Char('\n'), lineEnd + indent);
    } else {
        // Appended on a line of its own before the end tag of the document element.
        const QString indent = QStringLiteral("  ");
        element.replace(QLatin1Char('\n'), lineEnd + indent);
        element = indent + element + lineEnd;
        if (!emptyRootName.isEmpty())
            element = QStringLiteral(">") + lineEnd + element + QStringLiteral("</") + emptyRootName
                      + QStringLiteral(">");
        else if (from > 0 && text.at(from - 1) != QLatin1Char('\n'))
            element.prepend(lineEnd);
    }

    // Byte offsets: the text was decoded losslessly, so a prefix re-encoded in the decoding
    // codec has exactly the prefix's byte length. What the text lacks of the document is the
    // byte order marks decoding took off its front (a document may carry more than one).
    const QString encoding = declaredXmlEncoding(document);
    const QByteArray codec = xmlDecodingCodec(encoding);
    auto byteLength = [&codec](QStringView part) {
        QStringEncoder enc(codec.constData(), QStringEncoder::Flag::Stateless);
        return QByteArray(enc.encode(part)).size();
    };
    const qsizetype bom = document.size() - byteLength(text);
    if (bom < 0)
        throw Error(where
                    + QStringLiteral(": the document's text does not encode back to its "
                                     "bytes; the document is left as it was"));
    const qsizetype byteFrom = bom + byteLength(QStringView(text).first(from));
    const qsizetype byteTo = byteFrom + byteLength(QStringView(text).mid(from, to - from));
    return document.first(byteFrom) + encodeXml(element, encoding) + document.sliced(byteTo);
}

void writeWorkbookElement(QDomElement &element,
                          const QStringList &names,
                          const QList<const TqzReportPage *> &pages,
                          const QList<std::optional<QString>> &unreadTexts)
{
    QStringList texts;
    texts.reserve(pages.size());
    for (qsizetype k = 0; k < pages.size(); ++k) {
        const std::optional<QString> unread
            = k < unreadTexts.size() ? unreadTexts[k] : std::nullopt;
        texts.append(unread && pages[k]->CountFLines() == 0
                         ? *unread
                         : onPage(k, [page = pages[k]] { return page->SaveToText(); }));
    }
    QString tabs;
    for (const QString &name : names)
        tabs += name + QStringLiteral("\r\n");
    element.setAttribute(kShowPages, tabs);
    while (!element.firstChild().isNull())
        element.removeChild(element.firstChild());
    QDomDocument doc = element.ownerDocument();
    for (qsizetype k = 0; k < pages.size(); ++k) {
        QDomElement child = doc.createElement(kPageElement);
        child.setAttribute(kSaveText, texts[k]);
        child.setAttribute(kOwnerIndex, QString::number(pages[k]->OwnerIndex));
        element.appendChild(child);
    }
}

WorkbookRead readWorkbookElement(const QDomElement &element, const PageSetup &setup, int ownerIndex)
{
    return readElement(element, setup, ownerIndex);
}

WorkbookRead readWorkbookElement(const XmlElement &element, const PageSetup &setup, int ownerIndex)
{
    return readElement(element, setup, ownerIndex);
}

} // namespace tessarin
