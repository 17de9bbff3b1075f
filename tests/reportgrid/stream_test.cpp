// Page streams built byte by byte from the documented layout, read into pages and written back;
// pictures written by another program; every refusal of bad input leaving the page as it was.

#include "gridfixture.h"

#include "atomicfile.h"
#include "error.h"
#include "reportstream.h"
#include "textcodec.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

using namespace tessarin;

namespace {

const QByteArray kSongTi("\xCB\xCE\xCC\xE5");   // "宋体" in GB2312
const QByteArray kLiuLiang("\xC1\xF7\xC1\xBF"); // "流量"
const QString kDataDir = QStringLiteral(TESSARIN_TEST_DATA "/reportgrid/");

// Little-endian bytes, with named marks for the offsets of chosen fields.
struct Bytes
{
    QByteArray b;
    QHash<QString, int> marks;

    Bytes &i32(qint32 v)
    {
        char x[4];
        qToLittleEndian(v, x);
        b.append(x, 4);
        return *this;
    }
    Bytes &u16(quint16 v)
    {
        char x[2];
        qToLittleEndian(v, x);
        b.append(x, 2);
        return *this;
    }
    Bytes &u8(quint8 v)
    {
        b.append(char(v));
        return *this;
    }
    Bytes &raw(const QByteArray &v)
    {
        b.append(v);
        return *this;
    }
    Bytes &text(const QByteArray &v) { return i32(qint32(v.size())).raw(v); }
    Bytes &mark(const QString &name)
    {
        marks.insert(name, int(b.size()));
        return *this;
    }
};

struct CellRec
{
    qint32 width = 100;
    qint32 dragHeight = 0;
    qint32 minHeight = 24;
    bool lines[4] = {true, true, false, true};
    qint32 lineWidths[4] = {1, 2, 1, 3};
    quint32 diagonal = 0x101;
    quint32 textColor = 0x000000FF;
    quint32 backColor = 0x00FFFFFF;
    qint32 horz = 2;
    qint32 vert = 0;
    QByteArray text, disp, tag;
    QByteArray bmp; // empty: no picture
    qint32 fontHeight = -16;
    qint32 fontWeight = 700;
    qint32 owner[2] = {-1, -1};
    QList<QPair<int, int>> owned;

    void write(Bytes &out, int version, const QString &name) const
    {
        out.mark(name);
        out.i32(5).i32(7).i32(0).i32(width);       // margin, index (stale on purpose), left, width
        out.i32(0).i32(0).i32(0).i32(0);           // FCellRect
        out.i32(0).i32(0).i32(0).i32(0);           // FTextRect
        out.i32(dragHeight).i32(minHeight).i32(0); // drag, min, required
        for (int i = 0; i < 4; ++i)
            out.u8(lines[i] ? 1 : 0).i32(lineWidths[i]);
        out.i32(qint32(diagonal)).i32(qint32(textColor)).i32(qint32(backColor));
        out.i32(horz).i32(vert);
        out.mark(name + ".text").text(text);
        if (version >= 2)
            out.text(disp).text(tag);
        if (version >= 3) {
            out.u8(bmp.isEmpty() ? 0 : 1).mark(name + ".bmp").raw(bmp);
        }
        out.mark(name + ".font");
        out.i32(fontHeight).i32(0).i32(0).i32(0).i32(fontWeight);
        out.u8(1).u8(0).u8(0).u8(134).u8(3).u8(2).u8(1).u8(49); // italic ... pitch and family
        out.raw(kSongTi + QByteArray(32 - kSongTi.size(), '\0'));
        out.mark(name + ".owner").i32(owner[0]).i32(owner[1]);
        out.mark(name + ".owned").i32(qint32(owned.size()));
        for (const auto &[l, c] : owned)
            out.i32(l).i32(c);
    }
};

struct PageRec
{
    qint32 width = 800;
    qint32 height = 1000;
    qint32 margins[4] = {40, 30, 20, 10}; // left, top, right, bottom
    qint32 marginsMm[4] = {11, 12, 13, 14};
    QList<QList<CellRec>> lines;
    QList<qint32> dragHeights;
    qint32 paper[4] = {8, 2, 4200, 2970};
    qint32 widthFromLine = 1;
    QList<qint32> counts; // overrides the cell-count table when not empty

