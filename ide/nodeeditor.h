#pragma once
// The authoring side of the project window's tree panel: the tree view that starts and takes
// drags of nodes, the formula box with highlighting and completion, and the property panel that
// edits every field of the selected node and tries its formula ("检查公式").
#include "treecommands.h"

#include <QMap>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSet>
#include <QSyntaxHighlighter>
#include <QTreeView>

class QCompleter;
class QLabel;
class QMimeData;
class QPushButton;
class QStringListModel;

namespace tessarin {

// The MIME types of a dragged or copied subtree: the place of the item in its tree (for a move
// within one project) and the subtree itself (for a copy into another one).
inline constexpr char kNodePlaceMime[] = "application/x-tessarin-node-place";
inline constexpr char kNodesMime[] = "application/x-tessarin-nodes";

// The project tree view: a drag carries the dragged subtree; a drop on an item makes the subtree
// its last child, a drop between items puts it there, and the window carries it out as an edit.
class TqzNodeTreeView : public QTreeView
{
    Q_OBJECT
public:
    explicit TqzNodeTreeView(QWidget *parent = nullptr);

    // Where a drop at `pos` (viewport coordinates) puts a node: the new parent and the row.
    void dropTarget(const QPoint &pos, QModelIndex &parent, int &row) const;
    // What a drop of `mime` at `pos` does (the drop event's work): false when it carries no nodes.
    bool dropNodes(const QMimeData *mime, const QPoint &pos);

signals:
    // A subtree of this tree was dropped: `item` goes to child `row` of `parent`.
    void nodeMoved(const QModelIndex &item, const QModelIndex &parent, int row);
    // A subtree of another tree was dropped: its text (branchToXml) goes to child `row` of `parent`.
    void nodesDropped(const QByteArray &nodes, const QModelIndex &parent, int row);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

// Colours the words of a formula: node names, numbers, functions and constants, operators.
class TqzFormulaHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    explicit TqzFormulaHighlighter(QTextDocument *document);
    // The names to colour; longer names win over the shorter ones inside them.
    void setWords(const QStringList &nodeNames, const QStringList &libraryNames);

    // What a formula's character is shown as; for tests and the legend.
    enum class Kind { Plain, Name, Number, Function, Operator, Text };
    static QList<Kind> classify(const QString &text,
                                const QStringList &nodeNamesLongestFirst,
                                const QSet<QString> &libraryNames);

protected:
    void highlightBlock(const QString &text) override;

private:
    QStringList m_names; // longest first
    QSet<QString> m_library;
};

// The formula box: Enter confirms (Shift+Enter breaks the line, for programs), Esc puts the
// node's formula back, Ctrl+Space completes the word at the cursor with a node name or a
// function, as typing two or more characters of a word does.
class TqzFormulaEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TqzFormulaEdit(QWidget *parent = nullptr);
    void setWords(const QStringList &nodeNames, const QStringList &libraryNames);
    QCompleter *completer() const { return m_completer; }
    TqzFormulaHighlighter *highlighter() const { return m_highlighter; }
    // The word before the cursor that completion would replace.
    QString wordBeforeCursor() const;

signals:
    void confirmed();
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void complete(bool always);
    void insertCompletion(const QString &word);

    QCompleter *m_completer;
    QStringListModel *m_words;
    TqzFormulaHighlighter *m_highlighter;
};

// The property panel of the selected node: 名称, 编码, 单位, 取值, 备注 and 脚本 as fields that
// confirm on Enter or when they lose the focus, and "检查公式" with its outcome.
class TqzNodeProperties : public QWidget
{
    Q_OBJECT
public:
    explicit TqzNodeProperties(QWidget *parent = nullptr);

    // Shows `node` (none: the fields are empty and disabled).
    void showNode(const TqzNode *node);
    // The names completion and highlighting know.
    void setWords(const QStringList &nodeNames, const QStringList &libraryNames);
    // Shows why an edit was refused (empty: hides the message).
    void showProblem(const QString &message);
    // Shows what "检查公式" found.
    void showTrial(const TqzFormulaTrial &trial);
    // The text a field shows now.
    QString fieldText(TqzNodeField field) const;

    QLineEdit *edit(TqzNodeField field) const { return m_lines.value(field); }
    TqzFormulaEdit *formula = nullptr;
    QPushButton *checkFormula = nullptr;
    QPlainTextEdit *trialText = nullptr;
    QLabel *problem = nullptr;

signals:
    // The user confirmed a new text for a field.
    void fieldEdited(tessarin::TqzNodeField field, const QString &text);
    // "检查公式" with the formula as the box holds it.
    void formulaCheckRequested(const QString &formula);

private:
    void confirm(TqzNodeField field);

    QMap<TqzNodeField, QLineEdit *> m_lines;
    QMap<TqzNodeField, QString> m_shown; // what the node holds, put back on Esc or a refusal
    const TqzNode *m_node = nullptr;     // the node shown: another one drops a refusal's reason
};

} // namespace tessarin
