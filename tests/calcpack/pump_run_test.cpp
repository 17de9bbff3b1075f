// Runs of the project the calculation module delivers, as the program runs it: values typed
// into the pages by tag, the whole tree evaluated, results read back from the pages. The
// figures come from pump_check.py, an independent calculation of the same method.

#include "packagedproject.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
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
    TqzRun run{project, excel, codes, host};

    PackagedRun()
    {
        QString why;
        const QByteArray document = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
        EXPECT_FALSE(document.isEmpty()) << why.toStdString();
        TqzProjectFile().loadBytes(document, QStringLiteral("packaged"), project, excel);
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
        {"defaults: water at 20 degC (the worked check)",
         {},
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
         {{"正常流量", 30},
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
         {{"操作温度", 95},
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
        EXPECT_EQ(result.steps, 6 + 27); // the root, the groups and every result
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
        {"zero flow", {{"正常流量", 0}}, "吸入摩擦系数", "the Reynolds number must be positive"},
        {"negative suction diameter",
         {{"吸入管内径", -100}},
         "吸入流速",
         "the inner diameter must be a positive number"},
        {"zero viscosity", {{"粘度", 0}}, "吸入雷诺数", "Divide by zero"},
        {"a motor above 355 kW",
         {{"正常流量", 500}, {"排出容器压力", 3.0}},
         "电机额定功率",
         "above 355 kW there is no standard motor size"},
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

} // namespace
} // namespace tessarin
