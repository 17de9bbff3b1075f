#include "examfile.h"

#include "atomicfile.h"
#include "error.h"
#include "xmldocument.h"

#include <QDomDocument>

namespace tessarin {

void LoadExamDataFromBytes(TqzExamData &set, const QByteArray &bytes, const QString &where)
{
    const QDomDocument doc = readXmlDocument(bytes, where);
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        throw Error(where + QStringLiteral(": not a test-data file: the document is empty"));
    const auto place = [&](const QDomElement &e) {
        return QStringLiteral("%1 (line %2, column %3)")
            .arg(where)
            .arg(e.lineNumber())
            .arg(e.columnNumber());
    };
    if (root.tagName() != QLatin1String("root"))
        throw Error(place(root)
                    + QStringLiteral(": not a test-data file: the document element is \"%1\", "
                                     "not \"root\"")
                          .arg(root.tagName()));
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if (!e.hasAttribute(QStringLiteral("Name")))
            throw Error(
                place(e)
                + QStringLiteral(": the entry \"%1\" has no \"Name\" attribute").arg(e.tagName()));
    // Read into a scratch set first: the caller's set changes only once all of it is read.
    TqzExamData read;
    read.Name = set.Name;
    read.Author = set.Author;
    read.CreateTime = set.CreateTime;
    read.Remark = set.Remark;
    read.LoadFromXML(root);
    set.Name = read.Name;
    set.Author = read.Author;
    set.CreateTime = read.CreateTime;
    set.Remark = read.Remark;
    set.NodeDatas = std::move(read.NodeDatas);
}

void LoadExamDataFromFile(TqzExamData &set, const QString &fileName)
{
    LoadExamDataFromBytes(set,
                          readWholeFile(fileName),
                          fileName == QLatin1String("-") ? QStringLiteral("standard input")
                                                         : fileName);
}

} // namespace tessarin
