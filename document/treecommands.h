#pragma once
// Edits of a project's node tree as undo steps: adding, deleting, moving and pasting subtrees and
// changing a node's fields. Every edit is checked before anything changes and refused with Error
// when it would break the calculation (an invalid or duplicate name, a node moved into itself).
#include "projecttree.h"

#include <QByteArray>
#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QPair>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>

class QUndoStack;

namespace tessarin {

class TqzProject;
class TqzRunTimeLibrary;

// The fields of a node an author edits (in this order: a table of their members follows it).
enum class TqzNodeField { Name, Caption, Unit, Script, Value, Remark };

// "名称", "编码", "单位", "脚本", "取值", "备注".
QString nodeFieldCaption(TqzNodeField field);
QString nodeField(const TqzNode &node, TqzNodeField field);

// Whether `c` is an operator, bracket, quote or separator of a formula, which no node name may
// hold: it ends a name where the formula's words are told apart.
bool isFormulaPunctuation(QChar c);

// The longest name or code a node may have.
inline constexpr int kMaxNodeNameLength = 64;

// Why `name` cannot name a node, or an empty text when it can: formulas find a node by its name
// as plain text, so a name must not be empty or too long, must not start with a digit, must not
// hold blanks, quotes, operators or brackets, and must not be (part of) a function or constant
// of `libraryNames`, which the translation would then overwrite.
QString nodeNameProblem(const QString &name, const QStringList &libraryNames);
// Why `code` cannot be a node's code (an identifier of letters, digits and '_' not starting with
// a digit, or nothing), or an empty text when it can.
QString nodeCodeProblem(const QString &code);

// The names a formula can use beside the nodes: the interpreter's built-in functions and the
// functions and constants of the header the project's formulas include (read from the file the
// runtime library names; the built-ins alone when it cannot be read).
QStringList formulaLibraryNames(const TqzRunTimeLibrary &library);

// A subtree as the clipboard carries it between projects: a "TVariables" element in GB2312 with
// one "TVariable" per node in pre-order, numbered from 0.
QByteArray branchToXml(const TqzProjectTree &tree, const QModelIndex &item);
// Where `formula` uses node names, as the translation finds them: outside string literals, at
// each place the longest of `namesLongestFirst` (sorted so) that starts there. (start, length)
// pairs in order.
QList<std::pair<qsizetype, qsizetype>> formulaNameSpans(const QString &formula,
                                                        const QStringList &namesLongestFirst);

// `formula` with every use of the node name `from` replaced by `to`. Names are found as the
// translation finds them, the longest of `names` first (so 长度 inside 长度系数 is not a use of
// 长度), and never inside a string literal.
QString renameInFormula(const QString &formula,
                        const QString &from,
                        const QString &to,
                        const QStringList &names);

// Reads what branchToXml wrote; several top nodes come back as one branch each. Throws Error for
// a text that is not such an element or holds no node.
std::vector<TqzProjectTree::Branch> branchesFromXml(const QByteArray &xml);

// The node-tree editor of one project: each call checks its edit, refuses it with Error (nothing
// changed, nothing recorded) or pushes it onto `stack` as one undo step, and returns the item it
// leaves selected.
class TqzTreeEditor : public QObject
{
    Q_OBJECT

public:
    TqzTreeEditor(TqzProject &project, QUndoStack &stack, QObject *parent = nullptr);

    TqzProjectTree &tree() const;

    // A new input node ("新节点N", the first N not taken) as the last child of `parent` (top
    // level when invalid), or right after `item` among its siblings.
    QModelIndex addChild(const QModelIndex &parent);
    QModelIndex addSibling(const QModelIndex &item);
    // Deletes the item with its subtree.
    void remove(const QModelIndex &item);
    // Up or down among its siblings; indent makes it the last child of the sibling above, outdent
    // puts it right after its parent. Refused where there is no room (the first item up, ...).
    QModelIndex moveUp(const QModelIndex &item);
    QModelIndex moveDown(const QModelIndex &item);
    QModelIndex indent(const QModelIndex &item);
    QModelIndex outdent(const QModelIndex &item);
    // Moves the item with its subtree to child `row` of `parent` (its row once there); refused
    // when `parent` lies in the item's own subtree.
    QModelIndex move(const QModelIndex &item, const QModelIndex &parent, int row);
    // Inserts the subtrees of branchToXml's text as children `row`... of `parent`; refused when
    // a name in them is not a valid name or is already taken in this project.
    QModelIndex paste(const QByteArray &xml, const QModelIndex &parent, int row);
    // Sets one field; a name or code is checked as above and against the other nodes.
    void setField(const QModelIndex &item, TqzNodeField field, const QString &text);
    // Why setField would refuse `text`, or an empty text when it would take it.
    QString fieldProblem(const QModelIndex &item, TqzNodeField field, const QString &text);
    // The formulas that use `from` as a name, rewritten to use `to`: (item, new formula) pairs.
    QList<QPair<QPersistentModelIndex, QString>> formulasRenamed(const QString &from,
                                                                  const QString &to) const;

    // formulaLibraryNames of the project, read again only when it names another header.
    const QStringList &libraryNames();

    // Whether the tree differs from the one loaded or last saved: steps done since then and not
    // undone (an undo back past that point counts as a change too).
    bool treeChanged() const { return m_balance != 0; }
    // The tree as it stands is the saved one (after a load or a save).
    void markSaved() { m_balance = 0; }
    // Called by the steps, after they changed the tree: +1 when done or redone, -1 when undone.
    void stepApplied(int direction, const QModelIndex &item);

signals:
    // A step was done, undone or redone; `item` is what it leaves selected (may be invalid).
    void treeEdited(const QModelIndex &item);

private:
    QString takenNameProblem(const QString &name, const QModelIndex &except) const;
    QString freshName() const;
    QModelIndex pushInsert(TqzProjectTree::Branch branch,
                           const QModelIndex &parent,
                           int row,
                           const QString &text);

    TqzProject &m_project;
    QUndoStack &m_stack;
    int m_balance = 0;
    QStringList m_libraryNames;
    QString m_libraryFile; // the header m_libraryNames was read from
};

} // namespace tessarin

namespace tessarin {

class TqzTranslate;

// What "检查公式" shows: the formula in codes and with the numbers put in, then the result or
// the interpreter's error with the place in the numbers text it names (-1 when it names none).
struct TqzFormulaTrial
{
    QString coded;
    QString substituted;
    bool succeeded = false;
    QString result;
    QString error;
    qsizetype errorAt = -1;
    qsizetype errorLength = 0;
    // Names the formula uses whose node has no value yet (nothing typed, not yet computed).
    QStringList withoutValue;
};

// Translates `formula` with the current values of `tree` (each name's first node in tree order)
// and evaluates it, or runs it when it is a program; nothing in the tree changes.
TqzFormulaTrial tryFormula(const TqzProjectTree &tree,
                           const TqzTranslate &codeTable,
                           const QString &formula);

} // namespace tessarin
