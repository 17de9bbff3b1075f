#include "treecommands.h"

#include "error.h"
#include "modelread.h"
#include "modelwrite.h"
#include "qzcomplier.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "xmltree.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUndoCommand>
#include <QUndoStack>

namespace tessarin {

namespace {

// Where an item stands: its row under each ancestor, from the top level down. Steps keep paths,
// not indexes: the linear undo stack puts the tree back into the shape each path was taken in.
using TreePath = QList<int>;

TreePath pathOf(const QModelIndex &item)
{
    TreePath path;
    for (QModelIndex at = item; at.isValid(); at = at.parent())
        path.prepend(at.row());
    return path;
}

QModelIndex itemAtPath(const TqzProjectTree &tree, const TreePath &path)
{
    QModelIndex at;
    for (const int row : path) {
        at = tree.index(row, 0, at);
        if (!at.isValid())
            return {};
    }
    return at;
}

// Each field's member and caption, in the order of TqzNodeField.
struct FieldInfo
{
    QString TqzNode::*member;
    const char16_t *caption;
};
constexpr FieldInfo kFields[] = {
    {&TqzNode::Name, u"名称"},
    {&TqzNode::Caption, u"编码"},
    {&TqzNode::Unit, u"单位"},
    {&TqzNode::Script, u"脚本"},
    {&TqzNode::Value, u"取值"},
    {&TqzNode::Remark, u"备注"},
};

QString *fieldOf(TqzNode &node, TqzNodeField field)
{
    return &(node.*kFields[static_cast<int>(field)].member);
}

// The interpreter's own functions and constants, as its library registers them.
const QStringList &builtinNames()
{
    static const QStringList names = {
        QStringLiteral("sqrt"),  QStringLiteral("exp"),   QStringLiteral("log"),
        QStringLiteral("log10"), QStringLiteral("fabs"),  QStringLiteral("sin"),
        QStringLiteral("cos"),   QStringLiteral("tan"),   QStringLiteral("asin"),
        QStringLiteral("acos"),  QStringLiteral("atan"),  QStringLiteral("sinh"),
        QStringLiteral("cosh"),  QStringLiteral("tanh"),  QStringLiteral("floor"),
        QStringLiteral("ceil"),  QStringLiteral("cbrt"),  QStringLiteral("pow"),
        QStringLiteral("atan2"), QStringLiteral("fmod"),  QStringLiteral("fmin"),
        QStringLiteral("fmax"),  QStringLiteral("hypot"), QStringLiteral("pi"),
    };
    return names;
}

class TreeStep : public QUndoCommand
{
public:
    TreeStep(TqzTreeEditor &editor, const QString &text)
        : m_editor(editor)
    {
        setText(text);
    }

protected:
    TqzProjectTree &tree() const { return m_editor.tree(); }
    void applied(int direction, const QModelIndex &item) { m_editor.stepApplied(direction, item); }

private:
    TqzTreeEditor &m_editor;
};

// A subtree put in (a new node, a paste) or, the other way round, taken out (a delete).
class BranchStep : public TreeStep
{
public:
    BranchStep(TqzTreeEditor &editor,
               const QString &text,
               TreePath path,
               TqzProjectTree::Branch branch,
               bool inserting)
        : TreeStep(editor, text)
        , m_path(std::move(path))
        , m_branch(std::move(branch))
        , m_inserting(inserting)
    {}

    void redo() override { m_inserting ? putIn(1) : takeOut(1); }
    void undo() override { m_inserting ? takeOut(-1) : putIn(-1); }

private:
    void putIn(int direction)
    {
        const TreePath parentPath = m_path.first(m_path.size() - 1);
        const QModelIndex item
            = tree().insertBranch(m_branch, itemAtPath(tree(), parentPath), m_path.last());
        applied(direction, item);
    }
    void takeOut(int direction)
    {
        m_branch = tree().takeBranch(itemAtPath(tree(), m_path));
        // What is left selected: the sibling that took its place, the one above, the parent.
        const TreePath parentPath = m_path.first(m_path.size() - 1);
        const QModelIndex parent = itemAtPath(tree(), parentPath);
        QModelIndex next = tree().index(m_path.last(), 0, parent);
        if (!next.isValid())
            next = tree().index(m_path.last() - 1, 0, parent);
        applied(direction, next.isValid() ? next : parent);
    }

