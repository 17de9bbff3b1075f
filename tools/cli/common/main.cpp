// tessarin-cli: the headless face of Tessarin (see README for the commands).

#include "command.h"

#include "error.h"
#include "filenames.h"
#include "fonts.h"
#include "qtenvironment.h"

#include <QGuiApplication>
#include <QCommandLineParser>

#include <algorithm>
#include <cstdio>

using namespace tessarin;
using namespace tessarin::cli;

namespace {

void printUsage()
{
    QString text = QStringLiteral("Usage: tessarin-cli COMMAND [ARGS] [OPTIONS]\n\nCommands:\n");
    std::vector<const Command *> sorted;
    for (const Command &c : commands())
        if (!c.summary.isEmpty()) // commands without a summary serve the tool itself
            sorted.push_back(&c);
    std::sort(sorted.begin(), sorted.end(), [](const Command *a, const Command *b) {
        return a->name < b->name;
    });
    for (const Command *cp : sorted) {
        const Command &c = *cp;
        text += QStringLiteral("  %1  %2\n").arg(c.name, -16).arg(c.summary);
    }
    text += QStringLiteral("\nRun 'tessarin-cli COMMAND --help' for the arguments of a command.\n");
    std::fputs(text.toUtf8().constData(), stdout);
}

void printError(const QString &message)
{
    std::fputs(("tessarin-cli: " + message + '\n').toUtf8().constData(), stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // Pages measure their texts with the platform's fonts, shown or not: the offscreen platform
    // stands in when there is no display.
    prepareQtEnvironment(true);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("tessarin-cli"));
    installFontSubstitutions();

    // The arguments as the bytes they are: a file name that is not UTF-8 must reach the file it
    // names (QGuiApplication::arguments() would put U+FFFD in place of its odd bytes). The
    // application has taken its own options out of argv by now.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(fileNameFromNative(argv[i]));
    if (args.size() < 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        printUsage();
        return args.size() < 2 ? 2 : 0;
    }

    const Command *command = nullptr;
    for (const Command &c : commands())
        if (c.name == args[1])
            command = &c;
    if (!command) {
        printError(QStringLiteral("unknown command \"%1\" (see tessarin-cli --help)").arg(args[1]));
        return 2;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(command->summary);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    if (command->configure)
        command->configure(parser);
    QStringList commandArgs = args.mid(1);
    commandArgs[0] = QStringLiteral("tessarin-cli ") + command->name;
    if (isPositionalOnly(command->name) && commandArgs.size() > 1
        && !(
            commandArgs.size() == 2
            && (commandArgs[1] == QLatin1String("-h") || commandArgs[1] == QLatin1String("--help")))
        && commandArgs[1] != QLatin1String("--"))
        commandArgs.insert(1, QStringLiteral("--"));
    if (!parser.parse(commandArgs)) {
        printError(command->name + QStringLiteral(": ") + parser.errorText());
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }

    try {
        const int status = command->run(parser);
        std::fflush(stdout);
        return status;
    } catch (const UsageError &e) {
        printError(command->name + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return 2;
    } catch (const Error &e) {
        printError(command->name + QStringLiteral(": ") + e.message());
        return 1;
    } catch (const std::exception &e) {
        printError(command->name + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return 1;
    }
}
