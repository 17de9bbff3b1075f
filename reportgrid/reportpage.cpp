#include "reportpage.h"

#include "error.h"

#include <QMetaMethod>

#include <algorithm>

namespace tessarin {

namespace {

constexpr int NoSelectedCell = 0xFFFF;

// The horizontal extent of the merged cells of one line. Created empty (left 0xFFFF); only left
// and right are used.
struct TMyRect
{
    int left = NoSelectedCell;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

int rightEdge(const TReportCell *cell)
{
    return cell->FCellLeft + cell->FCellWidth;
}

int indexOfLine(const TReportPage &page, const TReportLine *line)
{
    if (!line)
        return -1;
    // The index the last layout gave the line, checked; else a search.
    if (line->FIndex >= 0 && line->FIndex < page.lineCount() && page.line(line->FIndex) == line)
        return line->FIndex;
    for (int i = 0; i < page.lineCount(); ++i)
        if (page.line(i) == line)
            return i;
    return -1;
}

TReportLine *lineAt(const TReportPage &page, int line, const char *operation)
{
    if (line < 0 || line >= page.lineCount())
        throw Error(QStringLiteral("%1: there is no line %2 on the page (it has %3 lines)")
                        .arg(QLatin1String(operation))
                        .arg(line)
                        .arg(page.lineCount()));
    return page.line(line);
}

TReportCell *existingCell(const TReportPage &page, int line, int cell, const char *operation)
{
    const TReportLine *l = lineAt(page, line, operation);
    if (cell < 0 || cell >= l->cellCount())
        throw Error(QStringLiteral("%1: there is no cell %2 in line %3 (it has %4 cells)")
                        .arg(QLatin1String(operation))
                        .arg(cell)
                        .arg(line)
                        .arg(l->cellCount()));
    return l->cell(cell);
}

// Takes the cell out of the merged block covering it; a master left without covered cells
// measures its own text again.
void leaveBlock(TReportCell *cell)
{
    if (TReportCell *master = cell->FOwnerCell) {
        master->RemoveOwnedCell(cell);
        if (master->FCellsList.isEmpty())
            master->CalcMinCellHeight();
    }
}

} // namespace

TReportPage::TReportPage(const PageSetup &setup, QObject *parent)
    : QObject(parent)
{
    applySetup(setup);
}

TReportPage::~TReportPage()
{
    m_destroying = true;
    while (!FLineList.empty())
        FLineList.pop_back();
}

void TReportPage::applySetup(const PageSetup &setup)
{
    m_setup = setup;
    FLeftMargin1 = setup.leftMarginMm;
    FTopMargin1 = setup.topMarginMm;
    FRightMargin1 = setup.rightMarginMm;
    FBottomMargin1 = setup.bottomMarginMm;
    calcMarginPixels();
    FPaperSize = setup.paperSize;
    FOrientation = setup.orientation;
    FPaperLength = setup.paperLength;
    FPaperWidth = setup.paperWidth;
    SetWndSize(setup.width, setup.height);
}

void TReportPage::setPixelDpi(int dpi)
{
    if (dpi > 0)
        m_setup.dpiX = dpi;
}

void TReportPage::calcMarginPixels()
{
    // The page geometry counts 25 millimetres to the inch.
    const double dpi = m_setup.dpiX > 0 ? m_setup.dpiX : 96;
    const auto pixels = [dpi](int millimetres) { return roundPixel(millimetres * dpi / 25.0); };
    FLeftMargin = pixels(FLeftMargin1);
    FRightMargin = pixels(FRightMargin1);
    FTopMargin = pixels(FTopMargin1);
    FBottomMargin = pixels(FBottomMargin1);
}

void TReportPage::CalcWndSize()
{
    if (FSavedPageWidth != 0)
        SetWndSize(FSavedPageWidth, FSavedPageHeight);
    else
        SetWndSize(m_setup.width, m_setup.height);
}

void TReportPage::SetWndSize(int width, int height)
{
    const bool changed = width != FPageWidth || height != FPageHeight;
    FPageWidth = width;
    FPageHeight = height;
    FSavedPageWidth = width;
    FSavedPageHeight = height;
    if (changed)
        emit pageSizeChanged();
}

void TReportPage::SetMargin(int left, int top, int right, int bottom)
{
    if (left == FLeftMargin1 && top == FTopMargin1 && right == FRightMargin1
        && bottom == FBottomMargin1)
        return;
    FLeftMargin1 = left;
    FTopMargin1 = top;
    FRightMargin1 = right;
    FBottomMargin1 = bottom;
    calcMarginPixels();
    UpdateLines();
    invalidate({0, 0, FPageWidth, FPageHeight});
    emit contentChanged();
}

TRect TReportPage::GetMargin() const
{
    return {FLeftMargin1, FTopMargin1, FRightMargin1, FBottomMargin1};
}

void TReportPage::UpdateLines()
{
    for (auto &line : FLineList)
        for (auto &cell : line->FCells)
            if (!cell->FCellsList.isEmpty())
                cell->CalcMinCellHeight();
    for (auto &line : FLineList)
        line->CalcLineHeight();

    // A line that only grew at a bottom below the page needs no repaint. The places are
    // collected only while a view listens, and reported together.
    static const QMetaMethod areasSignal = QMetaMethod::fromSignal(&TReportPage::areasChanged);
    const bool listened = isSignalConnected(areasSignal);
    QList<TRect> dirty;
    const int pageBottom = FPageHeight;
    for (size_t i = 0; i < FLineList.size(); ++i) {
        TReportLine *line = FLineList[i].get();
        line->FIndex = static_cast<int>(i);
        if (i == 0) {
            line->SetLineTop(FTopMargin);
        } else {
            const TReportLine *prev = FLineList[i - 1].get();
            line->SetLineTop(prev->FLineTop + prev->GetLineHeight());
        }
        const TRect old = line->FLineRect;
        const TRect now = line->GetLineRect();
        bool repaint = false;
        if (old.left != now.left || old.top != now.top || old.right != now.right)
            repaint = true;
        else if (old.bottom != now.bottom)
            repaint = pageBottom >= now.top;
        if (!repaint || !listened)
            continue;
        for (auto &cell : line->FCells)
            if (cell->FOwnerCell)
                dirty.append(cell->FOwnerCell->FCellRect.adjusted(0, 0, 1, 1));
        dirty.append(old.adjusted(0, 0, 1, 1));
        dirty.append(now.adjusted(0, 0, 1, 1));
    }
    if (!dirty.isEmpty())
        emit areasChanged(dirty);
}

void TReportPage::invalidate(const TRect &rect)
{
    if (!rect.isEmpty())
        emit areasChanged({rect});
}

// ---- cells ----

TReportCell *TReportPage::CellFromPoint(const QPoint &point) const
{
    TReportCell *found = nullptr;
    for (const auto &line : FLineList) {
        if (point.y() < line->FLineTop || point.y() > line->FLineTop + line->GetLineHeight())
            continue;
        for (const auto &cell : line->FCells) {
            if (cell->FCellRect.contains(point)) {
                found = cell->FOwnerCell ? cell->FOwnerCell : cell.get();
                break;
            }
        }
    }
    return found;
}

TReportCell *TReportPage::CellFromRC(int line, int cell) const
{
    if (line < 0 || line >= lineCount())
        return nullptr;
    const TReportLine *l = FLineList[static_cast<size_t>(line)].get();
    if (cell < 0 || cell >= l->cellCount())
        return nullptr;
    return l->cell(cell);
}

TCellPos TReportPage::positionOf(const TReportCell *cell) const
{
    if (!cell)
        return {-1, -1};
    const TReportLine *line = cell->FOwnerLine;
    const int l = indexOfLine(*this, line);
    if (l < 0)
        return {-1, -1};
    int c = cell->FCellIndex;
    if (c < 0 || c >= line->cellCount() || line->cell(c) != cell)
        c = line->indexOfCell(cell);
    return c < 0 ? TCellPos{-1, -1} : TCellPos{l, c};
}

void TReportPage::cellDestroyed(TReportCell *cell)
{
    if (!m_destroying)
        emit cellRemoved(cell);
}

QList<TReportCell *> TReportPage::cellsAt(const TCellPositions &cells) const
{
    QList<TReportCell *> out;
    out.reserve(cells.size());
    for (const TCellPos &pos : cells)
        if (TReportCell *cell = cellAt(pos); cell && !out.contains(cell))
            out.append(cell);
    return out;
}

void TReportPage::cellsDone(const QList<TReportCell *> &cells)
{
    TCellPositions positions;
    positions.reserve(cells.size());
    for (const TReportCell *cell : cells)
        positions.append(positionOf(cell));
    emit cellsChanged(positions);
    emit contentChanged();
}

// ---- structure ----

std::unique_ptr<TReportLine>
TReportPage::copyOfLine(const TReportLine *source, int top, bool beside)
{
    auto line = std::make_unique<TReportLine>();
    line->FReportPage = this;
    line->SetLineTop(top);
    line->CopyLine(source, beside);
    return line;
}

void TReportPage::appendCopyOfLastLine()
{
    const TReportLine *last = FLineList.back().get();
    auto line = copyOfLine(last, last->FLineTop + last->GetLineHeight(), false);
    line->FIndex = lineCount();
    FLineList.push_back(std::move(line));
    touchContent();
}

bool TReportPage::NewTable(int cols, int rows)
{
    if (!FLineList.empty())
        return false;
    if (cols < 1 || rows < 1)
        throw Error(QStringLiteral("NewTable: a table needs at least one column and one line, "
                                   "not %1 columns and %2 lines")
                        .arg(cols)
                        .arg(rows));

    emit aboutToRestructure();
    // The table spans the printable width of the page.
    auto first = std::make_unique<TReportLine>();
    TReportLine *line = first.get();
    line->FReportPage = this;
    line->SetLineTop(FTopMargin);
    line->CreateLine(FLeftMargin, cols, FPageWidth - FLeftMargin - FRightMargin);
    line->FIndex = 0;
    FLineList.push_back(std::move(first));
    touchContent();
    invalidate(line->GetLineRect().adjusted(0, 0, 1, 1));
    for (int i = 1; i < rows; ++i) {
        appendCopyOfLastLine();
        UpdateLines();
        invalidate(FLineList.back()->FLineRect.adjusted(0, 0, 1, 1));
    }
    // A one-line table is laid out too: the line gets its height and its cells their rectangles.
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::AddLine()
{
    if (FLineList.empty())
        return false;
    appendCopyOfLastLine();
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::InsertLine(int at)
{
    if (at < 0 || at >= lineCount())
        return false;
    emit aboutToRestructure();
    const TReportLine *source = line(at);
    auto copy = copyOfLine(source, source->FLineTop, true);
    copy->FIndex = at;
    FLineList.insert(FLineList.begin() + at, std::move(copy));
    touchContent();
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::DeleteLine(const TCellPositions &cells)
{
    std::vector<bool> marked(FLineList.size(), false);
    bool any = false;
    for (const TReportCell *cell : cellsAt(cells)) {
        const int i = indexOfLine(*this, cell->FOwnerLine);
        if (i >= 0)
            marked[static_cast<size_t>(i)] = any = true;
    }
    if (!any)
        return false;
    emit aboutToRestructure();

    for (int i = lineCount() - 1; i >= 0; --i) {
        if (!marked[static_cast<size_t>(i)])
            continue;
        TReportLine *line = FLineList[static_cast<size_t>(i)].get();
        invalidate(line->FLineRect.adjusted(0, 0, 1, 1));
        for (auto &cellPtr : line->FCells) {
            TReportCell *cell = cellPtr.get();
            if (const TReportCell *master = cell->FOwnerCell) {
                invalidate(master->FCellRect.adjusted(0, 0, 1, 1));
                leaveBlock(cell);
            }
            if (!cell->FCellsList.isEmpty()) {
                invalidate(cell->FCellRect.adjusted(0, 0, 1, 1));
                cell->RemoveAllOwnedCell();
            }
        }
        FLineList.erase(FLineList.begin() + i);
        touchContent();
    }
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::AddCell(const TCellPos &pos)
{
    const TReportCell *selected = cellAt(pos);
    if (!selected)
        return false;
    TReportLine *line = selected->FOwnerLine;
    if (!line || line->FCells.empty())
        return false;
    emit aboutToRestructure();
    const TReportCell *source = line->FCells.back().get();
    TReportCell *cell = line->appendCell(std::make_unique<TReportCell>());
    cell->CopyCell(source, false);
    // A master covers one cell per line: a second covered cell in this line would make its
    // block reach one line too far down.
    leaveBlock(cell);
    cell->SetCellLeft(rightEdge(source));
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::InsertCell(const TCellPos &pos)
{
    TReportCell *selected = cellAt(pos);
    if (!selected || !selected->FOwnerLine)
        return false;
    TReportLine *line = selected->FOwnerLine;
    emit aboutToRestructure();
    TReportCell *cell
        = line->insertCell(line->indexOfCell(selected), std::make_unique<TReportCell>());
    cell->CopyCell(selected, false);
    leaveBlock(cell); // as in AddCell
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::DeleteCell(const TCellPositions &positions)
{
    QList<TReportCell *> cells = cellsAt(positions);
    if (cells.isEmpty())
        return false;
    emit aboutToRestructure();
    // Freeing a master frees its block; covered cells of the list go with it, so the list
    // drops each cell freed on the way.
    while (!cells.isEmpty()) {
        TReportCell *cell = cells.takeLast();
        const QList<TReportCell *> owned = cell->FCellsList;
        for (qsizetype k = owned.size() - 1; k >= 0; --k) {
            TReportCell *o = owned.at(k);
            TReportLine *ol = o->FOwnerLine;
            invalidate(o->FCellRect.adjusted(0, 0, 1, 1));
            cells.removeAll(o);
            ol->takeCell(ol->indexOfCell(o)).reset();
        }
        cell->FCellsList.clear();

        TReportCell *master = cell->FOwnerCell;
        TReportLine *line = cell->FOwnerLine;
        invalidate(cell->FCellRect.adjusted(0, 0, 1, 1));
        line->takeCell(line->indexOfCell(cell)).reset();
        if (master && master->FCellsList.isEmpty())
            master->CalcMinCellHeight();
    }

    for (int i = lineCount() - 1; i >= 0; --i) {
        TReportLine *line = FLineList[static_cast<size_t>(i)].get();
        if (!line->FCells.empty())
            continue;
        invalidate(line->FLineRect.adjusted(0, 0, 1, 1));
        FLineList.erase(FLineList.begin() + i);
        touchContent();
    }
    UpdateLines();
    emit contentChanged();
    return true;
}

TCellPos TReportPage::CombineCell(const TCellPositions &positions)
{
    const QList<TReportCell *> selected = cellsAt(positions);
    if (selected.size() < 2)
        return {-1, -1};

    // The cells taking part: the given ones and the covered parts of given blocks.
    QList<TReportCell *> cells = selected;
    for (const TReportCell *cell : selected)
        for (TReportCell *owned : cell->FCellsList)
            if (!cells.contains(owned))
                cells.append(owned);
    // A covered cell without its master would tear its block apart.
    for (const TReportCell *cell : std::as_const(cells))
        if (cell->FOwnerCell && !cells.contains(cell->FOwnerCell))
            return {-1, -1};

    std::vector<TMyRect> spans(FLineList.size());
    for (const TReportCell *cell : std::as_const(cells)) {
        const int i = indexOfLine(*this, cell->FOwnerLine);
        if (i < 0)
            return {-1, -1};
        TMyRect &span = spans[static_cast<size_t>(i)];
        span.left = std::min(span.left, cell->FCellLeft);
        span.right = std::max(span.right, rightEdge(cell));
    }

    // The cells must form a rectangle: every line from the first to the last holds some, all
    // with the same left and right ends, and no other cell lies between them.
    int first = -1;
    int last = -1;
    for (int i = 0; i < lineCount(); ++i) {
        if (spans[static_cast<size_t>(i)].left != NoSelectedCell) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    const TMyRect bounds = spans[static_cast<size_t>(first)];
    for (int i = first; i <= last; ++i) {
        const TMyRect &span = spans[static_cast<size_t>(i)];
        if (span.left != bounds.left || span.right != bounds.right)
            return {-1, -1};
        for (const auto &cell : FLineList[static_cast<size_t>(i)]->FCells)
            if (cell->FCellLeft < span.right && rightEdge(cell.get()) > span.left
                && !cells.contains(cell.get()))
                return {-1, -1};
    }

    emit aboutToRestructure();

    // Horizontal merge: the leftmost cell of each line takes the widths of the others, which go
    // away with their texts.
    std::vector<TReportCell *> kept;
    for (int i = first; i <= last; ++i) {
        TReportLine *line = FLineList[static_cast<size_t>(i)].get();
        TReportCell *keep = nullptr;
        for (int k = 0; k < line->cellCount();) {
            TReportCell *cell = line->cell(k);
            if (!cells.contains(cell)) {
                ++k;
                continue;
            }
            if (!keep) {
                keep = cell;
                ++k;
                continue;
            }
            invalidate(cell->FCellRect.adjusted(0, 0, 1, 1));
            keep->SetCellWidth(keep->FCellWidth + cell->FCellWidth);
            cells.removeOne(cell);
            line->takeCell(k).reset();
        }
        kept.push_back(keep);
    }

    // Vertical merge: the top cell covers the cells kept in the lines below.
    TReportCell *master = kept.front();
    for (size_t k = 1; k < kept.size(); ++k) {
        invalidate(kept[k]->FCellRect.adjusted(0, 0, 1, 1));
        master->AddOwnedCell(kept[k]);
    }
    invalidate(master->FCellRect.adjusted(0, 0, 1, 1));
    UpdateLines();
    invalidate(master->FCellRect.adjusted(0, 0, 1, 1));
    emit contentChanged();
    return positionOf(master);
}

bool TReportPage::SplitCell(const TCellPos &pos)
{
    TReportCell *master = cellAt(pos);
    if (!master || master->FCellsList.isEmpty())
        return false;
    emit aboutToRestructure();
    invalidate(master->FCellRect.adjusted(0, 0, 1, 1));
    for (const TReportCell *owned : std::as_const(master->FCellsList))
        invalidate(owned->FCellRect.adjusted(0, 0, 1, 1));
    master->RemoveAllOwnedCell();
    // The former master keeps the merged text and now needs its height in its own line.
    master->CalcMinCellHeight();
    UpdateLines();
    emit contentChanged();
    return true;
}

bool TReportPage::VSplitCell(const TCellPos &pos, int count)
{
    if (count < 1)
        throw Error(
            QStringLiteral("VSplitCell: a cell cannot be split into %1 columns").arg(count));
    TReportCell *cell = cellAt(pos);
    if (!cell)
        return false;
    TReportLine *line = cell->FOwnerLine;
    // The covered part of a block is split through its master.
    if (cell->FOwnerCell || !line)
        return false;
    const int width = cell->FCellRect.right - cell->FCellRect.left;
    const int n = std::min(roundPixel(width / 12.0), count);
    if (n < 1)
        return false;
    emit aboutToRestructure();
    invalidate(cell->FCellRect.adjusted(0, 0, 1, 1));
    const int rem = width % n;
    const int w = width / n;

    cell->SetCellWidth(w);
    const QList<TReportCell *> owned = cell->FCellsList;
    for (TReportCell *o : owned)
        o->SetCellWidth(w);

    // Each piece goes directly right of the split cell, so they end up in reverse order of
    // creation and the widest (last) piece sits next to the split cell.
    for (int i = 1; i < n; ++i) {
        TReportCell *piece
            = line->insertCell(line->indexOfCell(cell) + 1, std::make_unique<TReportCell>());
        piece->CopyCell(cell, false);
        if (i == n - 1)
            piece->SetCellWidth(w + rem);
        for (TReportCell *o : owned) {
            TReportLine *ol = o->FOwnerLine;
            TReportCell *part
                = ol->insertCell(ol->indexOfCell(o) + 1, std::make_unique<TReportCell>());
            part->CopyCell(piece, false);
            piece->AddOwnedCell(part);
        }
    }
    UpdateLines();
    emit contentChanged();
    return true;
}

void TReportPage::ResetContent()
{
    const bool hadLines = !FLineList.empty();
    if (hadLines)
        emit aboutToRestructure();
    while (!FLineList.empty())
        FLineList.pop_back();
    touchContent();
    invalidate({0, 0, FPageWidth, FPageHeight});
    if (hadLines)
        emit contentChanged();
}

// ---- formats ----

void TReportPage::SetCellLines(const TCellPositions &positions,
                               bool left,
                               bool top,
                               bool right,
                               bool bottom,
                               int leftWidth,
                               int topWidth,
                               int rightWidth,
                               int bottomWidth)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->SetLeftLine(left);
        cell->SetLeftLineWidth(leftWidth);
        cell->SetTopLine(top);
        cell->SetTopLineWidth(topWidth);
        cell->SetRightLine(right);
        cell->SetRightLineWidth(rightWidth);
        cell->SetBottomLine(bottom);
        cell->SetBottomLineWidth(bottomWidth);
        invalidate(cell->FCellRect.adjusted(-1, -1, 1, 1));
    }
    UpdateLines();
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellAlign(const TCellPositions &positions, int horz, int vert)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->FHorzAlign = horz;
        cell->FVertAlign = vert;
        invalidate(cell->FCellRect);
    }
    UpdateLines();
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellAlignHorzAlign(const TCellPositions &positions, int horz)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->FHorzAlign = horz;
        invalidate(cell->FCellRect);
    }
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellAlignNewVertAlign(const TCellPositions &positions, int vert)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->FVertAlign = vert;
        invalidate(cell->FCellRect);
    }
    UpdateLines();
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellColor(const TCellPositions &positions, TColor text, TColor back)
{
    for (TReportCell *cell : cellsAt(positions))
        cell->SetBackGroundColor(back);
    SetCellTextColor(positions, text);
}

void TReportPage::SetCellTextColor(const TCellPositions &positions, TColor color)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->SetTextColor(color);
        invalidate(cell->FCellRect);
    }
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellBackColor(const TCellPositions &positions, TColor color)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->SetBackGroundColor(color);
        invalidate(cell->FCellRect);
    }
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellDiagonal(const TCellPositions &positions, unsigned diagonal)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->FDiagonal = diagonal;
        invalidate(cell->FCellRect);
    }
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellFont(const TCellPositions &positions, const LOGFONT &font)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->SetLogFont(font);
        invalidate(cell->FCellRect.adjusted(-1, -1, 1, 1));
    }
    UpdateLines();
    if (!cells.isEmpty())
        cellsDone(cells);
}

