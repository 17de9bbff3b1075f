// The run commands of tessarin-cli, run as a user runs them: run, exam-load and sweep.

#include "support/clirun.h"

#include "atomicfile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

using namespace tessarin;
using tessarin::test::cli;

namespace {

const QString kSample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");
// 50 m3/h, 32.5 m, 998.2 kg/m3, efficiency 0.72.
constexpr double kPower = 50.0 * 32.5 * 998.2 * 9.81 / 3600 / 0.72 / 1000;

QJsonObject json(const QByteArray &out)
{
    return QJsonDocument::fromJson(out).object();
}

QString nodeValue(const QJsonObject &doc, const QString &name)
{
    for (const QJsonValue &n : doc["nodes"].toArray())
        if (n["name"].toString() == name)
            return n["value"].toString();
    return "(none)";
}

struct Files
{
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.path() + '/' + name; }
    QString exm(const QString &name, const QString &entries)
    {
        writeFileAtomically(
            path(name),
            ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><root>" + entries + "</root>").toUtf8());
        return path(name);
    }
    // The sample with its result node renamed like the first page tab.
    QString pageProject()
    {
        QString text = QStringDecoder("GB18030").decode(readWholeFile(kSample));
        text.replace("Name=\"轴功率\"", "Name=\"泵性能\"");
        writeFileAtomically(path("page.flw"), QStringEncoder("GB18030").encode(text));
        return path("page.flw");
    }
};

TEST(CliRun, RunsWithSetValuesAndWritesTheProject)
{
    Files files;
    const QString out = files.path("out.flw");
    const auto r = cli({"run", kSample, "--set", "流量=100", "--set", "效率=0.5", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject doc = json(r.out);
    EXPECT_EQ(doc["failedSteps"].toInt(), 0);
    EXPECT_TRUE(doc["elapsedMs"].isDouble());
    const QJsonArray log = doc["log"].toArray();
    EXPECT_EQ(log.first().toString(), "正在从报表中获取流程数据...");
    EXPECT_TRUE(log.contains("   代入数据: 100.0*32.5*998.2*9.81/3600/0.5/1000"));
    EXPECT_EQ(doc["nodes"].toArray().size(), 5);
    EXPECT_EQ(doc["nodes"][0]["caption"].toString(), "N");
    EXPECT_NEAR(nodeValue(doc, "轴功率").toDouble(), kPower * 2 * 0.72 / 0.5, 1e-9);
    // 效率 has no cell: it went into the node; 流量 was typed into its cell.
    EXPECT_EQ(nodeValue(doc, "效率"), "0.5");
    const auto written = cli({"tag-get", out, "流量"});
    EXPECT_EQ(written.out.trimmed(), "100.0");
    EXPECT_EQ(cli({"tag-get", kSample, "流量"}).out.trimmed(), "50");
}

// Negative and exponent inputs, and a leaf named like its own ancestor, through the tool.
TEST(CliRun, RunsTheMendedCasesOfAProjectWithoutPages)
{
    Files files;
    const QString project = QStringLiteral(TESSARIN_TEST_DATA "/ide/mends.flw");
    auto r = cli({"run", project});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonObject doc = json(r.out);
    const QJsonArray log = doc["log"].toArray();
    EXPECT_TRUE(log.contains("   代入数据: 5.0-(-3.5)"));
    EXPECT_TRUE(log.contains("   代入数据: 1E-3*1000"));
    EXPECT_EQ(QString::fromUtf8(r.out).count("跳过同名模块: 结果"), 1);
    EXPECT_EQ(doc["failedSteps"].toInt(), 0);
    EXPECT_EQ(nodeValue(doc, "结果"), "9.5");

    r = cli({"run", project, "--set", "出口=-10", "-o", files.path("out.flw")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(nodeValue(json(r.out), "结果"), "16.0");
    EXPECT_EQ(cli({"project-dump", files.path("out.flw")}).status, 0);
}

TEST(CliRun, ComparesWithATestDataSet)
{
    Files files;
    const QString power = QString::number(kPower, 'g', 12);
    const QString good = files.exm("good.exm",
                                   "<TNodeData Name=\"轴功率\" Value=\"" + power
                                       + "\"/><TNodeData Name=\"流量\" Value=\"50\"/>");
    auto r = cli({"run", kSample, "--expect", good, "--rtol", "1e-9"});
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
    EXPECT_TRUE(json(r.out)["differences"].toArray().isEmpty());

    const QString bad = files.exm("bad.exm",
                                  "<TNodeData Name=\"轴功率\" Value=\"6.2\"/>"
                                  "<TNodeData Name=\"扬程\" Value=\"high\"/>"
                                  "<TNodeData Name=\"无此\" Value=\"1\"/>");
    r = cli({"run", kSample, "--expect", bad});
    EXPECT_EQ(r.status, 1);
    const QJsonObject doc = json(r.out);
    const QJsonArray diffs = doc["differences"].toArray();
    ASSERT_EQ(diffs.size(), 2) << r.out.toStdString();
    EXPECT_EQ(diffs[0]["name"].toString(), "轴功率");
    EXPECT_EQ(diffs[0]["expected"].toString(), "6.2");
    EXPECT_EQ(diffs[1]["value"].toString(), "32.5");
    EXPECT_EQ(doc["missing"].toArray(), QJsonArray{"无此"});
    // A loose tolerance accepts the power.
    r = cli({"run",
             kSample,
             "--expect",
             files.exm("near.exm", "<TNodeData Name=\"轴功率\" Value=\"6.2\"/>"),
             "--rtol",
             "0.02"});
    EXPECT_EQ(r.status, 0);
}

TEST(CliRun, RunsOneNodeOrOnePageAndRefusesWhatItCannotRun)
{
    Files files;
    auto r = cli({"run", kSample, "--node", "流量"});
    ASSERT_EQ(r.status, 0);
    EXPECT_FALSE(QString::fromUtf8(r.out).contains("步-----计算"));
    EXPECT_EQ(nodeValue(json(r.out), "流量"), "50.0");

    r = cli({"run", files.pageProject(), "--page", "泵性能"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_NEAR(nodeValue(json(r.out), "泵性能").toDouble(), kPower, 1e-9);

    struct Case
    {
        QStringList args;
        int status;
        QString message;
    };
    // Hostile inputs: nesting far past any stored format, values far past what a cell holds.
    const QString nested = QString("<a>").repeated(200000) + QString("</a>").repeated(200000);
    writeFileAtomically(files.path("deep.flw"), ("<FLW>" + nested + "</FLW>").toUtf8());
    const QString deepSet = files.exm("deep.exm", nested);
    const QString longSet = files.exm(
        "long.exm", "<TNodeData Name=\"流量\" Value=\"" + QString(1000000, '7') + "\"/>");
    const std::vector<Case> cases = {
        {{"run", files.path("deep.flw")}, 1, "more than 1000 levels deep"},
        {{"run", kSample, "--expect", deepSet}, 1, "more than 1000 levels deep"},
        {{"exam-load", kSample, deepSet}, 1, "more than 1000 levels deep"},
        {{"exam-load", kSample, longSet}, 1, "bytes a cell holds"},
        {{"run", kSample, "--set", "流量=" + QString(120000, '7')}, 1, "bytes a cell holds"},
        {{"run", files.path("missing.flw")}, 1, "missing.flw"},
        {{"run", kSample, "--node", "无此"}, 1, "--node 无此"},
        {{"run", kSample, "--page", "无此"}, 1, "--page 无此"},
        {{"run", kSample, "--page", "电机"}, 1, "no node with a script"},
        {{"run", kSample, "--set", "无此=1"}, 1, "--set 无此"},
        {{"run", kSample, "--set", "=1"}, 2, "NAME=VALUE"},
        {{"run", kSample, "--node", "流量", "--page", "电机"}, 2, "exclude"},
        {{"run", kSample, "--rtol", "1"}, 2, "--expect"},
        {{"run", kSample, "--expect", kSample}, 1, "not \"root\""},
        {{"exam-load", kSample, files.path("missing.exm")}, 1, "missing.exm"},
    };
    for (const Case &c : cases) {
        r = cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
}

// The outputs are printed item by item; they must read back and be exactly what Qt writes for
// the same document, empty lists included.
TEST(CliRun, StreamedOutputsAreExactlyQtsIndentedJson)
{
    Files files;
    const QString none = files.exm("none.exm", "");
    const QString some = files.exm("some.exm",
                                   "<TNodeData Name=\"流量\" Value=\"80\"/>"
                                   "<TNodeData Name=\"X\" Value=\"1\"/><TNodeData Name=\"Y\"/>");
    const std::vector<QStringList> commands = {
        {"run", kSample},
        {"run", kSample, "--expect", some},
        {"exam-load", kSample, none},
        {"exam-load", kSample, some},
        {"workbook-dump", kSample},
    };
    for (const QStringList &args : commands) {
        const auto r = cli(args);
        EXPECT_LE(r.status, 1) << r.err.toStdString();
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << args.join(' ').toStdString();
        EXPECT_EQ(doc.toJson(QJsonDocument::Indented).toStdString(), r.out.toStdString());
    }
}

// File names are bytes: a name that is not UTF-8 is read and written as given, and the file
// named with U+FFFD in place of its odd byte is left alone.
TEST(CliRun, FileNamesThatAreNotUtf8ReachTheirOwnFiles)
{
    Files files;
    writeFileAtomically(files.path("a\uFFFD.flw"), "unrelated");
    QProcess shell;
    shell.setWorkingDirectory(files.dir.path());
    // The shell makes the odd bytes; the arguments handed to it are plain ASCII.
    shell.start("/bin/sh",
                {"-c",
                 "cp \"$1\" \"$(printf 'in\\377.flw')\" && exec \"$0\" run \"$(printf "
                 "'in\\377.flw')\" --set 流量=80 -o \"$(printf 'a\\376.flw')\"",
                 TESSARIN_BIN_DIR "/tessarin-cli",
                 kSample});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    EXPECT_EQ(readWholeFile(files.path("a\uFFFD.flw")), QByteArray("unrelated"));
    const QByteArray written = QFile::encodeName(files.dir.path()) + "/a\xfe.flw";
    struct stat info = {};
    ASSERT_EQ(::stat(written.constData(), &info), 0);
    EXPECT_GT(info.st_size, 1000);
    // QTemporaryDir removes by QString names, which cannot hold these.
    ::unlink(written.constData());
    ::unlink((QFile::encodeName(files.dir.path()) + "/in\xff.flw").constData());
}

TEST(CliRun, ExamLoadFillsTheProject)
{
    Files files;
    const QString set = files.exm("set.exm",
                                  "<TNodeData Name=\"流量\" Value=\"80\"/>"
                                  "<TNodeData Name=\"X\" Value=\"1\"/>");
    const QString out = files.path("loaded.flw");
    const auto r = cli({"exam-load", kSample, set, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(json(r.out), (QJsonObject{{"loaded", 1}, {"unknown", QJsonArray{"X"}}}));
    EXPECT_EQ(cli({"tag-get", out, "流量"}).out.trimmed(), "80");
}

// check: the findings as JSON with every field a string, exit 1 exactly when one is an error; the
// packaged pump project passes; usage and unreadable files are refused.
TEST(CliCheck, PrintsFindingsAndExitsByTheirSeverity)
{
    Files files;
    const auto variant = [&](const QString &name, const QString &script) {
        QString text = QStringDecoder("GB18030").decode(readWholeFile(kSample));
        text.replace("Script=\"流量*扬程*密度*9.81/3600/效率/1000\"", "Script=\"" + script + "\"");
        writeFileAtomically(files.path(name), QStringEncoder("GB18030").encode(text));
        return files.path(name);
    };
    ASSERT_EQ(cli({"packaged", "-o", files.path("pump.flw")}).status, 0);
    struct Case
    {
        const char *what;
        QStringList args;
        int status;
        QStringList findings; // "kind severity node"
    };
    const std::vector<Case> cases = {
        {"sound", {"check", kSample}, 0, {}},
        {"an unknown name",
         {"check", variant("unknown.flw", "流量*扬程*粘度")},
         1,
         {"unknown-name error 粘度", "unused-input warning 密度", "unused-input warning 效率"}},
        {"warnings only",
         {"check", variant("unused.flw", "流量*扬程*9.81/3600/效率/1000")},
         0,
         {"unused-input warning 密度"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = cli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        const QJsonObject doc = json(r.out);
        ASSERT_EQ(doc.keys(), QStringList{"findings"});
        QStringList seen;
        for (const QJsonValue &f : doc["findings"].toArray()) {
            const QStringList keys = f.toObject().keys();
            EXPECT_EQ(keys, QStringList({"cell", "kind", "message", "node", "page", "severity"}));
            for (const QString &key : keys)
                EXPECT_TRUE(f[key].isString()) << key.toStdString();
            seen << f["kind"].toString() + ' ' + f["severity"].toString() + ' '
                        + f["node"].toString();
        }
        EXPECT_EQ(seen, c.findings);
    }
    const auto pump = cli({"check", files.path("pump.flw")});
    EXPECT_EQ(pump.status, 0) << pump.err.toStdString();
    EXPECT_FALSE(QString::fromUtf8(pump.out).contains("\"error\""));

    EXPECT_EQ(cli({"check"}).status, 2);
    const auto missing = cli({"check", files.path("none.flw")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("none.flw"));
    EXPECT_TRUE(missing.out.isEmpty());
}

TEST(CliSweep, PrintsOneRowPerCaseInOrderWhateverTheWorkers)
{
    const QStringList args = {"sweep",
                              kSample,
                              "--vary",
                              "流量=10:100:4",
                              "--vary",
                              "扬程=20:30:3",
                              "--report",
                              "轴功率,流量",
                              "--set",
                              "效率=0.5"};
    const auto one = cli(args + QStringList{"--jobs", "1"});
    ASSERT_EQ(one.status, 0) << one.err.toStdString();
    const QStringList lines = QString::fromUtf8(one.out).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines[0], "流量,扬程,轴功率,流量,failedSteps");
    EXPECT_TRUE(lines[1].startsWith("10,20,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("10,25,"));
    EXPECT_TRUE(lines[12].startsWith("100,30,"));
    const QStringList last = lines[12].split(',');
    EXPECT_NEAR(last[2].toDouble(), 100.0 * 30 * 998.2 * 9.81 / 3600 / 0.5 / 1000, 1e-9);
    EXPECT_EQ(last[3], "100.0");
    EXPECT_EQ(last[4], "0");

    const auto three = cli(args + QStringList{"--jobs", "3"});
    EXPECT_EQ(three.out, one.out);

    const std::vector<std::pair<QStringList, int>> wrong = {
        {{"sweep", kSample, "--vary", "流量=1:2", "--report", "轴功率"}, 2},
        {{"sweep", kSample, "--vary", "流量=1:2:0", "--report", "轴功率"}, 2},
        {{"sweep", kSample, "--vary", "流量=1:2:2"}, 2},
        {{"sweep", kSample, "--vary", "流量=1:2:2", "--report", "无此"}, 2},
        {{"sweep", kSample, "--vary", "无此=1:2:2", "--report", "轴功率"}, 2},
    };
    for (const auto &[bad, status] : wrong)
        EXPECT_EQ(cli(bad).status, status) << bad.join(' ').toStdString();
}

TEST(CliSweep, RefusesBadArgumentsBeforeAnyRow)
{
    const QStringList base = {"sweep", kSample, "--report", "轴功率"};
    const std::vector<std::pair<QStringList, QString>> wrong = {
        {{"--vary", "无此=1:2:2"}, "无此"},
        {{"--vary", "流量=nan:2:2"}, "--vary"},
        {{"--vary", "流量=1:inf:2"}, "--vary"},
        {{"--vary", "流量=1:2:-3"}, "STEPS"},
        {{"--vary", "流量=1:2:1.5"}, "STEPS"},
        {{"--vary", "流量=1:2:100000", "--vary", "扬程=1:2:100000"}, "cases"},
        {{"--vary", "流量=1:2:2", "--vary", "流量=3:4:2"}, "流量"},
        {{"--vary", "流量=1:2:2", "--shard", "0/2"}, "--shard"},
        {{"--vary", "流量=1:2:2", "--shard", "3/2"}, "--shard"},
        {{"--vary", "流量=1:2:2", "--format", "xml"}, "--format"},
        {{"--vary", "流量=1:2:2", "--sample", "扬程=uniform:1:2", "--cases", "3"}, "--sample"},
        {{"--sample", "流量=normal:50:0", "--cases", "3"}, "SD"},
        {{"--sample", "流量=normal:50:1e307", "--cases", "3"}, "SD"},
        {{"--sample", "流量=uniform:2:1", "--cases", "3"}, "LO"},
        {{"--sample", "流量=triangular:1:5:4", "--cases", "3"}, "MODE"},
        {{"--sample", "流量=lognormal:1:-1", "--cases", "3"}, "SIGMA"},
        {{"--sample", "流量=weibull:1:2", "--cases", "3"}, "weibull"},
        {{"--sample", "流量=normal:50:5"}, "--cases"},
        {{"--sample", "流量=normal:50:5", "--cases", "0"}, "--cases"},
        {{"--sample", "流量=normal:50:5", "--cases", "1000000001"}, "--cases"},
        {{"--vary", "流量=1:2:2", "--jobs", "0"}, "--jobs"},
    };
    for (const auto &[extra, named] : wrong) {
        const auto r = cli(base + extra);
        EXPECT_EQ(r.status, 2) << extra.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << extra.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(named)) << r.err.toStdString();
    }
    // A missing project fails before the header too.
    const auto missing
        = cli({"sweep", "/nonexistent.flw", "--vary", "流量=1:2:2", "--report", "轴功率"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.isEmpty());
}

TEST(CliSweep, ReachesTheEndsOfTheNumbersAndReadsAnyFileName)
{
    Files files;
    const QString dash = files.path("-dash.flw");
    ASSERT_TRUE(QFile::copy(kSample, dash));
    // A name starting with "-", a project from a pipe, and more workers than cores or cases.
    const QStringList tail = {"--vary", "流量=-1e308:1e308:3", "--report", "流量", "--jobs", "100"};
    const auto named = cli(QStringList{"sweep"} + tail + QStringList{"--", dash});
    ASSERT_EQ(named.status, 0) << named.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(named.out).split('\n').mid(1, 3),
              (QStringList{"-1E308,-1E308,1", "0,0.0,0", "1E308,1E308,1"}));
    const auto piped = cli(QStringList{"sweep", "-"} + tail, readWholeFile(kSample));
    EXPECT_EQ(piped.out, named.out) << piped.err.toStdString();
}

TEST(CliSweep, SlicesJoinIntoTheWholeSweep)
{
    Files files;
    const QStringList args = {
        "sweep", kSample, "--vary", "流量=-50:100:7", "--vary", "效率=0:1:5", "--report", "轴功率"};
    const auto plain = cli(args);
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    for (const QString &format : {QString("csv"), QString("jsonl")}) {
        const QStringList formatted = args + QStringList{"--format", format};
        const auto whole = cli(formatted + QStringList{"--shard", "1/1", "--jobs", "2"});
        ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
        QStringList parts;
        for (int k = 4; k >= 1; --k) {
            const auto part = cli(formatted + QStringList{"--shard", QString("%1/4").arg(k)});
            parts << files.path(QString("part%1.%2").arg(k).arg(format));
            writeFileAtomically(parts.back(), part.out);
        }
        const auto merged = cli(QStringList{"sweep-merge"} + parts);
        EXPECT_EQ(merged.out, whole.out) << merged.err.toStdString();
        // Without a slice the join is refused, naming the missing case.
        const auto gap = cli({"sweep-merge", parts[0], parts[2], parts[3]});
        EXPECT_EQ(gap.status, 1);
        if (format == "csv") {
            // The whole sweep's rows are the plain rows with the case index in front.
            QStringList lines = QString::fromUtf8(whole.out).trimmed().split('\n');
            for (QString &line : lines)
                line = line.mid(line.indexOf(',') + 1);
            EXPECT_EQ(lines.join('\n'), QString::fromUtf8(plain.out).trimmed());
        } else {
            const QJsonObject row = json(whole.out.split('\n').at(7));
            EXPECT_EQ(row["case"].toInt(), 7);
            EXPECT_EQ(row["inputs"]["流量"].toString(), "-25");
            EXPECT_EQ(row["failedSteps"].toInt(), 0);
        }
    }
}

TEST(CliSweep, MonteCarloSummaryDependsOnTheSeedOnly)
{
    Files files;
    const QStringList args = {"sweep",
                              kSample,
                              "--sample",
                              "流量=normal:50:5",
                              "--sample",
                              "效率=triangular:0:0.7:0.9",
                              "--cases",
                              "3000",
                              "--report",
                              "轴功率,流量",
                              "--summary"};
    const auto one = cli(args + QStringList{"--seed", "7", "--jobs", "1"});
    ASSERT_EQ(one.status, 0) << one.err.toStdString();
    const auto two = cli(args + QStringList{"--seed", "7", "--jobs", "2"});
    EXPECT_EQ(two.out, one.out);
    EXPECT_NE(cli(args + QStringList{"--seed", "8"}).out, one.out);
    QStringList parts;
    for (int k = 1; k <= 3; ++k) {
        parts << files.path(QString("mc%1").arg(k));
        writeFileAtomically(
            parts.back(),
            cli(args + QStringList{"--seed", "7", "--shard", QString("%1/3").arg(k)}).out);
    }
    EXPECT_EQ(cli(QStringList{"sweep-merge", "--summary"} + parts).out, one.out);
    const QStringList lines = QString::fromUtf8(one.out).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "value,cases,mean,sd,p5,p50,p95,failedShare");
    // 流量 comes back as typed: its statistics are those of the normal samples. An efficiency
    // of exactly 0 (the lower end) would fail the power; near it the power is finite.
    const QStringList flow = lines[2].split(',');
    EXPECT_EQ(flow[0], "流量");
    EXPECT_NEAR(flow[2].toDouble(), 50, 0.5);
    EXPECT_NEAR(flow[3].toDouble(), 5, 0.3);
    EXPECT_NEAR(flow[4].toDouble(), 50 - 1.645 * 5, 0.6);
    EXPECT_NEAR(flow[6].toDouble(), 50 + 1.645 * 5, 0.6);
    EXPECT_EQ(flow[7], "0");
}

// The tool is built without Qt Widgets and Print Support, and it runs a project and prints its
// workbook with no display and no platform chosen.
TEST(CliHeadless, NeedsNeitherWidgetsNorADisplay)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli")});
    ASSERT_TRUE(ldd.waitForFinished());
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains("libQt6Gui")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Widgets")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6PrintSupport")) << libraries.toStdString();

    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(QString::fromLatin1(name));
    Files files;
    const QString out = files.path("out.flw");
    const auto run = cli({"run", kSample, "--set", "流量=100", "-o", out}, {}, &bare);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(json(run.out)["failedSteps"].toInt(), 0);
    EXPECT_EQ(cli({"tag-get", out, "流量"}, {}, &bare).out.trimmed(), "100.0");
    const QString pdf = files.path("out.pdf");
    const auto print = cli({"workbook-pdf", out, "-o", pdf}, {}, &bare);
    ASSERT_EQ(print.status, 0) << print.err.toStdString();
    EXPECT_TRUE(readWholeFile(pdf).startsWith("%PDF-"));
}

// The text of sheets `first` to `last` of a PDF (all when 0), as pdftotext extracts it.
QString pdfText(const QString &pdf, int first = 0, int last = 0)
{
    QStringList args;
    if (first > 0)
        args << "-f" << QString::number(first) << "-l" << QString::number(last);
    QProcess text;
    text.start(QStringLiteral("pdftotext"), args << pdf << "-");
    text.waitForFinished();
    return QString::fromUtf8(text.readAllStandardOutput());
}

int pdfSheets(const QString &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(readWholeFile(pdf)).count(page));
}

QString withoutSpace(QString text)
{
    return text.remove(QRegularExpression(QStringLiteral("\\s+")));
}

// The calculation book of the packaged project: sheets counted as the footers say, every result
// typeset with its caption, the report pages as workbook-pdf prints them, failures with reasons.
TEST(CliBook, TypesetsTheRunOfThePackagedProject)
{
    Files files;
    const QString project = files.path("pump.flw");
    ASSERT_EQ(cli({"packaged", "-o", project}).status, 0);
    const QString pdf = files.path("book.pdf");
    const auto made = cli({"book", project, "-o", pdf});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    const int sheets = json(made.out)["sheets"].toInt();
    EXPECT_EQ(pdfSheets(pdf), sheets);
    const QString text = pdfText(pdf);
    EXPECT_EQ(text.count(QStringLiteral("共 %1 页").arg(sheets)), sheets);
    EXPECT_TRUE(text.contains(QStringLiteral("第 %1 页 / 共 %1 页").arg(sheets)));

    const auto ran = cli({"run", project, "-o", files.path("ran.flw")});
    ASSERT_EQ(ran.status, 0);
    int results = 0;
    for (const QJsonValue &node : json(ran.out)["nodes"].toArray()) {
        if (node["script"].toString().isEmpty())
            continue;
        ++results;
        const QString line = QStringLiteral("%1 = %2").arg(node["caption"].toString(),
                                                            node["value"].toString());
        EXPECT_TRUE(text.contains(line)) << line.toStdString();
    }
    EXPECT_GT(results, 100);

    // Sheets 3 to 7 are the five report pages, drawn as workbook-pdf prints them: the same
    // texts (in another order where the smaller scale groups them otherwise), plus the frame;
    // the charts of the last page computed by the book's run as by run's.
    const QString sheetsPdf = files.path("sheets.pdf");
    ASSERT_EQ(cli({"workbook-pdf", files.path("ran.flw"), "-o", sheetsPdf}).status, 0);
    ASSERT_EQ(pdfSheets(sheetsPdf), 5);
    const auto letters = [](const QString &text) {
        QString sorted = withoutSpace(text);
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    };
    for (int k = 1; k <= 5; ++k) {
        const QString frame = QStringLiteral("%1计算书第 %2 页 / 共 %3 页")
                                  .arg(json(ran.out)["nodes"][0]["name"].toString())
                                  .arg(k + 2)
                                  .arg(sheets);
        EXPECT_EQ(letters(pdfText(pdf, k + 2, k + 2)), letters(pdfText(sheetsPdf, k, k) + frame))
            << "sheet " << k;
    }

    // A failed step shows its reason; the steps that depend on it say which one failed.
    const auto failing = cli({"book", project, "-o", pdf, "--set", "正常流量=-5"});
    ASSERT_EQ(failing.status, 0) << failing.err.toStdString();
    EXPECT_GT(json(failing.out)["failedSteps"].toInt(), 0);
    const QString failed = pdfText(pdf);
    EXPECT_TRUE(failed.contains(QStringLiteral("计算失败：error: 正常流量须大于 0")));
    EXPECT_TRUE(failed.contains(QStringLiteral("计算失败：引用的 额定流量 在本次运行中计算失败")));
}

// A chart of the shaft power against the flow: computed by runs over the range, saved beside
// the pages, kept by a run and a save, drawn into the PDF as text and lines.
TEST(CliChart, ComputesSavesAndPrintsAChart)
{
    Files files;
    const QString charted = files.path("charted.flw");
    const auto made = cli({"chart-add", kSample, "-o", charted, "--page", "1", "--cells",
                           "2,1,7,4", "--input", "流量", "--from", "10", "--to", "100",
                           "--points", "10", "--plot", "轴功率", "--title", "功率曲线"});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    const QJsonArray values = json(made.out)["series"][0]["values"].toArray();
    ASSERT_EQ(values.size(), 10);
    for (int i = 0; i < 10; ++i) // the power grows in proportion to the flow
        EXPECT_NEAR(values[i].toDouble(), kPower * (10.0 + 10 * i) / 50, 1e-9) << i;
    EXPECT_EQ(cli({"tag-get", charted, "流量"}).out.trimmed(), "50"); // the project's own value

    // A run and its save keep the chart; the untouched rest of the file keeps its bytes.
    const QString ran = files.path("ran.flw");
    ASSERT_EQ(cli({"run", charted, "-o", ran}).status, 0);
    const auto chartsOf = [](const QString &file) {
        const QByteArray bytes = readWholeFile(file);
        const qsizetype from = bytes.indexOf("<TqzCharts>");
        return from < 0 ? QByteArray() : bytes.mid(from, bytes.indexOf("</TqzCharts>") - from);
    };
    EXPECT_FALSE(chartsOf(charted).isEmpty());
    EXPECT_EQ(chartsOf(ran), chartsOf(charted));
    EXPECT_TRUE(chartsOf(kSample).isEmpty());

    const QString pdf = files.path("charted.pdf");
    ASSERT_EQ(cli({"workbook-pdf", ran, "-o", pdf}).status, 0);
    const QString text = pdfText(pdf, 1, 1);
    for (const char *label : {"功率曲线", "(m3/h)", "轴功率 (kW)", "100"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(label))) << label;

    // A range relative to a node and a point the project holds: both follow a typed value.
    const QString relative = files.path("relative.flw");
    const auto rel = cli({"chart-add", kSample, "-o", relative, "--page", "1", "--cells",
                          "2,1,7,4", "--input", "流量", "--relative-to", "流量", "--from", "0.5",
                          "--to", "1", "--points", "2", "--plot", "轴功率", "--point",
                          "此刻=流量,轴功率"});
    ASSERT_EQ(rel.status, 0) << rel.err.toStdString();
    const QJsonArray series = json(rel.out)["series"].toArray();
    ASSERT_EQ(series.size(), 2);
    EXPECT_NEAR(series[0]["values"][0].toDouble(), kPower / 2, 1e-9);
    EXPECT_NEAR(series[0]["values"][1].toDouble(), kPower, 1e-9);
    EXPECT_EQ(series[1]["x"][0].toDouble(), 50);
    EXPECT_NEAR(series[1]["values"][0].toDouble(), kPower, 1e-9);
    const QString doubled = files.path("doubled.flw");
    ASSERT_EQ(cli({"run", relative, "--set", "流量=100", "-o", doubled}).status, 0);
    EXPECT_TRUE(chartsOf(doubled).contains("RangeValue=\"100\""));
    EXPECT_TRUE(chartsOf(doubled).contains("X=\"100\""));

    // Wrong places and names are refused and write nothing.
    const QString never = files.path("never.flw");
    EXPECT_EQ(cli({"chart-add", kSample, "-o", never, "--page", "9", "--cells", "1,1,1,1",
                   "--input", "流量", "--from", "0", "--to", "1", "--plot", "轴功率"})
                  .status,
              1);
    EXPECT_EQ(cli({"chart-add", kSample, "-o", never, "--page", "1", "--cells", "1,1,1,1",
                   "--input", "无此节点", "--from", "0", "--to", "1", "--plot", "轴功率"})
                  .status,
              1);
    EXPECT_EQ(cli({"chart-add", kSample, "-o", never, "--page", "1", "--cells", "1,1,1,1",
                   "--input", "流量", "--from", "0", "--to", "1", "--points", "1", "--plot",
                   "轴功率"})
                  .status,
              2);
    EXPECT_EQ(cli({"chart-add", kSample, "-o", never, "--page", "1", "--cells", "1,1,1,1",
                   "--from", "0", "--to", "1", "--curve", "C=流量,轴功率;流量"})
                  .status,
              2);
    EXPECT_FALSE(QFile::exists(never));
}

TEST(CliHelp, ListsTheRunCommandsButNotTheWorker)
{
    const QString help = QString::fromUtf8(cli({"--help"}).out);
    for (const char *name : {"run ", "sweep ", "exam-load "})
        EXPECT_TRUE(help.contains(QLatin1String("  ") + name)) << name;
    EXPECT_FALSE(help.contains("sweep-worker"));
}

} // namespace
