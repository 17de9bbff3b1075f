// tessarin-cli book FILE -o OUT.pdf [--set NAME=VALUE]...: runs the project as the project window
// does, then writes its calculation book.

#include "headlessproject.h"

#include "calcbook.h"
#include "chartrun.h"

#include <cstdio>

#include <QJsonObject>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    const QString out = requiredOutput(parser, QStringLiteral("OUT.pdf"));
    const QList<std::pair<QString, QString>> sets = setValues(parser);

    auto p = std::make_unique<HeadlessProject>();
    p->load(fileName, QStringLiteral("book"));
    QHash<QString, QString> origins;
    for (const auto &[name, value] : sets)
        if (!p->set(name, value))
            origins.insert(name, QStringLiteral("命令行"));

    QList<TqzRunStep> steps;
    p->host.steps = &steps;
    const TqzRunResult result = p->run.runProject();
    if (!result.started)
        throw Error(fileName + QStringLiteral(": the project has no nodes to run"));
    if (result.aborted)
        throw Error(QStringLiteral("the run ended early: ") + result.abortMessage);

    for (const QString &problem : computeCharts(p->document))
        std::fputs(QStringLiteral("tessarin-cli: book: warning: %1\n")
                       .arg(problem)
                       .toUtf8()
                       .constData(),
                   stderr);
    const CalcBook book
        = calcBookOf(p->document, p->file.Document, steps, result.emptyInputs, origins);
    const int sheets = writeCalcBook(book, out);
    printJson(QJsonDocument(QJsonObject{{QStringLiteral("sheets"), sheets},
                                        {QStringLiteral("steps"), result.steps},
                                        {QStringLiteral("failedSteps"), result.failedSteps}}));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("book"),
    QStringLiteral("Run a project, then write its calculation book (cover, contents, the report "
                   "pages, every step typeset, the inputs) as one A4 PDF."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(
            outputOption(QStringLiteral("The PDF file to write."), QStringLiteral("OUT.pdf")));
        parser.addOption(setOption());
    },
    run,
});

} // namespace
} // namespace tessarin::cli
