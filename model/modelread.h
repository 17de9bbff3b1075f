#pragma once

// The reading rules of the model's elements, written once for both element types (QDomElement
// for callers that hold a DOM, XmlElement for fast whole-file loading).

#include "error.h"
#include "qzobject.h"
#include "xmltree.h"

#include <memory>
#include <vector>

namespace tessarin {

// The integer of a decimal attribute (optional sign, surrounding blanks allowed, 32-bit), or
// `current` when the attribute is missing. Throws Error naming the attribute, its text and the
// element's place when it is not one.
template<class E>
qint32 readIntAttribute(const E &e, const QString &name, qint32 current)
{
    QString text;
    if (!readAttribute(e, name, text))
        return current;
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw Error(QStringLiteral("%1: attribute \"%2\" is not a decimal integer: \"%3\"")
                        .arg(elementPlace(e), name, text));
    return value;
}

// See TqzNode::LoadFromXML.
template<class E>
void readNode(TqzNode &node, const E &e)
{
    const qint32 nodeId = readIntAttribute(e, QStringLiteral("NodeID"), node.NodeID);
    const qint32 parentId = readIntAttribute(e, QStringLiteral("ParentID"), node.ParentID);
    node.NodeID = nodeId;
    node.ParentID = parentId;
    readAttribute(e, QStringLiteral("Name"), node.Name);
    readAttribute(e, QStringLiteral("Caption"), node.Caption);
    readAttribute(e, QStringLiteral("Script"), node.Script);
    readAttribute(e, QStringLiteral("Value"), node.Value);
    readAttribute(e, QStringLiteral("Unit"), node.Unit);
    readAttribute(e, QStringLiteral("Remark"), node.Remark);

    // The four-children form: each child's "Value" overrides one text, in this order.
    QString *const fields[] = {&node.Caption, &node.Value, &node.Unit, &node.Script};
    size_t k = 0;
    forEachChildElement(e, [&](const auto &child) {
        if (k < 4) {
            QString text;
            readAttribute(child, QStringLiteral("Value"), text);
            *fields[k++] = text;
        }
    });
}

// See TqzRunTimeLibrary::LoadFromXML.
template<class E>
void readRunTimeLibrary(TqzRunTimeLibrary &library, const E &e)
{
    readAttribute(e, QStringLiteral("LibraryPath"), library.LibraryPath);
    readAttribute(e, QStringLiteral("FileName"), library.FileName);
    QString stdLib;
    if (readAttribute(e, QStringLiteral("StdLib"), stdLib))
        library.StdLib = stdLib == QLatin1String("1");
    library.Headers.clear();
    forEachChildElement(e, [&](const auto &child) {
        QString name;
        readAttribute(child, QStringLiteral("Name"), name);
        library.Headers.append(name);
    });
}

// Nodes read from a list element with their places in the tree, ready to be swapped in:
// parentOf[i] is the position of the parent of nodes[i], or -1 at the top level.
struct LoadedNodes
{
    std::vector<std::unique_ptr<TqzNode>> nodes;
    std::vector<int> parentOf;
};

// Fills parentOf from the nodes' IDs (see TqzProject::LoadNodes).
void resolveParents(LoadedNodes &loaded);

template<class E>
LoadedNodes readNodeList(const E &list)
{
    LoadedNodes loaded;
    forEachChildElement(list, [&](const auto &child) {
        auto node = std::make_unique<TqzNode>();
        readNode(*node, child);
        loaded.nodes.push_back(std::move(node));
    });
    resolveParents(loaded);
    return loaded;
}

// Everything a project element holds, read but not yet applied.
struct ProjectParts
{
    TqzRunTimeLibrary library;
    bool hasName = false;
    QString name;
    bool hasList = false;
    LoadedNodes list;
};

// See TqzProject::LoadFromXML. `current` is the library the project has now: the document's
// "TRTL" is read over a copy of it.
template<class E>
ProjectParts readProjectParts(const E &element, const TqzRunTimeLibrary &current)
{
    ProjectParts parts;
    parts.library = current;
    const auto rtl = firstChildNamed(element, QStringLiteral("TRTL"));
    if (!isNullElement(rtl))
        readRunTimeLibrary(parts.library, elementOf(rtl));
    parts.hasName = readAttribute(element, QStringLiteral("Name"), parts.name);
    auto list = firstChildNamed(element, QStringLiteral("TVariables"));
    if (isNullElement(list))
        list = firstChildNamed(element, QStringLiteral("TProcess"));
    if (!isNullElement(list)) {
        parts.hasList = true;
        parts.list = readNodeList(elementOf(list));
    }
    return parts;
}

} // namespace tessarin
