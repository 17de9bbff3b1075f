// The run pipeline driven headless: the step log line by line, progress, normalisation, value
// substitution, namesakes, write-back, and the orderly end of runs that cannot finish.

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

} // namespace
