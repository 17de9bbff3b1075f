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

TEST(EngineCli, HostileArgumentsFailCleanly)
{
    struct Case
    {
        QStringList args;
        QByteArray input;
        int status;
        QByteArray out;
        QString errPart;
    };
    QStringList chain = {QStringLiteral("translate"), QStringLiteral("Kaa")};
    for (int i = 0; i < 28; ++i)
        chain << QStringLiteral("-w")
              << QStringLiteral("K%1%2=K%3%4+K%3%4")
                     .arg(QChar(u'a' + i / 26),
                          QChar(u'a' + i % 26),
                          QChar(u'a' + (i + 1) / 26),
                          QChar(u'a' + (i + 1) % 26));
    const Case cases[] = {
        // An expression may begin with "-"; options of its own it has none.
        {{QStringLiteral("eval"), QStringLiteral("-1/0.0")},
         {},
         1,
         {},
         QStringLiteral("Divide by zero")},
        {{QStringLiteral("eval"), QStringLiteral("-2*3")}, {}, 0, "-6\n", {}},
        {{QStringLiteral("eval"), QStringLiteral("--"), QStringLiteral("-2*3")}, {}, 0, "-6\n", {}},
        {{QStringLiteral("eval"), QStringLiteral("1"), QStringLiteral("2")},
         {},
         2,
         {},
         QStringLiteral("argument")},
        {chain, {}, 1, {}, QStringLiteral("translate: formula \"Kaa\": replacing")},
        {{QStringLiteral("translate"),
          QStringLiteral("1E3*E"),
          QStringLiteral("-w"),
          QStringLiteral("E=2")},
         {},
         0,
         "1E3*2\n",
         {}},
        {{QStringLiteral("exec"), QStringLiteral("-")},
         QByteArray("void main() { ExportDouble(\"a\", 1); }\0void f() {}", 49),
         1,
         {},
         QStringLiteral("error at 0: the text holds a NUL character at position 38\n")},
        {{QStringLiteral("exec"), QStringLiteral("-")},
         QByteArray("void main() { ExportDouble(\"a\", 1); ExportDouble(\"b|c\", 2); }"),
         1,
         {},
         QStringLiteral("error at 0: export \"b|c\" refused")},
    };
    for (const Case &c : cases) {
        const CliRun r = cli(c.args, c.input);
        EXPECT_EQ(r.status, c.status)
            << c.args.join(' ').left(60).toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').left(60).toStdString();
        EXPECT_TRUE(r.err.contains(c.errPart)) << r.err.toStdString();
        // One message, one "error" in it.
        EXPECT_LE(r.err.count(QStringLiteral("error")), 1) << r.err.toStdString();
    }
    const CliRun help = cli({QStringLiteral("eval"), QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("EXPR"));
}

} // namespace
