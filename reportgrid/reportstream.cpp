#include "reportstream.h"

#include "atomicfile.h"
#include "error.h"
#include "reportpage.h"
#include "textcodec.h"

#include <QBuffer>
#include <QHash>
#include <QImageReader>
#include <QJsonArray>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessarin {

namespace {

// The layout adds widths along a line and heights down the page in int. A page whose widths
// and heights (text included) add up to more than kMaxPageExtent pixels is refused, and every
// single stored coordinate lies within kMaxCoordinate of zero; the values a laid-out page
// writes stay well inside that, so everything written reads back. No paper is kilometres wide.
constexpr qint64 kMaxCoordinate = qint64(1) << 29;
constexpr qint64 kMaxPageExtent = qint64(1) << 27;
// Largest font height or width, in pixels.
constexpr int kMaxFontPixels = 4096;

// The edit box keeps typed texts within what a stream can hold.
static_assert(MaxCellTextBytes == PageStreamMaxTextBytes);

// BMP compression values.
constexpr quint32 BI_RGB = 0;
constexpr quint32 BI_RLE8 = 1;
constexpr quint32 BI_RLE4 = 2;
constexpr quint32 BI_BITFIELDS = 3;

// Decodes code-page bytes, or returns false when they are not a valid code-page text (what is
// decoded would not encode back to the same bytes).
bool decodeText(QByteArrayView raw, QString &out)
{
    bool ascii = true;
    for (char ch : raw)
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        out = QString::fromLatin1(raw);
        return true;
    }
    out = fromCodePage(raw);
    return toCodePage(out) == raw;
}

// Encodes a text in the code page; false when it holds something the code page cannot store.
bool encodeText(const QString &text, QByteArray &out)
{
    bool ascii = true;
    for (QChar ch : text)
        if (ch.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        out = text.toLatin1();
        return true;
    }
    out = toCodePage(text);
    return fromCodePage(out) == text;
}

QString cellPlace(int line, int cell)
{
    return QStringLiteral("line %1, cell %2").arg(line).arg(cell);
}

// Sequential little-endian reads over the stream bytes; every read checks that the bytes are
// there. Offsets in messages count from the stream position the bytes were read from.
class StreamReader
{
public:
    StreamReader(QByteArrayView bytes, qint64 base)
        : m_data(reinterpret_cast<const uchar *>(bytes.data()))
        , m_size(bytes.size())
        , m_base(base)
    {}

    qsizetype pos() const { return m_pos; }
    qsizetype remaining() const { return m_size - m_pos; }
    const char *at(qsizetype pos) const { return reinterpret_cast<const char *>(m_data + pos); }
    QByteArrayView rest() const { return QByteArrayView(at(m_pos), remaining()); }
    qint64 offset(qsizetype pos) const { return m_base + pos; }

    // `where` names the place (header, line, cell), `what` the field and the problem.
    [[noreturn]] void fail(qsizetype pos, const QString &where, const QString &what) const
    {
        throw Error(QStringLiteral("page stream: %1: %2 at byte offset %3")
                        .arg(where, what)
                        .arg(offset(pos)));
    }

    void need(qsizetype count, const QString &where, const char *field) const
    {
        if (remaining() < count)
            fail(m_pos,
                 where,
                 QStringLiteral("the stream ends early: %1 needs %2 bytes, %3 left")
                     .arg(QLatin1String(field))
                     .arg(count)
                     .arg(remaining()));
    }

    qint32 i32(const QString &where, const char *field)
    {
        need(4, where, field);
        const qint32 v = qFromLittleEndian<qint32>(m_data + m_pos);
        m_pos += 4;
        return v;
    }
    quint32 u32(const QString &where, const char *field)
    {
        return static_cast<quint32>(i32(where, field));
    }
    quint8 u8(const QString &where, const char *field)
    {
        need(1, where, field);
        return m_data[m_pos++];
    }
    bool boolean(const QString &where, const char *field) { return u8(where, field) != 0; }

    // A pixel value of the page: within kMaxCoordinate of zero.
    int coordinate(const QString &where, const char *field)
    {
        const qsizetype start = m_pos;
        const qint32 v = i32(where, field);
        if (std::abs(qint64(v)) > kMaxCoordinate)
            fail(start,
                 where,
                 QStringLiteral("%1 of %2 pixels is out of range (at most %3)")
                     .arg(QLatin1String(field))
                     .arg(v)
                     .arg(kMaxCoordinate));
        return v;
    }
    TRect rect(const QString &where, const char *field)
    {
        TRect r;
        r.left = coordinate(where, field);
        r.top = coordinate(where, field);
        r.right = coordinate(where, field);
        r.bottom = coordinate(where, field);
        return r;
    }

    // A counted text: i32 byte count, the bytes, taken up to the first NUL.
    QString text(const QString &where, const char *field)
    {
        const qsizetype start = m_pos;
        const qint32 count = i32(where, field);
        if (count < 0)
            fail(start,
                 where,
                 QStringLiteral("%1 has a negative length (%2)")
                     .arg(QLatin1String(field))
                     .arg(count));
        if (count > PageStreamMaxTextBytes)
            fail(start,
                 where,
                 QStringLiteral("%1 of %2 bytes is longer than the %3 bytes a text may hold")
                     .arg(QLatin1String(field))
                     .arg(count)
                     .arg(PageStreamMaxTextBytes));
        need(count, where, field);
        QByteArrayView raw(at(m_pos), count);
        const qsizetype nul = raw.indexOf('\0');
        if (nul >= 0)
            raw = raw.first(nul);
        QString out;
        if (!decodeText(raw, out))
            fail(m_pos,
                 where,
                 QStringLiteral("%1 is not valid GB18030 text").arg(QLatin1String(field)));
        m_pos += count;
        return out;
    }

    void skip(qsizetype count) { m_pos += count; }

private:
    const uchar *m_data;
    qsizetype m_size;
    qint64 m_base;
    qsizetype m_pos = 0;
};

quint32 le32(QByteArrayView d, qsizetype pos)
{
    return qFromLittleEndian<quint32>(d.data() + pos);
}

quint16 le16(QByteArrayView d, qsizetype pos)
{
    return qFromLittleEndian<quint16>(d.data() + pos);
}

// Little-endian appends for the writer.
class StreamWriter
{
public:
    explicit StreamWriter(qsizetype reserve) { m_out.reserve(reserve); }

