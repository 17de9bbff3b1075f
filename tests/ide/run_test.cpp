// The run pipeline driven headless: the step log line by line, progress, normalisation, value
// substitution, namesakes, write-back, and the orderly end of runs that cannot finish.

#include "error.h"
#include "ide_support.h"
#include "programdir.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tessarin;
using namespace tessarin::test;

namespace {

const QRegularExpression kTimeLine(QStringLiteral("^编译时间: \\d+ms$"));

TEST(Run, LogsEveryStepExactlyAndWritesResultsBack)
{
    RunFixture f;
    f.setNodes({{0,
                 QStringLiteral("功率"),
                 QStringLiteral("流量*扬程"),
                 QString(),
                 QStringLiteral("N"),
                 QStringLiteral("kW")},
                {1, QStringLiteral("流量"), QString(), QStringLiteral("1"), QStringLiteral("Q")},
                {1, QStringLiteral("扬程"), QString(), QStringLiteral("3.5"), QStringLiteral("H")},
                {1, QStringLiteral("效率"), QStringLiteral("main"), QStringLiteral("x")}});
    f.addPage({{QStringLiteral("流量"), QStringLiteral("2")},
               {QStringLiteral("[1][1][0][功率]"), QString()}});

    const TqzRunResult r = f.run.runProject();

    EXPECT_EQ(f.logWithoutTime(),
              (QStringList{QStringLiteral("正在从报表中获取流程数据..."),
                           QStringLiteral("初始化流程取值..."),
                           QStringLiteral("开始编译流程..."),
                           QStringLiteral("第1步-----计算: 功率"),
                           QStringLiteral("   中文脚本: 流量*扬程"),
                           QStringLiteral("   列计算式: Q*H"),
                           QStringLiteral("   代入数据: 2.0*3.5"),
                           QStringLiteral("  编译成功 解得: N = 7.0 (kW)"),
                           QStringLiteral("  "),
                           QStringLiteral("发送编译结果给报表..."),
                           QStringLiteral("编译完毕")}));
    EXPECT_TRUE(kTimeLine.match(f.host.log.last()).hasMatch()) << f.host.log.last().toStdString();
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.steps, 1);
    EXPECT_EQ(r.failedSteps, 0);
    // Maximum 3, four visits (the "main" item is visited but not logged), then the end.
    EXPECT_EQ(f.host.progress,
              (std::vector<std::pair<int, int>>{{0, 3}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 0}}));
    EXPECT_EQ(f.host.busy, 0);
    EXPECT_EQ(f.host.busyCalls, 1);
    EXPECT_EQ(f.excel.GetTagValue(QStringLiteral("功率")), QStringLiteral("7.0"));
    EXPECT_EQ(f.excel.GetTagValue(QStringLiteral("流量")), QStringLiteral("2.0"));
    EXPECT_EQ(f.values(),
              (QStringList{QStringLiteral("7.0"),
                           QStringLiteral("2.0"),
                           QStringLiteral("3.5"),
                           QStringLiteral("x")}));
}

// Values as the run normalises them, for leaves without a script unless noted.
TEST(Run, NormalisesOnlyIntegerLiteralsAndScriptedParents)
{
    struct Case
    {
        QString value;
        QString expected;
    };
    const std::vector<Case> leaves = {
        {"7", "7.0"},
        {"-12", "-12.0"},
        {"+3", "+3.0"},
        {" 12 ", "12.0"},
        {"007", "007.0"},
        {"7.5", "7.5"},
        {"1E-3", "1E-3"},
        {"2e5", "2e5"},
        {"-1.5e+2", "-1.5e+2"},
        {"", ""},
        {"abc", "abc"},
        {"12abc", "12abc"},
        {"-", "-"},
        {"1 2", "1 2"},
        {".5", ".5"},
        {"5.", "5."},
    };
    RunFixture f;
    std::vector<NodeRow> outline;
    outline.push_back({0, "P", "A+1", "5"}); // parent with a script: 0.0
    outline.push_back({1, "Q", "", "5"});    // parent without a script: unchanged
    outline.push_back({2, "R", "1+1", "9"}); // leaf with a script: unchanged
    for (size_t i = 0; i < leaves.size(); ++i)
        outline.push_back({0, QStringLiteral("L%1").arg(i), QString(), leaves[i].value});
    f.setNodes(outline);
    f.run.NormaliseValues();
    EXPECT_EQ(f.node(0)->Value, "0.0");
    EXPECT_EQ(f.node(1)->Value, "5");
    EXPECT_EQ(f.node(2)->Value, "9");
    for (size_t i = 0; i < leaves.size(); ++i)
        EXPECT_EQ(f.node(static_cast<int>(i) + 3)->Value, leaves[i].expected)
            << "value \"" << leaves[i].value.toStdString() << "\"";
}

