// tessarin-cli's workbook commands on the sample project, run as a user runs them.

#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
    // The run button is a thing of the screen: its caption is not printed, its page's text is.
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished());
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(QStringLiteral("4.45"))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QStringLiteral("执行计算"))) << printed.toStdString();
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

// Writes that would save nothing, or save into the wrong kind of file, fail and change nothing;
// "-o -" and "-o /dev/stdout" put the document on standard output.
TEST(WorkbookCli, TagSetRefusesWhatItCannotDoAndWritesStandardOutput)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath("copy.flw");
    const QByteArray before = tessarin::readWholeFile(sample);
    tessarin::writeFileAtomically(copy, before);
    const QString html = dir.filePath("page.html");
    const QByteArray page = "<html><head><title>t</title></head><body>x</body></html>\n";
    tessarin::writeFileAtomically(html, page);

    const struct
    {
        QStringList args;
        QString message;
    } refusals[] = {
        {{"tag-set", copy, "NO_SUCH_TAG", "1"}, "no cell carries the tag \"NO_SUCH_TAG\""},
        {{"tag-set", copy, "流量x", "1", "-o", dir.filePath("other.flw")}, "no cell carries"},
        {{"tag-set", html, "流量", "1"}, "no cell carries"},
        {{"tag-set", copy, "流量", "1", "-o", dir.path()}, "it is a directory"},
    };
    for (const auto &row : refusals) {
        const CliRun r = cli(row.args);
        EXPECT_EQ(r.status, 1) << row.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(row.message)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(tessarin::readWholeFile(copy), before);
    EXPECT_EQ(tessarin::readWholeFile(html), page);
    EXPECT_FALSE(QFile::exists(dir.filePath("other.flw")));

    const QByteArray expected = cli({"tag-set", copy, "流量", "61", "-o", "-"}).out;
    EXPECT_TRUE(expected.startsWith("<?xml")) << expected.left(80).data();
    EXPECT_EQ(cli({"tag-set", copy, "流量", "61", "-o", "/dev/stdout"}).out, expected);
    EXPECT_EQ(tessarin::readWholeFile(copy), before);
}

// A page of a later format survives a save; the load says so on standard error.
TEST(WorkbookCli, PageOfALaterFormatIsKeptAndWarnedAbout)
{
    QByteArray bytes = tessarin::readWholeFile(sample);
    const qsizetype at = bytes.indexOf("SaveText=\"") + 10;
    const QByteArray later = "mZkAAAAAAAAAAAAAAAAA"; // bytes 0x99 0x99 ... : no known magic word
    bytes.replace(at, bytes.indexOf('"', at) - at, later);
    QTemporaryDir dir;
    const QString file = dir.filePath("later.flw");
    tessarin::writeFileAtomically(file, bytes);
    const CliRun r = cli({"tag-set", file, "密度", "998"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("warning: page 1 (line ")) << r.err.toStdString();
    const QByteArray saved = tessarin::readWholeFile(file);
    EXPECT_EQ(saved.mid(saved.indexOf("SaveText=\"") + 10, later.size() + 1), later + '"');
}

// base64 streams: a text longer than its reading piece decodes exactly, also with line breaks
// that put groups across pieces, and a refused text ends with status 1.
TEST(WorkbookCli, Base64StreamsBothWays)
{
    QByteArray bytes(7 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919) >> 5);
    const CliRun encoded = cli({"base64", "encode"}, bytes);
    ASSERT_EQ(encoded.status, 0);
    EXPECT_EQ(encoded.out, bytes.toBase64() + '\n');
    QByteArray wrapped;
    for (qsizetype i = 0; i < encoded.out.size(); i += 77)
        wrapped += encoded.out.mid(i, 77) + "\r\n";
    const CliRun decoded = cli({"base64", "decode"}, wrapped);
    ASSERT_EQ(decoded.status, 0) << decoded.err.toStdString();
    EXPECT_TRUE(decoded.out == bytes);
    const CliRun refused = cli({"base64", "decode"}, "YWJjYW=j");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("offset 7")) << refused.err.toStdString();
}

} // namespace
