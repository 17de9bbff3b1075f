#pragma once

// Reading and writing the model's XML documents: GB2312 declarations read as the GBK/GB18030
// superset that such files really hold, and a writer that keeps attributes in a fixed order.

#include <QByteArray>
#include <QDomDocument>
#include <QString>

namespace tessarin {

// The document's text in its declared encoding; "GB2312" is decoded as GB18030 (see below).
// Throws Error naming `where` for an unknown encoding or, for GB2312, the first byte that does
// not decode (offset, line and column).
QString decodeXmlDocument(const QByteArray &bytes, const QString &where);

// Parses a document in its declared encoding. A document declaring "GB2312" (any letter case)
// is decoded as GB18030, which agrees with GB2312 on every character GB2312 holds and also
// covers the GBK characters that files labelled GB2312 carry in practice. Throws Error naming
// `where` with line and column for a malformed document or a byte sequence the encoding cannot
// decode.
QDomDocument readXmlDocument(const QByteArray &bytes, const QString &where);

// A new document whose declaration is version "1.0" with the given encoding.
QDomDocument newXmlDocument(const QString &encoding);

// The document as bytes in the encoding its declaration names (UTF-8 without one). Attributes
// come in a fixed order: the model's known attribute names first, in the order the stored
// formats list them ("Name", "NodeID", "ParentID", "Caption", "Script", "Value", "Unit",
// "Author", "CreateTime", "Remark", "LibraryPath", "FileName", "StdLib"), then any others by
// name, so the output is the same on every run. Characters the encoding cannot hold are written
// as character references; characters XML 1.0 cannot carry at all (C0 controls other than tab,
// line feed and carriage return) are left out.
QByteArray writeXmlDocument(const QDomDocument &doc);

// Appends `text` escaped for an attribute value (quotes, tab and line breaks as references) or
// for element text; characters XML 1.0 cannot carry are left out.
void appendXmlEscaped(QString &out, const QString &text, bool attribute);

} // namespace tessarin
