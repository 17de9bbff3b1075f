// Printing and export of a report page: the page pixels mapped isotropically onto a printer
// sheet or any paint device and painted as on screen, less the screen's marks (grey edges of
// borders that are not set, the page outline, margin corners, selection).

#include "error.h"
#include "pagepainter.h"
#include "printdevice.h"
#include "reportcontrol.h"

#include <QPaintDevice>
#include <QPainter>

namespace tessarin {

void TReportControl::drawPageOnto(QPainter &painter, const QSize &viewport)
{
    // The mapping is taken from the page in page pixels, whatever the zoom on screen, so a
    // zoomed page prints whole.
    PagePainter pagePainter(*m_page, painter);
    pagePainter.prepare = [this](QPainter &p) { DrawPrepare(p); };
    pagePainter.isScreenOnlyText
        = [this](const TReportCell &cell) { return isScreenOnlyText(cell); };
    const int painted = pagePainter.paintScaled(viewport);
    if (painted >= 0)
        m_paintedCells = painted;
}

void TReportControl::PrintIt()
{
    TPrintJob *job = TPrintJob::current();
    if (!job)
        throw Error(QStringLiteral("cannot print the page: no print job is running"));
    PrintIt(job->painter());
}

void TReportControl::PrintIt(QPainter &painter)
{
    const QPaintDevice *device = painter.device();
    if (!device)
        throw Error(QStringLiteral("cannot print the page: the painter is not open"));
    drawPageOnto(painter, QSize(device->width(), device->height()));
}

void TReportControl::ApplyPaper(QPrinter &printer) const
{
    if (FPaperSize <= 0 && (FPaperWidth <= 0 || FPaperLength <= 0))
        return;
    applyPaperToPrinter(printer, FPaperSize, FOrientation, FPaperLength, FPaperWidth);
}

void TReportControl::ExportToPicture(QPainter &DC, const QSize &Size)
{
    drawPageOnto(DC, Size);
}

void TReportControl::ExportToPicture(QPaintDevice &DC, const QSize &Size)
{
    QPainter painter;
    if (!painter.begin(&DC))
        throw Error(QStringLiteral("cannot export the page: the picture cannot be painted on"));
    drawPageOnto(painter, Size);
}

} // namespace tessarin