    void i32(qint32 v)
    {
        char b[4];
        qToLittleEndian<qint32>(v, b);
        m_out.append(b, 4);
    }
    void u32(quint32 v) { i32(static_cast<qint32>(v)); }
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian<quint16>(v, b);
        m_out.append(b, 2);
    }
    void u8(quint8 v) { m_out.append(static_cast<char>(v)); }
    void boolean(bool v) { u8(v ? 1 : 0); }
    void rect(const TRect &r)
    {
        i32(r.left);
        i32(r.top);
        i32(r.right);
        i32(r.bottom);
    }
    void bytes(const QByteArray &b) { m_out.append(b); }
    QByteArray take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

// Bound of the height a cell's text can need: one text line per character at most (a wrap
// never leaves a line empty), each at most twice the font size plus a little.
qint64 textHeightBound(const TReportCell &cell)
{
    const qint64 pixels
        = cell.FLogFont.lfHeight == 0 ? 16 : std::abs(qint64(cell.FLogFont.lfHeight));
    return (qint64(cell.FCellText.size()) + 2) * (2 * pixels + 16);
}

void detachMerges(std::vector<std::unique_ptr<TReportLine>> &lines)
{
    for (auto &line : lines)
        for (auto &cell : line->FCells) {
            cell->FOwnerCell = nullptr;
            cell->FCellsList.clear();
        }
}

// Where the cells of a page stand: (line, cell) positions on the page, whatever the cells'
// index fields say. Merge references are written and dumped as these positions.
class CellPositions
{
public:
    explicit CellPositions(const std::vector<std::unique_ptr<TReportLine>> &lines)
    {
        m_lines.reserve(qsizetype(lines.size()));
        for (size_t i = 0; i < lines.size(); ++i)
            m_lines.insert(lines[i].get(), int(i));
    }

    // The position of `cell`, or nothing when it is not on these lines.
    std::optional<std::pair<int, int>> of(const TReportCell *cell) const
    {
        if (!cell || !cell->FOwnerLine)
            return std::nullopt;
        const auto it = m_lines.constFind(cell->FOwnerLine);
        if (it == m_lines.constEnd())
            return std::nullopt;
        const int index = cell->FOwnerLine->indexOfCell(cell);
        if (index < 0)
            return std::nullopt;
        return std::pair<int, int>(it.value(), index);
    }

private:
    QHash<const TReportLine *, int> m_lines;
};

// The picture as the page shows it: transparent parts composed onto a white bitmap of its
// size. A picture without transparency is returned as it is.
QImage opaqueOnWhite(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image;
    QImage bitmap(image.size(), QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    painter.drawImage(0, 0, image);
    painter.end();
    return bitmap;
}

// Runs `load` on a read-only stream over the whole file; an error it throws is prefixed with
// the file name.
template<typename Load>
bool loadFileWith(const QString &fileName, Load load)
{
    QBuffer buffer;
    buffer.setData(readWholeFile(fileName));
    buffer.open(QIODevice::ReadOnly);
    try {
        return load(buffer);
    } catch (const Error &e) {
        throw Error(fileName + QStringLiteral(": ") + e.message());
    }
}

} // namespace

int pageStreamVersion(QByteArrayView bytes)
{
    if (bytes.size() < 2)
        return 0;
    switch (le16(bytes, 0)) {
    case PageStreamMagicV1:
        return 1;
    case PageStreamMagicV2:
        return 2;
    case PageStreamMagicV3:
        return 3;
    default:
        return 0;
    }
}

int pageStreamMinCellRecordSize(int version)
{
    // 4 i32, 2 rectangles, 3 i32 heights, 4 x (bool + i32) borders, diagonal, 2 colours,
    // 2 alignments, the text count, the font, the owner pair and the owned count.
    int size = 16 + 32 + 12 + 20 + 12 + 8 + 4 + LogFontSize + 8 + 4;
    if (version >= 2)
        size += 8; // display format and tag ID counts
    if (version >= 3)
        size += 1; // picture flag
    return size;
}

StoredPage::~StoredPage()
{
    detachMerges(lines);
}

// ---- BMP file images ----

