// tessarin-cli tag-get FILE NAME: the workbook's answer for a tag name.

#include "command.h"
#include "workbookfile.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QStringList args = positional(parser, 2);
    const auto loaded = loadWorkbook(args[0], QStringLiteral("tag-get"));
    printLine(loaded->workbook.GetTagValue(args[1]));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("tag-get"),
    QStringLiteral("Print the text of the first non-empty cell tagged NAME over the pages of a "
                   "project file's workbook (an empty line when there is none)."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addPositionalArgument(QStringLiteral("NAME"),
                                     QStringLiteral("Tag name as a node carries it (compared "
                                                    "with the upper-cased tag names)."));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