    Bytes build(int version) const
    {
        Bytes out;
        out.u16(quint16(0xAA54 + version));
        out.mark("header").i32(100).i32(width).i32(height);
        for (qint32 m : margins)
            out.i32(m);
        for (qint32 m : marginsMm)
            out.i32(m);
        out.u8(0).i32(1234).i32(7);
        out.mark("lineCount").i32(qint32(lines.size()));
        out.mark("table");
        for (int i = 0; i < lines.size(); ++i)
            out.i32(counts.isEmpty() ? qint32(lines[i].size()) : counts[i]);
        for (int i = 0; i < lines.size(); ++i) {
            out.mark(QStringLiteral("L%1").arg(i));
            out.i32(i).i32(0).i32(dragHeights.value(i)).i32(0).i32(0).i32(0).i32(0).i32(0);
            for (int c = 0; c < lines[i].size(); ++c)
                lines[i][c].write(out, version, QStringLiteral("L%1C%2").arg(i).arg(c));
        }
        out.mark("trailer");
        for (qint32 p : paper)
            out.i32(p);
        out.i32(widthFromLine);
        return out;
    }
};

// Two lines: the first cell of line 0 covers the first cell of line 1.
PageRec mergedPage()
{
    PageRec p;
    CellRec master;
    master.width = 200;
    master.text = kLiuLiang;
    master.disp = "0.00";
    master.tag = "[1,2,3]FLOW";
    master.owned = {{1, 0}};
    CellRec right;
    right.width = 300;
    right.text = "AB";
    CellRec covered;
    covered.width = 200;
    covered.owner[0] = 0;
    covered.owner[1] = 0;
    CellRec lower;
    lower.width = 300;
    lower.text = "x";
    p.lines = {{master, right}, {covered, lower}};
    p.dragHeights = {0, 40};
    return p;
}

// The page as a dump, for "nothing changed" comparisons.
QJsonObject state(const TReportControl &page)
{
    QJsonObject o = pageDumpJson(page, page.loadedStreamVersion());
    o.insert(QStringLiteral("size"), QStringLiteral("%1x%2").arg(page.width()).arg(page.height()));
    return o;
}

class PageStream : public ::testing::Test
{
protected:
    gridtest::ScopedPrinterLayer printer;
    TReportControl page;
};

} // namespace

// ---- golden streams ----

class GoldenVersion : public PageStream, public ::testing::WithParamInterface<int>
{
};

