// tessarin-cli translate TEXT [-w KEY=VALUE]...: a formula with names replaced by values.

#include "command.h"

#include "qztranslate.h"

namespace {

const QCommandLineOption wordOption({QStringLiteral("w"), QStringLiteral("word")},
                                    QStringLiteral("A dictionary entry, added in order."),
                                    QStringLiteral("KEY=VALUE"));

int runTranslate(const QCommandLineParser &parser)
{
    const QStringList args = tessarin::cli::positional(parser, 1);
    tessarin::TqzTranslate dictionary;
    for (const QString &word : parser.values(wordOption)) {
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw tessarin::cli::UsageError(
                QStringLiteral("-w expects KEY=VALUE with a non-empty KEY, got \"%1\"").arg(word));
        dictionary.AddWord(word.left(eq), word.mid(eq + 1));
    }
    tessarin::cli::printLine(dictionary.Translate(args.at(0)));
    return 0;
}

const bool registered = tessarin::cli::registerCommand(
    {QStringLiteral("translate"),
     QStringLiteral("Replace dictionary words in a formula"),
     [](QCommandLineParser &parser) {
         parser.addPositionalArgument(QStringLiteral("TEXT"), QStringLiteral("The formula."));
         parser.addOption(wordOption);
     },
     runTranslate});

} // namespace
