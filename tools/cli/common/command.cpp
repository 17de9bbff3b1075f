#include "command.h"

#include <algorithm>

#include <QJsonArray>

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

void printJsonStreamed(QJsonObject doc, const std::vector<StreamedArray> &arrays)
{
    for (const StreamedArray &array : arrays)
        doc.insert(array.key, QJsonArray());
    // Qt writes an empty array of the top-level object as "[" and "]" on lines of their own at
    // an indentation of four; the items go between them, each indented as Qt indents the
    // elements of such an array.
    const QByteArray text = QJsonDocument(doc).toJson(QJsonDocument::Indented);
    std::vector<std::pair<qsizetype, const StreamedArray *>> places;
    for (const StreamedArray &array : arrays) {
        const QByteArray open = "\n    "
                                + QJsonDocument(QJsonArray{array.key})
                                      .toJson(QJsonDocument::Compact)
                                      .mid(1)
                                      .chopped(1)
                                + ": [\n";
        places.emplace_back(text.indexOf(open) + open.size(), &array);
    }
    std::sort(places.begin(), places.end());
    qsizetype from = 0;
    for (const auto &[at, array] : places) {
        printRaw(text.mid(from, at - from));
        from = at;
        for (qsizetype i = 0; i < array->count; ++i) {
            // "[\n" + the item's lines indented by four + "\n]\n": its lines, indented by four
            // more.
            const QByteArray one
                = QJsonDocument(QJsonArray{array->item(i)}).toJson(QJsonDocument::Indented);
            QByteArray lines = one.mid(2, one.size() - 5);
            lines.replace("\n", "\n    ");
            printRaw("    " + lines + (i + 1 < array->count ? ",\n" : "\n"));
        }
    }
    printRaw(text.mid(from));
}

} // namespace tessarin::cli
