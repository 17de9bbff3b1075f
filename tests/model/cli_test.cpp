// tessarin-cli's project commands, run as a user runs them.

#include "atomicfile.h"
#include "qzproject.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/clirun.h"

using namespace tessarin;

namespace {

using tessarin::test::cli;
using tessarin::test::CliRun;

const QString golden = QStringLiteral(TESSARIN_TEST_DATA "/model/gb2312_project.flw");

QString compact(const QJsonArray &nodes)
{
    QStringList parts;
    for (const auto &v : nodes) {
        const QJsonObject o = v.toObject();
        const QJsonArray kids = o["children"].toArray();
        parts << o["name"].toString() + (kids.isEmpty() ? "" : "(" + compact(kids) + ")");
    }
    return parts.join(',');
}

} // namespace

TEST(Cli, ProjectDumpOfAGb2312FileFromAnotherToolPrintsTheTree)
{
    const CliRun r = cli({"project-dump", golden});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(root["name"].toString(), "离心泵");
    const QJsonObject rtl = root["rtl"].toObject();
    EXPECT_EQ(rtl["libraryPath"].toString(), "C:\\VOK\\include//");
    EXPECT_EQ(rtl["fileName"].toString(), "project.h");
    EXPECT_FALSE(rtl["stdLib"].toBool(true));
    EXPECT_EQ(rtl["headers"].toArray(), QJsonArray({"math.h", "泵.h"}));

    const QJsonArray nodes = root["nodes"].toArray();
    EXPECT_EQ(compact(nodes), "轴功率(流量(密度),扬程),效率");
    const QJsonObject top = nodes[0].toObject();
    EXPECT_EQ(top["script"].toString(), "流量*扬程*密度/367/效率");
    EXPECT_EQ(top["nodeId"].toInt(), 10);
    EXPECT_EQ(top["parentId"].toInt(), 10);
    // The four-children form and a referenced character outside GB2312.
    const QJsonObject density = top["children"][0]["children"][0].toObject();
    EXPECT_EQ(density["caption"].toString(), "rho");
    EXPECT_EQ(density["value"].toString(), "998.2");
    EXPECT_EQ(density["unit"].toString(), "kg/m3");
    EXPECT_EQ(density["parentId"].toInt(), 12);
    EXPECT_EQ(nodes[1].toObject()["unit"].toString(), QString(QChar(0x2014)));
    EXPECT_EQ(nodes[1].toObject()["parentId"].toInt(), 99);
}

TEST(Cli, ProjectDumpWritesJsonForAnyTextsAndAnyDepth)
{
    QTemporaryDir dir;
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };

    // Quotes, backslashes, line breaks and tabs in texts must come out as valid JSON strings.
    const QString odd = write("odd.flw",
                              "<FLW><TVariables><TVariable Name=\"a&quot;b\\c\" NodeID=\"1\" "
                              "ParentID=\"1\" Script=\"x&#10;&#9;y&#13;\"/></TVariables></FLW>");
    CliRun r = cli({"project-dump", odd});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonObject node = QJsonDocument::fromJson(r.out, &error).object()["nodes"][0].toObject();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.constData();
    EXPECT_EQ(node["name"].toString(), "a\"b\\c");
    EXPECT_EQ(node["script"].toString(), "x\n\ty\r");

    // A chain as long as it is deep, children listed first: every node printed once, nested,
    // in output that grows linearly with the chain.
    const int n = 20000;
    QByteArray chain = "<FLW><TVariables>\n";
    for (int i = n - 1; i >= 0; --i)
        chain += QStringLiteral("<TVariable Name=\"n%1\" NodeID=\"%1\" ParentID=\"%2\"/>\n")
                     .arg(i)
                     .arg(i > 0 ? i - 1 : 0)
                     .toUtf8();
    chain += "</TVariables></FLW>\n";
    r = cli({"project-dump", write("chain.flw", chain)});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_LT(r.out.size(), qsizetype(n) * 2000);
    EXPECT_EQ(r.out.count("\"name\": \"n"), n);
    EXPECT_EQ(r.out.count('{'), r.out.count('}'));
    EXPECT_EQ(r.out.count('['), r.out.count(']'));
    // After the deepest node only closings follow: its own empty list, its n - 1 ancestors'
    // lists and the "nodes" list.
    const QByteArray deepestName = "\"name\": \"n" + QByteArray::number(n - 1) + "\"";
    const QByteArray tail = r.out.mid(r.out.indexOf(deepestName));
    ASSERT_TRUE(tail.startsWith(deepestName));
    EXPECT_TRUE(tail.contains("\"parentId\": " + QByteArray::number(n - 2)));
    EXPECT_EQ(tail.count(']'), n + 1);
}

TEST(Cli, ProjectSaveRenumbersAndExamSaveWritesTheSnapshot)
{
    QTemporaryDir dir;
    const QString saved = dir.filePath("saved.flw");
    CliRun r = cli({"project-save", golden, "-o", saved});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    r = cli({"project-dump", saved});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonArray nodes = QJsonDocument::fromJson(r.out).object()["nodes"].toArray();
    EXPECT_EQ(compact(nodes), "轴功率(流量(密度),扬程),效率");
    const QJsonObject top = nodes[0].toObject();
    EXPECT_EQ(top["children"][0]["children"][0]["nodeId"].toInt(), 2);
    EXPECT_EQ(top["children"][0]["children"][0]["parentId"].toInt(), 1);
    EXPECT_EQ(nodes[1].toObject()["nodeId"].toInt(), 4);
    EXPECT_EQ(nodes[1].toObject()["parentId"].toInt(), 4);

    const QString exm = dir.filePath("VOK1.exm");
    r = cli({"exam-save", golden, "-o", exm});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QByteArray bytes = readWholeFile(exm);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"GB2312\"?>"));
    EXPECT_EQ(bytes.count("<TNodeData "), 5);
    EXPECT_TRUE(bytes.contains("<TNodeData Name=\"\xc3\xdc\xb6\xc8\" Value=\"998.2\"/>")); // 密度
}

TEST(Cli, FailuresSayWhereAndLeaveNoOutput)
{
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.flw");
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?>\n<FLW>\n<TVariables>\n</FLW>\n");
    }
    const QString out = dir.filePath("out.flw");
    CliRun r = cli({"project-save", broken, "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("broken.flw")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("line 4")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    r = cli({"project-dump", dir.filePath("missing.flw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("missing.flw"));

    EXPECT_EQ(cli({"exam-save", golden}).status, 2); // no -o
    EXPECT_EQ(cli({"project-dump"}).status, 2);
}
