// The packaged pump calculation through the compiled-case runner of the sweeps: 1,000 random
// cases, plausible and absurd, give exactly the node values and failed steps of the logged run.

#include "caserunner.h"
#include "packagedproject.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <random>

namespace tessarin {
namespace {

struct Loaded
{
    gridtest::ScopedPrinterLayer printer;
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzTranslate codes;
    TqzRunHost host;
    TqzRun run{project, excel.workbook(), codes, host};

    explicit Loaded(const QByteArray &document)
    {
        TqzProjectFile().loadBytes(document, QStringLiteral("packaged"), project, excel.workbook());
        for (int i = 0; i < project.TreeView->count(); ++i)
            codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
    }
    QStringList names() const
    {
        QStringList out;
        for (int i = 0; i < project.TreeView->count(); ++i)
            if (!out.contains(project.TreeView->nodeAt(i)->Name))
                out << project.TreeView->nodeAt(i)->Name;
        return out;
    }
    QString value(const QString &name) const
    {
        for (int i = 0; i < project.TreeView->count(); ++i)
            if (project.TreeView->nodeAt(i)->Name == name)
                return project.TreeView->nodeAt(i)->Value;
        return {};
    }
};

TEST(PumpCases, ThousandRandomCasesMatchTheLoggedRun)
{
    QString why;
    const QByteArray document = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
    ASSERT_FALSE(document.isEmpty()) << why.toStdString();
    // The method's working domain, a little beyond: water properties from the temperature or
    // typed for another liquid, flows, speeds and lines from small to large, vessel pressures
    // up to a few bar; now and then an absurd entry.
    struct Range
    {
        const char *name;
        double low, high;
        bool whole; // typed as a whole number
    };
    const Range ranges[] = {{"正常流量", 18, 62, false},
                            {"物性按水计算", 0.7, 2.05, true},
                            {"操作温度", 2, 110, false},
                            {"密度", 600, 1400, false},
                            {"饱和蒸汽压", 0.5, 90, false},
                            {"粘度", 0.2, 60, false},
                            {"转速", 1450, 3600, false},
                            {"泵效率", 25, 88, false},
                            {"吸入管内径", 50, 250, false},
                            {"排出容器压力", 0.15, 0.8, false},
                            {"吸入液面标高", 0.5, 5.2, false}};
    QStringList inputs;
    for (const Range &r : ranges)
        inputs << QString::fromUtf8(r.name);
    const QStringList absurd = {"0", "-5", "abc", "", "1e308", "-0.0", "7", "1E-9"};

    Loaded fast(document);
    const QStringList names = fast.names();
    TqzCaseRunner runner(fast.project, fast.excel.workbook(), fast.codes, inputs, names);
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> unit(0, 1);
    int failing = 0;
    for (int c = 0; c < 1000; ++c) {
        QStringList typed;
        for (const Range &r : ranges) {
            if (unit(random) < 0.01) {
                typed << absurd[qsizetype(random() % absurd.size())];
                continue;
            }
            const double v = r.low + (r.high - r.low) * unit(random);
            // Some whole numbers: typed without a point they are normalised differently.
            typed << (r.whole || unit(random) < 0.2
                          ? QString::number(std::floor(v))
                          : QString::number(v, 'g', 1 + int(random() % 16)));
        }
        Loaded logged(document);
        for (qsizetype k = 0; k < inputs.size(); ++k)
            logged.excel.SetTagValue(inputs[k], typed[k]);
        const TqzRunResult expected = logged.run.runProject();
        QStringList values;
        for (const QString &name : names)
            values << logged.value(name);
        const TqzCaseOutcome out = runner.runCase(typed);
        ASSERT_EQ(out.values, values) << typed.join(' ').toStdString();
        ASSERT_EQ(out.failedSteps, expected.failedSteps) << typed.join(' ').toStdString();
        failing += expected.failedSteps > 0;
    }
    // Most cases pass; hot or heavy liquids, small margins and absurd entries fail some checks.
    EXPECT_GT(failing, 150);
    EXPECT_LT(failing, 500);
    // The cases ran on compiled shapes, not on substituted texts: a text only for the first
    // case of each kind of numbers and for entries that are no numbers.
    EXPECT_GT(runner.shapedSteps(), 100 * runner.textSteps());
}

std::pair<int, QByteArray> cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli"), args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput()};
}

// The command end to end: each row of a sweep (failing cases included) is what "run" prints for
// the same values typed in.
TEST(PumpCases, SweepRowsAreWhatRunPrints)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pump.flw"));
    ASSERT_EQ(cli({"packaged", "-o", file}).first, 0);
    const QStringList reports = {"轴功率", "比转数", "有效汽蚀余量", "汽蚀校核", "电机额定功率"};
    const auto [status, rows] = cli({"sweep",
                                     file,
                                     "--vary",
                                     "正常流量=0:60:3",
                                     "--vary",
                                     "操作温度=-20:160:4",
                                     "--report",
                                     reports.join(','),
                                     "--format",
                                     "jsonl",
                                     "--jobs",
                                     "2"});
    ASSERT_EQ(status, 0);
    const QList<QByteArray> lines = rows.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 12);
    int failing = 0;
    for (const QByteArray &line : lines) {
        const QJsonObject row = QJsonDocument::fromJson(line).object();
        const QJsonObject in = row["inputs"].toObject();
        const auto [ran, out] = cli({"run",
                                     file,
                                     "--set",
                                     "正常流量=" + in["正常流量"].toString(),
                                     "--set",
                                     "操作温度=" + in["操作温度"].toString()});
        ASSERT_EQ(ran, 0);
        const QJsonObject doc = QJsonDocument::fromJson(out).object();
        for (const QString &name : reports) {
            QString value = "(none)";
            for (const QJsonValue &n : doc["nodes"].toArray())
                if (n["name"].toString() == name) {
                    value = n["value"].toString();
                    break;
                }
            EXPECT_EQ(row["values"][name].toString(), value) << line.toStdString();
        }
        EXPECT_EQ(row["failedSteps"].toInt(), doc["failedSteps"].toInt()) << line.toStdString();
        failing += doc["failedSteps"].toInt() > 0;
    }
    EXPECT_GE(failing, 3);
    EXPECT_LT(failing, 12);
}

} // namespace
} // namespace tessarin
