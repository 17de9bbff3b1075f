#pragma once

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <vector>

namespace tessarin::cli {

// Thrown for wrong usage (exit status 2); the message says what is wrong.
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const QString &message)
        : std::runtime_error(message.toStdString())
    {}
};

// One command of tessarin-cli. `configure` declares its arguments and options on the parser;
// `run` does the work and returns the exit status. Failures are thrown as tessarin::Error.
struct Command
{
    QString name;
    QString summary;
    std::function<void(QCommandLineParser &)> configure;
    std::function<int(const QCommandLineParser &)> run;
};

// The commands known to the tool, in registration order.
std::vector<Command> &commands();

// Registers a command at static-initialisation time:
//   static const bool registered = registerCommand({...});
bool registerCommand(Command command);

// Marks a command without options whose arguments may begin with "-" (an expression such as
// "-1/0.0"): everything after its name is positional, except a lone -h or --help.
bool setPositionalOnly(const QString &name);
bool isPositionalOnly(const QString &name);

// The positional arguments, checked to be exactly `count` (or at least `count` when !exact).
QStringList positional(const QCommandLineParser &parser, int count, bool exact = true);

// The "-o OUT" option (also "--output"); `what` describes OUT, `valueName` names it in help.
QCommandLineOption outputOption(const QString &what,
                                const QString &valueName = QStringLiteral("OUT"));
// The value of a required "-o OUT"; UsageError naming `valueName` when it is missing.
QString requiredOutput(const QCommandLineParser &parser,
                       const QString &valueName = QStringLiteral("OUT"));
// Declares the FILE argument of the commands that read a project file.
void addProjectFileArgument(QCommandLineParser &parser);

// Output helpers: UTF-8 on standard output.
void printLine(const QString &text);
void printRaw(const QByteArray &bytes);
void printJson(const QJsonDocument &doc);

// An array of a JSON document produced one item at a time.
struct StreamedArray
{
    QString key;     // a key of the document's top-level object
    qsizetype count; // how many items
    std::function<QJsonValue(qsizetype)> item;
};
// Prints `doc` exactly as printJson would once every array of `arrays` is put under its key
// (where `doc` has none or an empty array), but makes and prints the items one at a time, so
// that a large output never exists whole in memory.
void printJsonStreamed(QJsonObject doc, const std::vector<StreamedArray> &arrays);

} // namespace tessarin::cli
