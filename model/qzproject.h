#pragma once

// The calculation half of a project file: the node tree and the runtime-library description,
// loaded from and written to the project's XML document.

#include "projecttree.h"
#include "qzobject.h"

#include <QByteArray>
#include <QPersistentModelIndex>
#include <QString>

#include <memory>

namespace tessarin {

struct LoadedNodes;
struct ProjectParts;

// A project binds to the tree it fills (its own one when none is given). The tree's items own
// the nodes; the project clears the tree when it is destroyed.
//
// Loading is all-or-nothing: the document is read completely into new objects and only then
// swapped in, so a load that throws leaves the project exactly as it was.
class TqzProject : public TqzObject
{
public:
    // Binds to `tree` (not owned; it must outlive the project), or to a tree of its own when
    // `tree` is null.
    explicit TqzProject(TqzProjectTree *tree = nullptr);
    ~TqzProject() override;
    TqzProject(const TqzProject &) = delete;
    TqzProject &operator=(const TqzProject &) = delete;

    TqzProjectTree *const TreeView;
    QString Name;
    QString ProjectFileName;
    // The item found by the last FindNodeByName, or invalid. Becomes invalid when the tree is
    // cleared or reloaded.
    QPersistentModelIndex SelectedNode;
    const std::unique_ptr<TqzRunTimeLibrary> RunTimeLibrary;

    // Sets "Name"; writes the runtime library into the first "TRTL" child and the tree into
    // the first "TVariables" child (each appended when missing). The list is emptied and gets
    // one "TVariable" per item in pre-order; every node is renumbered in memory on the way:
    // NodeID = its absolute index, ParentID = its parent's absolute index (its own for a
    // top-level item).
    void SaveToXML(QDomElement &element) override;

    // Reads "TRTL" when present and "Name" when present; builds the tree from "TVariables", or
    // from "TProcess" when there is no "TVariables"; without either the tree stays as it was.
    // Throws Error for a node whose "NodeID"/"ParentID" is not an integer (nothing changes).
    void LoadFromXML(const QDomElement &element) override;

    // Replaces the tree by the nodes of `list` (its child elements in document order, whatever
    // their names). Each node is placed under the first node loaded with the NodeID equal to
    // its ParentID, unless that is the node itself or lies in its own subtree (then, as with an
    // unknown ParentID, it stays at the top level). Children keep document order; a parent may
    // come before or after its children. Linear in the number of nodes.
    void LoadNodes(const QDomElement &list);

    // The first item in pre-order whose node's Name equals `name` exactly and whose Script is
    // not empty once leading and trailing characters up to U+0020 are removed. The result (or
    // an invalid index) also becomes SelectedNode.
    QModelIndex FindNodeByName(const QString &name);

    // Destroys every node and removes all items; SelectedNode becomes invalid.
    void ClearNodes();

    // Swaps contents read by readProjectParts in; never throws.
    void apply(ProjectParts &&parts);

private:
    void replaceNodes(LoadedNodes &&loaded);

    std::unique_ptr<TqzProjectTree> m_ownTree;
};

// Parses `stream` as an XML document (in its declared encoding) and loads the project from its
// document element. Throws Error prefixed with `where` for a malformed document or a bad node;
// the project then keeps its previous contents.
void LoadProjectFromStream(TqzProject &project,
                           const QByteArray &stream,
                           const QString &where = QStringLiteral("project stream"));
// The same for a whole file ("-" for standard input); messages name the file.
void LoadProjectFromFile(TqzProject &project, const QString &fileName);

// A new project document (element "TqzProject" with "TRTL" and "TVariables", renumbering the
// nodes) in the given encoding; characters it cannot hold become character references.
QByteArray SaveProjectToBytes(TqzProject &project,
                              const QString &encoding = QStringLiteral("GB2312"));
void SaveProjectToFile(TqzProject &project,
                       const QString &fileName,
                       const QString &encoding = QStringLiteral("GB2312"));

// Fills `set` from the tree as a test-data snapshot: Name = the first item's node name (kept
// when the tree is empty), one entry per distinct node name in pre-order with the value of the
// first item of that name.
void FillExamData(TqzExamData &set, const TqzProjectTree &tree);

} // namespace tessarin
