#pragma once

// One report page without any widget: its lines and cells, page size, margins, paper and stream
// flags, the layout of its lines, the page stream, cell pictures, the cell-width table and the
// table editing operations, which address cells by their position on the page.

#include "reportcell.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

class QIODevice;
class QPaintDevice;

namespace tessarin {

// Page size of a new page when no other is given, in page pixels (A4 at 96 pixels per inch).
inline constexpr int DefaultPageWidth = 768;
inline constexpr int DefaultPageHeight = 1058;
// Longest cell text the edit box accepts, in bytes of the 8-bit code page.
inline constexpr int MaxCellTextBytes = 3000;

// What a new page starts with: its size in page pixels, the resolution page pixels are measured
// at (margins are given in millimetres), the margins and the paper it is meant for.
struct PageSetup
{
    int width = DefaultPageWidth;
    int height = DefaultPageHeight;
    int dpiX = 96; // page pixels per inch across the page
    int leftMarginMm = 20;
    int topMarginMm = 20;
    int rightMarginMm = 10;
    int bottomMarginMm = 15;
    // DMPAPER number (9 = A4), orientation (1 portrait, 2 landscape), length and width in
    // tenths of a millimetre (0: given by the paper number).
    int paperSize = 9;
    int orientation = 1;
    int paperLength = 0;
    int paperWidth = 0;

    // A4 portrait at 96 pixels per inch with the default margins, the same on every host.
    static PageSetup a4() { return PageSetup(); }
    bool operator==(const PageSetup &) const = default;
};

// A cell addressed by its position: line index from the top, cell index within the line. A
// covered cell has a position like any other.
struct TCellPos
{
    int line = 0;
    int cell = 0;
    bool operator==(const TCellPos &) const = default;
};
using TCellPositions = QList<TCellPos>;

class TReportPage : public QObject
{
    Q_OBJECT

public:
    explicit TReportPage(const PageSetup &setup = PageSetup::a4(), QObject *parent = nullptr);
    ~TReportPage() override;

    // ---- fields (page pixels unless stated) ----
    std::vector<std::unique_ptr<TReportLine>> FLineList; // top to bottom; owned
    quint64 FContentGeneration = 0;                      // see contentGeneration()
    int FPageWidth = 0;
    int FPageHeight = 0;
    int FLeftMargin = 0;
    int FRightMargin = 0; // distance from the right page edge
    int FTopMargin = 0;
    int FBottomMargin = 0; // distance from the bottom page edge
    int FLeftMargin1 = 20; // margins in millimetres
    int FRightMargin1 = 10;
    int FTopMargin1 = 20;
    int FBottomMargin1 = 15;
    int FWidthFromLine = 0;
    bool FStreamFlag = true;
    int FStreamValue = 2000;
    int FStreamMode = 1;
    // The page's own paper, saved with it and applied to the printer when it prints: DMPAPER
    // number, orientation (1 portrait, 2 landscape), length and width in tenths of a millimetre.
    int FPaperSize = 0;
    int FOrientation = 0;
    int FPaperLength = 0;
    int FPaperWidth = 0;
    int FSavedPageWidth = 0; // 0: not yet computed
    int FSavedPageHeight = 0;
    std::vector<std::vector<int>> FCellWidths; // empty, or 40 rows of 40 widths
    int FCellWidthRows = 0;

    // ---- page setup and layout ----
    // Size, margins and paper of `setup`, with the margins in pixels at its resolution. The
    // lines are kept; call UpdateLines to lay them out for the new margins.
    void applySetup(const PageSetup &setup);
    // The setup the page was made with or last given.
    const PageSetup &pageSetup() const { return m_setup; }
    // Page pixels per inch the millimetre margins are converted at.
    int pixelDpi() const { return m_setup.dpiX; }
    void setPixelDpi(int dpi);
    // The size last set (SetWndSize, a loaded page), or the setup's size while none was set.
    void CalcWndSize();
    void SetWndSize(int width, int height);
    // Margins in millimetres (left, top, right, bottom); the lines are laid out again.
    void SetMargin(int left, int top, int right, int bottom);
    TRect GetMargin() const;
    // Heights of merged blocks, then every line's height and left edges, then tops and
    // rectangles; reports the places of lines that moved through areasChanged, at once.
    void UpdateLines();

