// tessarin-cli eval EXPR: one expression evaluated the way a run does.

#include "command.h"

#include "qzcomplier.h"

#include <cstdio>

namespace {

int runEval(const QCommandLineParser &parser)
{
    const QStringList args = tessarin::cli::positional(parser, 1);
    tessarin::TqzComplier complier;
    const QString result = complier.Evaluate(args.at(0));
    if (!complier.Succeeded) {
        std::fputs((complier.ErrorText + QLatin1Char('\n')).toUtf8().constData(), stderr);
        return 1;
    }
    tessarin::cli::printLine(result);
    return 0;
}

// An expression may begin with "-".
const bool registered = tessarin::cli::setPositionalOnly(QStringLiteral("eval"))
                        && tessarin::cli::registerCommand(
                            {QStringLiteral("eval"),
                             QStringLiteral("Evaluate one expression with the script library"),
                             [](QCommandLineParser &parser) {
                                 parser.addPositionalArgument(
                                     QStringLiteral("EXPR"),
                                     QStringLiteral("The expression (lower-cased before use)."));
                             },
                             runEval});

} // namespace