TEST_P(GoldenVersion, LoadsEveryFieldAndRebuildsMerges)
{
    const int version = GetParam();
    page.SetScale(50);
    loadPageStream(page, mergedPage().build(version).b);

    EXPECT_EQ(page.loadedStreamVersion(), version);
    EXPECT_EQ(
        QList<int>(
            {page.FReportScale, page.FSavedScale, page.FSavedPageWidth, page.FSavedPageHeight}),
        QList<int>({100, 100, 800, 1000}));
    EXPECT_EQ(page.size(), QSize(800, 1000));
    EXPECT_EQ(
        QList<int>({page.FLeftMargin, page.FTopMargin, page.FRightMargin, page.FBottomMargin}),
        QList<int>({40, 30, 20, 10}));
    EXPECT_EQ(page.GetMargin(), (TRect{11, 12, 13, 14}));
    EXPECT_EQ(QList<int>({page.FStreamFlag, page.FStreamValue, page.FStreamMode}),
              QList<int>({0, 1234, 7}));
    EXPECT_EQ(QList<int>({page.FPaperSize,
                          page.FOrientation,
                          page.FPaperLength,
                          page.FPaperWidth,
                          page.FWidthFromLine}),
              QList<int>({8, 2, 4200, 2970, 1}));
    ASSERT_EQ(page.lineCount(), 2);

    TReportCell *master = page.CellFromRC(0, 0);
    TReportCell *covered = page.CellFromRC(1, 0);
    EXPECT_EQ(master->FCellText, QStringLiteral("流量"));
    EXPECT_EQ(master->FCellDispFormat, version >= 2 ? QStringLiteral("0.00") : QString());
    EXPECT_EQ(master->FTagID, version >= 2 ? QStringLiteral("[1,2,3]FLOW") : QString());
    EXPECT_FALSE(master->FbmpYn);
    EXPECT_EQ(master->FCellWidth, 200);
    EXPECT_EQ(QList<int>({master->FLeftLine,
                          master->FTopLine,
                          master->FRightLine,
                          master->FBottomLine,
                          master->FLeftLineWidth,
                          master->FTopLineWidth,
                          master->FRightLineWidth,
                          master->FBottomLineWidth}),
              QList<int>({1, 1, 0, 1, 1, 2, 1, 3}));
    EXPECT_EQ(QList<quint32>({master->FDiagonal, master->FTextColor, master->FBackGroundColor}),
              QList<quint32>({0x101, 0xFF, 0xFFFFFF}));
    EXPECT_EQ(QList<int>({master->FHorzAlign, master->FVertAlign}), QList<int>({2, 0}));
    const LOGFONT &f = master->FLogFont;
    EXPECT_EQ(QList<int>({f.lfHeight,
                          f.lfWeight,
                          f.lfItalic,
                          f.lfCharSet,
                          f.lfOutPrecision,
                          f.lfPitchAndFamily}),
              QList<int>({-16, 700, 1, 134, 3, 49}));
    EXPECT_EQ(master->FLogFont.faceName(), QStringLiteral("宋体"));

    // Both directions of the vertical merge, and the layout run on the loaded widths.
    EXPECT_EQ(covered->FOwnerCell, master);
    EXPECT_EQ(master->FCellsList, QList<TReportCell *>{covered});
    EXPECT_EQ(page.CellFromRC(0, 1)->FOwnerCell, nullptr);
    EXPECT_EQ(master->FCellIndex, 0);
    EXPECT_EQ(page.CellFromRC(0, 1)->FCellLeft, 240);
    EXPECT_EQ(page.line(1)->FLineTop, page.line(0)->FLineTop + page.line(0)->GetLineHeight());
    EXPECT_EQ(master->FCellRect.bottom, page.line(1)->FLineTop + page.line(1)->GetLineHeight());
    EXPECT_GE(page.line(1)->GetLineHeight(), 40);
}

TEST_P(GoldenVersion, WritesBackAsVersionThreeWithTheSameContent)
{
    const QByteArray original = mergedPage().build(GetParam()).b;
    loadPageStream(page, original);
    const QByteArray written = savePageStream(page);
    EXPECT_EQ(quint8(written[0]), 0x57);
    EXPECT_EQ(quint8(written[1]), 0xAA);
    // Scale is written as 100; header, line count and cell-count table as read.
    EXPECT_EQ(written.mid(2, 4 + 57 - 4 + 4 + 8), original.mid(2, 4 + 57 - 4 + 4 + 8));

    TReportControl again;
    loadPageStream(again, written);
    EXPECT_EQ(again.loadedStreamVersion(), 3);
    QJsonObject a = state(page);
    QJsonObject b = state(again);
    a.remove(QStringLiteral("version"));
    b.remove(QStringLiteral("version"));
    EXPECT_EQ(a, b);
}

INSTANTIATE_TEST_SUITE_P(Versions, GoldenVersion, ::testing::Values(1, 2, 3));