qsizetype bmpFileImageLength(QByteArrayView data, qint64 baseOffset)
{
    const qsizetype n = data.size();
    auto fail = [&](qsizetype pos, const QString &why) {
        throw Error(QStringLiteral("page stream: picture at byte offset %1: %2 (at byte offset %3)")
                        .arg(baseOffset)
                        .arg(why)
                        .arg(baseOffset + pos));
    };
    if (n < 18)
        fail(n, QStringLiteral("the stream ends inside the BMP file header"));
    if (data[0] != 'B' || data[1] != 'M')
        fail(0, QStringLiteral("not a BMP file image (no \"BM\" signature)"));
    const quint32 offBits = le32(data, 10);
    const quint32 infoSize = le32(data, 14);
    qint64 width = 0;
    qint64 height = 0;
    int bitCount = 0;
    quint32 compression = BI_RGB;
    quint32 sizeImage = 0;
    quint32 colorsUsed = 0;
    int entrySize = 4;
    if (infoSize == 12) {
        if (n < 26)
            fail(n, QStringLiteral("the stream ends inside the BMP core header"));
        width = le16(data, 18);
        height = le16(data, 20);
        bitCount = le16(data, 24);
        entrySize = 3;
    } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108
               || infoSize == 124) {
        if (n < 14 + qsizetype(infoSize))
            fail(n, QStringLiteral("the stream ends inside the BMP info header"));
        width = qint32(le32(data, 18));
        height = qint32(le32(data, 22));
        bitCount = le16(data, 28);
        compression = le32(data, 30);
        sizeImage = le32(data, 34);
        colorsUsed = le32(data, 46);
    } else {
        fail(14, QStringLiteral("unknown BMP info header size %1").arg(infoSize));
    }
    if (compression == BI_RLE8 || compression == BI_RLE4)
        fail(30,
             QStringLiteral("run-length-compressed BMP (%1) cannot be delimited; only "
                            "uncompressed pictures can be stored")
                 .arg(compression == BI_RLE8 ? QStringLiteral("BI_RLE8")
                                             : QStringLiteral("BI_RLE4")));
    if (compression != BI_RGB && compression != BI_BITFIELDS)
        fail(30,
             QStringLiteral("BMP compression %1 is not supported (only BI_RGB and "
                            "BI_BITFIELDS)")
                 .arg(compression));
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24
        && bitCount != 32)
        fail(28, QStringLiteral("unsupported BMP bit count %1").arg(bitCount));
    if (compression == BI_BITFIELDS && bitCount != 16 && bitCount != 32)
        fail(30, QStringLiteral("BI_BITFIELDS with %1 bits per pixel").arg(bitCount));
    if (width <= 0 || height == 0)
        fail(18, QStringLiteral("BMP of %1 x %2 pixels has no pixels").arg(width).arg(height));

    const qint64 masks = (infoSize == 40 && compression == BI_BITFIELDS) ? 12 : 0;
    const qint64 colours
        = colorsUsed != 0 ? qint64(colorsUsed) : (bitCount <= 8 ? (qint64(1) << bitCount) : 0);
    const qint64 tableEnd = 14 + qint64(infoSize) + masks + colours * entrySize;
    const qint64 stride = (width * bitCount + 31) / 32 * 4;
    const qint64 rowsCount = std::abs(height);
    if (stride > n || rowsCount > n / stride)
        fail(n,
             QStringLiteral("the pixel rows of a %1 x %2 BMP at %3 bits run past the end of "
                            "the stream")
                 .arg(width)
                 .arg(height)
                 .arg(bitCount));
    const qint64 rows = stride * rowsCount;
    const qint64 image = sizeImage != 0 ? qint64(sizeImage) : rows;
    if (image < rows)
        fail(34,
             QStringLiteral("BMP image size %1 is smaller than its %2 bytes of pixel rows")
                 .arg(image)
                 .arg(rows));
    qint64 end = std::max<qint64>(tableEnd, offBits) + image;
    if (infoSize == 124) {
        // An embedded colour profile may follow the pixels.
        constexpr quint32 PROFILE_EMBEDDED = 0x4D424544; // 'MBED'
        if (le32(data, 14 + 56) == PROFILE_EMBEDDED) {
            const qint64 profileEnd = 14 + qint64(le32(data, 14 + 112)) + le32(data, 14 + 116);
            end = std::max(end, profileEnd);
        }
    }
    if (end > n)
        fail(n,
             QStringLiteral("the BMP needs %1 bytes, the stream holds only %2 more")
                 .arg(end)
                 .arg(n));
    return static_cast<qsizetype>(end);
}

QByteArray bmpFileImage(const QImage &image)
{
    const QImage rgb = opaqueOnWhite(image).convertToFormat(QImage::Format_BGR888);
    const qint32 w = rgb.width();
    const qint32 h = rgb.height();
    const qint32 stride = (w * 3 + 3) / 4 * 4;
    const qint32 imageSize = stride * h;
    StreamWriter out(54 + imageSize);
    out.u8('B');
    out.u8('M');
    out.u32(quint32(54 + imageSize)); // bfSize
    out.u32(0);                       // bfReserved1, bfReserved2
    out.u32(54);                      // bfOffBits
    out.u32(40);                      // biSize
    out.i32(w);
    out.i32(h); // bottom-up rows
    out.u16(1); // planes
    out.u16(24);
    out.u32(BI_RGB);
    out.u32(quint32(imageSize));
    const int dpmX = rgb.dotsPerMeterX() > 0 ? rgb.dotsPerMeterX() : 3780;
    const int dpmY = rgb.dotsPerMeterY() > 0 ? rgb.dotsPerMeterY() : 3780;
    out.i32(dpmX);
    out.i32(dpmY);
    out.u32(0); // colours used
    out.u32(0); // colours important
    QByteArray bytes = out.take();
    const qsizetype pixelsAt = bytes.size();
    bytes.resize(pixelsAt + imageSize, '\0');
    for (int y = 0; y < h; ++y)
        std::memcpy(bytes.data() + pixelsAt + qsizetype(h - 1 - y) * stride,
                    rgb.constScanLine(y),
                    size_t(w) * 3);
    return bytes;
}

// ---- reading ----

namespace {

class PageReader
{
public:
    PageReader(QByteArrayView bytes, qint64 base)
        : r(bytes, base)
    {}

    std::optional<StoredPage> read();

private:
    void readHeader(StoredPage &page);
    void readCell(TReportCell &cell, int line, int index, int version);
    void checkMerges() const;
    void checkExtent(const StoredPage &page) const;
    // Global number of cell `cell` of line `line`; fails when either is out of range.
    qsizetype cellNumber(
        qsizetype pos, const QString &where, const char *what, qint32 line, qint32 cell) const;

