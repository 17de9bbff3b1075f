// The project check: each kind of fault planted in a small project is found on the right node
// or cell and nothing else is; the packaged pump project has no errors; hostile trees end.

#include "projectcheck.h"

#include "packagedproject.h"
#include "projectdocument.h"
#include "projecttree.h"
#include "qzproject.h"
#include "qzworkbook.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

using namespace tessarin;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct Node
{
    int depth;
    QString name;
    QString script = {};
    QString value = {};
    QString caption = {};
};

struct Cell
{
    QString tag;
    QString text = {};
};

// (kind, severity, node, cell) of a finding.
using Seen = std::tuple<QString, QString, QString, QString>;

struct Small
{
    ProjectDocument doc;

    Small(const std::vector<Node> &outline, const std::vector<Cell> &cells)
    {
        TqzProjectTree &tree = *doc.project().TreeView;
        std::vector<QModelIndex> parents;
        for (const Node &row : outline) {
            auto node = std::make_unique<TqzNode>();
            node->Name = row.name;
            node->Script = row.script;
            node->Value = row.value;
            node->Caption = row.caption;
            parents.resize(static_cast<size_t>(row.depth));
            parents.push_back(
                tree.appendNode(std::move(node), row.depth ? parents.back() : QModelIndex()));
        }
        doc.workbook().PageNames = QStringList{QStringLiteral("数据表")};
        TqzReportPage *page = doc.workbook().AddPage();
        page->NewTable(2, static_cast<int>(std::max<size_t>(cells.size(), 1)));
        for (int i = 0; i < static_cast<int>(cells.size()); ++i) {
            page->SetTagID(i, 1, cells[static_cast<size_t>(i)].tag);
            page->SetCallText(i, 1, cells[static_cast<size_t>(i)].text);
        }
    }

    QStringList state() const
    {
        QStringList out;
        const TqzProjectTree &tree = *doc.project().TreeView;
        for (int i = 0; i < tree.count(); ++i)
            out << tree.nodeAt(i)->Name + '=' + tree.nodeAt(i)->Value;
        for (int k = 0; k < doc.workbook().pageCount(); ++k)
            out << doc.workbook().page(k)->SaveToText();
        return out;
    }
};

std::set<Seen> seen(const ProjectCheckResult &r)
{
    std::set<Seen> out;
    for (const ProjectFinding &f : r.findings)
        out.insert({f.kind, f.severity, f.node, f.cell});
    return out;
}

const QString E = QStringLiteral("error");
const QString W = QStringLiteral("warning");

// The nodes under one top-level item, as "运行工程" runs them all.
std::vector<Node> rooted(std::vector<Node> nodes)
{
    for (Node &n : nodes)
        ++n.depth;
    nodes.insert(nodes.begin(), Node{0, "R"});
    return nodes;
}

// Inputs A and B, shown and used by the result C = A*B: nothing to find.
const std::vector<Node> kBase = rooted({{0, "C", "A*B"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}});
const std::vector<Cell> kBaseCells = {{"A", "2"}, {"B", "3"}, {"C"}};

struct Case
{
    const char *what;
    std::vector<Node> nodes;
    std::vector<Cell> cells;
    std::set<Seen> expected;
};

