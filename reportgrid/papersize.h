#pragma once

// Paper sizes as the Windows DMPAPER numbers that page streams store, and the Qt page sizes
// they name.

class QPageSize;

namespace tessarin {

// Maps a DMPAPER number to a Qt page size id (QPageSize::PageSizeId as int); -1 when unknown.
int pageSizeIdFromPaper(int dmPaperSize);
// The DMPAPER number of a Qt page size id; 256 (custom) when it has none.
int paperFromPageSizeId(int pageSizeId);
// The sheet of a page's paper fields: the size its DMPAPER number names, else its width and
// length (tenths of a millimetre) when both are set, else A4.
QPageSize pageSizeOfPaper(int paperSize, int paperLength, int paperWidth);

} // namespace tessarin
