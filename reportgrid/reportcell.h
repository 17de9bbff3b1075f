#pragma once

// The cells and lines of a report page: geometry, height rules, vertical merges and the painting
// of one cell on any QPainter.

#include "logfont.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPen>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QFont;
class QPainter;

namespace tessarin {

class TReportPage;
class TReportLine;

// A rectangle in page pixels: left, top, right, bottom, right and bottom exclusive.
struct TRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(const QPoint &p) const
    {
        return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom;
    }
    bool intersects(const TRect &o) const
    {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    // Each side moved outwards by the given amounts (negative values shrink).
    TRect adjusted(int dl, int dt, int dr, int db) const
    {
        return {left + dl, top + dt, right + dr, bottom + db};
    }
    QRect toQRect() const { return QRect(left, top, right - left, bottom - top); }
    static TRect fromQRect(const QRect &r)
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    bool operator==(const TRect &) const = default;
};

// Trunc(x + 0.5): the rounding of all page geometry (toward zero after adding one half).
inline int roundPixel(double x)
{
    return static_cast<int>(x + 0.5);
}

// A colour 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clScreenGrid = 0x00C0C0C0;
QColor colorFromTColor(TColor c);
TColor tcolorFromColor(const QColor &c);

// A solid pen `width` page pixels wide for grid lines, never thinner than one device pixel.
QPen gridPen(const QPainter &painter, const QColor &color, int width, Qt::PenCapStyle cap);

// Bits of TReportCell::FDiagonal: strokes from the top-left corner (to the bottom-right corner,
// the middle of the right edge, the middle of the bottom edge) and the mirrored strokes from the
// top-right corner.
inline constexpr unsigned LINE_LEFT1 = 0x001;
inline constexpr unsigned LINE_LEFT2 = 0x002;
inline constexpr unsigned LINE_LEFT3 = 0x004;
inline constexpr unsigned LINE_RIGHT1 = 0x100;
inline constexpr unsigned LINE_RIGHT2 = 0x200;
inline constexpr unsigned LINE_RIGHT3 = 0x400;

// Horizontal and vertical alignment values of a cell.
inline constexpr int TEXT_ALIGN_LEFT = 0;
inline constexpr int TEXT_ALIGN_CENTER = 1;
inline constexpr int TEXT_ALIGN_RIGHT = 2;
inline constexpr int TEXT_ALIGN_TOP = 0;
inline constexpr int TEXT_ALIGN_VCENTER = 1;
inline constexpr int TEXT_ALIGN_BOTTOM = 2;

// Narrowest cell width SetCellWidth stores.
inline constexpr int MinCellWidth = 10;

// One cell of a line. Fields are public so that the page stream, the editing operations and the
// views can read and restore them as stored; the setters keep the derived fields (heights,
// rectangles) up to date, direct writes leave that to the caller (usually UpdateLines).
//
// A cell is unmerged, a master (FCellsList not empty: the cells of the lines below that its
// rectangle covers) or owned (FOwnerCell set: covered by a master, never painted).
class TReportCell
{
public:
    TReportCell();
    // Detaches the cell from its master and its owned cells, and tells the page (when the
    // line has one) so that no selection, edit or last-selected reference outlives the cell.
    ~TReportCell();
    TReportCell(const TReportCell &) = delete;
    TReportCell &operator=(const TReportCell &) = delete;

    int FLeftMargin = 5;               // inner text inset on the left and on the right
    TReportLine *FOwnerLine = nullptr; // not owning
    TReportCell *FOwnerCell = nullptr; // the master covering this cell, if any
    QList<TReportCell *> FCellsList;   // covered cells in order of absorption; not owning
    int FCellIndex = -1;
    int FCellLeft = 0;
    int FCellWidth = 0;
    TRect FCellRect;
    TRect FTextRect;
    int FDragCellHeight = 0;
    int FMinCellHeight = 0;
    int FRequiredCellHeight = 0;
    bool FLeftLine = true;
    int FLeftLineWidth = 1;
    bool FTopLine = true;
    int FTopLineWidth = 1;
    bool FRightLine = true;
    int FRightLineWidth = 1;
    bool FBottomLine = true;
    int FBottomLineWidth = 1;
    unsigned FDiagonal = 0;
    TColor FTextColor = clBlack;
    TColor FBackGroundColor = clWhite; // white means not filled
    int FHorzAlign = TEXT_ALIGN_LEFT;
    int FVertAlign = TEXT_ALIGN_VCENTER;
    QString FCellText;       // line breaks as CR LF
    QString FCellDispFormat; // how a number text is shown (dispformat.h); "" shows it as is
    QString FTagID;
    int FScriptID = 0;
    std::unique_ptr<QImage> FBmp; // may be null once the picture was freed
    bool FbmpYn = false;
    LOGFONT FLogFont;

    void SetLeftMargin(int margin);
    void SetOwnerLine(TReportLine *line);
    void SetOwnerCell(TReportCell *cell);
    int GetOwnedCellCount() const { return FCellsList.size(); }
    void AddOwnedCell(TReportCell *cell);
    void RemoveOwnedCell(TReportCell *cell);
    void RemoveAllOwnedCell();
    bool IsCellOwned(const TReportCell *cell) const;
    void SetCellLeft(int left);
    void SetCellWidth(int width);
    int GetCellHeight() const;
    int GetCellTop() const;
    int GetOwnerLineHeight() const;
    void SetLeftLine(bool on);
    void SetTopLine(bool on);
    void SetRightLine(bool on);
    void SetBottomLine(bool on);
    void SetLeftLineWidth(int width);
    void SetTopLineWidth(int width);
    void SetRightLineWidth(int width);
    void SetBottomLineWidth(int width);
    void SetCellText(const QString &text);
    void SetCellDispFormat(const QString &format);
    void SetLogFont(const LOGFONT &font);
    void SetBackGroundColor(TColor color);
    void SetTextColor(TColor color);

