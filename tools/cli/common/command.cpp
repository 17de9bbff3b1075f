#include "command.h"

#include <cstdio>

namespace tessarin::cli {

std::vector<Command> &commands()
{
    static std::vector<Command> list;
    return list;
}

bool registerCommand(Command command)
{
    commands().push_back(std::move(command));
    return true;
}

namespace {

QStringList &positionalOnlyCommands()
{
    static QStringList names;
    return names;
}

} // namespace

bool setPositionalOnly(const QString &name)
{
    positionalOnlyCommands().append(name);
    return true;
}

bool isPositionalOnly(const QString &name)
{
    return positionalOnlyCommands().contains(name);
}

QStringList positional(const QCommandLineParser &parser, int count, bool exact)
{
    const QStringList args = parser.positionalArguments();
    if (args.size() < count || (exact && args.size() > count))
        throw UsageError(
            QStringLiteral("expected %1 argument(s), got %2").arg(count).arg(args.size()));
    return args;
}

QCommandLineOption outputOption(const QString &what, const QString &valueName)
{
    return QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, what, valueName);
}

QString requiredOutput(const QCommandLineParser &parser, const QString &valueName)
{
    const QString out = parser.value(QStringLiteral("o"));
    if (out.isEmpty())
        throw UsageError(QStringLiteral("the output file (-o %1) is missing").arg(valueName));
    return out;
}

void addProjectFileArgument(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Project file (.flw), or - for stdin."));
}

void printRaw(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void printLine(const QString &text)
{
    printRaw(text.toUtf8() + '\n');
}

void printJson(const QJsonDocument &doc)
{
    printRaw(doc.toJson(QJsonDocument::Indented));
}

} // namespace tessarin::cli
