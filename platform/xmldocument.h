#pragma once

// XML documents as the program reads and writes them: decoded in their declared encoding
// (GB2312/GBK labels read as their GB18030 superset), written in the encoding they declare with
// character references for what it cannot hold, attributes in a fixed order.

#include <QByteArray>
#include <QDomDocument>
#include <QString>
#include <QStringList>

namespace tessarin {

// The codec that decodes a document declaring `declared`: GB18030 for the GB2312/GBK labels,
// otherwise the declared name itself.
QByteArray xmlDecodingCodec(const QString &declared);

// The document's text in its declared encoding. "GB2312", "GBK" and their aliases are decoded
// as GB18030, which agrees with them on every character they hold and also covers the GBK
// characters that files labelled GB2312 carry in practice. Throws Error naming `where` for an
// unknown encoding or for the first byte that does not decode (offset, line and column).
QString decodeXmlDocument(const QByteArray &bytes, const QString &where);

// The most attributes an element of a document read by the program may carry. The stored
// formats use at most a handful; Qt's parser checks every attribute against all earlier ones
// of its element, so an element with very many of them would take time growing with the
// square of their number. The bound keeps every read linear in the size of the document.
inline constexpr int MaxXmlAttributes = 256;

// The deepest nesting of elements a document read by the program may have (the project writer
// refuses the same). Qt's parsers take time growing with the square of the depth, and the
// readers walk the elements recursively; the stored formats nest a few levels.
inline constexpr int MaxXmlDepth = 1000;

// Checks a decoded document before it is parsed, in one linear pass, and throws Error naming
// `where` for the first character XML 1.0 cannot carry (a control character other than tab,
// line feed and carriage return, U+FFFE, U+FFFF or an unpaired surrogate), with its code point,
// line and column, and for an element (or a replacement text in the document type) with more
// than MaxXmlAttributes attributes or nested deeper than MaxXmlDepth (with the element's line
// and column). The readers below call it; other well-formedness rules are
// left to the parser.
void checkXmlText(QStringView text, const QString &where);

// Parses a document in its declared encoding. Throws Error naming `where` with line and column
// for a malformed document or a byte sequence the encoding cannot decode.
QDomDocument readXmlDocument(const QByteArray &bytes, const QString &where);
// The same for a document already decoded (decodeXmlDocument).
QDomDocument readXmlText(const QString &text, const QString &where);

// A new document whose declaration is version "1.0" with the given encoding.
QDomDocument newXmlDocument(const QString &encoding);

// The document as bytes in the encoding its declaration names (UTF-8 without one). Attributes
// named in `attributeOrder` come first in that order, then any others by name, so the output is
// the same on every run (the DOM itself keeps no attribute order). Characters the encoding
// cannot hold are written as character references; characters XML 1.0 cannot carry at all (C0
// controls other than tab, line feed and carriage return) are left out.
QByteArray writeXmlDocument(const QDomDocument &doc, const QStringList &attributeOrder);

// One element with its content as writeXmlDocument writes it, indented by `depth` blanks and
// ending in a line feed; still Unicode, to be encoded by the caller (encodeXml).
QString writeXmlElement(const QDomElement &element, int depth, const QStringList &attributeOrder);

// Appends `text` escaped for an attribute value (quotes, tab and line breaks as references) or
// for element text; characters XML 1.0 cannot carry are left out.
void appendXmlEscaped(QString &out, const QString &text, bool attribute);

} // namespace tessarin
