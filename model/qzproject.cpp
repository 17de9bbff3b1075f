#include "qzproject.h"

#include "atomicfile.h"
#include "error.h"
#include "xmlio.h"

#include <QHash>

#include <numeric>

namespace tessarin {

namespace {

// Nodes read from a list element with their places in the tree, ready to be swapped in.
struct LoadedNodes
{
    std::vector<std::unique_ptr<TqzNode>> nodes;
    std::vector<int> parentOf;
};

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

LoadedNodes readNodes(const QDomElement &list)
{
    LoadedNodes loaded;
    QHash<qint32, int> firstWithId;
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        auto node = std::make_unique<TqzNode>();
        node->LoadFromXML(e);
        loaded.nodes.push_back(std::move(node));
    }
    // QHash::insert overwrites: insert in reverse so the first node of an ID is the one kept.
    firstWithId.reserve(static_cast<qsizetype>(loaded.nodes.size()));
    for (int i = static_cast<int>(loaded.nodes.size()) - 1; i >= 0; --i)
        firstWithId.insert(loaded.nodes[static_cast<size_t>(i)]->NodeID, i);

    // Every node is visited once, in document order, while it is still at the top level; it
    // moves (with the subtree gathered under it so far) below its parent unless that parent
    // lies in its own tree. Union-find over the top items answers that in near-constant time.
    const int n = static_cast<int>(loaded.nodes.size());
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
    return loaded;
}

// Trim as the formula check needs it: blanks and control characters only.
bool blankScript(const QString &script)
{
    for (const QChar c : script)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

QDomElement firstOrAppended(QDomElement &element, const QString &name)
{
    QDomElement child = element.firstChildElement(name);
    if (child.isNull()) {
        child = element.ownerDocument().createElement(name);
        element.appendChild(child);
    }
    return child;
}

} // namespace

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
    LoadedNodes loaded = readNodes(list);
    ClearNodes();
    TreeView->resetNodes(std::move(loaded.nodes), loaded.parentOf);
}

void TqzProject::LoadFromXML(const QDomElement &element)
{
    TqzRunTimeLibrary library = *RunTimeLibrary;
    const QDomElement rtl = element.firstChildElement(QStringLiteral("TRTL"));
    if (!rtl.isNull())
        library.LoadFromXML(rtl);

    QDomElement list = element.firstChildElement(QStringLiteral("TVariables"));
    if (list.isNull())
        list = element.firstChildElement(QStringLiteral("TProcess"));
    LoadedNodes loaded;
    if (!list.isNull())
        loaded = readNodes(list);

    // Everything is read; from here on nothing throws.
    *RunTimeLibrary = library;
    if (element.hasAttribute(QStringLiteral("Name")))
        Name = element.attribute(QStringLiteral("Name"));
    if (!list.isNull()) {
        ClearNodes();
        TreeView->resetNodes(std::move(loaded.nodes), loaded.parentOf);
    }
}

void TqzProject::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("Name"), Name);
    QDomElement rtl = firstOrAppended(element, QStringLiteral("TRTL"));
    RunTimeLibrary->SaveToXML(rtl);

    QDomElement list = firstOrAppended(element, QStringLiteral("TVariables"));
    while (!list.firstChild().isNull())
        list.removeChild(list.firstChild());
    QDomDocument doc = element.ownerDocument();
    const int count = TreeView->count();
    for (int i = 0; i < count; ++i) {
        TqzNode *node = TreeView->nodeAt(i);
        if (!node)
            continue;
        const int parent = TreeView->parentIndex(i);
        node->NodeID = i;
        node->ParentID = parent < 0 ? i : parent;
        QDomElement child = doc.createElement(QStringLiteral("TVariable"));
        list.appendChild(child);
        node->SaveToXML(child);
    }
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
    const QDomDocument doc = readXmlDocument(stream, where);
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        throw Error(QStringLiteral("%1: the document has no document element").arg(where));
    try {
        project.LoadFromXML(root);
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
}

QByteArray SaveProjectToBytes(TqzProject &project, const QString &encoding)
{
    QDomDocument doc = newXmlDocument(encoding);
    QDomElement root = doc.createElement(QStringLiteral("TqzProject"));
    doc.appendChild(root);
    project.SaveToXML(root);
    return writeXmlDocument(doc);
}

void SaveProjectToFile(TqzProject &project, const QString &fileName, const QString &encoding)
{
    writeFileAtomically(fileName, SaveProjectToBytes(project, encoding));
}

void FillExamData(TqzExamData &set, const TqzProjectTree &tree)
{
    const int count = tree.count();
    if (count > 0 && tree.nodeAt(0))
        set.Name = tree.nodeAt(0)->Name;
    for (int i = 0; i < count; ++i)
        if (const TqzNode *node = tree.nodeAt(i))
            set.AddNodeData(node->Name, node->Value);
}

} // namespace tessarin
