// tessarin-cli workbook-pdf FILE -o OUT.pdf [--current N]: prints the workbook's pages to PDF.

#include "command.h"
#include "workbookfile.h"

#include "error.h"

#include <QFileInfo>

namespace tessarin::cli {
namespace {

const QCommandLineOption currentOption(
    QStringLiteral("current"),
    QStringLiteral("Print only page N (0-based, in workbook order) as the current page."),
    QStringLiteral("N"));

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    const QString out = requiredOutput(parser, QStringLiteral("OUT.pdf"));
    const auto loaded = loadWorkbook(file, QStringLiteral("workbook-pdf"));
    TqzExcel &workbook = loaded->workbook;
    if (workbook.Pages.isEmpty())
        throw Error(QStringLiteral("%1: the workbook has no pages to print").arg(file));
    if (parser.isSet(currentOption)) {
        bool ok = false;
        const int n = parser.value(currentOption).toInt(&ok);
        if (!ok || n < 0 || n >= workbook.Pages.size())
            throw UsageError(QStringLiteral("--current: \"%1\" is not a page of the workbook "
                                            "(0 to %2)")
                                 .arg(parser.value(currentOption))
                                 .arg(workbook.Pages.size() - 1));
        workbook.SetCurrentPage(workbook.Pages[n]);
    }
    workbook.PrintToPdf(out, QFileInfo(file).completeBaseName(), parser.isSet(currentOption));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("workbook-pdf"),
    QStringLiteral("Print all pages of a project file's workbook (or one page) to a PDF file."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(
            outputOption(QStringLiteral("The PDF file to write."), QStringLiteral("OUT.pdf")));
        parser.addOption(currentOption);
    },
    run,
});

} // namespace
} // namespace tessarin::cli