// Negative values and results enter formulas in parentheses; exponent forms stay numbers.
TEST(Run, SubstitutesNegativeAndExponentValuesSoTheyEvaluate)
{
    struct Case
    {
        QString script;
        QString substituted;
        QString result;
    };
    const std::vector<Case> cases = {
        {"A-B", "5.0-(-3.5)", "8.5"},
        {"-B", "-(-3.5)", "3.5"},
        {"A*B", "5.0*(-3.5)", "-17.5"},
        {"E*1000", "1E-3*1000", "1.0"},
        {"A-D", "5.0-(-2.0)", "7.0"}, // D is a negative result of an earlier step
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        RunFixture f;
        f.setNodes({{0, "T", c.script, ""},
                    {1, "A", "", "5"},
                    {1, "B", "", "-3.5"},
                    {1, "E", "", "1E-3"},
                    {1, "D", "1.0-3.0", ""}});
        const TqzRunResult r = f.run.runProject();
        EXPECT_EQ(r.failedSteps, 0);
        EXPECT_TRUE(f.host.log.contains("   代入数据: " + c.substituted))
            << f.host.log.join('\n').toStdString();
        EXPECT_EQ(f.node(0)->Value, c.result);
        EXPECT_EQ(f.node(2)->Value, "-3.5"); // the node keeps its plain text
    }
}

TEST(Run, FailedStepLeavesNoStaleResultAndRunGoesOn)
{
    RunFixture f;
    // Evaluated from the last item up: A fails, then T which uses it, then U which uses T.
    // B's text on the page holds a U+FFFF, which must not hide the failed A behind it.
    f.setNodes({{0, "U", "T*2", "9"},
                {1, "T", "B+A+1", "old"},
                {2, "A", "1/0.0", "4"},
                {2, "B", "", "2"}});
    f.addPage({{"A", "4"}, {"T", "5"}, {"U", "9"}, {"B", QString(QChar(0xFFFF))}});
    const TqzRunResult r = f.run.runProject();
    EXPECT_EQ(r.steps, 3);
    EXPECT_EQ(r.failedSteps, 3);
    const QStringList log = f.logWithoutTime();
    const int failure
        = static_cast<int>(log.indexOf(QRegularExpression("^  编译失败 错误信息: .+")));
    ASSERT_GE(failure, 0) << log.join('\n').toStdString();
    EXPECT_EQ(log[failure - 1], "   代入数据: 1/0.0");
    // A formula using a failed result is not evaluated with the old value; it fails naming
    // what it depends on, and so on down the chain. No result is left in a node or on a page.
    EXPECT_TRUE(log.contains("  编译失败 错误信息: 引用的 A 在本次运行中计算失败"))
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("  编译失败 错误信息: 引用的 T 在本次运行中计算失败"));
    EXPECT_FALSE(log.contains("   代入数据: 4+1"));
    for (int i : {0, 1, 2})
        EXPECT_EQ(f.node(i)->Value, "") << i;
    for (const char *name : {"A", "T", "U"})
        EXPECT_EQ(f.excel.GetTagValue(name), "") << name;
    EXPECT_EQ(log.last(), "编译完毕");
}