    StreamReader r;
    std::vector<TReportCell *> m_cells; // every cell, line by line
    std::vector<qsizetype> m_lineStart; // number of the first cell of each line
    std::vector<qsizetype> m_owner;     // number of the cell's master, -1 for none
    std::vector<qsizetype> m_listedBy;  // number of the master listing the cell, -1 for none
    std::vector<qsizetype> m_ownerAt;   // offset of the owner reference of each cell
    std::vector<qsizetype> m_lineAt;    // offset of each line record
    qsizetype m_current = 0;            // number of the cell being read
};

std::optional<StoredPage> PageReader::read()
{
    const QString where = QStringLiteral("header");
    if (r.remaining() < 2)
        r.fail(r.remaining(), where, QStringLiteral("the stream ends before its magic word"));
    const int version = pageStreamVersion(r.rest());
    if (version == 0)
        return std::nullopt;
    r.skip(2);

    StoredPage page;
    page.header.version = version;
    readHeader(page);

    const qsizetype countAt = r.pos();
    const qint32 lineCount = r.i32(where, "line count");
    if (lineCount < 0)
        r.fail(countAt, where, QStringLiteral("negative line count %1").arg(lineCount));
    if (qint64(lineCount) * 4 > r.remaining())
        r.fail(countAt,
               where,
               QStringLiteral("%1 lines cannot fit in the %2 bytes left")
                   .arg(lineCount)
                   .arg(r.remaining()));

    // The cell-count table: every line with all its cells exists before any record is read, so
    // that merge references may point forwards.
    const QString table = QStringLiteral("cell-count table");
    std::vector<qint32> counts(static_cast<size_t>(lineCount));
    qint64 cellTotal = 0;
    for (qint32 i = 0; i < lineCount; ++i) {
        const qsizetype at = r.pos();
        const qint32 n = r.i32(table, "cell count");
        if (n <= 0)
            r.fail(at,
                   table,
                   QStringLiteral("line %1 has %2 cells; a line needs at least one").arg(i).arg(n));
        counts[size_t(i)] = n;
        cellTotal += n;
        if (cellTotal * pageStreamMinCellRecordSize(version) > r.remaining())
            r.fail(at,
                   table,
                   QStringLiteral("lines 0 to %1 hold %2 cells, which cannot fit in the %3 "
                                  "bytes left")
                       .arg(i)
                       .arg(cellTotal)
                       .arg(r.remaining()));
    }
    const qint64 needed = cellTotal * pageStreamMinCellRecordSize(version)
                          + qint64(lineCount) * PageStreamLineRecordSize + PageStreamTrailerSize;
    if (needed > r.remaining())
        r.fail(r.pos(),
               table,
               QStringLiteral("%1 lines of %2 cells need at least %3 bytes, %4 left")
                   .arg(lineCount)
                   .arg(cellTotal)
                   .arg(needed)
                   .arg(r.remaining()));

    page.lines.reserve(size_t(lineCount));
    m_cells.reserve(size_t(cellTotal));
    m_lineStart.reserve(size_t(lineCount));
    for (qint32 i = 0; i < lineCount; ++i) {
        auto line = std::make_unique<TReportLine>();
        m_lineStart.push_back(qsizetype(m_cells.size()));
        for (qint32 c = 0; c < counts[size_t(i)]; ++c)
            m_cells.push_back(line->appendCell(std::make_unique<TReportCell>()));
        page.lines.push_back(std::move(line));
    }
    m_owner.assign(m_cells.size(), -1);
    m_listedBy.assign(m_cells.size(), -1);
    m_ownerAt.assign(m_cells.size(), 0);

    for (qint32 i = 0; i < lineCount; ++i) {
        TReportLine &line = *page.lines[size_t(i)];
        const QString place = QStringLiteral("line %1").arg(i);
        m_lineAt.push_back(r.pos());
        line.FIndex = r.i32(place, "index");
        line.FMinHeight = r.coordinate(place, "minimum height");
        line.FDragHeight = r.coordinate(place, "drag height");
        line.FLineTop = r.coordinate(place, "top");
        line.FLineRect = r.rect(place, "line rectangle");
        for (int c = 0; c < line.cellCount(); ++c) {
            readCell(*line.cell(c), i, c, version);
            ++m_current;
        }
    }
    checkMerges();

    const QString trailer = QStringLiteral("trailer");
    page.header.paperSize = r.i32(trailer, "paper size");
    page.header.orientation = r.i32(trailer, "orientation");
    page.header.paperLength = r.i32(trailer, "paper length");
    page.header.paperWidth = r.i32(trailer, "paper width");
    page.header.widthFromLine = r.i32(trailer, "width-table start line");
    checkExtent(page);
    page.byteCount = r.pos();
    return page;
}

void PageReader::readHeader(StoredPage &page)
{
    const QString where = QStringLiteral("header");
    PageStreamHeader &h = page.header;
    r.i32(where, "scale"); // always 100; pages are read at zoom 100
    const qsizetype sizeAt = r.pos();
    h.pageWidth = r.coordinate(where, "page width");
    h.pageHeight = r.coordinate(where, "page height");
    if (h.pageWidth <= 0 || h.pageHeight <= 0)
        r.fail(sizeAt,
               where,
               QStringLiteral("page of %1 x %2 pixels has no area")
                   .arg(h.pageWidth)
                   .arg(h.pageHeight));
    h.leftMargin = r.coordinate(where, "left margin");
    h.topMargin = r.coordinate(where, "top margin");
    h.rightMargin = r.coordinate(where, "right margin");
    h.bottomMargin = r.coordinate(where, "bottom margin");
    h.leftMarginMm = r.i32(where, "left margin mm");
    h.topMarginMm = r.i32(where, "top margin mm");
    h.rightMarginMm = r.i32(where, "right margin mm");
    h.bottomMarginMm = r.i32(where, "bottom margin mm");
    h.streamFlag = r.boolean(where, "flag");
    h.streamValue = r.i32(where, "value");
    h.streamMode = r.i32(where, "mode");
}

qsizetype PageReader::cellNumber(
    qsizetype pos, const QString &where, const char *what, qint32 line, qint32 cell) const
{
    const qint32 lines = qint32(m_lineStart.size());
    if (line < 0 || line >= lines)
        r.fail(pos,
               where,
               QStringLiteral("%1 names line %2, but the page has %3 lines")
                   .arg(QLatin1String(what))
                   .arg(line)
                   .arg(lines));
    const qsizetype first = m_lineStart[size_t(line)];
    const qsizetype end
        = line + 1 < lines ? m_lineStart[size_t(line) + 1] : qsizetype(m_cells.size());
    if (cell < 0 || cell >= end - first)
        r.fail(pos,
               where,
               QStringLiteral("%1 names cell %2 of line %3, which has %4 cells")
                   .arg(QLatin1String(what))
                   .arg(cell)
                   .arg(line)
                   .arg(end - first));
    return first + cell;
}

void PageReader::readCell(TReportCell &c, int line, int index, int version)
{
    const QString where = cellPlace(line, index);
    c.FLeftMargin = r.coordinate(where, "FLeftMargin");
    c.FCellIndex = r.i32(where, "FCellIndex");
    c.FCellLeft = r.coordinate(where, "FCellLeft");
    c.FCellWidth = r.coordinate(where, "FCellWidth");
    c.FCellRect = r.rect(where, "FCellRect");
    c.FTextRect = r.rect(where, "FTextRect");
    c.FDragCellHeight = r.coordinate(where, "FDragCellHeight");
    c.FMinCellHeight = r.coordinate(where, "FMinCellHeight");
    c.FRequiredCellHeight = r.coordinate(where, "FRequiredCellHeight");
    c.FLeftLine = r.boolean(where, "FLeftLine");
    c.FLeftLineWidth = r.coordinate(where, "FLeftLineWidth");
    c.FTopLine = r.boolean(where, "FTopLine");
    c.FTopLineWidth = r.coordinate(where, "FTopLineWidth");
    c.FRightLine = r.boolean(where, "FRightLine");
    c.FRightLineWidth = r.coordinate(where, "FRightLineWidth");
    c.FBottomLine = r.boolean(where, "FBottomLine");
    c.FBottomLineWidth = r.coordinate(where, "FBottomLineWidth");
    c.FDiagonal = r.u32(where, "FDiagonal");
    c.FTextColor = r.u32(where, "FTextColor");
    c.FBackGroundColor = r.u32(where, "FBackGroundColor");
    c.FHorzAlign = r.i32(where, "FHorzAlign");
    c.FVertAlign = r.i32(where, "FVertAlign");
    c.FCellText = r.text(where, "FCellText");
    if (version >= 2) {
        c.FCellDispFormat = r.text(where, "FCellDispFormat");
        c.FTagID = r.text(where, "FTagID");
    }
    if (version >= 3) {
        c.FbmpYn = r.boolean(where, "FbmpYn");
        if (c.FbmpYn) {
            const qsizetype at = r.pos();
            const qsizetype length = bmpFileImageLength(r.rest(), r.offset(at));
            QImage image = QImage::fromData(QByteArrayView(r.at(at), length), "BMP");
            if (image.isNull())
                r.fail(
                    at,
                    where,
                    QStringLiteral("the picture (%1 bytes of BMP) cannot be decoded").arg(length));
            c.FBmp = std::make_unique<QImage>(std::move(image));
            r.skip(length);
        }
    }
    r.need(LogFontSize, where, "FLogFont");
    const qsizetype fontAt = r.pos();
    c.FLogFont = LOGFONT::fromBytes(r.at(fontAt));
    if (std::abs(qint64(c.FLogFont.lfHeight)) > kMaxFontPixels
        || std::abs(qint64(c.FLogFont.lfWidth)) > kMaxFontPixels)
        r.fail(fontAt,
               where,
               QStringLiteral("font of height %1 and width %2 is out of range (at most %3 pixels)")
                   .arg(c.FLogFont.lfHeight)
                   .arg(c.FLogFont.lfWidth)
                   .arg(kMaxFontPixels));
    r.skip(LogFontSize);

    const qsizetype ownerAt = r.pos();
    const qint32 ownerLine = r.i32(where, "owner line index");
    const qint32 ownerCell = r.i32(where, "owner cell index");
    m_ownerAt[size_t(m_current)] = ownerAt;
    if (ownerLine >= 0 && ownerCell >= 0) {
        const qsizetype owner
            = cellNumber(ownerAt, where, "the owner reference", ownerLine, ownerCell);
        m_owner[size_t(m_current)] = owner;
        c.FOwnerCell = m_cells[size_t(owner)];
    }

    const qsizetype countAt = r.pos();
    const qint32 owned = r.i32(where, "owned count");
    if (owned < 0 || qint64(owned) * 8 > r.remaining())
        r.fail(countAt,
               where,
               QStringLiteral("%1 owned references cannot fit in the %2 bytes left")
                   .arg(owned)
                   .arg(r.remaining()));
    c.FCellsList.reserve(owned);
    for (qint32 k = 0; k < owned; ++k) {
        const qsizetype refAt = r.pos();
        const qint32 l = r.i32(where, "owned line index");
        const qint32 i = r.i32(where, "owned cell index");
        const qsizetype covered = cellNumber(refAt, where, "an owned reference", l, i);
        if (m_listedBy[size_t(covered)] >= 0)
            r.fail(refAt,
                   where,
                   QStringLiteral("owned reference to %1 repeats a cell already listed as covered")
                       .arg(cellPlace(l, i)));
        m_listedBy[size_t(covered)] = m_current;
        c.FCellsList.append(m_cells[size_t(covered)]);
    }
}

// Merges must be two-way and one level deep: a covered cell names the master that lists it, a
// master lists only cells naming it, covers nothing itself and is not covered. Anything else
// would leave cells pointing at cells that do not know them.
void PageReader::checkMerges() const
{
    auto placeOf = [this](qsizetype number) {
        const auto it = std::upper_bound(m_lineStart.begin(), m_lineStart.end(), number);
        const qsizetype line = qsizetype(it - m_lineStart.begin()) - 1;
        return cellPlace(int(line), int(number - m_lineStart[size_t(line)]));
    };
    for (qsizetype n = 0; n < qsizetype(m_cells.size()); ++n) {
        const qsizetype owner = m_owner[size_t(n)];
        const qsizetype listedBy = m_listedBy[size_t(n)];
        const qsizetype at = m_ownerAt[size_t(n)];
        if (owner == n)
            r.fail(at, placeOf(n), QStringLiteral("the cell names itself as its owner"));
        if (owner >= 0 && listedBy != owner)
            r.fail(at,
                   placeOf(n),
                   QStringLiteral("the cell names %1 as its owner, which does not list it")
                       .arg(placeOf(owner)));
        if (owner < 0 && listedBy >= 0)
            r.fail(at,
                   placeOf(n),
                   QStringLiteral("%1 lists the cell as covered, but the cell names no owner")
                       .arg(placeOf(listedBy)));
        if (owner >= 0 && m_owner[size_t(owner)] >= 0)
            r.fail(at,
                   placeOf(n),
                   QStringLiteral("the cell's owner %1 is itself covered by another cell")
                       .arg(placeOf(owner)));
        if (owner >= 0 && !m_cells[size_t(n)]->FCellsList.isEmpty())
            r.fail(at, placeOf(n), QStringLiteral("a covered cell lists covered cells of its own"));
    }
}

// The layout adds widths along a line and heights down the page in int: refuse pages whose
// sums could leave that range. The bound uses only what the layout takes as given (widths, drag
// heights, the heights of unmerged cells, text insets, texts, fonts, borders), not what it
// recomputes, so a page that passes writes a page that passes again.
void PageReader::checkExtent(const StoredPage &page) const
{
    const PageStreamHeader &h = page.header;
    qint64 height = std::abs(qint64(h.topMargin));
    for (size_t i = 0; i < page.lines.size(); ++i) {
        const TReportLine &line = *page.lines[i];
        qint64 width = std::abs(qint64(h.leftMargin));
        qint64 lineHeight = std::abs(qint64(line.FDragHeight));
        for (const auto &cell : line.FCells) {
            width += std::abs(qint64(cell->FCellWidth)) + std::abs(qint64(cell->FLeftMargin));
            const qint64 borders = std::abs(qint64(cell->FTopLineWidth))
                                   + std::abs(qint64(cell->FBottomLineWidth)) + 20;
            const bool merged = cell->FOwnerCell || !cell->FCellsList.isEmpty();
            const qint64 text = textHeightBound(*cell) + borders;
            // A master's text may stretch the lowest line of its block by its whole height.
            if (!cell->FCellsList.isEmpty())
                height += text;
            const qint64 cellHeight = std::abs(qint64(cell->FDragCellHeight))
                                      + (merged ? 0 : std::abs(qint64(cell->FMinCellHeight)))
                                      + text;
            lineHeight = std::max(lineHeight, cellHeight);
        }
        height += lineHeight;
        if (width > kMaxPageExtent || height > kMaxPageExtent)
            r.fail(m_lineAt[i],
                   QStringLiteral("line %1").arg(i),
                   QStringLiteral("the page would reach %1 pixels (at most %2)")
                       .arg(std::max(width, height))
                       .arg(kMaxPageExtent));
    }
}

} // namespace