    TreePath m_path;
    TqzProjectTree::Branch m_branch;
    bool m_inserting;
};

class MoveStep : public TreeStep
{
public:
    MoveStep(TqzTreeEditor &editor,
             const QString &text,
             TreePath from,
             TreePath toParent,
             int toRow)
        : TreeStep(editor, text)
        , m_from(std::move(from))
        , m_toParent(std::move(toParent))
        , m_toRow(toRow)
    {}

    void redo() override
    {
        const QPersistentModelIndex item = itemAtPath(tree(), m_from);
        tree().moveItem(item, itemAtPath(tree(), m_toParent), m_toRow);
        m_to = pathOf(item);
        applied(1, item);
    }
    void undo() override
    {
        const QPersistentModelIndex item = itemAtPath(tree(), m_to);
        tree().moveItem(item, itemAtPath(tree(), m_from.first(m_from.size() - 1)), m_from.last());
        applied(-1, item);
    }

private:
    TreePath m_from;
    TreePath m_toParent;
    int m_toRow;
    TreePath m_to;
};

class FieldStep : public TreeStep
{
public:
    FieldStep(TqzTreeEditor &editor,
              const QString &text,
              TreePath path,
              TqzNodeField field,
              QString before,
              QString after)
        : TreeStep(editor, text)
        , m_path(std::move(path))
        , m_field(field)
        , m_before(std::move(before))
        , m_after(std::move(after))
    {}

    void redo() override { set(m_after, 1); }
    void undo() override { set(m_before, -1); }

private:
    void set(const QString &text, int direction)
    {
        const QModelIndex item = itemAtPath(tree(), m_path);
        if (TqzNode *node = tree().node(item)) {
            *fieldOf(*node, m_field) = text;
            tree().nodeChanged(item);
        }
        applied(direction, item);
    }

    TreePath m_path;
    TqzNodeField m_field;
    QString m_before;
    QString m_after;
};

} // namespace

QString nodeFieldCaption(TqzNodeField field)
{
    return QString::fromUtf16(kFields[static_cast<int>(field)].caption);
}

QString nodeField(const TqzNode &node, TqzNodeField field)
{
    return node.*kFields[static_cast<int>(field)].member;
}

bool isFormulaPunctuation(QChar c)
{
    static const QString marks = QStringLiteral("\"'\\+-*/%^=<>!&|~?:;,.()[]{}#@$`");
    return marks.contains(c);
}

QString nodeNameProblem(const QString &name, const QStringList &libraryNames)
{
    if (name.isEmpty())
        return QStringLiteral("名称不能为空");
    if (name.size() > kMaxNodeNameLength)
        return QStringLiteral("名称太长（%1 个字符，最多 %2 个）").arg(name.size()).arg(kMaxNodeNameLength);
    if (name.front().isDigit() || name.front() == u'.')
        return QStringLiteral("名称“%1”以数字开头：公式会把它读成数").arg(name);
    for (const QChar c : name) {
        if (c.unicode() <= 0x20 || c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("名称“%1”含有空白或控制字符").arg(name);
        if (isFormulaPunctuation(c))
            return QStringLiteral("名称“%1”含有字符“%2”：公式会把它读成运算符、括号或引号")
                .arg(name, QString(c));
    }
    // Formulas are lower-cased after translation; a name that is (part of) a function or
    // constant would be replaced inside its calls.
    for (const QString &word : libraryNames)
        if (word.contains(name, Qt::CaseInsensitive))
            return QStringLiteral("名称“%1”与公式函数或常量“%2”冲突：翻译公式时会替换它")
                .arg(name, word);
    return {};
}

QString nodeCodeProblem(const QString &code)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (code.isEmpty())
        return {};
    if (code.size() > kMaxNodeNameLength)
        return QStringLiteral("编码太长（%1 个字符，最多 %2 个）").arg(code.size()).arg(kMaxNodeNameLength);
    if (!identifier.match(code).hasMatch())
        return QStringLiteral("编码“%1”只能由字母、数字和下划线组成，且不以数字开头").arg(code);
    return {};
}

QList<std::pair<qsizetype, qsizetype>> formulaNameSpans(const QString &formula,
                                                        const QStringList &namesLongestFirst)
{
    QList<std::pair<qsizetype, qsizetype>> spans;
    qsizetype i = 0;
    while (i < formula.size()) {
        if (formula[i] == u'"') {
            // A string literal is protected from the translation.
            const qsizetype end = formula.indexOf(u'"', i + 1);
            i = end < 0 ? formula.size() : end + 1;
            continue;
        }
        qsizetype length = 0;
        for (const QString &name : namesLongestFirst)
            if (!name.isEmpty() && QStringView(formula).sliced(i).startsWith(name)) {
                length = name.size();
                break;
            }
        if (length > 0)
            spans.append({i, length});
        i += std::max<qsizetype>(length, 1);
    }
    return spans;
}

QString renameInFormula(const QString &formula,
                        const QString &from,
                        const QString &to,
                        const QStringList &names)
{
    QStringList longestFirst = names;
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [](const QString &a, const QString &b) { return a.size() > b.size(); });
    QString out = formula;
    // From the end, so that earlier places keep their positions.
    const auto spans = formulaNameSpans(formula, longestFirst);
    for (auto it = spans.crbegin(); it != spans.crend(); ++it)
        if (QStringView(formula).sliced(it->first, it->second) == from)
            out.replace(it->first, it->second, to);
    return out;
}

