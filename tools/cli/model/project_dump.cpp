// tessarin-cli project-dump FILE: the project part of a project file as JSON.

#include "command.h"

#include "atomicfile.h"
#include "qzproject.h"

#include <QJsonArray>
#include <QJsonObject>

namespace tessarin::cli {
namespace {

QJsonObject nodeJson(const TqzProjectTree &tree, int index)
{
    const TqzNode *node = tree.nodeAt(index);
    QJsonObject o;
    o[QStringLiteral("name")] = node->Name;
    o[QStringLiteral("caption")] = node->Caption;
    o[QStringLiteral("script")] = node->Script;
    o[QStringLiteral("value")] = node->Value;
    o[QStringLiteral("unit")] = node->Unit;
    o[QStringLiteral("nodeId")] = node->NodeID;
    o[QStringLiteral("parentId")] = node->ParentID;
    return o;
}

// Built bottom-up over the pre-order (children follow their parent), so a deep tree needs no
// recursion.
QJsonArray treeJson(const TqzProjectTree &tree)
{
    const int count = tree.count();
    std::vector<QJsonArray> children(static_cast<size_t>(count));
    QJsonArray top;
    for (int i = count - 1; i >= 0; --i) {
        QJsonObject o = nodeJson(tree, i);
        QJsonArray kids;
        // Children were collected last-first.
        const QJsonArray &rev = children[static_cast<size_t>(i)];
        for (qsizetype k = rev.size() - 1; k >= 0; --k)
            kids.append(rev[k]);
        children[static_cast<size_t>(i)] = QJsonArray();
        o[QStringLiteral("children")] = kids;
        const int parent = tree.parentIndex(i);
        if (parent < 0)
            top.prepend(o);
        else
            children[static_cast<size_t>(parent)].append(o);
    }
    return top;
}

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    TqzProject project;
    LoadProjectFromStream(project, readWholeFile(file), file);

    const TqzRunTimeLibrary &rtl = *project.RunTimeLibrary;
    QJsonObject lib;
    lib[QStringLiteral("libraryPath")] = rtl.LibraryPath;
    lib[QStringLiteral("fileName")] = rtl.FileName;
    lib[QStringLiteral("stdLib")] = rtl.StdLib;
    lib[QStringLiteral("headers")] = QJsonArray::fromStringList(rtl.Headers);

    QJsonObject out;
    out[QStringLiteral("name")] = project.Name;
    out[QStringLiteral("rtl")] = lib;
    out[QStringLiteral("nodes")] = treeJson(*project.TreeView);
    printJson(QJsonDocument(out));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("project-dump"),
    QStringLiteral("Load the project part of a project file and print it as JSON."),
    [](QCommandLineParser &parser) { addProjectFileArgument(parser); },
    run,
});

} // namespace
} // namespace tessarin::cli
