// tessarin-cli page-pdf IN -o OUT.pdf: the page drawn onto one PDF sheet, as printing does.

#include "command.h"

#include "error.h"
#include "reportpage.h"

#include <QFileInfo>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString in = positional(parser, 1).at(0);
    const QString out = requiredOutput(parser, QStringLiteral("OUT.pdf"));
    TReportPage page;
    page.LoadFromFile(in);
    if (page.loadedStreamVersion() == 0)
        throw Error(QStringLiteral("%1: not a page stream (unknown magic word)").arg(in));
    // A PDF sheet has no unprintable border: the whole sheet is the printable area.
    page.SaveToPdf(out, QFileInfo(out).completeBaseName());
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("page-pdf"),
    QStringLiteral("Draw one page stream onto one PDF page, as printing does."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("IN"),
                                     QStringLiteral("Page stream file, or - for stdin."));
        parser.addOption(
            outputOption(QStringLiteral("PDF file to write."), QStringLiteral("OUT.pdf")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
