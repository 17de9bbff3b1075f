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

QStringList positional(const QCommandLineParser &parser, int count, bool exact)
{
    const QStringList args = parser.positionalArguments();
    if (args.size() < count || (exact && args.size() > count))
        throw UsageError(QStringLiteral("expected %1 argument(s), got %2")
                             .arg(count)
                             .arg(args.size()));
    return args;
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