TEST_F(PageStream, WriterLaysOutFieldsByteForByte)
{
    // The golden page, with the fields the layout derives put back as the golden stream has
    // them, writes exactly the golden bytes. Merge references are positions on the page, not
    // the (stale) index fields; a picture that is not flagged is not stored.
    PageRec golden = mergedPage();
    const qint32 paper[4] = {9, 1, 0, 0}; // A4 portrait
    std::copy(paper, paper + 4, golden.paper);
    loadPageStream(page, golden.build(3).b);
    for (int l = 0; l < page.lineCount(); ++l) {
        TReportLine *line = page.line(l);
        line->FMinHeight = line->FLineTop = 0;
        line->FLineRect = {};
        for (int c = 0; c < line->cellCount(); ++c) {
            TReportCell *cell = line->cell(c);
            cell->FCellIndex = 7;
            cell->FCellLeft = cell->FRequiredCellHeight = 0;
            cell->FMinCellHeight = golden.lines[l][c].minHeight;
            cell->FCellRect = cell->FTextRect = {};
            cell->FScriptID = 99;
        }
    }
    page.CellFromRC(1, 1)->FBmp = std::make_unique<QImage>(4, 4, QImage::Format_RGB32);
    EXPECT_EQ(savePageStream(page).toHex(), golden.build(3).b.toHex());
}

TEST_F(PageStream, EmptyPageWritesHeaderAndTrailerOnly)
{
    page.SetWndSize(600, 900);
    const QByteArray bytes = savePageStream(page);
    EXPECT_EQ(bytes.size(), 2 + PageStreamHeaderSize + PageStreamTrailerSize);
    EXPECT_EQ(qFromLittleEndian<qint32>(bytes.constData() + 2 + 53), 0); // line count

    gridtest::addLines(page, 2, {50, 50});
    page.SetWndSize(10, 10);
    loadPageStream(page, bytes);
    EXPECT_EQ(page.lineCount(), 0);
    EXPECT_EQ(page.size(), QSize(600, 900));
}

TEST_F(PageStream, TextIsTakenUpToItsFirstNulAndScriptIdsAreNotStored)
{
    PageRec p = mergedPage();
    p.lines[0][1].text = QByteArray("AB\0CD", 5);
    loadPageStream(page, p.build(3).b);
    EXPECT_EQ(page.GetCallText(0, 1), QStringLiteral("AB"));

    page.SetScriptID(0, 1, 42);
    TReportControl again;
    loadPageStream(again, savePageStream(page));
    EXPECT_EQ(again.GetScriptID(0, 1), 0);
}

// Each page keeps the paper it was loaded with, whatever the printer holds: loading never
// changes the printer and saving never takes its paper, with or without a device mode.
class PaperOfThePage : public PageStream, public ::testing::WithParamInterface<bool>
{
};

TEST_P(PaperOfThePage, StaysWithThePageAndLeavesThePrinterAlone)
{
    printer.layer().installed = true;
    printer.layer().hasDeviceMode = GetParam();
    const PrinterDeviceMode before = printer.layer().mode; // A4 portrait
    PageRec p = mergedPage();
    p.paper[0] = 0x10000 + 8; // beyond the 16 bits of a device-mode field, kept whole
    loadPageStream(page, p.build(3).b);
    TReportControl other; // a second page loaded later with other paper
    PageRec q = mergedPage();
    q.paper[0] = 9;
    q.paper[1] = 1;
    loadPageStream(other, q.build(3).b);

    const PrinterDeviceMode &mode = printer.layer().mode;
    EXPECT_EQ(
        QList<int>({mode.dmPaperSize, mode.dmOrientation, mode.dmPaperLength, mode.dmPaperWidth}),
        QList<int>(
            {before.dmPaperSize, before.dmOrientation, before.dmPaperLength, before.dmPaperWidth}));
    EXPECT_EQ(printer.layer().applyCount, 0);

    const QByteArray written = savePageStream(page);
    const char *trailer = written.constData() + written.size() - PageStreamTrailerSize;
    EXPECT_EQ(QList<int>({qFromLittleEndian<qint32>(trailer),
                          qFromLittleEndian<qint32>(trailer + 4),
                          qFromLittleEndian<qint32>(trailer + 8),
                          qFromLittleEndian<qint32>(trailer + 12)}),
              QList<int>({0x10000 + 8, 2, 4200, 2970}));
    EXPECT_EQ(page.FPaperSize, 0x10000 + 8);
}

INSTANTIATE_TEST_SUITE_P(DeviceMode, PaperOfThePage, ::testing::Bool());

// ---- pictures ----

