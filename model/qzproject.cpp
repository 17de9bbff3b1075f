#include "qzproject.h"

#include "atomicfile.h"
#include "error.h"
#include "modelread.h"
#include "modelwrite.h"
#include "xmltree.h"

#include <QHash>
#include <QSet>

#include <numeric>

namespace tessarin {

namespace {

// Representative (top item) of i's tree, halving paths on the way.
int findTop(std::vector<int> &up, int i)
{
    while (up[static_cast<size_t>(i)] != i) {
        int &u = up[static_cast<size_t>(i)];
        u = up[static_cast<size_t>(u)];
        i = u;
    }
    return i;
}

// Trim as the formula check needs it: blanks and control characters only.
bool blankScript(const QString &script)
{
    for (const QChar c : script)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

} // namespace

void resolveParents(LoadedNodes &loaded)
{
    const int n = static_cast<int>(loaded.nodes.size());
    // The first node loaded with an ID is the one its children go under: insert in reverse so
    // that earlier nodes overwrite later ones.
    QHash<qint32, int> firstWithId;
    firstWithId.reserve(n);
    for (int i = n - 1; i >= 0; --i)
        firstWithId.insert(loaded.nodes[static_cast<size_t>(i)]->NodeID, i);

    // Every node is visited once, in document order, while it is still at the top level; it
    // moves (with the subtree gathered under it so far) below its parent unless that parent
    // lies in its own tree. Union-find over the top items answers that in near-constant time,
    // so no chain or cycle of IDs can make this slow or endless.
    loaded.parentOf.assign(static_cast<size_t>(n), -1);
    std::vector<int> up(static_cast<size_t>(n));
    std::iota(up.begin(), up.end(), 0);
    for (int i = 0; i < n; ++i) {
        const auto it = firstWithId.constFind(loaded.nodes[static_cast<size_t>(i)]->ParentID);
        if (it == firstWithId.constEnd())
            continue;
        const int target = it.value();
        const int top = findTop(up, target);
        if (top == i)
            continue; // the target is the node itself or inside its subtree
        loaded.parentOf[static_cast<size_t>(i)] = target;
        up[static_cast<size_t>(i)] = top;
    }
}

TqzProject::TqzProject(TqzProjectTree *tree)
    : TreeView(tree ? tree : new TqzProjectTree)
    , RunTimeLibrary(std::make_unique<TqzRunTimeLibrary>())
    , m_ownTree(tree ? nullptr : TreeView)
{}

TqzProject::~TqzProject()
{
    ClearNodes();
}

void TqzProject::ClearNodes()
{
    SelectedNode = QPersistentModelIndex();
    TreeView->clear();
}

void TqzProject::LoadNodes(const QDomElement &list)
{
    replaceNodes(readNodeList(list));
}

void TqzProject::replaceNodes(LoadedNodes &&loaded)
{
    // resetNodes destroys the old items inside its one model reset.
    SelectedNode = QPersistentModelIndex();
    TreeView->resetNodes(std::move(loaded.nodes), loaded.parentOf);
}

void TqzProject::LoadFromXML(const QDomElement &element)
{
    apply(readProjectParts(element, *RunTimeLibrary));
}

void TqzProject::apply(ProjectParts &&parts)
{
    *RunTimeLibrary = parts.library;
    if (parts.hasName)
        Name = parts.name;
    if (parts.hasList)
        replaceNodes(std::move(parts.list));
}

void TqzProject::SaveToXML(QDomElement &element)
{
    writeProject(Name, *RunTimeLibrary, *TreeView, element);
}

QModelIndex TqzProject::FindNodeByName(const QString &name)
{
    SelectedNode = QPersistentModelIndex();
    const int count = TreeView->count();
    for (int i = 0; i < count; ++i) {
        const TqzNode *node = TreeView->nodeAt(i);
        if (node && node->Name == name && !blankScript(node->Script)) {
            SelectedNode = TreeView->itemAt(i);
            break;
        }
    }
    return SelectedNode;
}

void LoadProjectFromStream(TqzProject &project, const QByteArray &stream, const QString &where)
{
    // A lean element tree instead of a DOM: loading a large project is dominated by parsing.
    const std::unique_ptr<XmlElement> root = parseXmlTree(stream, where);
    ProjectParts parts;
    try {
        parts = readProjectParts(*root, *project.RunTimeLibrary);
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
    project.apply(std::move(parts));
}

void LoadProjectFromFile(TqzProject &project, const QString &fileName)
{
    LoadProjectFromStream(project,
                          readWholeFile(fileName),
                          fileName == QLatin1String("-") ? QStringLiteral("standard input")
                                                         : fileName);
}

QByteArray SaveProjectToBytes(TqzProject &project, const QString &encoding)
{
    // A lean element tree instead of a DOM, written in the same shape SaveToXML gives.
    XmlElement root;
    root.name = QStringLiteral("TqzProject");
    writeProject(project.Name, *project.RunTimeLibrary, *project.TreeView, root);
    return writeXmlTree(root, encoding);
}

void SaveProjectToFile(TqzProject &project, const QString &fileName, const QString &encoding)
{
    writeFileAtomically(fileName, SaveProjectToBytes(project, encoding));
}

void FillExamData(TqzExamData &set, const TqzProjectTree &tree)
{
    const int count = tree.count();
    if (count > 0)
        set.Name = tree.nodeAt(0)->Name;
    // AddNodeData's rule (first value per exact name wins) with a set of the names seen, so a
    // large tree costs linear time rather than a scan of all entries per node.
    QSet<QString> seen;
    for (const auto &entry : set.NodeDatas)
        seen.insert(entry->Name);
    for (int i = 0; i < count; ++i) {
        const TqzNode *node = tree.nodeAt(i);
        if (!seen.contains(node->Name)) {
            seen.insert(node->Name);
            set.Add(std::make_unique<TqzNodeData>(node->Name, node->Value));
        }
    }
}

} // namespace tessarin