QStringList formulaLibraryNames(const TqzRunTimeLibrary &library)
{
    QStringList names = builtinNames();
    QFile header(library.LibraryPath + library.FileName);
    if (header.open(QIODevice::ReadOnly)) {
        // Declarations at the start of a line: "double name(", "const double name =".
        static const QRegularExpression declaration(
            QStringLiteral("^(?:const\\s+)?(?:double|float|int|bool|string)\\s+([A-Za-z_][A-Za-z0-9_]*)\\s*[(=]"),
            QRegularExpression::MultilineOption);
        const QString text = QString::fromUtf8(header.readAll());
        for (auto it = declaration.globalMatch(text); it.hasNext();) {
            const QString name = it.next().captured(1);
            if (!names.contains(name))
                names.append(name);
        }
    }
    return names;
}

QByteArray branchToXml(const TqzProjectTree &tree, const QModelIndex &item)
{
    const int first = tree.absoluteIndex(item);
    XmlElement root;
    root.name = QStringLiteral("TVariables");
    if (first < 0)
        return writeXmlTree(root, QStringLiteral("GB2312"));
    const int last = tree.lastDescendant(first);
    for (int i = first; i <= last; ++i) {
        const TqzNode &node = *tree.nodeAt(i);
        // The numbers of the copy, not of the tree: the stored ones are left alone.
        TqzNode copy;
        copy.Name = node.Name;
        copy.Caption = node.Caption;
        copy.Script = node.Script;
        copy.Value = node.Value;
        copy.Unit = node.Unit;
        copy.Remark = node.Remark;
        copy.NodeID = i - first;
        copy.ParentID = i == first ? 0 : tree.parentIndex(i) - first;
        writeNode(copy, appendChildElement(root, QStringLiteral("TVariable")));
    }
    return writeXmlTree(root, QStringLiteral("GB2312"));
}

std::vector<TqzProjectTree::Branch> branchesFromXml(const QByteArray &xml)
{
    const std::unique_ptr<XmlElement> root = parseXmlTree(xml, QStringLiteral("clipboard"));
    if (root->name != QLatin1String("TVariables"))
        throw Error(QStringLiteral("the clipboard holds no nodes"));
    LoadedNodes loaded = readNodeList(*root);
    if (loaded.nodes.empty())
        throw Error(QStringLiteral("the clipboard holds no nodes"));
    // In pre-order, one branch per top node; resolveParents gives a forest over document order.
    const int n = static_cast<int>(loaded.nodes.size());
    std::vector<std::vector<int>> children(static_cast<size_t>(n));
    std::vector<int> tops;
    for (int i = 0; i < n; ++i) {
        const int p = loaded.parentOf[static_cast<size_t>(i)];
        (p < 0 ? tops : children[static_cast<size_t>(p)]).push_back(i);
    }
    std::vector<TqzProjectTree::Branch> branches;
    for (const int top : tops) {
        std::vector<std::unique_ptr<TqzNode>> nodes;
        std::vector<int> parentOf;
        std::vector<std::pair<int, int>> pending{{top, -1}};
        while (!pending.empty()) {
            const auto [i, parent] = pending.back();
            pending.pop_back();
            const int self = static_cast<int>(nodes.size());
            nodes.push_back(std::move(loaded.nodes[static_cast<size_t>(i)]));
            parentOf.push_back(parent);
            const auto &kids = children[static_cast<size_t>(i)];
            for (auto it = kids.rbegin(); it != kids.rend(); ++it)
                pending.emplace_back(*it, self);
        }
        branches.push_back(TqzProjectTree::makeBranch(std::move(nodes), parentOf));
    }
    return branches;
}