    // ---- cells ----
    int lineCount() const { return static_cast<int>(FLineList.size()); }
    TReportLine *line(int index) const { return FLineList[static_cast<size_t>(index)].get(); }
    TReportCell *CellFromPoint(const QPoint &point) const;
    // The cell at a position, null when there is none.
    TReportCell *CellFromRC(int line, int cell) const;
    TReportCell *cellAt(const TCellPos &pos) const { return CellFromRC(pos.line, pos.cell); }
    // Where `cell` sits on this page; {-1, -1} when it is not on it.
    TCellPos positionOf(const TReportCell *cell) const;
    // Counts changes to the page's cells: lines or cells added, removed or reordered, a page
    // loaded, a tag set through SetTagID. Indexes over the cells (the workbook's tag index)
    // compare it to know when to rebuild. Code that writes FLineList, a line's FCells or a
    // cell's FTagID directly must call touchContent().
    quint64 contentGeneration() const { return FContentGeneration; }
    void touchContent() { ++FContentGeneration; }
    // Called by a cell being freed: tells the views (cellRemoved) so that none keeps it.
    void cellDestroyed(TReportCell *cell);

    // ---- table editing ----
    // Operations on cells take their positions; positions that name no cell are passed over.
    // The structure operations refuse silently (returning false) when the cells do not fit;
    // before they change anything they emit aboutToRestructure. The positional accessors throw
    // Error for a line or cell that does not exist.

    // Lays `rows` lines of `cols` equal cells across the printable width of the page. False,
    // changing nothing, on a page that already has lines. Throws Error for fewer than one
    // column or line.
    bool NewTable(int cols, int rows);
    // Appends a format copy of the last line; a merged block reaching the last line grows.
    bool AddLine();
    // Inserts a format copy of line `line` above it.
    bool InsertLine(int line);
    // Deletes every line holding one of `cells`; blocks whose master goes are dissolved.
    bool DeleteLine(const TCellPositions &cells);
    // Appends a format copy of the last cell of the line of `cell`.
    bool AddCell(const TCellPos &cell);
    // Inserts a format copy of `cell` before it.
    bool InsertCell(const TCellPos &cell);
    // Deletes the cells (a master with its whole block) and the lines left empty.
    bool DeleteCell(const TCellPositions &cells);
    // Merges a rectangle of cells into one cell; the texts of the lines' further cells are
    // lost, those of the lower lines are appended to the top cell's text. Returns the position
    // of the merged cell, {-1, -1} when the cells form no rectangle.
    TCellPos CombineCell(const TCellPositions &cells);
    // Dissolves the vertical merge of the master at `cell` (horizontal merges stay).
    bool SplitCell(const TCellPos &cell);
    // Splits the cell into up to `count` columns of about 12 pixels or more. Throws Error for a
    // count below 1.
    bool VSplitCell(const TCellPos &cell, int count);
    // Removes all lines.
    void ResetContent();

    // Formats of the cells at `cells`.
    void SetCellLines(const TCellPositions &cells,
                      bool left,
                      bool top,
                      bool right,
                      bool bottom,
                      int leftWidth,
                      int topWidth,
                      int rightWidth,
                      int bottomWidth);
    void SetCellAlign(const TCellPositions &cells, int horz, int vert);
    void SetCellAlignHorzAlign(const TCellPositions &cells, int horz);
    void SetCellAlignNewVertAlign(const TCellPositions &cells, int vert);
    void SetCellColor(const TCellPositions &cells, TColor text, TColor back);
    void SetCellTextColor(const TCellPositions &cells, TColor color);
    void SetCellBackColor(const TCellPositions &cells, TColor color);
    void SetCellDiagonal(const TCellPositions &cells, unsigned diagonal);
    void SetCellFont(const TCellPositions &cells, const LOGFONT &font);
    void SetCellDispFormt(const TCellPositions &cells, const QString &format);
    // Text of every cell at `cells`, without re-layout.
    void SetCellSumText(const TCellPositions &cells, const QString &text);

    // Positions count covered cells like any other: a merged text sits at its master's position.
    int CountFLines() const;
    int CountFcells(int line) const;
    // Sets the text without re-layout.
    void SetCallText(int line, int cell, const QString &text);
    QString GetCallText(int line, int cell) const;
    void SetTagID(int line, int cell, const QString &tag);
    QString GetTagID(int line, int cell) const;
    void SetScriptID(int line, int cell, int id);
    int GetScriptID(int line, int cell) const;
    // Drag height of the line, without re-layout.
    void SetLineHegit(int line, int height);

    // ---- page stream, pictures, cell-width table (reportstream.cpp) ----

