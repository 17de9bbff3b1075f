// tessarin-cli check FILE: checks a project without running it and prints the findings.

#include "headlessproject.h"

#include "projectcheck.h"

#include <QJsonObject>

#include <cstdio>

namespace tessarin::cli {
namespace {

int check(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    auto p = std::make_unique<HeadlessProject>();
    p->load(fileName, QStringLiteral("check"));
    const ProjectCheckResult result = checkProject(p->project, p->workbook);

    const QList<ProjectFinding> &findings = result.findings;
    printJsonStreamed(QJsonObject{},
                      {{QStringLiteral("findings"), findings.size(), [&](qsizetype i) {
                            const ProjectFinding &f = findings[i];
                            return QJsonValue(QJsonObject{{QStringLiteral("kind"), f.kind},
                                                          {QStringLiteral("severity"), f.severity},
                                                          {QStringLiteral("node"), f.node},
                                                          {QStringLiteral("page"), f.page},
                                                          {QStringLiteral("cell"), f.cell},
                                                          {QStringLiteral("message"), f.message}});
                        }}});
    for (const QString &why : result.notChecked)
        std::fputs(
            QStringLiteral("tessarin-cli: check: warning: %1\n").arg(why).toUtf8().constData(),
            stderr);
    return result.hasErrors() ? 1 : 0;
}

const bool registered = registerCommand({
    QStringLiteral("check"),
    QStringLiteral("Check a project without running it (names, run order, formulas, tagged "
                   "cells) and print the findings; exit 1 when any is an error."),
    [](QCommandLineParser &parser) { addProjectFileArgument(parser); },
    check,
});

} // namespace
} // namespace tessarin::cli
