// Printing and export of a report page: the page pixels mapped isotropically onto a printer
// sheet or any paint device, cells drawn in print mode (only the borders that are set).

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
    DrawPrepare(painter);
    std::vector<const TReportCell *> painted;
    for (const auto &line : FLineList) {
        for (const auto &cellPtr : line->FCells) {
            const TReportCell *cell = cellPtr.get();
            if (cell->FOwnerCell)
                continue;
            if (cell->FBmp && !cell->FBmp->isNull()) {
                const TRect &r = cell->FCellRect;
                const QRect target(r.left + 3, r.top + 3, r.width() - 6, r.height() - 6);
                if (target.width() > 0 && target.height() > 0)
                    painter.drawImage(target, *cell->FBmp);
            }
            cell->PaintCell(painter, true);
            painted.push_back(cell);
        }
    }
    // A cell's background is filled from its left edge, where the previous cell's right border
    // lies; the borders that are set are drawn once more so that paper shows what the screen
    // shows.
    for (const TReportCell *cell : painted)
        cell->PaintSetBorders(painter);
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