class OtherProgramsPicture : public PageStream, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(OtherProgramsPicture, IsDelimitedByItsHeadersAndWrittenBackReadable)
{
    const QByteArray bmp = readWholeFile(kDataDir + QLatin1String(GetParam()));
    const QImage expected = QImage::fromData(bmp, "BMP");
    ASSERT_FALSE(expected.isNull());
    PageRec p = mergedPage();
    p.lines[0][1].bmp = bmp;
    loadPageStream(page, p.build(3).b);

    const TReportCell *cell = page.CellFromRC(0, 1);
    ASSERT_TRUE(cell->FbmpYn);
    EXPECT_EQ(cell->FBmp->convertToFormat(QImage::Format_RGB32),
              expected.convertToFormat(QImage::Format_RGB32));
    // The fields behind the picture were read from the right place.
    EXPECT_EQ(cell->FLogFont.faceName(), QStringLiteral("宋体"));
    EXPECT_EQ(page.CellFromRC(1, 1)->FCellText, QStringLiteral("x"));

    TReportControl again;
    loadPageStream(again, savePageStream(page));
    EXPECT_EQ(again.LoadBmp(again.CellFromRC(0, 1))->convertToFormat(QImage::Format_RGB32),
              expected.convertToFormat(QImage::Format_RGB32));
}

INSTANTIATE_TEST_SUITE_P(ImageMagick,
                         OtherProgramsPicture,
                         ::testing::Values("imagemagick-v5.bmp", "imagemagick-bmp3-palette.bmp"));

TEST_F(PageStream, BitfieldsPictureWithMasksBehindTheHeaderIsDelimited)
{
    // 2 x 1 pixels, 32 bits, BI_BITFIELDS with the three masks after a 40-byte header.
    Bytes bmp;
    bmp.raw("BM").i32(14 + 40 + 12 + 8).i32(0).i32(14 + 40 + 12);
    bmp.i32(40).i32(2).i32(1).u16(1).u16(32).i32(3).i32(0).i32(0).i32(0).i32(0).i32(0);
    bmp.i32(0x00FF0000).i32(0x0000FF00).i32(0x000000FF);
    bmp.i32(0x00FF0000).i32(0x000000FF); // red, blue
    EXPECT_EQ(bmpFileImageLength(bmp.b + QByteArray("tail")), bmp.b.size());

    PageRec p = mergedPage();
    p.lines[1][1].bmp = bmp.b;
    loadPageStream(page, p.build(3).b);
    const QImage *image = page.LoadBmp(page.CellFromRC(1, 1));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image->pixelColor(1, 0), QColor(Qt::blue));
}

