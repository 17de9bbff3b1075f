#include "projecttree.h"

#include "error.h"

#include <algorithm>
#include <utility>

namespace tessarin {

struct TqzProjectTree::Item
{
    std::unique_ptr<TqzNode> node;
    Item *parent = nullptr;
    std::vector<std::unique_ptr<Item>> children;
    int row = 0;   // position among the parent's children
    int abs = -1;  // absolute index, valid while the order cache is
    int last = -1; // absolute index of the last item of the subtree, likewise
};

TqzProjectTree::TqzProjectTree(QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(std::make_unique<Item>())
{}

TqzProjectTree::~TqzProjectTree()
{
    destroyDeep(m_root->children);
}

// Tears a forest down without recursion, so a pathological 100,000-deep chain cannot overflow
// the stack.
void TqzProjectTree::destroyDeep(std::vector<std::unique_ptr<Item>> &items)
{
    std::vector<std::unique_ptr<Item>> pending = std::move(items);
    items.clear();
    while (!pending.empty()) {
        std::unique_ptr<Item> item = std::move(pending.back());
        pending.pop_back();
        for (auto &child : item->children)
            pending.push_back(std::move(child));
        item->children.clear();
    }
}

void TqzProjectTree::renumberRows(Item *parent, size_t from)
{
    for (size_t i = from; i < parent->children.size(); ++i)
        parent->children[i]->row = static_cast<int>(i);
}

TqzProjectTree::Item *TqzProjectTree::itemOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return m_root.get();
    return static_cast<Item *>(index.internalPointer());
}

QModelIndex TqzProjectTree::indexOf(Item *item) const
{
    if (!item || item == m_root.get())
        return {};
    return createIndex(item->row, 0, item);
}

QModelIndex TqzProjectTree::index(int row, int column, const QModelIndex &parent) const
{
    const Item *p = itemOf(parent);
    if (column != 0 || row < 0 || static_cast<size_t>(row) >= p->children.size())
        return {};
    return createIndex(row, 0, p->children[static_cast<size_t>(row)].get());
}

QModelIndex TqzProjectTree::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    return indexOf(itemOf(child)->parent);
}

int TqzProjectTree::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(itemOf(parent)->children.size());
}

int TqzProjectTree::columnCount(const QModelIndex &) const
{
    return 1;
}

bool TqzProjectTree::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant TqzProjectTree::data(const QModelIndex &index, int role) const
{
    TqzNode *n = node(index);
    if (!n)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return n->Name;
    if (role == NodeRole)
        return QVariant::fromValue(n);
    return {};
}

Qt::ItemFlags TqzProjectTree::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
           | Qt::ItemIsDropEnabled;
}

Qt::DropActions TqzProjectTree::supportedDropActions() const
{
    return Qt::MoveAction | Qt::CopyAction;
}

TqzNode *TqzProjectTree::node(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return itemOf(index)->node.get();
}

QModelIndex TqzProjectTree::appendNode(std::unique_ptr<TqzNode> node, const QModelIndex &parent)
{
    Item *p = itemOf(parent);
    const int row = static_cast<int>(p->children.size());
    beginInsertRows(indexOf(p), row, row);
    auto item = std::make_unique<Item>();
    item->node = node ? std::move(node) : std::make_unique<TqzNode>();
    item->parent = p;
    item->row = row;
    Item *raw = item.get();
    p->children.push_back(std::move(item));
    invalidateOrder();
    endInsertRows();
    return indexOf(raw);
}

bool TqzProjectTree::removeItem(const QModelIndex &index)
{
    if (!index.isValid() || index.model() != this)
        return false;
    Item *item = itemOf(index);
    Item *p = item->parent;
    const int row = item->row;
    beginRemoveRows(indexOf(p), row, row);
    std::vector<std::unique_ptr<Item>> taken;
    taken.push_back(std::move(p->children[static_cast<size_t>(row)]));
    p->children.erase(p->children.begin() + row);
    renumberRows(p, static_cast<size_t>(row));
    invalidateOrder();
    endRemoveRows();
    destroyDeep(taken);
    return true;
}

void TqzProjectTree::clear()
{
    beginResetModel();
    destroyDeep(m_root->children);
    invalidateOrder();
    endResetModel();
}