// ---- the editor ----

TqzTreeEditor::TqzTreeEditor(TqzProject &project, QUndoStack &stack, QObject *parent)
    : QObject(parent)
    , m_project(project)
    , m_stack(stack)
{}

TqzProjectTree &TqzTreeEditor::tree() const
{
    return *m_project.TreeView;
}

void TqzTreeEditor::stepApplied(int direction, const QModelIndex &item)
{
    m_balance += direction;
    emit treeEdited(item);
}

QString TqzTreeEditor::takenNameProblem(const QString &name, const QModelIndex &except) const
{
    const TqzNode *self = tree().node(except);
    for (int i = 0, n = tree().count(); i < n; ++i) {
        const TqzNode *node = tree().nodeAt(i);
        if (node != self && node->Name.size() == name.size()
            && node->Name.compare(name, Qt::CaseInsensitive) == 0)
            return node->Name == name
                       ? QStringLiteral("名称“%1”已有节点使用").arg(name)
                       : QStringLiteral("名称“%1”已有节点使用（“%2”，只差字母大小写）")
                             .arg(name, node->Name);
    }
    return {};
}

const QStringList &TqzTreeEditor::libraryNames()
{
    const TqzRunTimeLibrary &library = *m_project.RunTimeLibrary;
    const QString file = library.LibraryPath + library.FileName;
    if (m_libraryNames.isEmpty() || file != m_libraryFile) {
        m_libraryNames = formulaLibraryNames(library);
        m_libraryFile = file;
    }
    return m_libraryNames;
}

QString TqzTreeEditor::freshName() const
{
    static const QString stem = QStringLiteral("新节点");
    QSet<QString> taken;
    for (int i = 0, n = tree().count(); i < n; ++i) {
        const QString &name = tree().nodeAt(i)->Name;
        if (name.startsWith(stem))
            taken.insert(name.toLower());
    }
    for (int k = 1;; ++k) {
        const QString name = QStringLiteral("新节点%1").arg(k);
        if (!taken.contains(name))
            return name;
    }
}

QModelIndex TqzTreeEditor::pushInsert(TqzProjectTree::Branch branch,
                                      const QModelIndex &parent,
                                      int row,
                                      const QString &text)
{
    TreePath path = pathOf(parent);
    path.append(std::clamp(row, 0, tree().rowCount(parent)));
    m_stack.push(new BranchStep(*this, text, path, std::move(branch), true));
    return itemAtPath(tree(), path);
}

QModelIndex TqzTreeEditor::addChild(const QModelIndex &parent)
{
    auto node = std::make_unique<TqzNode>();
    node->Name = freshName();
    const QString text = QStringLiteral("添加节点 ") + node->Name;
    std::vector<std::unique_ptr<TqzNode>> nodes;
    nodes.push_back(std::move(node));
    return pushInsert(
        TqzProjectTree::makeBranch(std::move(nodes), {-1}), parent, tree().rowCount(parent), text);
}

QModelIndex TqzTreeEditor::addSibling(const QModelIndex &item)
{
    if (!item.isValid())
        return addChild({});
    auto node = std::make_unique<TqzNode>();
    node->Name = freshName();
    const QString text = QStringLiteral("添加节点 ") + node->Name;
    std::vector<std::unique_ptr<TqzNode>> nodes;
    nodes.push_back(std::move(node));
    return pushInsert(
        TqzProjectTree::makeBranch(std::move(nodes), {-1}), item.parent(), item.row() + 1, text);
}

void TqzTreeEditor::remove(const QModelIndex &item)
{
    const TqzNode *node = tree().node(item);
    if (!node)
        throw Error(QStringLiteral("没有选中要删除的节点"));
    const int count = tree().lastDescendant(tree().absoluteIndex(item))
                      - tree().absoluteIndex(item);
    const QString text = count > 0 ? QStringLiteral("删除节点 %1 及其 %2 个子节点")
                                         .arg(node->Name)
                                         .arg(count)
                                   : QStringLiteral("删除节点 ") + node->Name;
    m_stack.push(new BranchStep(*this, text, pathOf(item), {}, false));
}

