// Runs of the project the calculation module delivers, as the program runs it: values typed
// into the pages by tag, the whole tree evaluated, results read back from the pages. The
// figures come from pump_check.py, an independent calculation of the same method.

#include "dispformat.h"
#include "packagedproject.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QWidget>

#include <cmath>
#include <map>

namespace tessarin {
namespace {

class LogHost : public TqzRunHost
{
public:
    QStringList log;
    void clearLog() override { log.clear(); }
    void appendLog(const QString &line) override { log.append(line); }
};

// The packaged project loaded as the program's start-up loads it.
struct PackagedRun
{
    gridtest::ScopedPrinterLayer printer;
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzTranslate codes;
    LogHost host;
    TqzRun run{project, excel.workbook(), codes, host};

    PackagedRun()
    {
        QString why;
        const QByteArray document = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
        EXPECT_FALSE(document.isEmpty()) << why.toStdString();
        TqzProjectFile().loadBytes(document, QStringLiteral("packaged"), project, excel.workbook());
        for (int i = 0; i < project.TreeView->count(); ++i)
            codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
    }
    TqzRunResult runWith(const std::map<QString, double> &typed)
    {
        for (const auto &[name, value] : typed)
            excel.SetTagValue(name, QString::number(value, 'g', 15));
        return run.runProject();
    }
    // What the sheet shows under `name` after the run, as a number.
    double shown(const QString &name) { return excel.GetTagValue(name).toDouble(); }
    // The value a node holds after the run (groups have no cell of their own).
    double node(const QString &name)
    {
        for (int i = 0; i < project.TreeView->count(); ++i)
            if (project.TreeView->nodeAt(i)->Name == name)
                return project.TreeView->nodeAt(i)->Value.toDouble();
        ADD_FAILURE() << "no node " << name.toStdString();
        return 0;
    }
    // What the sheet shows in the first cell tagged `tag`, through its display format.
    QString displayed(const QString &tag)
    {
        for (TqzReport *page : excel.Pages)
            for (int l = 0; l < page->lineCount(); ++l)
                for (int c = 0; c < page->line(l)->cellCount(); ++c) {
                    const TReportCell *cell = page->line(l)->cell(c);
                    if (cell->FTagID == tag)
                        return formatCellText(cell->FCellText, cell->FCellDispFormat);
                }
        ADD_FAILURE() << "no cell " << tag.toStdString();
        return {};
    }
    QString failures() const { return host.log.filter(QStringLiteral("编译失败")).join('\n'); }
    QStringList log() const { return host.log; }
};

struct Case
{
    const char *name;
    std::map<QString, double> typed;
    std::map<QString, double> expected;
};

const double rhoWater95 = 961.8770026515544;
const double muWater95 = 0.29435052410272405;
const double psatWater95 = 84.60893854939042;

TEST(PumpRun, MatchesTheIndependentCalculation)
{
    const Case cases[] = {
        {"water at 20 degC typed (the worked check)",
         {{"物性按水计算", 0}},
         {{"额定流量", 55.0},
          {"吸入流速", 1.9452270822342763},
          {"吸入雷诺数", 193784.99735391763},
          {"吸入摩擦系数", 0.018777011147770837},
          {"排出管摩擦压降", 113.24569297976801},
          {"泵吸入压力", 0.016089461133149977},
          {"泵排出压力", 0.8951861644147681},
          {"计算扬程", 89.80456432695982},
          {"额定扬程", 94.29479254330782},
          {"轴功率", 21.695655818168138},
          {"电机功率系数", 1.25},
          {"电机计算功率", 27.11956977271017},
          {"电机额定功率", 30},
          {"比转数", 43.98242722578386},
          {"有效汽蚀余量", 11.755591407872618},
          {"汽蚀校核", 1}}},
        {"viscous oil, laminar on both lines",
         {{"物性按水计算", 0},
          {"粘度修正", 0},
          {"正常流量", 30},
          {"密度", 880},
          {"粘度", 120},
          {"饱和蒸汽压", 1.0},
          {"排出管内径", 80},
          {"泵效率", 45}},
         {{"吸入雷诺数", 855.8999161830816},
          {"吸入摩擦系数", 0.074775097870567},
          {"排出雷诺数", 1069.8748952288522},
          {"排出摩擦系数", 0.05982007829646712},
          {"排出管摩擦压降", 120.3609257132731},
          {"泵排出压力", 0.8854937797132731},
          {"额定扬程", 106.33852298303043},
          {"轴功率", 18.693597903080857},
          {"电机额定功率", 30},
          {"比转数", 31.131685336009788},
          {"有效汽蚀余量", 12.958783562517413},
          {"汽蚀校核", 1}}},
        {"hot water at 95 degC from an open tank: suction below atmosphere, NPSH fails",
         {{"物性按水计算", 0},
          {"操作温度", 95},
          {"密度", rhoWater95},
          {"粘度", muWater95},
          {"饱和蒸汽压", psatWater95},
          {"吸入液面标高", 1.0}},
         {{"吸入雷诺数", 635660.2221245439},
          {"吸入管摩擦压降", 5.671644771780303},
          {"泵吸入压力", -0.00295524921775387},
          {"泵排出压力", 0.8793511505751697},
          {"计算扬程", 93.53609018646559},
          {"轴功率", 21.774869482068947},
          {"电机额定功率", 30},
          {"有效汽蚀余量", 1.458827199205967},
          {"汽蚀余量裕度", 1.458827199205967 - 3.0},
          {"汽蚀校核", 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PackagedRun r;
        const TqzRunResult result = r.runWith(c.typed);
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.aborted) << result.abortMessage.toStdString();
        EXPECT_EQ(result.failedSteps, 0) << r.failures().toStdString();
        EXPECT_EQ(result.steps, 9 + 109); // the root, the groups and every formula
        for (const auto &[name, value] : c.expected)
            EXPECT_NEAR(r.shown(name), value, std::fabs(value) * 1e-9 + 1e-12)
                << name.toStdString();
        // Laminar lines follow Hagen-Poiseuille, f = 64/Re, whatever the roughness.
        for (const char *side : {"吸入", "排出"}) {
            const double re = r.shown(QString::fromUtf8(side) + "雷诺数");
            if (re < 2000) {
                EXPECT_NEAR(r.shown(QString::fromUtf8(side) + "摩擦系数"), 64 / re, 1e-3 * 64 / re);
            }
        }
        // The groups carry their chief result.
        EXPECT_EQ(r.node("化工离心泵计算"), r.shown("电机额定功率"));
        EXPECT_EQ(r.node("汽蚀余量"), r.shown("有效汽蚀余量"));
        EXPECT_EQ(r.node("设计条件"), r.shown("额定流量"));
    }
}

// An impossible duty fails the step where it becomes impossible, with the reason in the log,
// and the motor cells of a fresh sheet stay empty instead of showing a plausible size.
TEST(PumpRun, ImpossibleDutiesFailWithAReason)
{
    const struct
    {
        const char *name;
        std::map<QString, double> typed;
        const char *firstFailure; // node of the first failed step
        const char *why;          // in its failure line
    } cases[] = {
        {"zero flow", {{"正常流量", 0}}, "额定流量", "正常流量须大于 0"},
        {"negative suction diameter", {{"吸入管内径", -100}}, "吸入流速", "吸入管内径须大于 0"},
        {"zero viscosity typed",
         {{"物性按水计算", 0}, {"粘度", 0}},
         "吸入雷诺数",
         "Divide by zero"},
        {"a motor above 355 kW",
         {{"正常流量", 2000},
          {"吸入管内径", 600},
          {"排出管内径", 500},
          {"排出容器压力", 15.0},
          {"曲线点数", 0}},
         "电机额定功率",
         "电机计算功率超过 10000 千瓦"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PackagedRun r;
        const TqzRunResult result = r.runWith(c.typed);
        EXPECT_GT(result.failedSteps, 0);
        const QStringList log = r.log();
        const qsizetype failed = log.indexOf(QRegularExpression(QStringLiteral(".*编译失败.*")));
        ASSERT_GT(failed, 4);
        EXPECT_EQ(log[failed - 4].section(QStringLiteral(": "), 1),
                  QString::fromUtf8(c.firstFailure));
        EXPECT_TRUE(log[failed].contains(QString::fromUtf8(c.why))) << log[failed].toStdString();
        EXPECT_EQ(r.excel.GetTagValue(QStringLiteral("电机额定功率")), QString());
        EXPECT_EQ(log.last().left(5), QStringLiteral("编译时间: ").left(5)); // the run ended
    }
}

// Each check shows on the sheet in words, and the step that needs it fails with the same
// words; what is computed from that step fails after it, naming it. A sound duty passes all.
TEST(PumpRun, FailedChecksShowTheirReasonAndStopWhatDependsOnThem)
{
    const struct
    {
        std::map<QString, double> typed;
        const char *check;
        const char *reason; // after "不合格: " on the sheet and in the failed step's line
        const char *step;   // the first step that fails
        const char *next;   // a step that fails for it, naming `step`
    } cases[] = {
        {{{"操作温度", 360}}, "物性校核", "按水计算时操作温度须在 0~350 ℃", "密度", "粘度"},
        {{{"物性按水计算", 2}}, "物性校核", "物性按水计算须为 0 或 1", "密度", "吸入雷诺数"},
        {{{"流量裕量系数", 0.9}}, "流量校核", "流量裕量系数须不小于 1", "额定流量", "吸入流速"},
        {{{"吸入管长度", -1}},
         "吸入管路校核",
         "管长、当量长度、压降不得为负",
         "吸入流速",
         "吸入雷诺数"},
        {{{"管壁粗糙度", 4.5}}, "排出管路校核", "0≤ε/d≤0.05", "排出流速", "排出雷诺数"},
        {{{"调节阀压降", -70}}, "排出管路校核", "各压降不得为负", "排出流速", "排出雷诺数"},
        {{{"操作温度", 120}, {"吸入液面标高", 6}, {"吸入最高液面标高", 7}},
         "吸入容器校核",
         "吸入容器绝压低于饱和蒸汽压",
         "泵吸入压力",
         "有效汽蚀余量"},
        {{{"吸入液面标高", -12}},
         "吸入压力校核",
         "泵入口绝压不高于饱和蒸汽压",
         "泵差压",
         "扬程校核"},
        {{{"吸入容器压力", 1.2}, {"吸入容器最高压力", 1.2}},
         "扬程校核",
         "本工况无需用泵",
         "计算扬程",
         "额定扬程"},
        {{{"扬程裕量系数", 0.95}},
         "扬程裕量校核",
         "扬程裕量系数须不小于 1",
         "额定扬程",
         "额定差压"},
        {{{"泵效率", 150}}, "效率校核", "泵效率须大于 0 且不大于 100 %", "轴功率", "电机计算功率"},
        {{{"泵效率", 0}}, "效率校核", "泵效率须大于 0 且不大于 100 %", "轴功率", "电机功率系数"},
        {{{"转速", -2950}}, "转速校核", "转速须大于 0", "粘度参数", "粘度修正校核"},
        {{{"级数", 1.5}}, "转速校核", "级数须为不小于 1 的整数", "粘度参数", "粘度修正校核"},
        {{{"物性按水计算", 0}, {"粘度", 3000}, {"正常流量", 5}, {"最小流量", 2}},
         "粘度修正校核",
         "粘度换算参数须小于 40",
         "流量修正系数",
         "清水当量流量"},
        {{{"关死扬程比", 0.9}}, "壳体压力校核", "关死扬程比须不小于 1", "关死扬程", nullptr},
        {{{"曲线点数", 2}},
         "泵曲线校核",
         "曲线点数须为 0 (无曲线) 或 3~7 的整数",
         "运行点流量",
         "运行点扬程"},
        {{{"曲线流量3", 15}}, "泵曲线校核", "流量逐点增大", "运行点流量", "运行点效率"},
        {{{"曲线流量5", 62}}, "泵曲线校核", "覆盖 120% 额定流量", "运行点流量", "运行点轴功率"},
        {{{"曲线效率5", 20}},
         "电机功率校核",
         "电机额定功率小于 120% 额定流量下的轴功率",
         nullptr,
         nullptr},
        {{{"吸入闸阀", 1.5}},
         "管件校核",
         "管件数量须为非负整数",
         "吸入管件阻力系数",
         "吸入管摩擦压降"},
        {{{"排出管公称直径", 110}},
         "管件校核",
         "公称直径与壁厚等级须为标准所列",
         "吸入管件阻力系数",
         "吸入管摩擦压降"},
        {{{"最小流量", 60}},
         "最小流量校核",
         "最小流量须大于 0 且不大于正常流量",
         "最小吸入流速",
         "最小吸入雷诺数"},
        {{{"正常流量", 2000},
          {"吸入管内径", 600},
          {"排出管内径", 500},
          {"排出容器压力", 15.0},
          {"曲线点数", 0}},
         "电机校核",
         "电机计算功率超过 10000 千瓦",
         "电机额定功率",
         "化工离心泵计算"},
    };
    const QStringList checks = {"物性校核",
                                "流量校核",
                                "吸入管路校核",
                                "排出管路校核",
                                "吸入容器校核",
                                "吸入压力校核",
                                "扬程校核",
                                "扬程裕量校核",
                                "效率校核",
                                "转速校核",
                                "电机校核",
                                "粘度修正校核",
                                "壳体压力校核",
                                "最小流量校核",
                                "泵曲线校核",
                                "电机功率校核",
                                "管件校核"};
    {
        PackagedRun sound;
        sound.runWith({});
        for (const QString &check : checks)
            EXPECT_EQ(sound.displayed(check), "合格") << check.toStdString();
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.check + std::string(" ") + c.reason);
        PackagedRun r;
        r.runWith(c.typed);
        const QString shown = r.displayed(QString::fromUtf8(c.check));
        EXPECT_TRUE(shown.startsWith("不合格: ")) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QString::fromUtf8(c.reason))) << shown.toStdString();
        for (const QString &other : checks) {
            if (other != QString::fromUtf8(c.check) && r.displayed(other).startsWith("不合格")) {
                ADD_FAILURE() << "also fails: " << other.toStdString();
            }
        }
        if (!c.step) { // a check that only warns
            EXPECT_EQ(r.failures(), QString());
            continue;
        }
        const QStringList log = r.log();
        const qsizetype failed = log.indexOf(QRegularExpression(QStringLiteral(".*编译失败.*")));
        ASSERT_GT(failed, 4);
        EXPECT_EQ(log[failed - 4].section(QStringLiteral(": "), 1), QString::fromUtf8(c.step));
        EXPECT_TRUE(log[failed].endsWith(": " + shown.mid(5))) << log[failed].toStdString();
        EXPECT_EQ(r.excel.GetTagValue(QString::fromUtf8(c.step)), QString());
        if (c.next) {
            const QString why
                = QStringLiteral("  编译失败 错误信息: 引用的 %1 在本次运行中计算失败")
                      .arg(QString::fromUtf8(c.step));
            bool found = false;
            for (qsizetype i = failed + 1; i + 4 < log.size() && !found; ++i)
                found = log[i].endsWith(QStringLiteral(": ") + QString::fromUtf8(c.next))
                        && log[i + 3] == why;
            EXPECT_TRUE(found) << c.next;
        }
    }
}

// What the title block of the data sheet says is repeated where the other sheets and the
// medium line show it, after a run.
TEST(PumpRun, TheOtherSheetsRepeatTheTitleBlock)
{
    PackagedRun r;
    const std::map<QString, QString> typed
        = {{"工程名称", "乙烯装置改造"}, {"位号", "P-101A"}, {"介质名称", "导热油"}};
    for (const auto &[tag, text] : typed)
        r.excel.Pages[0]->SetTagValue(tag, text);
    EXPECT_EQ(r.run.runProject().failedSteps, 0);
    std::map<QString, int> places;
    for (TqzReport *page : r.excel.Pages)
        for (int l = 0; l < page->lineCount(); ++l)
            for (int c = 0; c < page->line(l)->cellCount(); ++c) {
                const TReportCell *cell = page->line(l)->cell(c);
                if (const auto it = typed.find(cell->FTagID); it != typed.end()) {
                    EXPECT_EQ(cell->FCellText, it->second);
                    ++places[it->first];
                }
            }
    EXPECT_EQ(places, (std::map<QString, int>{{"工程名称", 5}, {"位号", 5}, {"介质名称", 2}}));
}

} // namespace
} // namespace tessarin
