#include "papersize.h"

#include <QPageSize>
#include <QSizeF>

namespace tessarin {

namespace {

// DMPAPER numbers and the Qt page sizes they name.
struct PaperEntry
{
    int paper;
    QPageSize::PageSizeId id;
};
constexpr PaperEntry paperTable[] = {
    {1, QPageSize::Letter},
    {3, QPageSize::Tabloid},
    {4, QPageSize::Ledger},
    // Windows' Executive is 7.25 x 10.5 in, its B4/B5 are the JIS sizes and its Folio is
    // 8.5 x 13 in; Qt's ids of the same names are other sizes.
    {5, QPageSize::Legal},
    {7, QPageSize::ExecutiveStandard},
    {8, QPageSize::A3},
    {9, QPageSize::A4},
    {11, QPageSize::A5},
    {12, QPageSize::JisB4},
    {13, QPageSize::JisB5},
    {14, QPageSize::FanFoldGermanLegal},
    {20, QPageSize::Envelope10},
    {27, QPageSize::EnvelopeDL},
    {28, QPageSize::EnvelopeC5},
    {34, QPageSize::EnvelopeB5},
    {66, QPageSize::A2},
    {70, QPageSize::A6},
};

} // namespace

int pageSizeIdFromPaper(int dmPaperSize)
{
    for (const PaperEntry &e : paperTable)
        if (e.paper == dmPaperSize)
            return static_cast<int>(e.id);
    return -1;
}

int paperFromPageSizeId(int pageSizeId)
{
    for (const PaperEntry &e : paperTable)
        if (static_cast<int>(e.id) == pageSizeId)
            return e.paper;
    return 256;
}

QPageSize pageSizeOfPaper(int paperSize, int paperLength, int paperWidth)
{
    const int id = pageSizeIdFromPaper(paperSize);
    if (id >= 0)
        return QPageSize(static_cast<QPageSize::PageSizeId>(id));
    if (paperWidth > 0 && paperLength > 0)
        return QPageSize(QSizeF(paperWidth / 10.0, paperLength / 10.0), QPageSize::Millimeter);
    return QPageSize(QPageSize::A4);
}

} // namespace tessarin
