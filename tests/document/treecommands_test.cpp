// The node-tree editor: every edit undoes and redoes to the exact tree, refusals change nothing,
// subtrees travel between projects, and a project saves its edited tree (and only then).

#include "treecommands.h"

#include "error.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzproject.h"
#include "qztranslate.h"
#include "qzworkbook.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QUndoStack>

#include <functional>

using namespace tessarin;

namespace {

// The tree as text: one line per node, indented by depth, with every field.
QString dump(const TqzProjectTree &tree)
{
    QString text;
    for (int i = 0; i < tree.count(); ++i) {
        int depth = 0;
        for (int p = tree.parentIndex(i); p >= 0; p = tree.parentIndex(p))
            ++depth;
        const TqzNode &n = *tree.nodeAt(i);
        text += QString(depth * 2, u' ') + n.Name + u'|' + n.Caption + u'|' + n.Script + u'|'
                + n.Value + u'|' + n.Unit + u'|' + n.Remark + u'\n';
    }
    return text;
}

// 面积 = 长度 * 宽度 over two inputs, and a second top node 周长 with its own input 边数.
struct Editing : ::testing::Test
{
    ProjectDocument doc;
    TqzTreeEditor editor{doc.project(), doc.undoStack()};
    TqzProjectTree &tree = *doc.project().TreeView;

    void SetUp() override
    {
        const QModelIndex area = add({}, "面积", "长度*宽度");
        add(area, "长度", {}, "2");
        add(area, "宽度", {}, "3");
        const QModelIndex perimeter = add({}, "周长", "2*(长度+宽度)");
        add(perimeter, "边数", {}, "4");
        doc.undoStack().clear();
    }
    QModelIndex add(const QModelIndex &parent, const QString &name, const QString &script = {},
                    const QString &value = {})
    {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        node->Script = script;
        node->Value = value;
        return tree.appendNode(std::move(node), parent);
    }
    QModelIndex at(int i) const { return tree.itemAt(i); }
};

TEST_F(Editing, EveryEditUndoesAndRedoesToTheSameTree)
{
    const QByteArray copied = branchToXml(tree, at(0)); // 面积 with its two inputs
    ProjectDocument other;
    TqzTreeEditor otherEditor{other.project(), other.undoStack()};
    struct Case
    {
        const char *what;
        std::function<QModelIndex(TqzTreeEditor &)> edit;
        const char *after; // the names in pre-order, depth shown by dots
    };
    const std::vector<Case> cases = {
        {"add child", [&](auto &e) { return e.addChild(at(0)); }, "面积 .长度 .宽度 .新节点1 周长 .边数"},
        {"add sibling", [&](auto &e) { return e.addSibling(at(1)); }, "面积 .长度 .新节点1 .宽度 周长 .边数"},
        {"add top", [&](auto &e) { return e.addChild({}); }, "面积 .长度 .宽度 周长 .边数 新节点1"},
        {"delete subtree", [&](auto &e) { e.remove(at(0)); return QModelIndex(); }, "周长 .边数"},
        {"move up", [&](auto &e) { return e.moveUp(at(3)); }, "周长 .边数 面积 .长度 .宽度"},
        {"move down", [&](auto &e) { return e.moveDown(at(1)); }, "面积 .宽度 .长度 周长 .边数"},
        {"indent", [&](auto &e) { return e.indent(at(2)); }, "面积 .长度 ..宽度 周长 .边数"},
        {"outdent", [&](auto &e) { return e.outdent(at(1)); }, "面积 .宽度 长度 周长 .边数"},
        {"drop into other", [&](auto &e) { return e.move(at(1), at(3), 0); }, "面积 .宽度 周长 .长度 .边数"},
        {"drop at end", [&](auto &e) { return e.move(at(0), {}, 5); }, "周长 .边数 面积 .长度 .宽度"},
        {"field", [&](auto &e) { e.setField(at(1), TqzNodeField::Remark, "实测"); return at(1); }, "面积 .长度 .宽度 周长 .边数"},
        {"rename", [&](auto &e) { e.setField(at(1), TqzNodeField::Name, "长"); return at(1); }, "面积 .长 .宽度 周长 .边数"},
    };
    const auto names = [this] {
        QStringList out;
        for (int i = 0; i < tree.count(); ++i) {
            int depth = 0;
            for (int p = tree.parentIndex(i); p >= 0; p = tree.parentIndex(p))
                ++depth;
            out << QString(depth, u'.') + tree.nodeAt(i)->Name;
        }
        return out.join(u' ');
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString before = dump(tree);
        c.edit(editor);
        EXPECT_EQ(names(), QString::fromUtf8(c.after));
        EXPECT_TRUE(editor.treeChanged());
        const QString after = dump(tree);
        doc.undoStack().undo();
        EXPECT_EQ(dump(tree), before);
        EXPECT_FALSE(editor.treeChanged());
        doc.undoStack().redo();
        EXPECT_EQ(dump(tree), after);
        doc.undoStack().undo();
    }

    // A subtree copied from one project goes into another whole, with its fields, as one step.
    otherEditor.paste(copied, {}, 0);
    EXPECT_EQ(dump(*other.project().TreeView), QStringLiteral("面积||长度*宽度|||\n  长度|||2||\n  宽度|||3||\n"));
    EXPECT_EQ(other.undoStack().count(), 1);
    other.undoStack().undo();
    EXPECT_EQ(other.project().TreeView->count(), 0);
}

TEST_F(Editing, RefusalsSayWhyAndChangeNothing)
{
    struct Case
    {
        std::function<void()> edit;
        const char *because; // a piece of the message
    };
    const std::vector<Case> cases = {
        {[&] { editor.setField(at(1), TqzNodeField::Name, ""); }, "不能为空"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, "2号"); }, "以数字开头"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, "长 度"); }, "空白"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, "长+度"); }, "“+”"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, QString(65, u'长')); }, "太长"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, "qr"); }, "sqrt"},
        {[&] { editor.setField(at(1), TqzNodeField::Name, "宽度"); }, "已有节点使用"},
        {[&] { editor.setField(at(1), TqzNodeField::Caption, "1L"); }, "编码"},
        {[&] { editor.setField(at(1), TqzNodeField::Value, "1\n2"); }, "换行"},
        {[&] { editor.move(at(0), at(1), 0); }, "子节点之下"},
        {[&] { editor.move(at(0), at(0), 0); }, "自己"},
        {[&] { editor.moveUp(at(0)); }, "最上面"},
        {[&] { editor.moveDown(at(2)); }, "最下面"},
        {[&] { editor.indent(at(0)); }, "不能降级"},
        {[&] { editor.outdent(at(0)); }, "不能升级"},
        {[&] { editor.remove({}); }, "没有选中"},
        {[&] { editor.paste(branchToXml(tree, at(3)), {}, 0); }, "周长"},
        {[&] { editor.paste("<html/>", {}, 0); }, "no nodes"},
        {[&] { editor.paste("<TVariables><TVariable Name=\"x\"", {}, 0); }, "clipboard"},
    };
    const QString before = dump(tree);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.because);
        try {
            c.edit();
            ADD_FAILURE() << "not refused";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.because)))
                << e.message().toStdString();
        }
        EXPECT_EQ(dump(tree), before);
        EXPECT_EQ(doc.undoStack().count(), 0);
    }
}

