#include "xmlio.h"

namespace tessarin {

const QStringList &modelAttributeOrder()
{
    static const QStringList order = {
        QStringLiteral("Name"),     QStringLiteral("NodeID"),     QStringLiteral("ParentID"),
        QStringLiteral("Caption"),  QStringLiteral("Script"),     QStringLiteral("Value"),
        QStringLiteral("Unit"),     QStringLiteral("Author"),     QStringLiteral("CreateTime"),
        QStringLiteral("Remark"),   QStringLiteral("LibraryPath"), QStringLiteral("FileName"),
        QStringLiteral("StdLib"),
    };
    return order;
}

QByteArray writeXmlDocument(const QDomDocument &doc)
{
    return writeXmlDocument(doc, modelAttributeOrder());
}

} // namespace tessarin
