// Printing and export of a report page: the page pixels mapped isotropically onto a printer
// sheet or any paint device and painted as on screen, less the screen's marks (grey edges of
// borders that are not set, the page outline, margin corners, selection).

#include "error.h"
#include "printdevice.h"
#include "reportcontrol.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace tessarin {

void TReportControl::drawPageOnto(QPainter &painter, const QSize &viewport)
{
    // The mapping is taken from the page in page pixels, whatever the zoom on screen, so a
    // zoomed page prints whole.
    const int w = FPageWidth;
    const int h = FPageHeight;
    if (w <= 0 || h <= 0 || viewport.width() <= 0 || viewport.height() <= 0)
        return;
    const double k = std::min(double(viewport.width()) / w, double(viewport.height()) / h);
    painter.save();
    // Isotropic: one factor for both axes, the page anchored at the top-left of the area.
    painter.setWindow(0, 0, w, h);
    painter.setViewport(0, 0, std::max(1, int(w * k + 0.5)), std::max(1, int(h * k + 0.5)));
    // Every cell, also one reaching past the page edges (the device clips it).
    constexpr int far = 1 << 29;
    paintPage(painter, TRect{-far, -far, far, far}, true);
    painter.restore();
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
