// tessarin-cli exec FILE: a program text (one that defines main) run through the compiler.

#include "command.h"

#include "atomicfile.h"
#include "error.h"
#include "qzcomplier.h"
#include "textcodec.h"

#include <QStringDecoder>

#include <cstdio>

namespace {

// Program files are UTF-8; a file that is not valid UTF-8 is read in the Chinese code page.
QString decodeProgram(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    return tessarin::fromCodePage(bytes);
}

int runExec(const QCommandLineParser &parser)
{
    const QStringList args = tessarin::cli::positional(parser, 1);
    tessarin::TqzComplier complier;
    complier.Source = decodeProgram(tessarin::readWholeFile(args.at(0)));
    if (!complier.HasMain())
        throw tessarin::Error(
            QStringLiteral("%1: the program has no \"main\"; use eval for expressions")
                .arg(args.at(0)));
    if (!complier.Compile()) {
        std::fputs(QStringLiteral("error at %1: %2\n")
                       .arg(complier.ErrorPos)
                       .arg(complier.ErrorText)
                       .toUtf8()
                       .constData(),
                   stderr);
        return 1;
    }
    for (const tessarin::TqzExportValue &pair : complier.Exports)
        tessarin::cli::printLine(pair.Name + QLatin1Char('=') + pair.Value);
    return 0;
}

const bool registered = tessarin::cli::registerCommand(
    {QStringLiteral("exec"),
     QStringLiteral("Run a program and print what it exports"),
     [](QCommandLineParser &parser) {
         parser.addPositionalArgument(QStringLiteral("FILE"),
                                      QStringLiteral("The program text (\"-\" for stdin)."));
     },
     runExec});

} // namespace
