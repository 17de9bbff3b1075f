// tessarin-cli tag-set FILE NAME VALUE [-o OUT]: writes a value by tag name and saves the
// workbook element the way the program's save does.

#include "command.h"
#include "workbookfile.h"

#include "error.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QStringList args = positional(parser, 3);
    const QString file = args[0];
    // Without -o the result replaces FILE, which standard input cannot take; "-o -" writes the
    // document to standard output.
    if (!parser.isSet(QStringLiteral("o")) && file == QLatin1String("-"))
        throw UsageError(QStringLiteral("the result of reading standard input needs -o OUT (a "
                                        "file, or - for standard output)"));
    const QString out
        = parser.isSet(QStringLiteral("o")) ? parser.value(QStringLiteral("o")) : file;
    if (out.isEmpty())
        throw UsageError(QStringLiteral("the output file name is empty"));
    const auto loaded = loadWorkbook(file, QStringLiteral("tag-set"));
    TqzWorkbook &workbook = loaded->workbook;
    // A name no cell answers to is a mistake (a typing error, lower-case letters where tags
    // answer in capitals): say so instead of saving an unchanged workbook.
    if (workbook.SetTagValue(args[1], args[2]).matched == 0)
        throw Error(QStringLiteral("%1: no cell carries the tag \"%2\" (tags answer to their "
                                   "names in capitals); nothing was written")
                        .arg(file == QLatin1String("-") ? QStringLiteral("standard input") : file,
                             args[1]));
    workbook.UpdatePageFields();
    // The new document is built in memory from FILE's bytes and written once, atomically.
    writeFileAtomically(out, workbook.SaveIntoDocument(loaded->bytes, file));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("tag-set"),
    QStringLiteral("Write VALUE into every cell tagged NAME, fill the page-number fields and "
                   "save the workbook element into FILE (or OUT)."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Project file (.flw), or - for stdin with "
                                                    "-o."));
        parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("Tag name."));
        parser.addPositionalArgument(QStringLiteral("VALUE"), QStringLiteral("Text to write."));
        parser.addOption(outputOption(
            QStringLiteral("Write the result to OUT (a copy of FILE with the new workbook "
                           "element; - for standard output) instead of rewriting FILE.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
