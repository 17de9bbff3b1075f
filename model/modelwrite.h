#pragma once

// The writing rules of the model's elements, written once for both element types (QDomElement
// for callers that hold a DOM, XmlElement for writing whole documents quickly).

#include "projecttree.h"
#include "qzobject.h"
#include "xmltree.h"

namespace tessarin {

template<class E>
void writeProperty(const TqzProperty &property, E &e)
{
    writeAttribute(e, QStringLiteral("Name"), property.Name);
    writeAttribute(e, QStringLiteral("Caption"), property.Caption);
    writeAttribute(e, QStringLiteral("Value"), property.Value);
}

// See TqzNode::SaveToXML.
template<class E>
void writeNode(const TqzNode &node, E &e)
{
    writeAttribute(e, QStringLiteral("Name"), node.Name);
    writeAttribute(e, QStringLiteral("NodeID"), QString::number(node.NodeID));
    writeAttribute(e, QStringLiteral("ParentID"), QString::number(node.ParentID));
    writeAttribute(e, QStringLiteral("Caption"), node.Caption);
    writeAttribute(e, QStringLiteral("Script"), node.Script);
    writeAttribute(e, QStringLiteral("Value"), node.Value);
    writeAttribute(e, QStringLiteral("Unit"), node.Unit);
    if (!node.Remark.isEmpty())
        writeAttribute(e, QStringLiteral("Remark"), node.Remark);
    for (const auto &property : node.Properties) {
        auto &&child = appendChildElement(e, QStringLiteral("TProperty"));
        writeProperty(*property, child);
    }
}

// See TqzRunTimeLibrary::SaveToXML.
template<class E>
void writeRunTimeLibrary(const TqzRunTimeLibrary &library, E &e)
{
    writeAttribute(e, QStringLiteral("LibraryPath"), library.LibraryPath);
    writeAttribute(e, QStringLiteral("FileName"), library.FileName);
    writeAttribute(
        e, QStringLiteral("StdLib"), library.StdLib ? QStringLiteral("1") : QStringLiteral("0"));
    // Saving twice into one element must not double the headers on the next load.
    removeChildren(e, QStringLiteral("THeader"));
    for (const QString &header : library.Headers) {
        auto &&child = appendChildElement(e, QStringLiteral("THeader"));
        writeAttribute(child, QStringLiteral("Name"), header);
    }
}

// The node list: one "TVariable" per item in pre-order appended to `list`, every node
// renumbered on the way (see TqzProject::SaveToXML).
template<class E>
void writeNodeList(TqzProjectTree &tree, E &list)
{
    const int count = tree.count();
    for (int i = 0; i < count; ++i) {
        TqzNode *node = tree.nodeAt(i);
        const int parent = tree.parentIndex(i);
        node->NodeID = i;
        node->ParentID = parent < 0 ? i : parent;
        auto &&child = appendChildElement(list, QStringLiteral("TVariable"));
        writeNode(*node, child);
    }
}

// See TqzProject::SaveToXML; renumbers the nodes of `tree`.
template<class E>
void writeProject(const QString &name, const TqzRunTimeLibrary &library, TqzProjectTree &tree, E &e)
{
    writeAttribute(e, QStringLiteral("Name"), name);
    auto &&rtl = childNamedOrAppended(e, QStringLiteral("TRTL"));
    writeRunTimeLibrary(library, rtl);
    auto &&list = childNamedOrAppended(e, QStringLiteral("TVariables"));
    removeChildren(list);
    writeNodeList(tree, list);
}

} // namespace tessarin