std::optional<StoredPage> readPageStream(QByteArrayView bytes, qint64 baseOffset)
{
    PageReader reader(bytes, baseOffset);
    return reader.read();
}

// ---- writing ----

QByteArray writePageStream(const PageStreamHeader &h,
                           const std::vector<std::unique_ptr<TReportLine>> &lines)
{
    const CellPositions positions(lines);
    auto reference =
        [&](StreamWriter &out, const TReportCell *target, int line, int cell, const char *what) {
            const auto at = positions.of(target);
            if (!at)
                throw Error(QStringLiteral("page stream: %1: %2 is a cell that is not on the page")
                                .arg(cellPlace(line, cell), QLatin1String(what)));
            out.i32(at->first);
            out.i32(at->second);
        };
    auto text = [&](StreamWriter &out,
                    const QString &value,
                    int line,
                    int cell,
                    const char *field) {
        QByteArray bytes;
        if (!encodeText(value, bytes))
            throw Error(QStringLiteral("page stream: %1: %2 holds characters GB18030 cannot store")
                            .arg(cellPlace(line, cell), QLatin1String(field)));
        if (bytes.size() > PageStreamMaxTextBytes)
            throw Error(QStringLiteral("page stream: %1: %2 is %3 bytes long; a page stream holds "
                                       "at most %4 bytes per text")
                            .arg(cellPlace(line, cell), QLatin1String(field))
                            .arg(bytes.size())
                            .arg(PageStreamMaxTextBytes));
        out.i32(qint32(bytes.size()));
        out.bytes(bytes);
    };

    qsizetype cellTotal = 0;
    for (const auto &line : lines)
        cellTotal += line->cellCount();
    StreamWriter out(2 + PageStreamHeaderSize + qsizetype(lines.size()) * 40 + cellTotal * 200
                     + PageStreamTrailerSize);
    out.u16(PageStreamMagicV3);
    out.i32(100);
    out.i32(h.pageWidth);
    out.i32(h.pageHeight);
    out.i32(h.leftMargin);
    out.i32(h.topMargin);
    out.i32(h.rightMargin);
    out.i32(h.bottomMargin);
    out.i32(h.leftMarginMm);
    out.i32(h.topMarginMm);
    out.i32(h.rightMarginMm);
    out.i32(h.bottomMarginMm);
    out.boolean(h.streamFlag);
    out.i32(h.streamValue);
    out.i32(h.streamMode);
    out.i32(qint32(lines.size()));
    for (const auto &line : lines)
        out.i32(line->cellCount());

    for (size_t li = 0; li < lines.size(); ++li) {
        const TReportLine &line = *lines[li];
        out.i32(line.FIndex);
        out.i32(line.FMinHeight);
        out.i32(line.FDragHeight);
        out.i32(line.FLineTop);
        out.rect(line.FLineRect);
        for (int ci = 0; ci < line.cellCount(); ++ci) {
            const TReportCell &c = *line.cell(ci);
            const int l = int(li);
            out.i32(c.FLeftMargin);
            out.i32(c.FCellIndex);
            out.i32(c.FCellLeft);
            out.i32(c.FCellWidth);
            out.rect(c.FCellRect);
            out.rect(c.FTextRect);
            out.i32(c.FDragCellHeight);
            out.i32(c.FMinCellHeight);
            out.i32(c.FRequiredCellHeight);
            out.boolean(c.FLeftLine);
            out.i32(c.FLeftLineWidth);
            out.boolean(c.FTopLine);
            out.i32(c.FTopLineWidth);
            out.boolean(c.FRightLine);
            out.i32(c.FRightLineWidth);
            out.boolean(c.FBottomLine);
            out.i32(c.FBottomLineWidth);
            out.u32(c.FDiagonal);
            out.u32(c.FTextColor);
            out.u32(c.FBackGroundColor);
            out.i32(c.FHorzAlign);
            out.i32(c.FVertAlign);
            text(out, c.FCellText, l, ci, "the cell text");
            text(out, c.FCellDispFormat, l, ci, "the display format");
            text(out, c.FTagID, l, ci, "the tag ID");
            // A flag without a picture to show stores no picture: there is nothing to write.
            const bool picture = c.FbmpYn && c.FBmp && !c.FBmp->isNull();
            out.boolean(picture);
            if (picture)
                out.bytes(bmpFileImage(*c.FBmp));
            out.bytes(c.FLogFont.toBytes());
            if (c.FOwnerCell) {
                reference(out, c.FOwnerCell, l, ci, "its owner");
            } else {
                out.i32(-1);
                out.i32(-1);
            }
            out.i32(qint32(c.FCellsList.size()));
            for (const TReportCell *owned : c.FCellsList)
                reference(out, owned, l, ci, "a covered cell");
        }
    }

    out.i32(h.paperSize);
    out.i32(h.orientation);
    out.i32(h.paperLength);
    out.i32(h.paperWidth);
    out.i32(h.widthFromLine);
    return out.take();
}

