// tessarin-cli's script-engine commands, run as a user runs them.

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/clirun.h"

namespace {

using tessarin::test::cli;
using tessarin::test::CliRun;

TEST(EngineCli, EvalPrintsTheLibraryTextOrFails)
{
    CliRun r = cli({QStringLiteral("eval"), QStringLiteral("12.0/5+PI*0")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QByteArray("2.4\n"));

    r = cli({QStringLiteral("eval"), QStringLiteral("xyz/2")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("'xyz' is not declared"))) << r.err.toStdString();

    r = cli({QStringLiteral("eval")});
    EXPECT_EQ(r.status, 2);
}

TEST(EngineCli, TranslateAppliesWordsInOrder)
{
    CliRun r = cli({QStringLiteral("translate"), QStringLiteral(" QM*Q+\"Q\" "), QStringLiteral("-w"),
                    QStringLiteral("Q=1.5"), QStringLiteral("-w"), QStringLiteral("QM=7.0"),
                    QStringLiteral("-w"), QStringLiteral("q=2.5")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QByteArray("7.0*2.5+\"Q\"\n"));

    r = cli({QStringLiteral("translate"), QStringLiteral("x"), QStringLiteral("-w"),
             QStringLiteral("novalue")});
    EXPECT_EQ(r.status, 2);
}

TEST(EngineCli, ExecPrintsExportsOrPositionedError)
{
    CliRun r = cli({QStringLiteral("exec"), QStringLiteral(TESSARIN_TEST_DATA "/engine/pipe_loss.as")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("v=1.273239544735")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("re=126")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("dp=")) << lines[2].toStdString();
    EXPECT_EQ(lines[3], QByteArray("tiny=1E-7"));

    r = cli({QStringLiteral("exec"), QStringLiteral("-")},
            QByteArray("void main()\n{\n    ExportDouble(\"a\", 1);\n    y = 2;\n}\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("error at 4: "))) << r.err.toStdString();

    r = cli({QStringLiteral("exec"), QStringLiteral("/nonexistent/program.as")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("/nonexistent/program.as")));
}

} // namespace
