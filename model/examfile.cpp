#include "examfile.h"

#include "atomicfile.h"
#include "error.h"
#include "xmldocument.h"

#include <QXmlStreamReader>

#include <memory>

namespace tessarin {

namespace {

void loadFromText(TqzExamData &set, const QString &text, const QString &where)
{
    // Read straight from the parser into a scratch set, without a document tree in between (a
    // set of a million entries would cost many times its size); the caller's set changes only
    // once all of it is read.
    TqzExamData read;
    read.Name = set.Name;
    read.Author = set.Author;
    read.CreateTime = set.CreateTime;
    read.Remark = set.Remark;
    {
        checkXmlText(text, where);
        QXmlStreamReader reader(text);
        reader.setNamespaceProcessing(false);
        const auto place = [&] {
            return QStringLiteral("%1 (line %2, column %3)")
                .arg(where)
                .arg(reader.lineNumber())
                .arg(reader.columnNumber());
        };
        const auto attribute
            = [&](const QXmlStreamAttributes &attrs, QLatin1StringView name, QString &out) {
                  if (!attrs.hasAttribute(name))
                      return false;
                  out = attrs.value(name).toString();
                  return true;
              };
        int depth = 0;
        bool hasRoot = false;
        while (!reader.atEnd()) {
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (token == QXmlStreamReader::EndElement) {
                --depth;
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            ++depth;
            const QXmlStreamAttributes attrs = reader.attributes();
            if (depth == 1) {
                hasRoot = true;
                if (reader.qualifiedName() != QLatin1String("root"))
                    throw Error(place()
                                + QStringLiteral(": not a test-data file: the document element "
                                                 "is \"%1\", not \"root\"")
                                      .arg(reader.qualifiedName()));
                attribute(attrs, QLatin1StringView("Name"), read.Name);
                attribute(attrs, QLatin1StringView("Author"), read.Author);
                attribute(attrs, QLatin1StringView("CreateTime"), read.CreateTime);
                attribute(attrs, QLatin1StringView("Remark"), read.Remark);
            } else if (depth == 2) {
                auto entry = std::make_unique<TqzNodeData>();
                if (!attribute(attrs, QLatin1StringView("Name"), entry->Name))
                    throw Error(place()
                                + QStringLiteral(": the entry \"%1\" has no \"Name\" attribute")
                                      .arg(reader.qualifiedName()));
                attribute(attrs, QLatin1StringView("Value"), entry->Value);
                read.Add(std::move(entry));
            }
        }
        if (reader.hasError())
            throw Error(
                QStringLiteral("%1: not a well-formed XML document (line %2, column %3): %4")
                    .arg(where)
                    .arg(reader.lineNumber())
                    .arg(reader.columnNumber())
                    .arg(reader.errorString()));
        if (!hasRoot)
            throw Error(where + QStringLiteral(": not a test-data file: the document is empty"));
    }
    set.Name = read.Name;
    set.Author = read.Author;
    set.CreateTime = read.CreateTime;
    set.Remark = read.Remark;
    set.NodeDatas = std::move(read.NodeDatas);
}

} // namespace

void LoadExamDataFromBytes(TqzExamData &set, const QByteArray &bytes, const QString &where)
{
    loadFromText(set, decodeXmlDocument(bytes, where), where);
}

void LoadExamDataFromFile(TqzExamData &set, const QString &fileName)
{
    const QString where
        = fileName == QLatin1String("-") ? QStringLiteral("standard input") : fileName;
    // The file's bytes are let go once decoded, before the entries are made.
    QString text;
    {
        const QByteArray bytes = readWholeFile(fileName);
        text = decodeXmlDocument(bytes, where);
    }
    loadFromText(set, text, where);
}

} // namespace tessarin