// ---- dump ----

QJsonObject pageDumpJson(const TReportPage &page, int version)
{
    auto rect = [](const TRect &r) { return QJsonArray{r.left, r.top, r.right, r.bottom}; };
    const CellPositions positions(page.FLineList);
    auto ref = [&](const TReportCell *cell) {
        const auto at = positions.of(cell);
        return at ? QJsonArray{at->first, at->second} : QJsonArray{-1, -1};
    };

    QJsonArray lines;
    for (int li = 0; li < page.lineCount(); ++li) {
        const TReportLine &line = *page.line(li);
        QJsonArray cells;
        for (int ci = 0; ci < line.cellCount(); ++ci) {
            const TReportCell &c = *line.cell(ci);
            const LOGFONT &f = c.FLogFont;
            QJsonObject font{
                {QStringLiteral("height"), f.lfHeight},
                {QStringLiteral("width"), f.lfWidth},
                {QStringLiteral("escapement"), f.lfEscapement},
                {QStringLiteral("orientation"), f.lfOrientation},
                {QStringLiteral("weight"), f.lfWeight},
                {QStringLiteral("italic"), f.lfItalic},
                {QStringLiteral("underline"), f.lfUnderline},
                {QStringLiteral("strikeOut"), f.lfStrikeOut},
                {QStringLiteral("charSet"), f.lfCharSet},
                {QStringLiteral("outPrecision"), f.lfOutPrecision},
                {QStringLiteral("clipPrecision"), f.lfClipPrecision},
                {QStringLiteral("quality"), f.lfQuality},
                {QStringLiteral("pitchAndFamily"), f.lfPitchAndFamily},
                {QStringLiteral("faceName"), f.faceName()},
            };
            QJsonArray owned;
            for (const TReportCell *o : c.FCellsList)
                owned.append(ref(o));
            QJsonValue picture;
            if (c.FbmpYn && c.FBmp && !c.FBmp->isNull())
                picture = QJsonObject{{QStringLiteral("width"), c.FBmp->width()},
                                      {QStringLiteral("height"), c.FBmp->height()}};
            QJsonObject cell{
                {QStringLiteral("index"), c.FCellIndex},
                {QStringLiteral("left"), c.FCellLeft},
                {QStringLiteral("width"), c.FCellWidth},
                {QStringLiteral("rect"), rect(c.FCellRect)},
                {QStringLiteral("textRect"), rect(c.FTextRect)},
                {QStringLiteral("text"), c.FCellText},
                {QStringLiteral("dispFormat"), c.FCellDispFormat},
                {QStringLiteral("tag"), c.FTagID},
                {QStringLiteral("leftMargin"), c.FLeftMargin},
                {QStringLiteral("borders"),
                 QJsonArray{QJsonArray{c.FLeftLine, c.FLeftLineWidth},
                            QJsonArray{c.FTopLine, c.FTopLineWidth},
                            QJsonArray{c.FRightLine, c.FRightLineWidth},
                            QJsonArray{c.FBottomLine, c.FBottomLineWidth}}},
                {QStringLiteral("diagonal"), qint64(c.FDiagonal)},
                {QStringLiteral("textColor"), qint64(c.FTextColor)},
                {QStringLiteral("backColor"), qint64(c.FBackGroundColor)},
                {QStringLiteral("horzAlign"), c.FHorzAlign},
                {QStringLiteral("vertAlign"), c.FVertAlign},
                {QStringLiteral("dragCellHeight"), c.FDragCellHeight},
                {QStringLiteral("minCellHeight"), c.FMinCellHeight},
                {QStringLiteral("requiredCellHeight"), c.FRequiredCellHeight},
                {QStringLiteral("font"), font},
                {QStringLiteral("owner"), ref(c.FOwnerCell)},
                {QStringLiteral("owned"), owned},
                {QStringLiteral("picture"), picture},
            };
            cells.append(cell);
        }
        lines.append(QJsonObject{
            {QStringLiteral("index"), line.FIndex},
            {QStringLiteral("top"), line.FLineTop},
            {QStringLiteral("height"), line.GetLineHeight()},
            {QStringLiteral("dragHeight"), line.FDragHeight},
            {QStringLiteral("cells"), cells},
        });
    }

    return QJsonObject{
        {QStringLiteral("version"), version},
        {QStringLiteral("pageWidth"), page.FPageWidth},
        {QStringLiteral("pageHeight"), page.FPageHeight},
        {QStringLiteral("margins"),
         QJsonArray{page.FLeftMargin, page.FTopMargin, page.FRightMargin, page.FBottomMargin}},
        {QStringLiteral("marginsMm"),
         QJsonArray{page.FLeftMargin1, page.FTopMargin1, page.FRightMargin1, page.FBottomMargin1}},
        {QStringLiteral("streamFlag"), page.FStreamFlag},
        {QStringLiteral("streamValue"), page.FStreamValue},
        {QStringLiteral("streamMode"), page.FStreamMode},
        {QStringLiteral("paper"),
         QJsonArray{page.FPaperSize, page.FOrientation, page.FPaperLength, page.FPaperWidth}},
        {QStringLiteral("widthFromLine"), page.FWidthFromLine},
        {QStringLiteral("lines"), lines},
    };
}

