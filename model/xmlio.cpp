#include "xmlio.h"

namespace tessarin {

QByteArray writeXmlDocument(const QDomDocument &doc)
{
    static const QStringList order = {
        QStringLiteral("Name"),     QStringLiteral("NodeID"),     QStringLiteral("ParentID"),
        QStringLiteral("Caption"),  QStringLiteral("Script"),     QStringLiteral("Value"),
        QStringLiteral("Unit"),     QStringLiteral("Author"),     QStringLiteral("CreateTime"),
        QStringLiteral("Remark"),   QStringLiteral("LibraryPath"), QStringLiteral("FileName"),
        QStringLiteral("StdLib"),
    };
    return writeXmlDocument(doc, order);
}

} // namespace tessarin