QModelIndex TqzTreeEditor::move(const QModelIndex &item, const QModelIndex &parent, int row)
{
    const TqzNode *node = tree().node(item);
    if (!node)
        throw Error(QStringLiteral("没有选中要移动的节点"));
    if (tree().isWithin(parent, item))
        throw Error(QStringLiteral("不能把节点“%1”移到它自己或它的子节点之下").arg(node->Name));
    const int others = tree().rowCount(parent) - (parent == item.parent() ? 1 : 0);
    row = std::clamp(row, 0, others);
    if (parent == item.parent() && row == item.row())
        return item;
    const QPersistentModelIndex moved = item;
    m_stack.push(new MoveStep(*this, QStringLiteral("移动节点 ") + node->Name, pathOf(item),
                              pathOf(parent), row));
    return moved;
}

QModelIndex TqzTreeEditor::moveUp(const QModelIndex &item)
{
    if (!item.isValid() || item.row() == 0)
        throw Error(QStringLiteral("节点已在同级的最上面"));
    return move(item, item.parent(), item.row() - 1);
}

QModelIndex TqzTreeEditor::moveDown(const QModelIndex &item)
{
    if (!item.isValid() || item.row() + 1 >= tree().rowCount(item.parent()))
        throw Error(QStringLiteral("节点已在同级的最下面"));
    return move(item, item.parent(), item.row() + 1);
}

QModelIndex TqzTreeEditor::indent(const QModelIndex &item)
{
    if (!item.isValid() || item.row() == 0)
        throw Error(QStringLiteral("节点上面没有同级节点，不能降级"));
    const QModelIndex above = tree().index(item.row() - 1, 0, item.parent());
    return move(item, above, tree().rowCount(above));
}

QModelIndex TqzTreeEditor::outdent(const QModelIndex &item)
{
    if (!item.isValid() || !item.parent().isValid())
        throw Error(QStringLiteral("节点已在最上层，不能升级"));
    const QModelIndex parent = item.parent();
    return move(item, parent.parent(), parent.row() + 1);
}

QModelIndex TqzTreeEditor::paste(const QByteArray &xml, const QModelIndex &parent, int row)
{
    std::vector<TqzProjectTree::Branch> branches = branchesFromXml(xml);
    // Every name is checked before anything goes in.
    const QStringList &library = libraryNames();
    QSet<QString> seen;
    for (const auto &branch : branches) {
        for (const TqzNode *node : branch.nodes()) {
            const QString lower = node->Name.toLower();
            QString problem = nodeNameProblem(node->Name, library);
            if (problem.isEmpty())
                problem = takenNameProblem(node->Name, {});
            if (problem.isEmpty() && seen.contains(lower))
                problem = QStringLiteral("名称“%1”在粘贴的节点中出现了两次").arg(node->Name);
            if (!problem.isEmpty())
                throw Error(QStringLiteral("不能粘贴：") + problem);
            seen.insert(lower);
        }
    }
    row = std::clamp(row, 0, tree().rowCount(parent));
    const QString text = QStringLiteral("粘贴节点 ") + branches.front().nodes().front()->Name;
    if (branches.size() == 1)
        return pushInsert(std::move(branches.front()), parent, row, text);
    m_stack.beginMacro(text);
    for (size_t k = 0; k < branches.size(); ++k)
        pushInsert(std::move(branches[k]), parent, row + static_cast<int>(k), text);
    m_stack.endMacro();
    return tree().index(row, 0, parent);
}

QList<QPair<QPersistentModelIndex, QString>> TqzTreeEditor::formulasRenamed(const QString &from,
                                                                             const QString &to) const
{
    QStringList names;
    for (int i = 0, n = tree().count(); i < n; ++i)
        names.append(tree().nodeAt(i)->Name);
    names.removeDuplicates();
    names.append(to);
    QList<QPair<QPersistentModelIndex, QString>> renamed;
    for (int i = 0, n = tree().count(); i < n; ++i) {
        const TqzNode *node = tree().nodeAt(i);
        if (!node->Script.contains(from))
            continue;
        const QString script = renameInFormula(node->Script, from, to, names);
        if (script != node->Script)
            renamed.append({QPersistentModelIndex(tree().itemAt(i)), script});
    }
    return renamed;
}