// Saving writes the tree only when it was edited; an unedited project keeps its bytes, and a
// project made from nothing saves and loads back whole.
TEST_F(Editing, SavesTheEditedTreeAndOnlyThen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("edited.flw");
    TqzProjectFile &file = doc.file();
    // A new project: the tree goes into a fresh document with the workbook.
    file.EditedTree = &doc.project();
    doc.workbook().AddPage();
    file.saveAs(path, doc.workbook());

    ProjectDocument reread;
    reread.loadFile(path);
    EXPECT_EQ(dump(*reread.project().TreeView), dump(tree));
    EXPECT_EQ(reread.workbook().pageCount(), 1);

    // Loaded and saved again without an edit: byte for byte, even when the writer would
    // differ (a foreign attribute on a node survives).
    QByteArray bytes = reread.file().Document;
    bytes.replace("<TVariable Name=\"长度\"", "<TVariable Foreign=\"1\" Name=\"长度\"");
    ProjectDocument foreign;
    foreign.loadBytes(bytes, "foreign");
    EXPECT_EQ(foreign.file().documentBytes(foreign.workbook()), bytes);

    // Edited: the node list is written anew and the rest of the document keeps its bytes.
    TqzTreeEditor edit{foreign.project(), foreign.undoStack()};
    edit.setField(foreign.project().TreeView->itemAt(1), TqzNodeField::Remark, "现场实测");
    foreign.file().EditedTree = &foreign.project();
    const QByteArray saved = foreign.file().documentBytes(foreign.workbook());
    EXPECT_FALSE(saved.contains("Foreign"));
    EXPECT_TRUE(saved.contains("Remark=\""));
    const qsizetype workbookAt = bytes.indexOf("<TqzExcel");
    EXPECT_EQ(saved.sliced(saved.indexOf("<TqzExcel")), bytes.sliced(workbookAt));
    ProjectDocument again;
    again.loadBytes(saved, "saved");
    EXPECT_EQ(again.project().TreeView->nodeAt(1)->Remark, QStringLiteral("现场实测"));
}

TEST_F(Editing, FormulaTrialShowsNumbersResultOrTheFaultyPlace)
{
    doc.fillCodeTable();
    const TqzFormulaTrial good = tryFormula(tree, doc.codeTable(), "长度*宽度+1");
    EXPECT_TRUE(good.succeeded) << good.error.toStdString();
    EXPECT_EQ(good.substituted, QStringLiteral("2*3+1"));
    EXPECT_EQ(good.result.toDouble(), 7.0);

    const TqzFormulaTrial bad = tryFormula(tree, doc.codeTable(), "长度*widthx");
    EXPECT_FALSE(bad.succeeded);
    EXPECT_FALSE(bad.error.isEmpty());
    EXPECT_EQ(bad.substituted.mid(bad.errorAt, bad.errorLength), QStringLiteral("widthx"));

    // A name without a value yet is named: "+2" would pass for a result.
    const TqzFormulaTrial empty = tryFormula(tree, doc.codeTable(), "周长+长度");
    EXPECT_EQ(empty.withoutValue, QStringList{QStringLiteral("周长")});
    EXPECT_EQ(tree.nodeAt(0)->Value, QString()); // nothing in the tree changed
}

} // namespace
