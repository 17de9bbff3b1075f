#pragma once

// The project tree: a headless Qt item model whose items each own one calculation node, with
// cheap addressing by absolute (pre-order) index for the run pipeline and the tree views.

#include "qzobject.h"

#include <QAbstractItemModel>

#include <memory>
#include <vector>

namespace tessarin {

// One column; the display text of an item is its node's Name, NodeRole gives the TqzNode*.
// Items own their nodes: removing an item or clearing the tree destroys them.
//
// Absolute index: an item's position in pre-order over the whole tree (a parent before its
// children, a whole subtree before the next sibling), counted from 0. The pre-order is cached
// and rebuilt once after a structural change, so every absolute-index call is O(1) apart from
// that one O(n) rebuild. The subtree of item i is the range [i, lastDescendant(i)].
class TqzProjectTree : public QAbstractItemModel
{
    Q_OBJECT

    struct Item;

public:
    enum Role { NodeRole = Qt::UserRole + 1 };

    explicit TqzProjectTree(QObject *parent = nullptr);
    ~TqzProjectTree() override;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Items can be dragged and dropped on; the tree view carries the drop out as an edit.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override;

    // The node an item carries; nullptr for an invalid index.
    TqzNode *node(const QModelIndex &index) const;

    // Appends an item carrying `node` as the last child of `parent` (top level when invalid);
    // the tree takes ownership. Returns the new item.
    QModelIndex appendNode(std::unique_ptr<TqzNode> node, const QModelIndex &parent = {});

    // Removes the item with its subtree and destroys their nodes. False for an invalid index.
    bool removeItem(const QModelIndex &index);

    // Destroys every node and removes all items.
    void clear();

    // Replaces the whole tree in one model reset. parentOf[i] is the position in `nodes` of the
    // parent of nodes[i], or -1 for a top-level item; children and top-level items keep the
    // order of `nodes`. Views see one model reset, so they show the new tree collapsed.
    // Throws Error (leaving the tree unchanged) when parentOf is out of range
    // or not a forest.
    void resetNodes(std::vector<std::unique_ptr<TqzNode>> nodes, const std::vector<int> &parentOf);

    // Tells the views that the node of `index` changed (its Name is the item's text).
    void nodeChanged(const QModelIndex &index);

    // A subtree outside any tree: items with their nodes, taken out by takeBranch or built by
    // makeBranch, and put (back) in by insertBranch. Destroying it destroys its nodes.
    class Branch
    {
    public:
        Branch();
        ~Branch();
        Branch(Branch &&) noexcept;
        Branch &operator=(Branch &&) noexcept;
        bool isNull() const { return !m_item; }
        // The nodes in pre-order, and each one's parent as a position in that order (-1 for
        // the top node).
        std::vector<const TqzNode *> nodes() const;
        std::vector<int> parents() const;

    private:
        friend class TqzProjectTree;
        std::unique_ptr<Item> m_item;
    };
    // One subtree from `nodes` in pre-order, parentOf[i] < i for every node but the first
    // (whose entry is -1). Throws Error when the list is empty or not of that shape.
    static Branch makeBranch(std::vector<std::unique_ptr<TqzNode>> nodes,
                             const std::vector<int> &parentOf);
    // Takes the item with its subtree out of the tree; a null branch for an invalid index.
    Branch takeBranch(const QModelIndex &index);
    // Inserts `branch` as child `row` of `parent` (top level when invalid; `row` is clamped to
    // the children there) and returns its top item. The branch is left null.
    QModelIndex insertBranch(Branch &branch, const QModelIndex &parent, int row);
    // Moves the item with its subtree to child `row` of `newParent` (its row once it is there,
    // clamped), keeping persistent indexes and the views' expansion. False, with nothing moved,
    // for an invalid index or a parent inside the item's own subtree.
    bool moveItem(const QModelIndex &index, const QModelIndex &newParent, int row);
    // Whether `ancestor` is `index` or one of its ancestors.
    bool isWithin(const QModelIndex &index, const QModelIndex &ancestor) const;

    // Absolute addressing. Indexes out of range give -1 / an invalid index / nullptr.
    int count() const;
    int absoluteIndex(const QModelIndex &index) const;
    QModelIndex itemAt(int absoluteIndex) const;
    TqzNode *nodeAt(int absoluteIndex) const;
    int lastDescendant(int absoluteIndex) const;
    int parentIndex(int absoluteIndex) const; // -1 for a top-level item
    int childCount(int absoluteIndex) const;

private:
    Item *itemOf(const QModelIndex &index) const;
    QModelIndex indexOf(Item *item) const;
    void invalidateOrder();
    void ensureOrder() const;
    Item *orderedItem(int absoluteIndex) const;
    static void renumberRows(Item *parent, size_t from);
    static void destroyDeep(std::vector<std::unique_ptr<Item>> &items);

    std::unique_ptr<Item> m_root;
    mutable std::vector<Item *> m_order;
    mutable bool m_orderValid = true;
};

} // namespace tessarin

Q_DECLARE_METATYPE(tessarin::TqzNode *)