void TqzTreeEditor::setField(const QModelIndex &item, TqzNodeField field, const QString &text)
{
    const QString problem = fieldProblem(item, field, text);
    if (!problem.isEmpty())
        throw Error(problem);
    const TqzNode *node = tree().node(item);
    const QString before = nodeField(*node, field);
    if (before == text)
        return;
    const QString name = field == TqzNodeField::Name ? before : node->Name;
    m_stack.push(new FieldStep(*this,
                               QStringLiteral("修改 %1 的%2").arg(name, nodeFieldCaption(field)),
                               pathOf(item),
                               field,
                               before,
                               text));
}

QString TqzTreeEditor::fieldProblem(const QModelIndex &item, TqzNodeField field, const QString &text)
{
    const TqzNode *node = tree().node(item);
    if (!node)
        return QStringLiteral("没有选中节点");
    const QString before = nodeField(*node, field);
    if (before == text)
        return {};
    QString problem;
    if (field == TqzNodeField::Name) {
        problem = nodeNameProblem(text, libraryNames());
        if (problem.isEmpty())
            problem = takenNameProblem(text, item);
    } else if (field == TqzNodeField::Caption) {
        problem = nodeCodeProblem(text);
        for (int i = 0, n = tree().count(); problem.isEmpty() && !text.isEmpty() && i < n; ++i) {
            const TqzNode *other = tree().nodeAt(i);
            if (other != node && other->Caption.compare(text, Qt::CaseInsensitive) == 0
                && other->Name != node->Name)
                problem = QStringLiteral("编码“%1”已由节点“%2”使用").arg(text, other->Name);
        }
    } else if (field == TqzNodeField::Unit || field == TqzNodeField::Value) {
        for (const QChar c : text)
            if (c.unicode() < 0x20)
                problem = QStringLiteral("%1不能含有控制字符或换行").arg(nodeFieldCaption(field));
    }
    return problem;
}

} // namespace tessarin

namespace tessarin {

TqzFormulaTrial tryFormula(const TqzProjectTree &tree,
                           const TqzTranslate &codeTable,
                           const QString &formula)
{
    TqzFormulaTrial trial;
    try {
        trial.coded = codeTable.Translate(formula);
        TqzComplier complier;
        if (!complier.isBound()) {
            trial.error = complier.bindError();
            return trial;
        }
        // The first node of a name gives its value: later ones are added first and overwritten.
        QHash<QString, QString> valueOf;
        for (int i = tree.count() - 1; i >= 0; --i) {
            const TqzNode *node = tree.nodeAt(i);
            if (node->Name.isEmpty())
                continue;
            complier.Dictionary.AddWord(node->Name, substitutionText(node->Value));
            valueOf.insert(node->Name, node->Value);
        }
        for (auto it = valueOf.cbegin(); it != valueOf.cend(); ++it)
            if (it.value().trimmed().isEmpty() && formula.contains(it.key()))
                trial.withoutValue.append(it.key());
        trial.withoutValue.sort();
        complier.Source = formula;
        trial.substituted = complier.Translate(complier.Dictionary, formula);
        if (complier.HasMain()) {
            complier.Execute(trial.substituted);
            QStringList pairs;
            for (const TqzExportValue &e : complier.Exports)
                pairs.append(e.Name + QStringLiteral(" = ") + e.Value);
            trial.result = pairs.join(QStringLiteral("; "));
        } else {
            trial.result = complier.Evaluate(trial.substituted);
        }
        trial.succeeded = complier.Succeeded;
        if (!trial.succeeded) {
            trial.result.clear();
            trial.error = complier.ErrorText;
        }
    } catch (const Error &e) {
        trial.succeeded = false;
        trial.error = e.message();
    }
    if (!trial.succeeded) {
        // The interpreter names the symbol it stumbled on in quotes; the numbers text has it
        // lower-cased, as the interpreter saw it.
        static const QRegularExpression quoted(QStringLiteral("'([^']+)'"));
        const QRegularExpressionMatch m = quoted.match(trial.error);
        if (m.hasMatch()) {
            trial.errorAt = trial.substituted.indexOf(m.captured(1), 0, Qt::CaseInsensitive);
            if (trial.errorAt >= 0)
                trial.errorLength = m.capturedLength(1);
        }
    }
    return trial;
}

} // namespace tessarin
