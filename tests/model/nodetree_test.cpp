// Node elements, building the tree from a stored list, and the tree model's addressing.

#include "treehelpers.h"
#include "xmlio.h"

#include "error.h"

#include <QAbstractItemModelTester>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

QDomElement firstElement(const QDomDocument &doc)
{
    return doc.documentElement().firstChildElement();
}

QDomDocument parse(const QString &xml)
{
    return readXmlDocument(xml.toUtf8(), QStringLiteral("test"));
}

} // namespace

// --- Node element ----------------------------------------------------------------------------

TEST(NodeElement, EmptyElementGivesDefaultsAndMissingAttributesKeepFields)
{
    const QDomDocument doc = parse("<r><TVariable/><TVariable Name=\"b\"/></r>");
    TqzNode fresh;
    fresh.LoadFromXML(firstElement(doc));
    EXPECT_TRUE(fresh.Name.isEmpty() && fresh.Caption.isEmpty() && fresh.Script.isEmpty()
                && fresh.Value.isEmpty() && fresh.Unit.isEmpty());
    EXPECT_EQ(fresh.NodeID, 0);
    EXPECT_EQ(fresh.ParentID, 0);

    TqzNode used;
    used.Caption = "Q";
    used.NodeID = 4;
    used.LoadFromXML(firstElement(doc).nextSiblingElement());
    EXPECT_EQ(used.Name, "b");
    EXPECT_EQ(used.Caption, "Q");
    EXPECT_EQ(used.NodeID, 4);
}

TEST(NodeElement, FourChildFormOverridesAttributesInOrder)
{
    const QDomDocument doc = parse(
        "<r><TVariable Name=\"n\" Caption=\"attrC\" Value=\"attrV\" Unit=\"attrU\" "
        "Script=\"attrS\"><a Value=\"C\"/><b Value=\"V\"/><c Value=\"U\"/><d Value=\"S\"/>"
        "<e Value=\"ignored\"/></TVariable>"
        "<TVariable Caption=\"keepsC\" Unit=\"keepsU\"><x Value=\"C2\"/><y/></TVariable></r>");
    TqzNode full;
    full.LoadFromXML(firstElement(doc));
    EXPECT_EQ(full.Caption, "C");
    EXPECT_EQ(full.Value, "V");
    EXPECT_EQ(full.Unit, "U");
    EXPECT_EQ(full.Script, "S");

    // Two children: only Caption and Value are overridden; a child without "Value" empties.
    TqzNode partial;
    partial.LoadFromXML(firstElement(doc).nextSiblingElement());
    EXPECT_EQ(partial.Caption, "C2");
    EXPECT_EQ(partial.Value, "");
    EXPECT_EQ(partial.Unit, "keepsU");
}

TEST(NodeElement, WritesAllSevenAttributesInOrderEvenWhenEmpty)
{
    QDomDocument doc = newXmlDocument("UTF-8");
    QDomElement root = doc.createElement("r");
    doc.appendChild(root);
    QDomElement e = doc.createElement("TVariable");
    root.appendChild(e);
    TqzNode node;
    node.NodeID = -3;
    node.ParentID = 12;
    node.Unit = "m";
    node.SaveToXML(e);
    EXPECT_TRUE(writeXmlDocument(doc).contains(
        "<TVariable Name=\"\" NodeID=\"-3\" ParentID=\"12\" Caption=\"\" Script=\"\" Value=\"\" "
        "Unit=\"m\"/>"));
}

TEST(NodeElement, TextsWithMarkupAndLineBreaksSurviveWriteAndRead)
{
    TqzNode node;
    node.Name = "密度";
    node.Script = "if (a < b && c > \"x\") {\n\treturn 'y';\r\n}";
    node.Value = "  leading and trailing  ";
    QDomDocument doc = newXmlDocument("GB2312");
    QDomElement e = doc.createElement("TVariable");
    doc.appendChild(e);
    node.SaveToXML(e);

    const QDomDocument back = readXmlDocument(writeXmlDocument(doc), "round trip");
    TqzNode read;
    read.LoadFromXML(back.documentElement());
    EXPECT_EQ(read.Name, node.Name);
    EXPECT_EQ(read.Script, node.Script);
    EXPECT_EQ(read.Value, node.Value);
}

