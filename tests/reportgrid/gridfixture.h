#pragma once

// Page builders shared by the report grid tests: a fixed printer layer (no printer, 96 dots per
// inch) and small pages of cells laid out by the control.

#include "printerlayer.h"
#include "reportcontrol.h"

#include <QFontMetrics>

#include <memory>
#include <vector>

namespace gridtest {

// Installs a printer layer with fixed answers for the lifetime of the object.
class ScopedPrinterLayer
{
public:
    explicit ScopedPrinterLayer(std::unique_ptr<tessarin::FixedPrinterLayer> layer
                                = std::make_unique<tessarin::FixedPrinterLayer>())
        : m_layer(layer.get())
        , m_previous(tessarin::setPrinterLayer(std::move(layer)))
    {}
    ~ScopedPrinterLayer() { tessarin::setPrinterLayer(std::move(m_previous)); }
    tessarin::FixedPrinterLayer &layer() { return *m_layer; }

private:
    tessarin::FixedPrinterLayer *m_layer;
    std::unique_ptr<tessarin::PrinterLayer> m_previous;
};

// Appends `rows` lines of cells with the given widths to `control` and lays the page out.
inline void addLines(tessarin::TReportControl &control, int rows, const std::vector<int> &widths)
{
    for (int r = 0; r < rows; ++r) {
        auto line = std::make_unique<tessarin::TReportLine>();
        line->FReportPage = &control.page();
        for (int w : widths) {
            auto cell = std::make_unique<tessarin::TReportCell>();
            tessarin::TReportCell *c = line->appendCell(std::move(cell));
            c->SetCellWidth(w);
        }
        control.FLineList.push_back(std::move(line));
    }
    control.touchContent();
    control.UpdateLines();
}

// Height of one text line of the cell's font, as the layout measures it.
inline int lineHeightOf(const tessarin::TReportCell &cell)
{
    return QFontMetrics(cell.cellFont()).height();
}

} // namespace gridtest