void TReportPage::SetCellDispFormt(const TCellPositions &positions, const QString &format)
{
    // The format changes what the cell shows and so the height its text needs.
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells) {
        cell->SetCellDispFormat(format);
        invalidate(cell->FCellRect);
    }
    if (cells.isEmpty())
        return;
    UpdateLines();
    cellsDone(cells);
}

void TReportPage::SetCellSumText(const TCellPositions &positions, const QString &text)
{
    const QList<TReportCell *> cells = cellsAt(positions);
    for (TReportCell *cell : cells)
        cell->SetCellText(text);
    if (!cells.isEmpty())
        cellsDone(cells);
}

// ---- positional access ----

int TReportPage::CountFLines() const
{
    return lineCount();
}

int TReportPage::CountFcells(int line) const
{
    return lineAt(*this, line, "CountFcells")->cellCount();
}

void TReportPage::SetCallText(int line, int cell, const QString &text)
{
    TReportCell *c = existingCell(*this, line, cell, "SetCallText");
    if (c->FCellText == text)
        return;
    c->SetCellText(text);
    cellsDone({c});
}

QString TReportPage::GetCallText(int line, int cell) const
{
    return existingCell(*this, line, cell, "GetCallText")->FCellText;
}

void TReportPage::SetTagID(int line, int cell, const QString &tag)
{
    TReportCell *c = existingCell(*this, line, cell, "SetTagID");
    if (c->FTagID == tag)
        return;
    c->FTagID = tag;
    touchContent();
    cellsDone({c});
}

QString TReportPage::GetTagID(int line, int cell) const
{
    return existingCell(*this, line, cell, "GetTagID")->FTagID;
}

void TReportPage::SetScriptID(int line, int cell, int id)
{
    TReportCell *c = existingCell(*this, line, cell, "SetScriptID");
    if (c->FScriptID == id)
        return;
    c->FScriptID = id;
    cellsDone({c});
}

int TReportPage::GetScriptID(int line, int cell) const
{
    return existingCell(*this, line, cell, "GetScriptID")->FScriptID;
}

void TReportPage::SetLineHegit(int line, int height)
{
    TReportLine *l = lineAt(*this, line, "SetLineHegit");
    if (l->FDragHeight == height)
        return;
    l->SetDragHeight(height);
    emit contentChanged();
}

} // namespace tessarin