    // Writes the page as a version-3 page stream at byte `Position` of `Stream` (seekable). The
    // whole stream is built first, so a refused page (a text over 3000 bytes, a merge reference
    // to a cell not on the page) writes nothing. Throws Error.
    void SaveToStream(QIODevice &Stream, int Position) const;
    // Replaces the page by the page stream (version 1, 2 or 3) at byte `Position`. The stream is
    // parsed completely into new lines first; a malformed stream throws Error naming what is
    // wrong and at which byte offset, and leaves the page exactly as it was. A stream whose
    // magic word is unknown changes nothing and reports nothing.
    void LoadFromStream(QIODevice &Stream, int Position);
    // The page stream as a file of its own, written atomically.
    void SaveToFile(const QString &FileName) const;
    void LoadFromFile(const QString &FileName);
    // Loads any picture Qt reads into the cell (icons drawn onto a white bitmap). Throws Error
    // naming the file when it cannot be read, and for a position without a cell; the cell is
    // then unchanged.
    void SaveBmp(const TCellPos &Cell, const QString &FileName);
    // The cell's picture (null when it has none or there is no such cell).
    QImage *LoadBmp(const TCellPos &Cell) const;
    void FreeBmp(const TCellPos &Cell);
    // Fills FCellWidths from lines 0..N and then from FWidthFromLine to the last line; rows that
    // do not fit the 40 x 40 table (row 39 is reserved) and cells past the 40th are left out.
    void GetCellsWadth(int N);
    // Loads the page file, applies FCellWidths when it was filled from a page with as many
    // lines, and writes the file back. `Index` is not used.
    void SetFileCellWidth(const QString &FileName, int Index);
    void SetStreamCellWidth(QIODevice &Stream, int Index);
    // Version (1, 2 or 3) of the page stream loaded last; 0 while none was loaded.
    int loadedStreamVersion() const { return m_loadedStreamVersion; }

    // ---- output without a printer ----
    // Draws the page scaled isotropically into `size` (device units) of the painter's device,
    // as printed.
    void ExportToPicture(QPainter &painter, const QSize &size) const;
    void ExportToPicture(QPaintDevice &device, const QSize &size) const;
    // Writes the page as a one-sheet PDF file (atomically) on its own paper in its orientation
    // (A4 when the paper fields name none), scaled isotropically onto the whole sheet. Throws
    // Error when the file cannot be written. `Title` is the document's title.
    void SaveToPdf(const QString &FileName, const QString &Title = QString()) const;
    // True for a cell whose text belongs on the screen only (a button's caption): printing and
    // the page's own output leave it out. No text is, on a plain page.
    virtual bool isScreenOnlyText(const TReportCell &cell) const
    {
        (void)cell;
        return false;
    }
    // Draws what lies over the cells (charts), in page pixels, after them; nothing on a plain
    // page.
    virtual void paintOverlay(QPainter &painter) const { (void)painter; }

signals:
    // Parts of the page (page pixels) must be painted again: cells changed or moved.
    void areasChanged(const QList<TRect> &areas);
    // Cells changed in place (text, tag, script number, format, picture); their positions.
    void cellsChanged(const TCellPositions &cells);
    // The cells of the page are about to change shape (lines or cells added, removed, merged or
    // split): a view closes its in-place edit first.
    void aboutToRestructure();
    // The cell is being freed; a view drops every reference it keeps to it.
    void cellRemoved(TReportCell *cell);
    // The page size changed (SetWndSize, a loaded page).
    void pageSizeChanged();
    // The page was replaced by a loaded one: every cell is new.
    void pageReset();
    // The page's content changed through one of its operations; emitted once per operation,
    // after the change is complete.
    void contentChanged();

private:
    // LoadFromStream's work; false when the magic word was unknown and nothing changed.
    bool loadPage(QIODevice &Stream, int Position);
    void applyCellWidths();
    void calcMarginPixels();
    void invalidate(const TRect &rect);
    // Cells of `cells` that exist, in the given order, each once.
    QList<TReportCell *> cellsAt(const TCellPositions &cells) const;
    // Tells the views that `cells` changed in place, then that the page's content changed.
    void cellsDone(const QList<TReportCell *> &cells);
    std::unique_ptr<TReportLine> copyOfLine(const TReportLine *source, int top, bool beside);
    void appendCopyOfLastLine();

    PageSetup m_setup;
    int m_loadedStreamVersion = 0;
    bool m_destroying = false;
};

} // namespace tessarin