TEST_F(PageStream, PicturesFromFilesAndFreeing)
{
    gridtest::addLines(page, 1, {100});
    TReportCell *cell = page.CellFromRC(0, 0);
    page.SaveBmp(cell, kDataDir + QStringLiteral("imagemagick-icon.ico"));
    ASSERT_TRUE(cell->FbmpYn);
    // The icon is drawn onto a bitmap of its size: transparent parts become white.
    EXPECT_EQ(cell->FBmp->size(), QSize(8, 8));
    EXPECT_EQ(cell->FBmp->pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(cell->FBmp->pixelColor(6, 6), QColor(Qt::white));

    EXPECT_THROW(page.SaveBmp(cell, kDataDir + QStringLiteral("missing.png")), Error);
    EXPECT_EQ(cell->FBmp->size(), QSize(8, 8));

    const qsizetype withPicture = savePageStream(page).size();
    page.FreeBmp(cell);
    EXPECT_FALSE(cell->FbmpYn);
    EXPECT_EQ(page.LoadBmp(cell), nullptr);
    EXPECT_EQ(savePageStream(page).size(),
              withPicture - bmpFileImage(QImage(8, 8, QImage::Format_RGB32)).size());
}

// ---- refusals ----

struct BadStream
{
    const char *name;
    std::function<QByteArray()> bytes;
    const char *message;
    std::function<int(const Bytes &)> offset; // expected byte offset, -1 for none
};

void PrintTo(const BadStream &bad, std::ostream *os)
{
    *os << bad.name;
}

class RefusedStream : public PageStream, public ::testing::WithParamInterface<BadStream>
{
};

TEST_P(RefusedStream, NamesWhatAndWhereAndLeavesThePageAsItWas)
{
    loadPageStream(page, mergedPage().build(2).b);
    page.SetCallText(0, 1, QStringLiteral("before"));
    const QJsonObject before = state(page);
    const Bytes good = mergedPage().build(3);
    try {
        loadPageStream(page, GetParam().bytes());
        FAIL() << "accepted";
    } catch (const Error &e) {
        EXPECT_NE(e.message().indexOf(QLatin1String(GetParam().message)), -1)
            << e.message().toStdString();
        const int offset = GetParam().offset(good);
        if (offset >= 0) {
            EXPECT_TRUE(e.message().endsWith(QStringLiteral("at byte offset %1").arg(offset))
                        || e.message().contains(QStringLiteral("at byte offset %1)").arg(offset)))
                << e.message().toStdString();
        }
    }
    EXPECT_EQ(state(page), before);
    EXPECT_EQ(page.loadedStreamVersion(), 2);
}

namespace {

QByteArray withPage(const std::function<void(PageRec &)> &change, int version = 3)
{
    PageRec p = mergedPage();
    change(p);
    return p.build(version).b;
}

QByteArray patched(int at, const QByteArray &bytes)
{
    QByteArray b = mergedPage().build(3).b;
    b.replace(at, bytes.size(), bytes);
    return b;
}

QByteArray le32(qint32 v)
{
    return Bytes().i32(v).b;
}

const BadStream badStreams[] = {
    {"empty",
     [] { return QByteArray(); },
     "before its magic word",
     [](const Bytes &) { return 0; }},
    {"negative_line_count",
     [] { return patched(mergedPage().build(3).marks["lineCount"], le32(-1)); },
     "negative line count",
     [](const Bytes &g) { return g.marks["lineCount"]; }},
    {"line_count_too_large",
     [] { return patched(mergedPage().build(3).marks["lineCount"], le32(0x7FFFFFFF)); },
     "cannot fit",
     [](const Bytes &g) { return g.marks["lineCount"]; }},
    {"line_without_cells",
     [] { return withPage([](PageRec &p) {
              p.counts = {2, 0};
          }); },
     "at least one",
     [](const Bytes &g) { return g.marks["table"] + 4; }},
    {"cell_counts_too_large",
     [] { return withPage([](PageRec &p) {
              p.counts = {2, 100000};
          }); },
     "cannot fit",
     [](const Bytes &g) { return g.marks["table"] + 4; }},
    {"owner_line_out_of_range",
     [] { return withPage([](PageRec &p) { p.lines[1][0].owner[0] = 2; }); },
     "names line 2, but the page has 2 lines",
     [](const Bytes &g) { return g.marks["L1C0.owner"]; }},
    {"owned_cell_out_of_range",
     [] { return withPage([](PageRec &p) {
              p.lines[0][0].owned = {{1, 5}};
          }); },
     "names cell 5 of line 1",
     [](const Bytes &g) { return g.marks["L0C0.owned"] + 4; }},
    {"owner_that_does_not_list_the_cell",
     [] {
         return withPage([](PageRec &p) {
             p.lines[1][1].owner[0] = 0;
             p.lines[1][1].owner[1] = 1;
         });
     },
     "which does not list it",
     [](const Bytes &) { return -1; }},
    {"master_listing_a_cell_without_owner",
     [] { return withPage([](PageRec &p) { p.lines[1][0].owner[0] = -1; }); },
     "names no owner",
     [](const Bytes &g) { return g.marks["L1C0.owner"]; }},
    {"cell_owning_itself",
     [] {
         return withPage([](PageRec &p) {
             p.lines[0][1].owner[0] = 0;
             p.lines[0][1].owner[1] = 1;
             p.lines[0][1].owned = {{0, 1}};
         });
     },
     "names itself",
     [](const Bytes &g) { return g.marks["L0C1.owner"]; }},
    {"text_over_3000_bytes",
     [] { return withPage([](PageRec &p) { p.lines[0][1].text = QByteArray(3001, 'a'); }); },
     "longer than the 3000 bytes",
     [](const Bytes &g) { return g.marks["L0C1.text"]; }},
    {"negative_text_length",
     [] { return patched(mergedPage().build(3).marks["L0C1.text"], le32(-5)); },
     "negative length",
     [](const Bytes &g) { return g.marks["L0C1.text"]; }},
    {"text_not_gb18030",
     [] { return withPage([](PageRec &p) { p.lines[0][1].text = QByteArray("\x81\x20", 2); }); },
     "not valid GB18030",
     [](const Bytes &g) { return g.marks["L0C1.text"] + 4; }},
    {"font_height_out_of_range",
     [] { return withPage([](PageRec &p) { p.lines[0][0].fontHeight = -100000; }); },
     "font of height",
     [](const Bytes &g) { return g.marks["L0C0.font"]; }},
    {"page_taller_than_the_layout_can_add_up",
     [] { return withPage([](PageRec &p) {
              p.dragHeights = {1 << 26, 1 << 26};
          }); },
     "the page would reach",
     [](const Bytes &g) { return g.marks["L1"]; }},
    {"page_without_area",
     [] { return patched(mergedPage().build(3).marks["header"] + 4, le32(0)); },
     "has no area",
     [](const Bytes &g) { return g.marks["header"] + 4; }},
    {"picture_without_signature",
     [] { return withPage([](PageRec &p) { p.lines[0][1].bmp = QByteArray(60, 'x'); }); },
     "no \"BM\" signature",
     [](const Bytes &) { return -1; }},
    {"run_length_compressed_picture",
     [] {
         return withPage([](PageRec &p) {
             p.lines[0][1].bmp = readWholeFile(kDataDir + QStringLiteral("imagemagick-rle8.bmp"));
         });
     },
     "run-length-compressed",
     [](const Bytes &) { return -1; }},
    {"picture_cut_short",
     [] {
         return withPage([](PageRec &p) {
             // Too short even with the font, the references and the trailer behind it.
             p.lines[1][1].bmp = readWholeFile(kDataDir + QStringLiteral("imagemagick-v5.bmp"));
             p.lines[1][1].bmp.chop(120);
         });
     },
     "BMP",
     [](const Bytes &) { return -1; }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(BadInput,
                         RefusedStream,
                         ::testing::ValuesIn(badStreams),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PageStream, EveryTruncationIsRefusedAndChangesNothing)
{
    const QByteArray good = mergedPage().build(3).b;
    gridtest::addLines(page, 1, {60, 70});
    const QJsonObject before = state(page);
    for (qsizetype n = 0; n < good.size(); ++n) {
        EXPECT_THROW(loadPageStream(page, good.first(n)), Error) << n;
        ASSERT_EQ(state(page), before) << n;
    }
}

TEST_F(PageStream, UnknownMagicChangesNothingAndReportsNothing)
{
    gridtest::addLines(page, 1, {60});
    const QJsonObject before = state(page);
    QByteArray bytes = mergedPage().build(3).b;
    bytes[0] = char(0x58);
    EXPECT_NO_THROW(loadPageStream(page, bytes));
    EXPECT_EQ(state(page), before);
    EXPECT_EQ(page.loadedStreamVersion(), 0);
}

TEST_F(PageStream, StreamAtAnOffsetReportsOffsetsOfTheStream)
{
    QByteArray bytes = QByteArray(10, 'z')
                       + withPage([](PageRec &p) { p.lines[0][1].text = QByteArray(3001, 'a'); });
    try {
        loadPageStream(page, bytes, 10);
        FAIL();
    } catch (const Error &e) {
        const int at = 10 + mergedPage().build(3).marks["L0C1.text"];
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("at byte offset %1").arg(at)))
            << e.message().toStdString();
    }
    loadPageStream(page, QByteArray(10, 'z') + mergedPage().build(1).b, 10);
    EXPECT_EQ(page.lineCount(), 2);
}

TEST_F(PageStream, TextsOverThreeThousandBytesAreRefusedOnWritingNamingLineAndCell)
{
    gridtest::addLines(page, 2, {100, 100});
    page.SetCallText(1, 1, QString(1501, QChar(0x6C49))); // 3002 bytes in GB18030
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("keep");
    try {
        page.SaveToStream(buffer, 0);
        FAIL();
    } catch (const Error &e) {
        EXPECT_NE(e.message().indexOf(QLatin1String("line 1, cell 1")), -1)
            << e.message().toStdString();
        EXPECT_NE(e.message().indexOf(QLatin1String("3002 bytes")), -1);
    }
    EXPECT_EQ(buffer.data(), QByteArray("keep"));

    page.SetCallText(1, 1, QString(1500, QChar(0x6C49))); // exactly 3000 bytes
    TReportControl again;
    loadPageStream(again, savePageStream(page));
    EXPECT_EQ(again.GetCallText(1, 1), QString(1500, QChar(0x6C49)));
}

// ---- files and the cell-width table ----

TEST_F(PageStream, FilesRoundTripAndNameThemselvesInErrors)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.rpt"));
    loadPageStream(page, mergedPage().build(1).b);
    page.SaveToFile(path);
    TReportControl again;
    again.LoadFromFile(path);
    EXPECT_EQ(again.GetCallText(0, 0), QStringLiteral("流量"));

    QFile::resize(path, 100);
    const QJsonObject before = state(again);
    try {
        again.LoadFromFile(path);
        FAIL();
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(path)) << e.message().toStdString();
    }
    EXPECT_EQ(state(again), before);
}

