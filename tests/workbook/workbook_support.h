#pragma once

// Shared helpers of the workbook tests: a printer layer without a printer (fixed 96 dpi screen,
// pages 768 x 1058) and quick ways to give a page a table with tags and texts.

#include "printerlayer.h"
#include "qzreport.h"

#include <QString>

#include <memory>
#include <utility>

namespace tessarin::test {

// Installs a layer without a printer for the lifetime of the guard.
class NoPrinter
{
public:
    NoPrinter()
        : m_previous(setPrinterLayer(std::make_unique<FixedPrinterLayer>()))
    {}
    ~NoPrinter() { setPrinterLayer(std::move(m_previous)); }
    NoPrinter(const NoPrinter &) = delete;
    NoPrinter &operator=(const NoPrinter &) = delete;

private:
    std::unique_ptr<PrinterLayer> m_previous;
};

// A table of `lines` x `cells` equal cells across the page's printable width.
inline void makeTable(TReportControl &page, int cells, int lines)
{
    page.messageBoxHook = [](const QString &, const QString &) {};
    page.NewTable(cells, lines);
}

// Tag and text of one cell by position.
inline void setCell(TReportControl &page, int line, int cell, const QString &tag,
                    const QString &text = QString())
{
    page.SetTagID(line, cell, tag);
    page.SetCallText(line, cell, text);
}

} // namespace tessarin::test