// A formula that grows too long once its names are replaced fails its own step, whether the
// engine refuses to substitute it or the interpreter refuses to evaluate it.
TEST(Run, OverlongSubstitutionFailsOnlyItsStep)
{
    RunFixture f;
    f.setNodes({{0, "T", "L+L", ""}, {1, "L", "", QString(70000, 'x')}, {0, "U", "2*3", ""}});
    f.host.selectItem(f.project.TreeView->itemAt(0));
    TqzRunResult r = f.run.runSelected();
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.failedSteps, 1);
    EXPECT_EQ(f.host.log.filter(QRegularExpression("^  编译失败 错误信息: .")).size(), 1);
    EXPECT_EQ(f.host.log[f.host.log.size() - 2], "编译完毕");
    EXPECT_EQ(f.node(0)->Value, ""); // no stale result
    f.host.selectItem(f.project.TreeView->itemAt(2));
    r = f.run.runSelected();
    EXPECT_EQ(f.node(2)->Value, "6");
}

// A leaf named like an earlier item runs that item's subtree in its place (numbered from 1
// again); one that leads back into its own ancestor ends with a line naming it.
TEST(Run, NamesakeLeavesRunTheEarlierSubtreeOnceAndEnd)
{
    {
        RunFixture f;
        f.setNodes({{0, "R", "X*2", ""},
                    {1, "X", "A+1", ""},
                    {2, "A", "", "1"},
                    {1, "Z", "", "0"},
                    {1, "X", "999", ""}});
        const TqzRunResult r = f.run.runProject();
        const QStringList steps = f.host.log.filter(QRegularExpression("^第"));
        EXPECT_EQ(steps,
                  (QStringList{"第1步-----计算: X", "第1步-----计算: X", "第2步-----计算: R"}));
        EXPECT_EQ(r.steps, 3);
        EXPECT_EQ(f.node(0)->Value, "4.0");
        EXPECT_EQ(f.node(4)->Value, "") << "the leaf's own script is not evaluated";
        EXPECT_EQ(f.host.progress,
                  (std::vector<std::pair<int, int>>{
                      {0, 4}, {1, 1}, {1, 1}, {1, 2}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 0}}));
    }
    {
        RunFixture f;
        f.setNodes(
            {{0, "X", "A+1", ""}, {1, "A", "", "1"}, {1, "B", "", "0"}, {1, "X", "A*10", ""}});
        const TqzRunResult r = f.run.runProject();
        EXPECT_FALSE(r.aborted);
        EXPECT_EQ(f.host.log.filter("跳过同名模块: X").size(), 1)
            << f.host.log.join('\n').toStdString();
        EXPECT_EQ(r.steps, 2);
        EXPECT_EQ(f.node(0)->Value, "2.0");
    }
    {
        // The item right before is not a namesake: the leaf is evaluated itself.
        RunFixture f;
        f.setNodes({{0, "T", "X+0", ""}, {1, "X", "", "1"}, {1, "X", "2+3", ""}});
        f.run.runProject();
        EXPECT_EQ(f.node(2)->Value, "5");
        EXPECT_FALSE(f.run.FindEarlierNamesake(f.project.TreeView->itemAt(2)).isValid());
        EXPECT_EQ(f.run.FindEarlierNamesake(f.project.TreeView->itemAt(2)), QModelIndex());
    }
}

// Namesake shapes from hostile files: a long chain of subtrees, each entered from a leaf of the
// next, runs to its end however long; subtrees nested into each other, each entered again from
// its own leaf, cost the square of the tree and end with a message once past the run's bound.
TEST(Run, NamesakeChainsRunToTheEndAndNestingsStopAtTheBound)
{
    struct Case
    {
        const char *shape;
        int size;
        bool aborted;
    };
    const std::vector<Case> cases
        = {{"chain", 100'000, false}, {"nested", 50, false}, {"nested", 2'000, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.shape) + " " + std::to_string(c.size));
        std::vector<NodeRow> outline;
        if (std::string(c.shape) == "chain") {
            // R > (A1 > Z), (A2 > leaf A1), ..., (An > leaf An-1).
            outline.push_back({0, "R", "", ""});
            for (int k = 1; k <= c.size; ++k) {
                outline.push_back({1, QStringLiteral("A%1").arg(k), "", ""});
                outline.push_back(k == 1 ? NodeRow{2, "Z", "2+3", ""}
                                         : NodeRow{2, QStringLiteral("A%1").arg(k - 1), "1", ""});
            }
        } else {
            // S1 > S2 > ... > Sn, each Sk's last child a leaf named Sk.
            for (int k = 1; k <= c.size; ++k)
                outline.push_back({k - 1, QStringLiteral("S%1").arg(k), "", ""});
            outline.push_back({c.size, "x", "", "1"});
            for (int k = c.size; k >= 1; --k)
                outline.push_back({k, QStringLiteral("S%1").arg(k), "1", ""});
        }
        RunFixture f;
        f.setNodes(outline);
        const TqzRunResult r = f.run.runProject();
        EXPECT_EQ(r.aborted, c.aborted) << r.abortMessage.toStdString();
        EXPECT_EQ(f.host.busy, 0);
        EXPECT_FALSE(f.run.isRunning());
        if (c.aborted) {
            EXPECT_TRUE(r.abortMessage.contains("计算量超出上限")) << r.abortMessage.toStdString();
            EXPECT_TRUE(r.abortMessage.contains("经同名模块 S"))
                << "names the namesake being entered: " << r.abortMessage.toStdString();
            EXPECT_LT(f.host.log.size(), RunWorkBase);
        } else if (std::string(c.shape) == "chain") {
            EXPECT_EQ(f.node(2)->Value, "5");
            EXPECT_EQ(f.host.log.filter("跳过同名模块").size(), c.size - 2);
        }
    }
}

