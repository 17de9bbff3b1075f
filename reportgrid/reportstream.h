#pragma once

// The binary page stream of a report page: the version-3 writer, the reader of versions 1, 2
// and 3 (parsed completely into detached lines before anything replaces a page), the BMP file
// images of cell pictures, and the page as JSON for dumps.

#include "reportcell.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QJsonObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tessarin {

class TReportPage;

// Magic words, which double as the format version. Only the newest is written.
inline constexpr std::uint16_t PageStreamMagicV1 = 0xAA55; // cells store only their text
inline constexpr std::uint16_t PageStreamMagicV2 = 0xAA56; // + display format and tag ID
inline constexpr std::uint16_t PageStreamMagicV3 = 0xAA57; // + picture

// The version (1, 2 or 3) whose magic word starts `bytes`; 0 when they start with none.
int pageStreamVersion(QByteArrayView bytes);

// Longest text a stream holds, in bytes of the code page.
inline constexpr int PageStreamMaxTextBytes = 3000;

// Sizes of the fixed parts, in bytes: header after the magic word, line record, trailer, and
// the smallest cell record of each version (empty texts, no picture, no covered cells).
inline constexpr int PageStreamHeaderSize = 57;
inline constexpr int PageStreamLineRecordSize = 32;
inline constexpr int PageStreamTrailerSize = 20;
int pageStreamMinCellRecordSize(int version);

// The page fields a stream carries besides its lines, in page pixels and millimetres.
struct PageStreamHeader
{
    int version = 3; // the version read; streams are always written as version 3
    int pageWidth = 0;
    int pageHeight = 0;
    int leftMargin = 0;
    int topMargin = 0;
    int rightMargin = 0;
    int bottomMargin = 0;
    int leftMarginMm = 0;
    int topMarginMm = 0;
    int rightMarginMm = 0;
    int bottomMarginMm = 0;
    bool streamFlag = true;
    int streamValue = 2000;
    int streamMode = 1;
    // Paper size (DMPAPER number), orientation, paper length and width (tenths of a millimetre).
    int paperSize = 0;
    int orientation = 0;
    int paperLength = 0;
    int paperWidth = 0;
    int widthFromLine = 0;
};

// A page read from a stream, not yet part of any page. Its lines have no page; merges are
// linked and consistent (every covered cell names a master that lists it, and the other way
// round; no master is itself covered).
struct StoredPage
{
    StoredPage() = default;
    StoredPage(StoredPage &&) = default;
    StoredPage &operator=(StoredPage &&) = default;
    // Unlinks the merges before the cells go, so no cell reaches a freed neighbour.
    ~StoredPage();

    PageStreamHeader header;
    std::vector<std::unique_ptr<TReportLine>> lines;
    qsizetype byteCount = 0; // bytes the page occupied in the stream
};

// Parses the page stream at the start of `bytes`. Byte offsets in error messages are counted
// from `baseOffset` (the stream position `bytes` was read from). Returns nothing, having read
// only the magic word, when that word is none of the three. Throws Error naming what is wrong
// and the byte offset for a stream that ends early, counts that cannot fit what is left of it, a
// line without cells, references outside the stored counts or inconsistent merges, texts that
// are not valid code-page text or longer than 3000 bytes, geometry no page can have, and
// pictures that cannot be delimited (run-length-compressed ones among them).
std::optional<StoredPage> readPageStream(QByteArrayView bytes, qint64 baseOffset = 0);

// The version-3 stream of a page given by its header and lines. Merge references are written as
// the positions of the cells on the page. Throws Error naming line and cell for a text longer
// than 3000 bytes or not representable in the code page, and for a merge reference to a cell
// that is not on the page.
QByteArray writePageStream(const PageStreamHeader &header,
                           const std::vector<std::unique_ptr<TReportLine>> &lines);

// Where the BMP file image starting at `data` ends: its length in bytes, taken from its own
// headers (file header, info header, bit masks, colour table, pixel rows). Uncompressed images
// (BI_RGB, BI_BITFIELDS) only. Throws Error with offsets counted from `baseOffset`.
qsizetype bmpFileImageLength(QByteArrayView data, qint64 baseOffset = 0);

// An uncompressed 24-bit BMP file image of `image` (transparent parts composed onto white).
QByteArray bmpFileImage(const QImage &image);

// TReportPage::SaveToStream into memory: the page's stream as bytes.
QByteArray savePageStream(const TReportPage &page);
// TReportPage::LoadFromStream from memory, at byte `position` of `bytes`.
void loadPageStream(TReportPage &page, const QByteArray &bytes, int position = 0);

// The page of `page` (after its layout) as the JSON object of page dumps; `version` is the
// stream version it was read from.
QJsonObject pageDumpJson(const TReportPage &page, int version);

} // namespace tessarin
