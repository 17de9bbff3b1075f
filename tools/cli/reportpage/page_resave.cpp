// tessarin-cli page-resave IN OUT: load a page stream of any version and write it as version 3.

#include "command.h"

#include "error.h"
#include "reportpage.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QStringList args = positional(parser, 2);
    TReportPage page;
    page.LoadFromFile(args.at(0));
    if (page.loadedStreamVersion() == 0)
        throw Error(QStringLiteral("%1: not a page stream (unknown magic word)").arg(args.at(0)));
    page.SaveToFile(args.at(1));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("page-resave"),
    QStringLiteral("Load a page stream of any version and write it back as version 3."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("IN"),
                                     QStringLiteral("Page stream file, or - for stdin."));
        parser.addPositionalArgument(QStringLiteral("OUT"),
                                     QStringLiteral("File to write (replaced as a whole)."));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
