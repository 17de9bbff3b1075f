// tessarin-cli exam-load FILE EXM [-o OUT]: a test-data set into a project's nodes and tagged
// cells, as the project window's "加载测试数据" does.

#include "headlessproject.h"

#include "examcommands.h"

#include <QJsonArray>
#include <QJsonObject>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QStringList args = positional(parser, 2);
    const QString out = parser.value(QStringLiteral("o"));
    if (parser.isSet(QStringLiteral("o")) && out.isEmpty())
        throw UsageError(QStringLiteral("the output file name is empty"));
    auto p = std::make_unique<HeadlessProject>();
    p->load(args[0], QStringLiteral("exam-load"));
    const TqzExamLoadResult result = LoadExamData(args[1], p->project, p->workbook, p->host);
    if (!out.isEmpty())
        p->file.saveAs(out, p->workbook);
    printJsonStreamed(QJsonObject{{QStringLiteral("loaded"), result.loaded}},
                      {{QStringLiteral("unknown"), result.unknown.size(), [&](qsizetype i) {
                            return QJsonValue(result.unknown[i]);
                        }}});
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("exam-load"),
    QStringLiteral("Load a test-data (.exm) set into a project's nodes and tagged cells; print "
                   "how many names were loaded and which the project does not know."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addPositionalArgument(QStringLiteral("EXM"), QStringLiteral("Test-data file."));
        parser.addOption(
            outputOption(QStringLiteral("Write the project with its updated pages to OUT.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