TEST_F(PageStream, WidthTableAppliesOnlyToPagesOfTheRecordedLength)
{
    QTemporaryDir dir;
    auto writePage = [&](const QString &name, int lines) {
        TReportControl p;
        gridtest::addLines(p, lines, {100, 100, 100});
        p.SaveToFile(dir.filePath(name));
        return dir.filePath(name);
    };
    const QString three = writePage(QStringLiteral("three"), 3);
    const QString four = writePage(QStringLiteral("four"), 4);

    gridtest::addLines(page, 3, {50, 120, 130});
    page.FWidthFromLine = 5; // past the last line: only lines 0..2 are copied
    page.GetCellsWadth(2);
    ASSERT_EQ(page.FCellWidths.size(), 40u);
    EXPECT_EQ(page.FCellWidths[39][0], 2);
    EXPECT_EQ(page.FCellWidths[1][2], 130);

    TReportControl target;
    target.FCellWidths = page.FCellWidths;
    target.SetFileCellWidth(three, 0);
    TReportControl check;
    check.LoadFromFile(three);
    EXPECT_EQ(check.CellFromRC(2, 0)->FCellWidth, 50);
    EXPECT_EQ(check.CellFromRC(2, 2)->FCellWidth, 130);

    target.SetFileCellWidth(four, 0);
    check.LoadFromFile(four);
    EXPECT_EQ(check.CellFromRC(0, 0)->FCellWidth, 100);

    // A file that holds no page is not overwritten by the page in the control.
    const QString other = dir.filePath(QStringLiteral("other"));
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a page");
    f.close();
    target.SetFileCellWidth(other, 0);
    EXPECT_EQ(readWholeFile(other), QByteArray("not a page"));
}

TEST_F(PageStream, WidthTableKeepsToItsFortyByFortyShape)
{
    gridtest::addLines(page, 45, std::vector<int>(45, 12));
    page.FWidthFromLine = 40;
    page.GetCellsWadth(44);
    ASSERT_EQ(page.FCellWidths.size(), 40u);
    for (const auto &row : page.FCellWidths)
        ASSERT_EQ(row.size(), 40u);
    EXPECT_EQ(page.FCellWidths[39][0], 38); // row 39 is reserved
    page.FCellWidths[39][0] = 44;           // claims a row for every line: still only 39 exist
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    page.SaveToStream(buffer, 0);
    EXPECT_NO_THROW(page.SetStreamCellWidth(buffer, 0));
}