TEST(ProjectCheck, FindsEachPlantedFaultAndNothingElse)
{
    const std::vector<Case> cases = {
        {"sound", kBase, kBaseCells, {}},
        {"a Chinese name no node has, and an ASCII one the interpreter does not know",
         rooted({{0, "C", "A*B*流量"}, {0, "D", "A+zz"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}}),
         {{"A", "2"}, {"B", "3"}, {"C"}, {"D"}},
         {{"unknown-name", E, "流量", ""}, {"unknown-name", E, "zz", ""}}},
        {"a later sibling computed after the formula that uses it; a child using its parent",
         {{0, "G"},
          {1, "C", "A*B"},
          {1, "D", "C*2"},
          {1, "P", "A+1"},
          {2, "Q", "P*2"},
          {1, "A", {}, "2"},
          {1, "B", {}, "3"}},
         {{"A", "2"}, {"B", "3"}, {"D"}, {"Q"}},
         {{"used-before-computed", E, "D", ""}, {"used-before-computed", E, "Q", ""}}},
        {"a name only a later top-level subtree holds",
         {{0, "R"}, {1, "C", "A*B+X"}, {1, "A", {}, "2"}, {1, "B", {}, "3"}, {0, "X", "1+1"}},
         kBaseCells,
         {{"used-before-computed", E, "C", ""}}},
        {"a formula that does not compile, and one that depends on it is not blamed",
         rooted({{0, "D", "C+1"}, {0, "C", "A*(B"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}}),
         {{"A", "2"}, {"B", "3"}, {"C"}, {"D"}},
         {{"compile-error", E, "C", ""}}},
        {"the value typed into a page, not the node's own, makes the formula fail",
         rooted({{0, "C", "A/B"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}}),
         {{"A", "2"}, {"B", "0"}, {"C"}},
         {{"compile-error", E, "C", ""}}},
        {"two nodes share a name (letter case aside) and two a code",
         rooted({{0, "C", "A*B", {}, "Q"},
                 {0, "A", {}, "2", "Q"},
                 {0, "B", {}, "3"},
                 {0, "b", {}, "3"}}),
         kBaseCells,
         {{"duplicate-name", W, "b", ""}, {"duplicate-code", W, "A", ""}}},
        {"a namesake leaf that stands for its earlier subtree is no duplicate",
         {{0, "R"}, {1, "S", "A*2"}, {2, "A", {}, "2"}, {1, "T", "S+1"}, {1, "S", "S"}},
         {{"A", "2"}, {"T"}},
         {}},
        {"an input no cell shows, a tag no node has, a result cell over an input",
         kBase,
         {{"A", "2"}, {"[2][0][0][B]", "3"}, {"C"}, {"ZZ"}},
         {{"result-cell-without-formula", W, "B", "line 2, cell 2"},
          {"tag-without-node", W, "ZZ", "line 4, cell 2"}}},
        {"an input with no cell, and one no formula uses",
         rooted({{0, "C", "A*B"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}, {0, "E", {}, "1"}}),
         {{"A", "2"}, {"C"}, {"E", "1"}},
         {{"input-not-shown", W, "B", ""}, {"unused-input", W, "E", ""}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Small project(c.nodes, c.cells);
        const QStringList before = project.state();
        const ProjectCheckResult r = checkProject(project.doc.project(), project.doc.workbook());
        EXPECT_EQ(seen(r), c.expected);
        EXPECT_TRUE(r.notChecked.isEmpty()) << r.notChecked.join('\n').toStdString();
        EXPECT_EQ(r.hasErrors(),
                  std::any_of(c.expected.begin(), c.expected.end(), [](const Seen &s) {
                      return std::get<1>(s) == E;
                  }));
        // The check leaves values and pages as they were, and finds the same again.
        EXPECT_EQ(project.state(), before);
        const ProjectCheckResult again
            = checkProject(project.doc.project(), project.doc.workbook());
        ASSERT_EQ(again.findings.size(), r.findings.size());
        for (qsizetype k = 0; k < r.findings.size(); ++k) {
            EXPECT_EQ(again.findings[k].message, r.findings[k].message);
            EXPECT_FALSE(r.findings[k].message.isEmpty());
            const bool onCell = !r.findings[k].cell.isEmpty();
            EXPECT_EQ(onCell ? r.findings[k].page : QString(), onCell ? "数据表" : "");
            EXPECT_EQ(onCell, r.findings[k].item < 0);
        }
    }
}

TEST(ProjectCheck, PackagedPumpProjectHasNoErrors)
{
    QString why;
    const QByteArray bytes = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
    ASSERT_FALSE(bytes.isEmpty()) << why.toStdString();
    ProjectDocument doc;
    doc.loadBytes(bytes, QStringLiteral("packaged"));
    const ProjectCheckResult r = checkProject(doc.project(), doc.workbook());
    for (const ProjectFinding &f : r.findings)
        EXPECT_NE(f.severity, E) << f.kind.toStdString() << ' ' << f.message.toStdString();
    EXPECT_TRUE(r.notChecked.isEmpty());
}

// A leaf that leads back to its own ancestor, and 100,000 nodes of namesakes nested into each
// other (each top-level item holds a stand-in for the one before): both end, the second saying
// that it stopped where a run would.
TEST(ProjectCheck, HostileTreesEnd)
{
    {
        Small cycle({{0, "R", "A+1"}, {1, "A", {}, "1"}, {1, "X"}, {2, "R", "R"}}, {{"A", "1"}});
        const ProjectCheckResult r = checkProject(cycle.doc.project(), cycle.doc.workbook());
        EXPECT_TRUE(r.notChecked.isEmpty());
    }
    std::vector<Node> nested;
    for (int k = 0; k < 50'000; ++k) {
        nested.push_back({0, QStringLiteral("T%1").arg(k), "1"});
        nested.push_back({1, QStringLiteral("T%1").arg(k > 0 ? k - 1 : 0), "1"});
    }
    {
        // With no time left for evaluating, a formula that would fail is left unchecked, and
        // the check says so instead of passing it.
        Small late(rooted({{0, "C", "A*(B"}, {0, "A", {}, "2"}, {0, "B", {}, "3"}}), kBaseCells);
        ProjectCheckOptions none;
        none.evaluationBudgetMs = -1;
        const ProjectCheckResult r = checkProject(late.doc.project(), late.doc.workbook(), none);
        EXPECT_TRUE(r.findings.isEmpty());
        ASSERT_EQ(r.notChecked.size(), 1);
        EXPECT_TRUE(r.notChecked[0].contains("未检查"));
    }
    Small big(nested, {});
    ProjectCheckOptions options;
    options.evaluationBudgetMs = 2'000;
    const ProjectCheckResult r = checkProject(big.doc.project(), big.doc.workbook(), options);
    ASSERT_FALSE(r.notChecked.isEmpty());
    EXPECT_TRUE(r.notChecked.join('\n').contains("上限"));
}

} // namespace
