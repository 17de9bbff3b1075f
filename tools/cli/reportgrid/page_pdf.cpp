// tessarin-cli page-pdf IN -o OUT.pdf: the page drawn onto one PDF sheet, as printing does.

#include "command.h"

#include "atomicfile.h"
#include "error.h"
#include "printdevice.h"
#include "reportcontrol.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryFile>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString in = positional(parser, 1).at(0);
    const QString out = requiredOutput(parser, QStringLiteral("OUT.pdf"));
    TReportControl page;
    page.LoadFromFile(in);
    if (page.loadedStreamVersion() == 0)
        throw Error(QStringLiteral("%1: not a page stream (unknown magic word)").arg(in));

    // The PDF is printed into a temporary file beside the target, then moved over it whole.
    const QFileInfo target(out);
    QTemporaryFile temp(target.absoluteDir().filePath(QStringLiteral(".page-pdf-XXXXXX.pdf")));
    if (!temp.open())
        throw Error(QStringLiteral("cannot write %1: %2").arg(out, temp.errorString()));
    temp.close();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(temp.fileName());
    printer.setCreator(QStringLiteral("Tessarin"));
    printer.setDocName(target.completeBaseName());
    applyPaperToPrinter(
        printer, page.FPaperSize, page.FOrientation, page.FPaperLength, page.FPaperWidth);
    // A PDF sheet has no unprintable border: the whole sheet is the printable area.
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    {
        TPrintJob job(printer);
        page.PrintIt();
        job.EndDoc();
    }
    writeFileAtomically(out, readWholeFile(temp.fileName()));
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
