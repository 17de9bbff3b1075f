#pragma once

// Paints a report page on any QPainter (screen, printer, PDF, image) in page pixels: every
// cell as printed, without the marks only a screen shows.

#include "reportcell.h"

#include <QList>
#include <QSize>
#include <QString>

#include <functional>

class QPainter;

namespace tessarin {

class TReportPage;

class PagePainter
{
public:
    PagePainter(const TReportPage &page, QPainter &painter);

    // True for a cell whose text belongs on the screen only (a button): printing leaves its
    // text out, keeping its borders and background. Unset, the page says
    // (TReportPage::isScreenOnlyText).
    std::function<bool(const TReportCell &)> isScreenOnlyText;
    // Called with the painter before the cells are painted (the page's extras under them).
    std::function<void(QPainter &)> prepare;

    // Every cell meeting `area` (page pixels) through PaintCell, then the borders that are set
    // once more, so that no cell painted later hides a border it shares. `print` leaves out the
    // grey edges of borders that are not set and the texts that are for the screen only.
    // Returns the number of cells painted.
    int paint(const TRect &area, bool print);
    // The whole page as printed, scaled isotropically into `viewport` (device units) and
    // anchored at its top-left corner, whatever the zoom on screen. Returns the number of cells
    // painted, -1 when the page or the viewport is empty.
    int paintScaled(const QSize &viewport);

private:
    const TReportPage &m_page;
    QPainter &m_painter;
};

// Writes `pages` as one PDF document titled `title`, atomically: each page on a sheet of its own
// paper and orientation (A4 when its paper fields name none), scaled isotropically onto the whole
// sheet, as printed. Throws Error when there is no page or the file cannot be written.
void savePagesToPdf(const QList<const TReportPage *> &pages,
                    const QString &fileName,
                    const QString &title = QString());

} // namespace tessarin
