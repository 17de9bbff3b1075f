#pragma once

// Shared helpers of the workbook tests: a printer layer without a printer (fixed 96 dpi screen,
// pages 768 x 1058), quick ways to give a page a table with tags and texts, and the page count
// of a printed PDF file.

#include "atomicfile.h"
#include "qzreport.h"
#include "reportgrid/gridfixture.h"

#include <QRegularExpression>
#include <QString>

namespace tessarin::test {

// Installs a layer without a printer for the lifetime of the guard.
using NoPrinter = gridtest::ScopedPrinterLayer;

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

// The number of pages in a PDF file.
inline int pdfPageCount(const QString &file)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(readWholeFile(file)).count(page));
}

} // namespace tessarin::test