TEST(Run, SubtreeRunStillNormalisesAndSendsTheWholeTree)
{
    RunFixture f;
    f.setNodes({{0, "S", "A+1", "9"},
                {1, "A", "", "1"},
                {0, "T", "B*2", "7"},
                {1, "B", "", "5"},
                {0, "B", "", "8"}});
    f.addPage({{"S", "9"}, {"B", "12"}, {"T", "7"}});
    const QModelIndex t = f.project.TreeView->itemAt(2);
    f.host.selectItem(t);
    const TqzRunResult r = f.run.runSelected();
    EXPECT_EQ(r.steps, 1);
    EXPECT_EQ(f.host.progress.front(), std::make_pair(0, 1));
    // Both items named B read 12 from the page; S outside the subtree is reset.
    EXPECT_EQ(f.values(), (QStringList{"0.0", "1.0", "24.0", "12.0", "12.0"}));
    EXPECT_EQ(f.excel.GetTagValue("S"), "0.0");
    EXPECT_EQ(f.excel.GetTagValue("B"), "12.0");
    EXPECT_EQ(f.excel.GetTagValue("T"), "24.0");

    // By page: the node named like the tab with a script; nothing for an unknown caption.
    f.host = RecordingHost();
    EXPECT_FALSE(f.run.runPage("nothing").started);
    EXPECT_TRUE(f.host.log.isEmpty());
    EXPECT_TRUE(f.run.runPage("S").started);
    EXPECT_EQ(f.node(0)->Value, "2.0");
}

// The run reads and writes all names in one pass per page; that must give what asking page by
// page and name by name gives, including empty cells, run buttons, repeated and unknown tags.
TEST(Run, BatchedExchangeMatchesTheExchangeByName)
{
    auto build = [](RunFixture &f) {
        f.addPage({{"A", ""}, {"B", "RUN"}, {"[1][1][0][c]", "c1"}, {"A", "a2"}, {"D", "d"}});
        f.addPage({{"A", "a3"}, {"B", "b"}, {"C", "c2"}, {"X", "x"}});
        for (TqzReport *page : f.excel.Pages)
            page->RunCaption = "RUN";
    };
    const QStringList names = {"A", "B", "C", "D", "E", "x", "X"};
    RunFixture one, batch;
    build(one);
    build(batch);
    QHash<QString, QString> answers;
    for (const QString &name : names)
        answers.insert(name, "stale");
    batch.excel.GetTagValues(answers);
    for (const QString &name : names)
        EXPECT_EQ(answers[name], one.excel.GetTagValue(name)) << name.toStdString();

    QHash<QString, QString> values;
    for (const QString &name : names) {
        values.insert(name, name + "!");
        one.excel.SetTagValue(name, name + "!");
    }
    values.insert("B", "RUN"); // a value that makes cells run buttons
    one.excel.SetTagValue("B", "RUN");
    batch.excel.SetTagValues(values);
    for (int p = 0; p < 2; ++p)
        for (int l = 0; l < one.excel.Pages[p]->lineCount(); ++l)
            EXPECT_EQ(batch.excel.Pages[p]->GetCallText(l, 0),
                      one.excel.Pages[p]->GetCallText(l, 0))
                << p << "/" << l;

    // A page with a tag that cannot be parsed refuses both, as by name.
    batch.addPage({{"[1]", ""}});
    EXPECT_THROW(batch.excel.SetTagValues(values), Error);
    EXPECT_THROW(batch.excel.GetTagValues(answers), Error);
}