void TqzProjectTree::resetNodes(std::vector<std::unique_ptr<TqzNode>> nodes,
                                const std::vector<int> &parentOf)
{
    const int n = static_cast<int>(nodes.size());
    if (parentOf.size() != nodes.size())
        throw Error(QStringLiteral("project tree: %1 nodes but %2 parent entries")
                        .arg(n)
                        .arg(parentOf.size()));
    // Every chain of parents must end at the top level: 0 unseen, 1 on the current chain,
    // 2 known to reach the top level.
    std::vector<char> state(nodes.size(), 0);
    std::vector<int> chain;
    for (int start = 0; start < n; ++start) {
        int i = start;
        while (i >= 0 && state[static_cast<size_t>(i)] == 0) {
            state[static_cast<size_t>(i)] = 1;
            chain.push_back(i);
            const int p = parentOf[static_cast<size_t>(i)];
            if (p < -1 || p >= n)
                throw Error(QStringLiteral("project tree: parent %1 of item %2 is out of range")
                                .arg(p)
                                .arg(i));
            i = p;
        }
        if (i >= 0 && state[static_cast<size_t>(i)] == 1)
            throw Error(QStringLiteral("project tree: item %1 is its own ancestor").arg(i));
        for (int c : chain)
            state[static_cast<size_t>(c)] = 2;
        chain.clear();
    }

    std::vector<std::unique_ptr<Item>> items;
    std::vector<Item *> raw;
    items.reserve(nodes.size());
    raw.reserve(nodes.size());
    for (auto &node : nodes) {
        items.push_back(std::make_unique<Item>());
        items.back()->node = node ? std::move(node) : std::make_unique<TqzNode>();
        raw.push_back(items.back().get());
    }

    beginResetModel();
    destroyDeep(m_root->children);
    // Children are owned by their parents; hand each item over in document order.
    for (int i = 0; i < n; ++i) {
        const int p = parentOf[static_cast<size_t>(i)];
        Item *parentItem = p < 0 ? m_root.get() : raw[static_cast<size_t>(p)];
        Item *item = raw[static_cast<size_t>(i)];
        item->parent = parentItem;
        item->row = static_cast<int>(parentItem->children.size());
        parentItem->children.push_back(std::move(items[static_cast<size_t>(i)]));
    }
    invalidateOrder();
    endResetModel();
}

TqzProjectTree::Branch::Branch() = default;

TqzProjectTree::Branch::~Branch()
{
    if (m_item) {
        std::vector<std::unique_ptr<Item>> items;
        items.push_back(std::move(m_item));
        destroyDeep(items);
    }
}

TqzProjectTree::Branch::Branch(Branch &&other) noexcept = default;

TqzProjectTree::Branch &TqzProjectTree::Branch::operator=(Branch &&other) noexcept
{
    if (this != &other) {
        Branch old(std::move(*this));
        m_item = std::move(other.m_item);
    }
    return *this;
}

std::vector<const TqzNode *> TqzProjectTree::Branch::nodes() const
{
    std::vector<const TqzNode *> found;
    std::vector<const Item *> pending;
    if (m_item)
        pending.push_back(m_item.get());
    while (!pending.empty()) {
        const Item *item = pending.back();
        pending.pop_back();
        found.push_back(item->node.get());
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it)
            pending.push_back(it->get());
    }
    return found;
}

std::vector<int> TqzProjectTree::Branch::parents() const
{
    std::vector<int> parentOf;
    std::vector<std::pair<const Item *, int>> pending;
    if (m_item)
        pending.emplace_back(m_item.get(), -1);
    while (!pending.empty()) {
        const auto [item, parent] = pending.back();
        pending.pop_back();
        const int self = static_cast<int>(parentOf.size());
        parentOf.push_back(parent);
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it)
            pending.emplace_back(it->get(), self);
    }
    return parentOf;
}

TqzProjectTree::Branch TqzProjectTree::makeBranch(std::vector<std::unique_ptr<TqzNode>> nodes,
                                                  const std::vector<int> &parentOf)
{
    if (nodes.empty() || parentOf.size() != nodes.size() || parentOf[0] != -1)
        throw Error(QStringLiteral("a branch needs one top node and a parent for every other"));
    for (size_t i = 1; i < parentOf.size(); ++i)
        if (parentOf[i] < 0 || static_cast<size_t>(parentOf[i]) >= i)
            throw Error(QStringLiteral("branch node %1: its parent %2 does not come before it")
                            .arg(i)
                            .arg(parentOf[i]));
    std::vector<Item *> raw;
    raw.reserve(nodes.size());
    Branch branch;
    for (size_t i = 0; i < nodes.size(); ++i) {
        auto item = std::make_unique<Item>();
        item->node = nodes[i] ? std::move(nodes[i]) : std::make_unique<TqzNode>();
        raw.push_back(item.get());
        if (i == 0) {
            branch.m_item = std::move(item);
        } else {
            Item *p = raw[static_cast<size_t>(parentOf[i])];
            item->parent = p;
            item->row = static_cast<int>(p->children.size());
            p->children.push_back(std::move(item));
        }
    }
    return branch;
}

TqzProjectTree::Branch TqzProjectTree::takeBranch(const QModelIndex &index)
{
    Branch branch;
    if (!index.isValid() || index.model() != this)
        return branch;
    Item *item = itemOf(index);
    Item *p = item->parent;
    const int row = item->row;
    beginRemoveRows(indexOf(p), row, row);
    branch.m_item = std::move(p->children[static_cast<size_t>(row)]);
    p->children.erase(p->children.begin() + row);
    renumberRows(p, static_cast<size_t>(row));
    branch.m_item->parent = nullptr;
    branch.m_item->row = 0;
    invalidateOrder();
    endRemoveRows();
    return branch;
}