// ---- TReportPage: page stream, cell pictures, cell-width table ----

void TReportPage::SaveToStream(QIODevice &Stream, int Position) const
{
    // The paper is the page's own, as loaded: the printer's paper belongs to whatever printed
    // last, not to this page.
    PageStreamHeader h;
    h.pageWidth = FPageWidth;
    h.pageHeight = FPageHeight;
    h.leftMargin = FLeftMargin;
    h.topMargin = FTopMargin;
    h.rightMargin = FRightMargin;
    h.bottomMargin = FBottomMargin;
    h.leftMarginMm = FLeftMargin1;
    h.topMarginMm = FTopMargin1;
    h.rightMarginMm = FRightMargin1;
    h.bottomMarginMm = FBottomMargin1;
    h.streamFlag = FStreamFlag;
    h.streamValue = FStreamValue;
    h.streamMode = FStreamMode;
    h.paperSize = FPaperSize;
    h.orientation = FOrientation;
    h.paperLength = FPaperLength;
    h.paperWidth = FPaperWidth;
    h.widthFromLine = FWidthFromLine;
    const QByteArray bytes = writePageStream(h, FLineList);

    if (!Stream.isWritable())
        throw Error(QStringLiteral("page stream: the stream is not open for writing"));
    if (!Stream.seek(qint64(Position)))
        throw Error(QStringLiteral("page stream: cannot seek to byte offset %1").arg(Position));
    if (Stream.write(bytes) != bytes.size())
        throw Error(QStringLiteral("page stream: cannot write %1 bytes at byte offset %2: %3")
                        .arg(bytes.size())
                        .arg(Position)
                        .arg(Stream.errorString()));
}