TEST(Run, EmptyTreeDoesNothing)
{
    RunFixture f;
    for (auto start : {&TqzRun::runProject, &TqzRun::runSelected}) {
        const TqzRunResult r = (f.run.*start)();
        EXPECT_FALSE(r.started);
        EXPECT_TRUE(f.host.progress.empty());
        EXPECT_EQ(f.host.busyCalls, 0);
        EXPECT_TRUE(f.host.log.isEmpty());
    }
}

// Runs that cannot finish end in order: the message logged, progress ended, cursor restored,
// and the pages not written.
TEST(Run, EndsInOrderWhenStoppedOrFailing)
{
    const std::vector<NodeRow> outline
        = {{0, "T", "A+1", "x"}, {1, "A", "", "12"}, {1, "C", "A*2", ""}};
    auto checkOrderlyEnd = [](RunFixture &f, const TqzRunResult &r, const QString &why) {
        EXPECT_TRUE(r.aborted);
        EXPECT_TRUE(r.abortMessage.contains(why)) << r.abortMessage.toStdString();
        EXPECT_TRUE(f.host.log.contains("运行中止: " + r.abortMessage));
        EXPECT_FALSE(f.host.log.contains("编译完毕"));
        EXPECT_EQ(f.host.progress.back(), std::make_pair(2, 0));
        EXPECT_EQ(f.host.busy, 0);
        EXPECT_FALSE(f.run.isRunning());
    };
    {
        // A stop asked for while messages are processed; a second run asked for meanwhile is
        // refused without touching the selection.
        RunFixture f;
        f.setNodes(outline);
        f.addPage({{"A", "12"}, {"T", "page"}});
        TqzRunResult nested;
        bool runningSeen = false;
        f.host.onPump = [&] {
            runningSeen = f.run.isRunning();
            nested = f.run.runProject();
            f.run.requestStop();
        };
        const TqzRunResult r = f.run.runProject();
        checkOrderlyEnd(f, r, "停止");
        EXPECT_TRUE(runningSeen);
        EXPECT_TRUE(nested.refused);
        EXPECT_EQ(r.steps, 1);
        EXPECT_EQ(f.excel.GetTagValue("T"), "page");
        // The next run goes through.
        f.host.onPump = nullptr;
        EXPECT_FALSE(f.run.runProject().aborted);
        EXPECT_EQ(f.excel.GetTagValue("T"), "13.0");
    }
    {
        // A bracketed tag too short to parse: the read fails before any node changes.
        RunFixture f;
        f.setNodes(outline);
        f.addPage({{"[1]", "bad"}, {"A", "3"}});
        const TqzRunResult r = f.run.runProject();
        checkOrderlyEnd(f, r, "[1]");
        EXPECT_EQ(f.values(), (QStringList{"x", "12", ""}));
    }
    {
        // No interpreter: nothing read, normalised or written.
        QTemporaryDir empty;
        const QString previous = programDirectory();
        setProgramDirectory(empty.path());
        RunFixture f;
        f.setNodes(outline);
        f.addPage({{"A", "3"}, {"T", "page"}});
        const TqzRunResult r = f.run.runProject();
        setProgramDirectory(previous);
        checkOrderlyEnd(f, r, "scriptrt");
        EXPECT_TRUE(r.abortMessage.contains(empty.path())) << r.abortMessage.toStdString();
        EXPECT_EQ(f.values(), (QStringList{"x", "12", ""}));
        EXPECT_EQ(f.excel.GetTagValue("T"), "page");
        EXPECT_EQ(f.excel.GetTagValue("A"), "3");
        EXPECT_EQ(f.host.log.size(), 2); // why, and the time
    }
}

} // namespace