TEST(NodeElement, BadIntegerNamesAttributeAndTextAndLeavesNodeUnchanged)
{
    struct Case
    {
        const char *xml;
        const char *attribute;
        const char *text;
    };
    const Case cases[] = {
        {"<TVariable Name=\"n\" NodeID=\"abc\"/>", "NodeID", "abc"},
        {"<TVariable Name=\"n\" NodeID=\"1.5\"/>", "NodeID", "1.5"},
        {"<TVariable Name=\"n\" NodeID=\"\"/>", "NodeID", ""},
        {"<TVariable Name=\"n\" NodeID=\"2147483648\"/>", "NodeID", "2147483648"},
        {"<TVariable Name=\"n\" NodeID=\"1\" ParentID=\"0x10\"/>", "ParentID", "0x10"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.xml);
        const QDomDocument doc = parse(c.xml);
        TqzNode node;
        node.Name = "before";
        node.NodeID = 7;
        try {
            node.LoadFromXML(doc.documentElement());
            ADD_FAILURE() << "no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("\"%1\"").arg(c.attribute)))
                << e.what();
            EXPECT_TRUE(e.message().contains(QStringLiteral("\"%1\"").arg(c.text))) << e.what();
            EXPECT_TRUE(e.message().contains("line 1")) << e.what();
        }
        EXPECT_EQ(node.Name, "before");
        EXPECT_EQ(node.NodeID, 7);
    }
}

TEST(NodeElement, IntegersAcceptSignAndSurroundingBlanks)
{
    const QDomDocument doc = parse("<TVariable NodeID=\" -12 \" ParentID=\"+3\"/>");
    TqzNode node;
    node.LoadFromXML(doc.documentElement());
    EXPECT_EQ(node.NodeID, -12);
    EXPECT_EQ(node.ParentID, 3);
}

// --- Parent resolution ------------------------------------------------------------------------

struct ResolutionCase
{
    const char *label;
    std::vector<std::tuple<const char *, int, int>> nodes; // name, NodeID, ParentID
    const char *shape;
};

void PrintTo(const ResolutionCase &c, std::ostream *os)
{
    *os << c.label;
}

class ParentResolution : public ::testing::TestWithParam<ResolutionCase>
{
};

TEST_P(ParentResolution, BuildsTheExpectedTree)
{
    QString body;
    for (const auto &[name, id, parent] : GetParam().nodes)
        body += nodeXml(name, id, parent);
    TqzProject project;
    LoadProjectFromStream(project, projectXml(body));
    EXPECT_EQ(treeShape(*project.TreeView), GetParam().shape);
    EXPECT_EQ(project.TreeView->count(), static_cast<int>(GetParam().nodes.size()));
}

// The same list read through a DOM element must give the same tree.
TEST_P(ParentResolution, DomElementGivesTheSameTree)
{
    QString body;
    for (const auto &[name, id, parent] : GetParam().nodes)
        body += nodeXml(name, id, parent);
    const QDomDocument doc = readXmlDocument(projectXml(body), "test");
    TqzProject project;
    project.LoadNodes(doc.documentElement().firstChildElement());
    EXPECT_EQ(treeShape(*project.TreeView), GetParam().shape);
}