    // Brings FMinCellHeight (and for a master FRequiredCellHeight and the heights of the cells
    // it covers) up to date with the text, font, width and borders.
    void CalcMinCellHeight();
    // Brings FCellRect and FTextRect up to date with the line's top and height.
    void CalcCellRect();
    // The text as painted and measured: FCellText under the display format FCellDispFormat; a
    // number too wide for one line of the cell in a shorter form that fits (fitNumberText), so
    // a value never makes its cell, and the page, grow.
    QString displayText() const;
    // True when displayText() shows a number shortened to fit (its tool tip gives it in full).
    bool isDisplayShortened() const;
    // Draws background, picture, borders, diagonals and the display text onto `painter`, whose
    // coordinates are page pixels; screen, printer and PDF all paint cells through here. `print`
    // leaves out the grey screen edges of borders that are not set; `withText` false leaves out
    // the text (a cell that only the screen shows). A covered cell paints nothing: its master
    // paints the block.
    void PaintCell(QPainter &painter, bool print, bool withText = true) const;
    // Draws only the borders that are set, in black. Painting a page calls it for every cell
    // once all cells are painted, so that cells painted later (neighbours, the lines a merged
    // block covers) cannot hide the borders they share.
    void PaintSetBorders(QPainter &painter) const;
    // Makes this cell a format twin of `source` with empty text; a copy of a covered cell is
    // covered by the same master (beside the source, or appended).
    void CopyCell(const TReportCell *source, bool insertBeside);

    // Convenience for callers that paint or measure: the font of FLogFont as a QFont (cached).
    const QFont &cellFont() const;
    // The QRect of FCellRect / FTextRect.
    QRect cellRect() const { return FCellRect.toQRect(); }
    QRect textRect() const { return FTextRect.toQRect(); }
    bool isMaster() const { return !FCellsList.isEmpty(); }
    // The covered cell in the lowest line of this master's block, whose line holds the block's
    // bottom edge; null when the block covers nothing below the page top.
    TReportCell *lowestCoveredCell() const;
    // Width in which text lines break: the cell width less the inset on both sides.
    int textWrapWidth() const { return FCellWidth - 2 * FLeftMargin; }
    bool isOwned() const { return FOwnerCell != nullptr; }

private:
    int borderHeights() const { return FTopLineWidth + FBottomLineWidth; }
    int textHeight() const;
    void paintBorders(QPainter &painter, bool print, bool onlySet) const;
    void calcOwnedCellHeight();
    void recalcCoveredCells();

    mutable std::unique_ptr<QFont> m_font;
    mutable LOGFONT m_fontKey;
};

// One horizontal line of cells. Owns its cells.
class TReportLine
{
public:
    TReportLine();
    ~TReportLine(); // frees the cells, last to first
    TReportLine(const TReportLine &) = delete;
    TReportLine &operator=(const TReportLine &) = delete;

    TReportPage *FReportPage = nullptr; // the page holding the line; not owning
    std::vector<std::unique_ptr<TReportCell>> FCells;
    int FIndex = 0;
    int FMinHeight = 0;  // tallest cell
    int FDragHeight = 0; // height asked for by dragging or SetLineHegit
    int FLineTop = 0;
    TRect FLineRect; // as last computed by GetLineRect

    // Fills an empty line with `count` cells of equal width Trunc(totalWidth / count + 0.5)
    // starting at `left`. A count below 1 creates nothing.
    void CreateLine(int left, int count, int totalWidth);
    // Heights, cell indices and left edges: the first cell starts at the page's left margin,
    // each further cell at the right edge of the previous one.
    void CalcLineHeight();
    int GetLineHeight() const;
    TRect GetLineRect();
    void SetLineTop(int top);
    void SetDragHeight(int height);
    // Makes this empty line a format twin of `source` (cells copied with CopyCell).
    void CopyLine(const TReportLine *source, bool insertBeside);

    int cellCount() const { return static_cast<int>(FCells.size()); }
    TReportCell *cell(int index) const { return FCells[static_cast<size_t>(index)].get(); }
    // Position of `cell` in this line, -1 when it is not here.
    int indexOfCell(const TReportCell *cell) const;
    // Takes ownership of `cell`, makes this its line and inserts it at `index` (clamped to
    // 0..cellCount()); returns the cell.
    TReportCell *insertCell(int index, std::unique_ptr<TReportCell> cell);
    TReportCell *appendCell(std::unique_ptr<TReportCell> cell);
    // Removes the cell at `index` and hands it to the caller (its FOwnerLine is left set, so
    // that a caller freeing it still reaches the page).
    std::unique_ptr<TReportCell> takeCell(int index);

private:
    // Tells the page that its cells changed (see TReportPage::contentGeneration).
    void touchPage();
};

// Layout of cell text in a box, behaving like word-broken edit-control text drawing: lines
// break at CR LF (also a lone CR or LF), at word boundaries, and inside a word too long for the
// box; a line break at the very end adds no line. Each line is the font's height tall and is
// aligned on its own (0 left, 1 centre, 2 right, other values left).
struct CellTextLayout
{
    // The box the text needs: left and top as given, bottom = top + lines x line height.
    static TRect measure(const QFont &font, const TRect &box, const QString &text, int horzAlign);
    // Draws the text into `box` (clipped to it) with the painter's current pen, breaking lines
    // for `wrapWidth` pixels (the box width when 0 or less) and aligning them in the box.
    static void draw(QPainter &painter,
                     const QFont &font,
                     const TRect &box,
                     const QString &text,
                     int horzAlign,
                     int wrapWidth = 0);
};

} // namespace tessarin
