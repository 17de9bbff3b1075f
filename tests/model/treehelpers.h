#pragma once

// Helpers shared by the model tests: compact tree shapes and projects from XML text.

#include "qzproject.h"

#include <QString>

// The tree as text: names in pre-order, children in parentheses, siblings separated by commas,
// e.g. "a(b,c(d)),e".
inline QString treeShape(const tessarin::TqzProjectTree &tree)
{
    QString out;
    const int count = tree.count();
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            // Close the subtrees that ended at i - 1 and are not ancestors of i.
            int open = i - 1;
            const int parent = tree.parentIndex(i);
            if (parent == i - 1) {
                out += QLatin1Char('(');
            } else {
                while (open != parent) {
                    if (tree.parentIndex(open) != parent)
                        out += QLatin1Char(')');
                    open = tree.parentIndex(open);
                }
                out += QLatin1Char(',');
            }
        }
        out += tree.nodeAt(i)->Name;
    }
    for (int open = count - 1; open >= 0 && tree.parentIndex(open) >= 0;
         open = tree.parentIndex(open))
        out += QLatin1Char(')');
    return out;
}

// A project document around the given node list body.
inline QByteArray projectXml(const QString &listBody, const QString &listName = "TVariables")
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLW>\n <%1>\n%2 </%1>\n"
                          "</FLW>\n")
        .arg(listName, listBody)
        .toUtf8();
}

inline QString nodeXml(const QString &name, int id, int parent)
{
    return QStringLiteral("  <TVariable Name=\"%1\" NodeID=\"%2\" ParentID=\"%3\"/>\n")
        .arg(name)
        .arg(id)
        .arg(parent);
}
