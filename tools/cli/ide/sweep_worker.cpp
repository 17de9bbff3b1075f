// tessarin-cli sweep-worker FILE --input NAME... --report NAME... [--set NAME=VALUE]...: the
// worker process of "sweep", not listed in the help. It reads one case per line on standard
// input, [index, value, ...] with one value per --input name, runs the project from its
// document as loaded, and answers [index, [reported values], failed steps] or, when the case
// cannot be run, [index, [], "why"].

#include "headlessproject.h"

#include "atomicfile.h"
#include "xmldocument.h"

#include <QDomDocument>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace tessarin::cli {
namespace {

void answer(const QJsonArray &line)
{
    printRaw(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    std::fflush(stdout);
}

QJsonArray runCase(HeadlessProject &p,
                   const QDomElement &document,
                   const QList<std::pair<QString, QString>> &sets,
                   const QStringList &inputs,
                   const QStringList &reports,
                   const QJsonArray &request)
{
    const double index = request.at(0).toDouble();
    try {
        if (request.size() != inputs.size() + 1)
            throw Error(QStringLiteral("expected %1 values").arg(inputs.size()));
        // Every case starts from the document as loaded: a run changes nodes and pages.
        p.reload(document);
        for (const auto &[name, value] : sets)
            p.set(name, value);
        for (qsizetype i = 0; i < inputs.size(); ++i)
            p.set(inputs[i], request.at(i + 1).toString());
        const TqzRunResult result = p.run.runProject();
        if (!result.started)
            throw Error(QStringLiteral("the project has no nodes to run"));
        if (result.aborted)
            throw Error(result.abortMessage);
        QJsonArray values;
        for (const QString &name : reports) {
            const TqzNode *node = p.node(name);
            values.append(node ? node->Value : QString());
        }
        return QJsonArray{index, values, result.failedSteps};
    } catch (const Error &e) {
        return QJsonArray{index, QJsonArray(), e.message()};
    }
}

int run(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    const QStringList inputs = parser.values(QStringLiteral("input"));
    const QStringList reports = parser.values(QStringLiteral("report"));
    const QList<std::pair<QString, QString>> sets = setValues(parser);
    // Parsed once; each case rebuilds the nodes and pages from the same elements.
    const QDomDocument document = readXmlDocument(readWholeFile(fileName), fileName);
    HeadlessProject p;
    p.load(fileName, QStringLiteral("sweep-worker"));
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        throw Error(QStringLiteral("standard input cannot be read"));
    while (true) {
        const QByteArray line = in.readLine();
        if (line.isEmpty())
            break;
        const QJsonArray request = QJsonDocument::fromJson(line).array();
        if (request.isEmpty())
            throw Error(QStringLiteral("a case line is not a JSON array: %1")
                            .arg(QString::fromUtf8(line).trimmed()));
        answer(runCase(p, document.documentElement(), sets, inputs, reports, request));
    }
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("sweep-worker"),
    QString(), // serves "sweep"; not listed
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(QCommandLineOption(QStringLiteral("input"),
                                            QStringLiteral("Name of the n-th value of a case."),
                                            QStringLiteral("NAME")));
        parser.addOption(QCommandLineOption(QStringLiteral("report"),
                                            QStringLiteral("Node value to answer with."),
                                            QStringLiteral("NAME")));
        parser.addOption(setOption());
    },
    run,
});

} // namespace
} // namespace tessarin::cli