QModelIndex TqzProjectTree::insertBranch(Branch &branch, const QModelIndex &parent, int row)
{
    if (!branch.m_item)
        return {};
    Item *p = itemOf(parent);
    row = std::clamp(row, 0, static_cast<int>(p->children.size()));
    beginInsertRows(indexOf(p), row, row);
    Item *raw = branch.m_item.get();
    raw->parent = p;
    p->children.insert(p->children.begin() + row, std::move(branch.m_item));
    renumberRows(p, static_cast<size_t>(row));
    invalidateOrder();
    endInsertRows();
    return indexOf(raw);
}

bool TqzProjectTree::isWithin(const QModelIndex &index, const QModelIndex &ancestor) const
{
    if (!index.isValid() || !ancestor.isValid() || index.model() != this
        || ancestor.model() != this)
        return false;
    const Item *target = itemOf(ancestor);
    for (const Item *item = itemOf(index); item && item != m_root.get(); item = item->parent)
        if (item == target)
            return true;
    return false;
}

bool TqzProjectTree::moveItem(const QModelIndex &index, const QModelIndex &newParent, int row)
{
    if (!index.isValid() || index.model() != this || isWithin(newParent, index))
        return false;
    Item *item = itemOf(index);
    Item *from = item->parent;
    Item *to = itemOf(newParent);
    const int oldRow = item->row;
    const int others = static_cast<int>(to->children.size()) - (from == to ? 1 : 0);
    row = std::clamp(row, 0, others);
    if (from == to && row == oldRow)
        return true;
    // Qt counts the destination among the children before the move.
    const int destination = from == to && row > oldRow ? row + 1 : row;
    beginMoveRows(indexOf(from), oldRow, oldRow, indexOf(to), destination);
    std::unique_ptr<Item> taken = std::move(from->children[static_cast<size_t>(oldRow)]);
    from->children.erase(from->children.begin() + oldRow);
    renumberRows(from, static_cast<size_t>(oldRow));
    taken->parent = to;
    to->children.insert(to->children.begin() + row, std::move(taken));
    renumberRows(to, 0);
    invalidateOrder();
    endMoveRows();
    return true;
}

void TqzProjectTree::nodeChanged(const QModelIndex &index)
{
    if (node(index))
        emit dataChanged(index, index);
}

void TqzProjectTree::invalidateOrder()
{
    m_orderValid = false;
    m_order.clear();
}

void TqzProjectTree::ensureOrder() const
{
    if (m_orderValid)
        return;
    m_order.clear();
    // Iterative pre-order walk: (item, next child to visit).
    std::vector<std::pair<Item *, size_t>> stack;
    stack.emplace_back(m_root.get(), 0);
    while (!stack.empty()) {
        auto &[item, next] = stack.back();
        if (next < item->children.size()) {
            Item *child = item->children[next++].get();
            child->abs = static_cast<int>(m_order.size());
            m_order.push_back(child);
            stack.emplace_back(child, 0);
        } else {
            item->last = static_cast<int>(m_order.size()) - 1;
            stack.pop_back();
        }
    }
    m_orderValid = true;
}

TqzProjectTree::Item *TqzProjectTree::orderedItem(int absoluteIndex) const
{
    ensureOrder();
    if (absoluteIndex < 0 || static_cast<size_t>(absoluteIndex) >= m_order.size())
        return nullptr;
    return m_order[static_cast<size_t>(absoluteIndex)];
}

int TqzProjectTree::count() const
{
    ensureOrder();
    return static_cast<int>(m_order.size());
}

int TqzProjectTree::absoluteIndex(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return -1;
    ensureOrder();
    return itemOf(index)->abs;
}

QModelIndex TqzProjectTree::itemAt(int absoluteIndex) const
{
    return indexOf(orderedItem(absoluteIndex));
}

TqzNode *TqzProjectTree::nodeAt(int absoluteIndex) const
{
    Item *item = orderedItem(absoluteIndex);
    return item ? item->node.get() : nullptr;
}

int TqzProjectTree::lastDescendant(int absoluteIndex) const
{
    Item *item = orderedItem(absoluteIndex);
    return item ? item->last : -1;
}

int TqzProjectTree::parentIndex(int absoluteIndex) const
{
    Item *item = orderedItem(absoluteIndex);
    return item && item->parent != m_root.get() ? item->parent->abs : -1;
}

int TqzProjectTree::childCount(int absoluteIndex) const
{
    Item *item = orderedItem(absoluteIndex);
    return item ? static_cast<int>(item->children.size()) : -1;
}

} // namespace tessarin
