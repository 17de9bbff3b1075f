// tessarin-cli run FILE [--set NAME=VALUE]... [--node NAME | --page TAB] [-o OUT]
//                   [--expect FILE.exm [--rtol X]]: the run of the project window, headless.

#include "headlessproject.h"

#include "chartrun.h"
#include "examfile.h"
#include "numbertext.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace tessarin::cli {
namespace {

// Numbers agree within the relative tolerance; anything else must match exactly.
bool sameValue(const QString &value, const QString &expected, double rtol)
{
    if (value == expected)
        return true;
    if (!isNumberText(value) || !isNumberText(expected))
        return false;
    const double a = textToFloatDef(value, kNotANumber);
    const double b = textToFloatDef(expected, kNotANumber);
    return std::fabs(a - b) <= rtol * std::max(std::fabs(a), std::fabs(b));
}

int run(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    const QList<std::pair<QString, QString>> sets = setValues(parser);
    const bool byNode = parser.isSet(QStringLiteral("node"));
    const bool byPage = parser.isSet(QStringLiteral("page"));
    if (byNode && byPage)
        throw UsageError(QStringLiteral("--node and --page exclude each other"));
    const QString out = parser.value(QStringLiteral("o"));
    if (parser.isSet(QStringLiteral("o")) && out.isEmpty())
        throw UsageError(QStringLiteral("the output file name is empty"));
    const bool expecting = parser.isSet(QStringLiteral("expect"));
    double rtol = 1e-9;
    if (parser.isSet(QStringLiteral("rtol"))) {
        if (!expecting)
            throw UsageError(QStringLiteral("--rtol needs --expect"));
        bool ok = false;
        rtol = parser.value(QStringLiteral("rtol")).toDouble(&ok);
        if (!ok || !(rtol >= 0) || std::isinf(rtol))
            throw UsageError(QStringLiteral("--rtol \"%1\": expected a number >= 0")
                                 .arg(parser.value(QStringLiteral("rtol"))));
    }

    auto p = std::make_unique<HeadlessProject>();
    p->load(fileName, QStringLiteral("run"));
    // The expected set is read before the run, so a damaged one costs no run.
    TqzExamData expected;
    if (expecting)
        LoadExamDataFromFile(expected, parser.value(QStringLiteral("expect")));
    for (const auto &[name, value] : sets)
        p->set(name, value);

    TqzRunResult result;
    if (byNode) {
        const QString name = parser.value(QStringLiteral("node"));
        const TqzProjectTree &tree = *p->project.TreeView;
        int found = -1;
        for (int i = 0; i < tree.count() && found < 0; ++i)
            if (tree.nodeAt(i)->Name == name)
                found = i;
        if (found < 0)
            throw Error(
                QStringLiteral("--node %1: the project has no node of that name").arg(name));
        p->host.selectItem(tree.itemAt(found));
        result = p->run.runSelected();
    } else if (byPage) {
        const QString tab = parser.value(QStringLiteral("page"));
        if (!p->workbook.PageNames.contains(tab))
            throw Error(QStringLiteral("--page %1: the workbook has no tab of that name").arg(tab));
        result = p->run.runPage(tab);
        if (!result.started)
            throw Error(
                QStringLiteral("--page %1: no node with a script is named like the tab").arg(tab));
    } else {
        result = p->run.runProject();
    }
    if (!result.started)
        throw Error(fileName + QStringLiteral(": the project has no nodes to run"));

    QJsonObject doc;
    const TqzProjectTree &tree = *p->project.TreeView;
    // The log and the nodes are printed one at a time (printJsonStreamed): a large project's
    // would take many times its size as JSON values.
    const QStringList &log = p->host.log.lines();
    const std::vector<StreamedArray> arrays
        = {{QStringLiteral("log"), log.size(), [&](qsizetype i) { return QJsonValue(log[i]); }},
           {QStringLiteral("nodes"), tree.count(), [&](qsizetype i) {
                const TqzNode &n = *tree.nodeAt(static_cast<int>(i));
                return QJsonValue(QJsonObject{{QStringLiteral("name"), n.Name},
                                              {QStringLiteral("caption"), n.Caption},
                                              {QStringLiteral("value"), n.Value},
                                              {QStringLiteral("unit"), n.Unit},
                                              {QStringLiteral("script"), n.Script}});
            }}};
    doc.insert(QStringLiteral("failedSteps"), result.failedSteps);
    doc.insert(QStringLiteral("elapsedMs"), static_cast<qint64>(result.elapsedMs));
    if (result.aborted)
        doc.insert(QStringLiteral("aborted"), result.abortMessage);

    bool differs = false;
    if (expecting) {
        // Each name once, its first item against the set's first entry of that name.
        QJsonArray differences;
        QStringList missing;
        QSet<QString> seen;
        for (const auto &entry : expected.NodeDatas) {
            if (seen.contains(entry->Name))
                continue;
            seen.insert(entry->Name);
            const TqzNode *n = p->node(entry->Name);
            if (!n) {
                missing.append(entry->Name);
                continue;
            }
            if (!sameValue(n->Value, entry->Value, rtol))
                differences.append(QJsonObject{{QStringLiteral("name"), entry->Name},
                                               {QStringLiteral("value"), n->Value},
                                               {QStringLiteral("expected"), entry->Value}});
        }
        doc.insert(QStringLiteral("differences"), differences);
        doc.insert(QStringLiteral("missing"), QJsonArray::fromStringList(missing));
        differs = !differences.isEmpty() || !missing.isEmpty();
    }
    printJsonStreamed(doc, arrays);

    if (result.aborted) {
        std::fflush(stdout);
        throw Error(QStringLiteral("the run ended early: ") + result.abortMessage);
    }
    if (!out.isEmpty()) {
        // Charts follow the run's values.
        for (const QString &problem : computeCharts(p->document))
            std::fputs(QStringLiteral("tessarin-cli: run: warning: %1\n")
                           .arg(problem)
                           .toUtf8()
                           .constData(),
                       stderr);
        p->file.saveAs(out, p->workbook);
    }
    return differs ? 1 : 0;
}

const bool registered = registerCommand({
    QStringLiteral("run"),
    QStringLiteral("Run a project's calculation as the project window does (whole project, one "
                   "node's subtree or one page's node) and print the log and the node values."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(setOption());
        parser.addOption(QCommandLineOption(QStringLiteral("node"),
                                            QStringLiteral("Run the subtree of the first node "
                                                           "named NAME."),
                                            QStringLiteral("NAME")));
        parser.addOption(QCommandLineOption(QStringLiteral("page"),
                                            QStringLiteral("Run the node named like the page tab "
                                                           "TAB (as \"运行当前页\")."),
                                            QStringLiteral("TAB")));
        parser.addOption(
            outputOption(QStringLiteral("Write the project with its updated pages to OUT.")));
        parser.addOption(QCommandLineOption(
            QStringLiteral("expect"),
            QStringLiteral("Compare the node values with a test-data set; list the differences "
                           "and exit 1 when there are any."),
            QStringLiteral("FILE.exm")));
        parser.addOption(QCommandLineOption(
            QStringLiteral("rtol"),
            QStringLiteral("Relative tolerance for numbers with --expect (default 1e-9)."),
            QStringLiteral("X")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
