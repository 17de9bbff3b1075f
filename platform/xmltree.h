#pragma once

// A lean read-only element tree for loading large project documents quickly (a DOM keeps far
// more per element than loading needs), with the same element access the model's readers use
// on QDomElement.

#include <QByteArray>
#include <QDomElement>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace tessarin {

// One element: its name, its attributes in document order, its child elements (text, comments
// and processing instructions are dropped, only whether there was text is kept) and where its
// start tag ends in the source.
struct XmlElement
{
    QString name;
    std::vector<std::pair<QString, QString>> attributes;
    std::vector<std::unique_ptr<XmlElement>> children;
    qint64 line = 0;
    qint64 column = 0;
    bool hasText = false; // character data other than white space directly inside
};

// The element as a document in `encoding` (declaration version "1.0"), attributes in their
// order in the element, characters the encoding cannot hold as character references.
QByteArray writeXmlTree(const XmlElement &root, const QString &encoding);
// One element as writeXmlTree writes it at `depth`, ending with a line break.
QString writeXmlTreeElement(const XmlElement &element, int depth);

// The document element of `bytes`, decoded as readXmlDocument does (declared encoding, GB2312
// read as its GB18030 superset). Throws Error naming `where` with line and column when the
// document is not well-formed.
std::unique_ptr<XmlElement> parseXmlTree(const QByteArray &bytes, const QString &where);
// The same for a document already decoded (decodeXmlDocument).
std::unique_ptr<XmlElement> parseXmlTreeText(const QString &text, const QString &where);

// Element access shared by the readers, so one reading routine serves both element types.
// The "null" child of a QDomElement is a null element, of an XmlElement a null pointer.

inline bool readAttribute(const QDomElement &e, const QString &name, QString &out)
{
    if (!e.hasAttribute(name))
        return false;
    out = e.attribute(name);
    return true;
}

inline bool readAttribute(const XmlElement &e, const QString &name, QString &out)
{
    for (const auto &[key, value] : e.attributes) {
        if (key == name) {
            out = value;
            return true;
        }
    }
    return false;
}

template<class F>
void forEachChildElement(const QDomElement &e, F &&f)
{
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        f(c);
}

template<class F>
void forEachChildElement(const XmlElement &e, F &&f)
{
    for (const auto &c : e.children)
        f(static_cast<const XmlElement &>(*c));
}

inline QDomElement firstChildNamed(const QDomElement &e, const QString &name)
{
    return e.firstChildElement(name);
}

inline const XmlElement *firstChildNamed(const XmlElement &e, const QString &name)
{
    for (const auto &c : e.children)
        if (c->name == name)
            return c.get();
    return nullptr;
}

inline bool isNullElement(const QDomElement &e)
{
    return e.isNull();
}
inline bool isNullElement(const XmlElement *e)
{
    return e == nullptr;
}
inline const QDomElement &elementOf(const QDomElement &e)
{
    return e;
}
inline const XmlElement &elementOf(const XmlElement *e)
{
    return *e;
}

// "line L, column C, <Tag>" for messages.
inline QString elementPlace(const QDomElement &e)
{
    if (e.lineNumber() <= 0) // built in memory rather than parsed
        return QStringLiteral("<%1>").arg(e.tagName());
    return QStringLiteral("line %1, column %2, <%3>")
        .arg(e.lineNumber())
        .arg(e.columnNumber())
        .arg(e.tagName());
}

inline QString elementPlace(const XmlElement &e)
{
    return QStringLiteral("line %1, column %2, <%3>").arg(e.line).arg(e.column).arg(e.name);
}

// The line of the element's start tag (0 or less for an element built in memory).
inline qint64 elementLine(const QDomElement &e)
{
    return e.lineNumber();
}

inline qint64 elementLine(const XmlElement &e)
{
    return e.line;
}

// Element building shared by the writers.

inline void writeAttribute(QDomElement &e, const QString &name, const QString &value)
{
    e.setAttribute(name, value);
}

// Replaces the value when the attribute exists, so the order stays that of first setting.
inline void writeAttribute(XmlElement &e, const QString &name, const QString &value)
{
    for (auto &[key, old] : e.attributes) {
        if (key == name) {
            old = value;
            return;
        }
    }
    e.attributes.emplace_back(name, value);
}

inline QDomElement appendChildElement(QDomElement &e, const QString &name)
{
    QDomElement child = e.ownerDocument().createElement(name);
    e.appendChild(child);
    return child;
}

inline XmlElement &appendChildElement(XmlElement &e, const QString &name)
{
    e.children.push_back(std::make_unique<XmlElement>());
    e.children.back()->name = name;
    e.children.back()->attributes.reserve(8); // a node element has seven
    return *e.children.back();
}

inline QDomElement childNamedOrAppended(QDomElement &e, const QString &name)
{
    QDomElement child = e.firstChildElement(name);
    return child.isNull() ? appendChildElement(e, name) : child;
}

inline XmlElement &childNamedOrAppended(XmlElement &e, const QString &name)
{
    for (const auto &c : e.children)
        if (c->name == name)
            return *c;
    return appendChildElement(e, name);
}

// Removes all child nodes, or (with a name) the child elements of that name.
inline void removeChildren(QDomElement &e, const QString &name = {})
{
    for (QDomNode c = e.firstChild(); !c.isNull();) {
        const QDomNode next = c.nextSibling();
        if (name.isEmpty() || (c.isElement() && c.toElement().tagName() == name))
            e.removeChild(c);
        c = next;
    }
}

inline void removeChildren(XmlElement &e, const QString &name = {})
{
    std::erase_if(e.children, [&](const auto &c) { return name.isEmpty() || c->name == name; });
}

} // namespace tessarin
