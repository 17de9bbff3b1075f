#pragma once

// The large page the report-grid benchmarks measure: 2,000 lines of 10 cells with short texts.

#include "reportcontrol.h"

#include <QString>

#include <memory>

namespace tessarin::bench {

constexpr int Lines = 2000;
constexpr int Cells = 10;

// A page of Lines x Cells cells, each with a short Chinese text and (when `tags`) a tag, laid
// out once. With `merges`, every tenth line's first cell covers the first cell below it.
inline std::unique_ptr<TReportControl> bigPage(bool tags = false, bool merges = false)
{
    auto page = std::make_unique<TReportControl>();
    const int width = (page->FPageWidth - page->FLeftMargin - page->FRightMargin) / Cells;
    for (int l = 0; l < Lines; ++l) {
        auto line = std::make_unique<TReportLine>();
        line->FReportPage = &page->page();
        line->CreateLine(page->FLeftMargin, Cells, width * Cells);
        for (int c = 0; c < Cells; ++c) {
            TReportCell *cell = line->cell(c);
            cell->SetCellText(QStringLiteral("流量%1").arg(l * Cells + c));
            if (tags)
                cell->FTagID = QStringLiteral("Q%1").arg(c);
        }
        page->FLineList.push_back(std::move(line));
    }
    if (merges)
        for (int l = 0; l + 1 < Lines; l += 10)
            page->line(l)->cell(0)->AddOwnedCell(page->line(l + 1)->cell(0));
    page->touchContent();
    page->UpdateLines();
    return page;
}

} // namespace tessarin::bench
