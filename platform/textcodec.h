#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tessarin {

// The 8-bit code page of stored bytes (page streams, Base64 texts, .exm files): GB18030, which
// agrees with GB2312/GBK on every character those hold and loses nothing for the rest.
QByteArray toCodePage(const QString &text);
QString fromCodePage(QByteArrayView bytes);

// The encoding named by an XML document's declaration, or by its byte-order mark; "UTF-8" when
// neither says.
QString declaredXmlEncoding(QByteArrayView bytes);

// The text in the given encoding; a character the encoding cannot hold is written as a decimal
// character reference ("&#22531;"), so nothing is lost or replaced. Only call this on markup
// where a reference is legal for every such character (attribute values and text).
QByteArray encodeXml(const QString &text, const QString &encoding);

} // namespace tessarin
