// tessarin-cli page-dump FILE [--base64]: one page stream, after loading and layout, as JSON.

#include "command.h"

#include "atomicfile.h"
#include "base64.h"
#include "error.h"
#include "reportpage.h"
#include "reportstream.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    QByteArray bytes = readWholeFile(file);
    if (parser.isSet(QStringLiteral("base64")))
        bytes = base64Decode(bytes);
    TReportPage page;
    try {
        loadPageStream(page, bytes);
    } catch (const Error &e) {
        throw Error(file + QStringLiteral(": ") + e.message());
    }
    if (page.loadedStreamVersion() == 0)
        throw Error(QStringLiteral("%1: not a page stream (unknown magic word)").arg(file));
    printJson(QJsonDocument(pageDumpJson(page, page.loadedStreamVersion())));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("page-dump"),
    QStringLiteral("Load one page stream and print it, after its layout, as JSON."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Page stream file, or - for stdin."));
        parser.addOption(QCommandLineOption(
            QStringLiteral("base64"), QStringLiteral("The file holds the page's Base64 text.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