INSTANTIATE_TEST_SUITE_P(
    Model,
    ParentResolution,
    ::testing::Values(
        ResolutionCase{"SelfParent", {{"a", 1, 1}}, "a"},
        ResolutionCase{"UnknownParent", {{"a", 1, 7}, {"b", 2, 2}}, "a,b"},
        ResolutionCase{"ChildBeforeParent", {{"c", 2, 1}, {"a", 1, 1}, {"b", 3, 1}}, "a(c,b)"},
        ResolutionCase{"GrandchildFirst", {{"g", 3, 2}, {"c", 2, 1}, {"r", 1, 1}}, "r(c(g))"},
        ResolutionCase{"MutualParents", {{"a", 1, 2}, {"b", 2, 1}}, "b(a)"},
        ResolutionCase{"ThreeCycle", {{"a", 1, 3}, {"b", 2, 1}, {"c", 3, 2}}, "c(a(b))"},
        ResolutionCase{
            "DuplicateIds", {{"p", 5, 5}, {"q", 5, 5}, {"x", 6, 5}, {"y", 7, 5}}, "p(q,x,y)"},
        ResolutionCase{"NegativeIds", {{"a", -1, -1}, {"b", -2, -1}}, "a(b)"},
        ResolutionCase{
            "TopLevelOrderKept", {{"z", 9, 9}, {"k", 4, 1}, {"a", 1, 1}, {"y", 8, 8}}, "z,a(k),y"},
        ResolutionCase{
            "ParentAlsoChildOfLaterNode", {{"b", 2, 1}, {"a", 1, 3}, {"c", 3, 3}}, "c(a(b))"}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(ParentResolution, ListChildrenAreTakenWhateverTheirElementNames)
{
    TqzProject project;
    LoadProjectFromStream(project,
                          projectXml("  <Node Name=\"a\" NodeID=\"1\" ParentID=\"1\"/>\n"
                                     "  <!-- a comment -->\n"
                                     "  <X Name=\"b\" NodeID=\"2\" ParentID=\"1\"/>\n"));
    EXPECT_EQ(treeShape(*project.TreeView), "a(b)");
}

TEST(ParentResolution, LongReversedChainAndLongCycleLoadWithoutRecursionOrHang)
{
    const int n = 20000;
    QString chain;
    for (int i = n - 1; i >= 0; --i) // one chain, every child listed before its parent
        chain += nodeXml(QString("n%1").arg(i), i, i == 0 ? 0 : i - 1);
    TqzProject project;
    LoadProjectFromStream(project, projectXml(chain));
    const TqzProjectTree &tree = *project.TreeView;
    ASSERT_EQ(tree.count(), n);
    EXPECT_EQ(tree.lastDescendant(0), n - 1);
    EXPECT_EQ(tree.parentIndex(n - 1), n - 2);
    EXPECT_EQ(tree.nodeAt(n - 1)->Name, QString("n%1").arg(n - 1));

    QString cycle;
    for (int i = 0; i < n; ++i) // every node names the next as parent, the last names the first
        cycle += nodeXml(QString("c%1").arg(i), i, (i + 1) % n);
    LoadProjectFromStream(project, projectXml(cycle));
    ASSERT_EQ(tree.count(), n);
    EXPECT_EQ(tree.nodeAt(0)->Name, QString("c%1").arg(n - 1)); // the one left at the top
    EXPECT_EQ(tree.lastDescendant(0), n - 1);
}

// --- Tree model ------------------------------------------------------------------------------

TEST(ProjectTree, AbsoluteAddressingFollowsEveryChange)
{
    TqzProjectTree tree;
    QAbstractItemModelTester tester(&tree, QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto add = [&](const char *name, const QModelIndex &parent = {}) {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        return tree.appendNode(std::move(node), parent);
    };
    const QModelIndex a = add("a");
    const QModelIndex b = add("b");
    add("a1", a);
    const QModelIndex a2 = add("a2", a);
    add("a2x", a2);
    EXPECT_EQ(treeShape(tree), "a(a1,a2(a2x)),b");
    EXPECT_EQ(tree.absoluteIndex(b), 4);
    EXPECT_EQ(tree.lastDescendant(0), 3);
    EXPECT_EQ(tree.lastDescendant(4), 4);
    EXPECT_EQ(tree.parentIndex(3), 2);
    EXPECT_EQ(tree.childCount(0), 2);
    EXPECT_EQ(tree.data(tree.itemAt(3)).toString(), "a2x");
    EXPECT_EQ(tree.data(tree.itemAt(3), TqzProjectTree::NodeRole).value<TqzNode *>(),
              tree.nodeAt(3));

    // Growing an earlier subtree shifts everything after it.
    add("a3", a);
    EXPECT_EQ(tree.absoluteIndex(b), 5);
    EXPECT_EQ(tree.lastDescendant(0), 4);

    ASSERT_TRUE(tree.removeItem(a2));
    EXPECT_EQ(treeShape(tree), "a(a1,a3),b");
    EXPECT_EQ(tree.parentIndex(2), 0);
    EXPECT_EQ(tree.itemAt(2).row(), 1);

    EXPECT_EQ(tree.nodeAt(99), nullptr);
    EXPECT_EQ(tree.lastDescendant(-1), -1);
    EXPECT_FALSE(tree.itemAt(4).isValid());
    tree.clear();
    EXPECT_EQ(tree.count(), 0);
    EXPECT_EQ(tree.rowCount(), 0);
}

TEST(ProjectTree, ProjectBoundToAnOuterTreeFillsItAndClearsItWhenDestroyed)
{
    TqzProjectTree tree;
    {
        TqzProject project(&tree);
        EXPECT_EQ(project.TreeView, &tree);
        LoadProjectFromStream(project, projectXml(nodeXml("a", 1, 1) + nodeXml("b", 2, 1)));
        EXPECT_EQ(treeShape(tree), "a(b)");
    }
    EXPECT_EQ(tree.count(), 0);
    EXPECT_EQ(tree.rowCount(), 0);
}

TEST(ProjectTree, ResetRefusesParentListsThatAreNotAForest)
{
    TqzProjectTree tree;
    auto nodes = [](int n) {
        std::vector<std::unique_ptr<TqzNode>> v;
        for (int i = 0; i < n; ++i)
            v.push_back(std::make_unique<TqzNode>());
        return v;
    };
    tree.resetNodes(nodes(2), {-1, 0});
    ASSERT_EQ(tree.count(), 2);
    EXPECT_THROW(tree.resetNodes(nodes(2), {1, 0}), Error);
    EXPECT_THROW(tree.resetNodes(nodes(2), {-1, 5}), Error);
    EXPECT_THROW(tree.resetNodes(nodes(2), {-1}), Error);
    EXPECT_EQ(tree.count(), 2); // unchanged
}
