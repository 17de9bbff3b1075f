// tessarin-cli workbook-pdf FILE -o OUT.pdf [--current N]: prints the workbook's pages to PDF.

#include "command.h"
#include "workbookfile.h"

#include "error.h"
#include "printdevice.h"

#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>

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
    TqzReport *first = workbook.Pages.front();
    if (parser.isSet(currentOption)) {
        bool ok = false;
        const int n = parser.value(currentOption).toInt(&ok);
        if (!ok || n < 0 || n >= workbook.Pages.size())
            throw UsageError(QStringLiteral("--current: \"%1\" is not a page of the workbook "
                                            "(0 to %2)")
                                 .arg(parser.value(currentOption))
                                 .arg(workbook.Pages.size() - 1));
        first = workbook.Pages[n];
        workbook.SetCurrentPage(first);
    }

    // Printed into a scratch folder beside OUT and moved over it once complete, so a failed
    // print never leaves a half-written file.
    QTemporaryDir scratch(QFileInfo(out).absolutePath() + QStringLiteral("/.workbook-pdf-XXXXXX"));
    if (!scratch.isValid())
        throw Error(QStringLiteral("%1: cannot create a temporary folder beside it: %2")
                        .arg(out, scratch.errorString()));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(scratch.filePath(QStringLiteral("out.pdf")));
    printer.setDocName(QFileInfo(file).completeBaseName());
    // The sheet takes the paper stored with the first page printed.
    applyPaperToPrinter(
        printer, first->FPaperSize, first->FOrientation, first->FPaperLength, first->FPaperWidth);
    if (parser.isSet(currentOption))
        workbook.PrintCurrent(&printer);
    else
        workbook.PrintAll(&printer);
    writeFileAtomically(out, readWholeFile(printer.outputFileName()));
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
