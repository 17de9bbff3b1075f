#include "pagepainter.h"

#include "atomicfile.h"
#include "error.h"
#include "papersize.h"
#include "reportpage.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <vector>

namespace tessarin {

PagePainter::PagePainter(const TReportPage &page, QPainter &painter)
    : m_page(page)
    , m_painter(painter)
{}

int PagePainter::paint(const TRect &area, bool print)
{
    if (prepare)
        prepare(m_painter);
    int count = 0;
    std::vector<const TReportCell *> painted;
    for (const auto &line : m_page.FLineList) {
        // Lines are stacked downwards: none below the area can reach into it.
        if (line->FLineTop > area.bottom)
            break;
        for (const auto &cellPtr : line->FCells) {
            const TReportCell *cell = cellPtr.get();
            const TRect &r = cell->FCellRect;
            if (r.left > area.right || r.top > area.bottom)
                break;
            if (cell->FOwnerCell || r.right < area.left || r.bottom < area.top)
                continue;
            const bool withText
                = !(print
                    && (isScreenOnlyText ? isScreenOnlyText(*cell)
                                         : m_page.isScreenOnlyText(*cell)));
            cell->PaintCell(m_painter, print, withText);
            ++count;
            painted.push_back(cell);
        }
    }
    // Cells painted later (the right neighbour, the line below, the lines a merged block
    // covers) fill backgrounds (and on screen draw grey edges) over the edges they share with
    // earlier cells; borders that are set are drawn once more so that they always show.
    for (const TReportCell *cell : painted)
        cell->PaintSetBorders(m_painter);
    m_page.paintOverlay(m_painter);
    return count;
}

int PagePainter::paintScaled(const QSize &viewport)
{
    const int w = m_page.FPageWidth;
    const int h = m_page.FPageHeight;
    if (w <= 0 || h <= 0 || viewport.width() <= 0 || viewport.height() <= 0)
        return -1;
    const double k = std::min(double(viewport.width()) / w, double(viewport.height()) / h);
    m_painter.save();
    // Isotropic: one factor for both axes, the page anchored at the top-left of the area.
    m_painter.setWindow(0, 0, w, h);
    m_painter.setViewport(0, 0, std::max(1, int(w * k + 0.5)), std::max(1, int(h * k + 0.5)));
    // Every cell, also one reaching past the page edges (the device clips it).
    constexpr int far = 1 << 29;
    const int painted = paint(TRect{-far, -far, far, far}, true);
    m_painter.restore();
    return painted;
}

// ---- the page's own output ----

void TReportPage::ExportToPicture(QPainter &painter, const QSize &size) const
{
    PagePainter(*this, painter).paintScaled(size);
}

void TReportPage::ExportToPicture(QPaintDevice &device, const QSize &size) const
{
    QPainter painter;
    if (!painter.begin(&device))
        throw Error(QStringLiteral("cannot export the page: the picture cannot be painted on"));
    PagePainter(*this, painter).paintScaled(size);
}

namespace {

QPageLayout pageLayoutOf(const TReportPage &page)
{
    return QPageLayout(pageSizeOfPaper(page.FPaperSize, page.FPaperLength, page.FPaperWidth),
                       page.FOrientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF());
}

} // namespace

void savePagesToPdf(const QList<const TReportPage *> &pages,
                    const QString &fileName,
                    const QString &title)
{
    if (pages.isEmpty())
        throw Error(QStringLiteral("%1: there is no page to write as PDF").arg(fileName));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Tessarin"));
        writer.setTitle(title);
        writer.setPageLayout(pageLayoutOf(*pages.front()));
        QPainter painter;
        if (!painter.begin(&writer))
            throw Error(QStringLiteral("cannot write the page as PDF to %1").arg(fileName));
        bool first = true;
        for (const TReportPage *page : pages) {
            // Each sheet takes the paper of its page.
            if (!first && !(writer.setPageLayout(pageLayoutOf(*page)) && writer.newPage()))
                throw Error(QStringLiteral("cannot start another PDF page in %1").arg(fileName));
            first = false;
            PagePainter(*page, painter).paintScaled(QSize(writer.width(), writer.height()));
        }
        painter.end();
    }
    writeFileAtomically(fileName, buffer.data());
}

void TReportPage::SaveToPdf(const QString &FileName, const QString &Title) const
{
    savePagesToPdf({this}, FileName, Title);
}

} // namespace tessarin
