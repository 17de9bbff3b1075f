// tessarin-cli workbook-pdf FILE -o OUT.pdf [--current N]: prints the workbook's pages to PDF.

#include "command.h"
#include "workbookfile.h"

#include "error.h"
#include "pagepainter.h"

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
    TqzWorkbook &workbook = loaded->workbook;
    if (workbook.pageCount() == 0)
        throw Error(QStringLiteral("%1: the workbook has no pages to print").arg(file));
    QList<const TReportPage *> pages;
    if (parser.isSet(currentOption)) {
        bool ok = false;
        const int n = parser.value(currentOption).toInt(&ok);
        if (!ok || n < 0 || n >= workbook.pageCount())
            throw UsageError(QStringLiteral("--current: \"%1\" is not a page of the workbook "
                                            "(0 to %2)")
                                 .arg(parser.value(currentOption))
                                 .arg(workbook.pageCount() - 1));
        // One page is printed as it stands, as printing the current page does.
        pages.append(workbook.page(n));
    } else {
        // Printing the workbook fills the page-number fields first.
        workbook.UpdatePageFields();
        for (int k = 0; k < workbook.pageCount(); ++k)
            pages.append(workbook.page(k));
    }
    savePagesToPdf(pages, out, QFileInfo(file).completeBaseName());
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