void TReportPage::LoadFromStream(QIODevice &Stream, int Position)
{
    loadPage(Stream, Position);
}

bool TReportPage::loadPage(QIODevice &Stream, int Position)
{
    if (!Stream.isReadable())
        throw Error(QStringLiteral("page stream: the stream is not open for reading"));
    if (Position < 0 || !Stream.seek(qint64(Position)))
        throw Error(QStringLiteral("page stream: cannot seek to byte offset %1").arg(Position));
    const QByteArray bytes = Stream.readAll();
    std::optional<StoredPage> page = readPageStream(bytes, Position);
    if (!page) {
        Stream.seek(qint64(Position) + std::min<qsizetype>(2, bytes.size()));
        return false;
    }
    Stream.seek(qint64(Position) + page->byteCount);

    // The whole stream is good: replace the page.
    emit aboutToRestructure();
    FLineList.clear();

    const PageStreamHeader &h = page->header;
    FPageWidth = h.pageWidth;
    FPageHeight = h.pageHeight;
    FSavedPageWidth = h.pageWidth;
    FSavedPageHeight = h.pageHeight;
    FLeftMargin = h.leftMargin;
    FTopMargin = h.topMargin;
    FRightMargin = h.rightMargin;
    FBottomMargin = h.bottomMargin;
    FLeftMargin1 = h.leftMarginMm;
    FTopMargin1 = h.topMarginMm;
    FRightMargin1 = h.rightMarginMm;
    FBottomMargin1 = h.bottomMarginMm;
    FStreamFlag = h.streamFlag;
    FStreamValue = h.streamValue;
    FStreamMode = h.streamMode;

    FLineList = std::move(page->lines);
    for (auto &line : FLineList)
        line->FReportPage = this;
    touchContent();

    FPaperSize = h.paperSize;
    FOrientation = h.orientation;
    FPaperLength = h.paperLength;
    FPaperWidth = h.paperWidth;
    FWidthFromLine = h.widthFromLine;
    m_loadedStreamVersion = h.version;
    UpdateLines();
    emit pageReset();
    emit contentChanged();
    return true;
}

void TReportPage::SaveToFile(const QString &FileName) const
{
    writeFileAtomically(FileName, savePageStream(*this));
}

void TReportPage::LoadFromFile(const QString &FileName)
{
    loadFileWith(FileName, [this](QIODevice &stream) { return loadPage(stream, 0); });
}

QByteArray savePageStream(const TReportPage &page)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    page.SaveToStream(buffer, 0);
    return buffer.data();
}

void loadPageStream(TReportPage &page, const QByteArray &bytes, int position)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    page.LoadFromStream(buffer, position);
}

void TReportPage::SaveBmp(const TCellPos &Cell, const QString &FileName)
{
    TReportCell *cell = cellAt(Cell);
    if (!cell)
        throw Error(QStringLiteral("cannot load the picture %1: there is no cell %2 in line %3")
                        .arg(FileName)
                        .arg(Cell.cell)
                        .arg(Cell.line));
    QImageReader reader(FileName);
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        throw Error(
            QStringLiteral("cannot load the picture %1: %2").arg(FileName, reader.errorString()));
    // Icons and other pictures with transparency are stored as they would show on the page.
    cell->FBmp
        = std::make_unique<QImage>(opaqueOnWhite(picture).convertToFormat(QImage::Format_RGB32));
    cell->FbmpYn = true;
    invalidate(cell->FCellRect);
    cellsDone({cell});
}

QImage *TReportPage::LoadBmp(const TCellPos &Cell) const
{
    const TReportCell *cell = cellAt(Cell);
    return cell ? cell->FBmp.get() : nullptr;
}

void TReportPage::FreeBmp(const TCellPos &Cell)
{
    TReportCell *cell = cellAt(Cell);
    if (!cell)
        return;
    const bool had = cell->FBmp || cell->FbmpYn;
    cell->FBmp.reset();
    cell->FbmpYn = false;
    invalidate(cell->FCellRect);
    if (had)
        cellsDone({cell});
}

namespace {
constexpr int kWidthTableSize = 40;
constexpr int kWidthTableRows = 39; // row 39 holds the index of the last row filled
} // namespace

void TReportPage::GetCellsWadth(int N)
{
    FCellWidths.resize(kWidthTableSize);
    for (auto &row : FCellWidths)
        row.resize(kWidthTableSize, 0);

    int last = -1;
    auto copy = [&](int lineIndex, int row) {
        if (row < 0 || row >= kWidthTableRows)
            return;
        const TReportLine &l = *line(lineIndex);
        const int cells = std::min(l.cellCount(), kWidthTableSize);
        for (int c = 0; c < cells; ++c)
            FCellWidths[size_t(row)][size_t(c)] = l.cell(c)->FCellWidth;
        last = row;
    };
    const int lines = lineCount();
    for (int i = 0; i <= N && i < lines; ++i)
        copy(i, i);
    int row = N + 1;
    for (int i = std::max(0, FWidthFromLine); i < lines; ++i)
        copy(i, row++);
    FCellWidths[kWidthTableRows][0] = last;
}

void TReportPage::applyCellWidths()
{
    if (FCellWidths.size() != size_t(kWidthTableSize)
        || FCellWidths[kWidthTableRows].size() != size_t(kWidthTableSize))
        return; // never filled
    const int lines = lineCount();
    const int last = FCellWidths[kWidthTableRows][0] == lines - 1 ? lines - 1 : FCellWidthRows - 1;
    for (int i = 0; i <= last && i < lines && i < kWidthTableRows; ++i) {
        TReportLine &l = *line(i);
        const auto &row = FCellWidths[size_t(i)];
        for (int c = 0; c < l.cellCount() && c < int(row.size()); ++c)
            l.cell(c)->SetCellWidth(row[size_t(c)]);
    }
    UpdateLines();
    emit contentChanged();
}

void TReportPage::SetFileCellWidth(const QString &FileName, int)
{
    // A file that holds no page is not overwritten with this one.
    if (!loadFileWith(FileName, [this](QIODevice &stream) { return loadPage(stream, 0); }))
        return;
    applyCellWidths();
    SaveToFile(FileName);
}

void TReportPage::SetStreamCellWidth(QIODevice &Stream, int)
{
    if (!loadPage(Stream, 0))
        return;
    applyCellWidths();
    SaveToStream(Stream, 0);
}

} // namespace tessarin
