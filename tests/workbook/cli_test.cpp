// tessarin-cli's workbook commands on the sample project, run as a user runs them.

#include "atomicfile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/clirun.h"
#include "workbook_support.h"

namespace {

using tessarin::test::cli;
using tessarin::test::CliRun;
using tessarin::test::pdfPageCount;

const QString sample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");

TEST(WorkbookCli, DumpGetSetAndPrintTheSample)
{
    CliRun r = cli({"workbook-dump", sample});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(root["tabs"].toArray(), (QJsonArray{"泵性能", "电机"}));
    const QJsonArray pages = root["pages"].toArray();
    ASSERT_EQ(pages.size(), 3);
    EXPECT_EQ(pages[1].toObject()["ownerIndex"].toInt(), 1);
    const QJsonObject first = pages[0].toObject()["page"].toObject();
    EXPECT_EQ(first["lines"].toArray().size(), 7);
    EXPECT_EQ(first["version"].toInt(), 3);

    EXPECT_EQ(cli({"tag-get", sample, "流量"}).out, QByteArray("50\n"));
    EXPECT_EQ(cli({"tag-get", sample, "pagenum"}).out, QByteArray("\n"));

    QTemporaryDir dir;
    const QString out = dir.filePath("out.flw");
    const QByteArray before = tessarin::readWholeFile(sample);
    r = cli({"tag-set", sample, "轴功率", "4.45", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(tessarin::readWholeFile(sample), before);
    EXPECT_EQ(cli({"tag-get", out, "轴功率"}).out, QByteArray("4.45\n"));
    EXPECT_EQ(cli({"tag-get", out, "PAGECOUNT"}).out, QByteArray("共 3 页\n"));
    EXPECT_EQ(cli({"project-dump", out}).status, 0);

    const QString pdf = dir.filePath("out.pdf");
    ASSERT_EQ(cli({"workbook-pdf", out, "-o", pdf}).status, 0);
    EXPECT_EQ(pdfPageCount(pdf), 3);
    ASSERT_EQ(cli({"workbook-pdf", out, "-o", pdf, "--current", "1"}).status, 0);
    EXPECT_EQ(pdfPageCount(pdf), 1);
}

TEST(WorkbookCli, RefusalsAndDamagedPages)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("never.pdf");
    EXPECT_EQ(cli({"workbook-pdf", sample, "-o", pdf, "--current", "3"}).status, 2);
    EXPECT_EQ(cli({"tag-set", "-", "X", "1"}).status, 2);
    EXPECT_EQ(cli({"tag-get", dir.filePath("missing.flw"), "X"}).status, 1);
    EXPECT_FALSE(QFile::exists(pdf));

    // The second page's text cut short: the others still answer, the damage is reported, and
    // a save keeps the damaged text as it was.
    // Where the text of the second page starts.
    auto secondText = [](const QByteArray &file) {
        return file.indexOf("SaveText=\"", file.indexOf("SaveText=\"") + 10) + 10;
    };
    QByteArray bytes = tessarin::readWholeFile(sample);
    const qsizetype second = secondText(bytes);
    bytes.remove(second + 40, 1);
    const QString damaged = dir.filePath("damaged.flw");
    tessarin::writeFileAtomically(damaged, bytes);
    CliRun r = cli({"tag-get", damaged, "密度"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QByteArray("\n"));
    EXPECT_TRUE(r.err.contains("warning: page 2 ")) << r.err.toStdString();
    EXPECT_EQ(cli({"tag-get", damaged, "流量"}).out, QByteArray("50\n"));
    ASSERT_EQ(cli({"tag-set", damaged, "流量", "60"}).status, 0);
    const QByteArray saved = tessarin::readWholeFile(damaged);
    const qsizetype at = secondText(saved);
    EXPECT_EQ(saved.mid(at, saved.indexOf('"', at) - at),
              bytes.mid(second, bytes.indexOf('"', second) - second));
}

} // namespace
