// The table editing operations of TReportControl: creating a table, adding, inserting and
// deleting lines and cells, merging and splitting, cell formats and positional access.

#include "reportcontrol.h"

#include "error.h"

#include <QMessageBox>

#include <algorithm>

namespace tessarin {

namespace {

constexpr int NoSelectedCell = 0xFFFF;

// The horizontal extent of the selected cells of one line while merging. Created empty (left
// 0xFFFF); only left and right are used.
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

int indexOfLine(const TReportControl &control, const TReportLine *line)
{
    for (int i = 0; i < control.lineCount(); ++i)
        if (control.line(i) == line)
            return i;
    return -1;
}

TReportLine *lineAt(const TReportControl &control, int line, const char *operation)
{
    if (line < 0 || line >= control.lineCount())
        throw Error(QStringLiteral("%1: there is no line %2 on the page (it has %3 lines)")
                        .arg(QLatin1String(operation))
                        .arg(line)
                        .arg(control.lineCount()));
    return control.line(line);
}

TReportCell *cellAt(const TReportControl &control, int line, int cell, const char *operation)
{
    const TReportLine *l = lineAt(control, line, operation);
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

// A new line belonging to `control`, a format copy of `source`, placed at `top`.
std::unique_ptr<TReportLine> copyOfLine(TReportControl &control, const TReportLine *source,
                                        int top, bool insertBeside)
{
    auto line = std::make_unique<TReportLine>();
    line->FReportControl = &control;
    line->SetLineTop(top);
    line->CopyLine(source, insertBeside);
    return line;
}

void appendCopyOfLastLine(TReportControl &control)
{
    const TReportLine *last = control.FLineList.back().get();
    auto line = copyOfLine(control, last, last->FLineTop + last->GetLineHeight(), false);
    line->FIndex = control.lineCount();
    control.FLineList.push_back(std::move(line));
    control.touchContent();
}

} // namespace

// ---- structure ----

void TReportControl::NewTable(int cols, int rows)
{
    if (!FLineList.empty()) {
        const QString text = QStringLiteral("关闭正在编辑的报表后，才能建立新表格。");
        const QString caption = QStringLiteral("警告");
        if (messageBoxHook)
            messageBoxHook(text, caption);
        else
            QMessageBox::warning(this, caption, text, QMessageBox::Ok);
        return;
    }
    if (cols < 1 || rows < 1)
        throw Error(QStringLiteral("NewTable: a table needs at least one column and one line, "
                                   "not %1 columns and %2 lines")
                        .arg(cols)
                        .arg(rows));

    // The table spans the printable width of the page; the page width rather than the window
    // width, so that a table made while zoomed still fits the page.
    auto first = std::make_unique<TReportLine>();
    TReportLine *line = first.get();
    line->FReportControl = this;
    line->SetLineTop(FTopMargin);
    line->CreateLine(FLeftMargin, cols, FPageWidth - FLeftMargin - FRightMargin);
    line->FIndex = 0;
    FLineList.push_back(std::move(first));
    touchContent();
    invalidatePage(line->GetLineRect().adjusted(0, 0, 1, 1));
    for (int i = 1; i < rows; ++i) {
        appendCopyOfLastLine(*this);
        UpdateLines();
        invalidatePage(FLineList.back()->FLineRect.adjusted(0, 0, 1, 1));
    }
    // A one-line table is laid out too: the line gets its height and its cells their rectangles.
    UpdateLines();
    emit contentChanged();
}

bool TReportControl::CanAdd() const
{
    return FSelectCells.size() < 2;
}

bool TReportControl::CanInsert() const
{
    return !FSelectCells.isEmpty();
}

bool TReportControl::CanSplit() const
{
    return FSelectCells.size() == 1 && !FSelectCells.first()->FCellsList.isEmpty();
}

void TReportControl::AddLine()
{
    if (!CanAdd() || FLineList.empty())
        return;
    appendCopyOfLastLine(*this);
    UpdateLines();
    emit contentChanged();
}

void TReportControl::InsertLine()
{
    if (!CanInsert())
        return;
    const TReportLine *source = FSelectCells.first()->FOwnerLine;
    const int at = indexOfLine(*this, source);
    if (at < 0)
        return;
    FreeEdit();
    auto line = copyOfLine(*this, source, source->FLineTop, true);
    line->FIndex = at;
    FLineList.insert(FLineList.begin() + at, std::move(line));
    touchContent();
    UpdateLines();
    emit contentChanged();
}

void TReportControl::DeleteLine()
{
    if (FSelectCells.isEmpty())
        return;
    std::vector<bool> marked(FLineList.size(), false);
    for (const TReportCell *cell : std::as_const(FSelectCells)) {
        const int i = indexOfLine(*this, cell->FOwnerLine);
        if (i >= 0)
            marked[static_cast<size_t>(i)] = true;
    }
    RemoveAllSelectedCell();
    FreeEdit();

    for (int i = lineCount() - 1; i >= 0; --i) {
        if (!marked[static_cast<size_t>(i)])
            continue;
        TReportLine *line = FLineList[static_cast<size_t>(i)].get();
        invalidatePage(line->FLineRect.adjusted(0, 0, 1, 1));
        for (auto &cellPtr : line->FCells) {
            TReportCell *cell = cellPtr.get();
            if (const TReportCell *master = cell->FOwnerCell) {
                invalidatePage(master->FCellRect.adjusted(0, 0, 1, 1));
                leaveBlock(cell);
            }
            if (!cell->FCellsList.isEmpty()) {
                invalidatePage(cell->FCellRect.adjusted(0, 0, 1, 1));
                cell->RemoveAllOwnedCell();
            }
        }
        FLineList.erase(FLineList.begin() + i);
        touchContent();
    }
    UpdateLines();
    emit contentChanged();
}

void TReportControl::AddCell()
{
    if (FSelectCells.size() != 1)
        return;
    TReportLine *line = FSelectCells.first()->FOwnerLine;
    if (!line || line->FCells.empty())
        return;
    FreeEdit();
    const TReportCell *source = line->FCells.back().get();
    TReportCell *cell = line->appendCell(std::make_unique<TReportCell>());
    cell->CopyCell(source, false);
    // A master covers one cell per line: a second covered cell in this line would make its
    // block reach one line too far down.
    leaveBlock(cell);
    cell->SetCellLeft(rightEdge(source));
    UpdateLines();
    emit contentChanged();
}

void TReportControl::InsertCell()
{
    if (FSelectCells.size() != 1)
        return;
    TReportCell *selected = FSelectCells.first();
    TReportLine *line = selected->FOwnerLine;
    if (!line)
        return;
    FreeEdit();
    TReportCell *cell =
        line->insertCell(line->indexOfCell(selected), std::make_unique<TReportCell>());
    cell->CopyCell(selected, false);
    leaveBlock(cell); // as in AddCell
    UpdateLines();
    emit contentChanged();
}

void TReportControl::DeleteCell()
{
    if (FSelectCells.isEmpty())
        return;
    FreeEdit();
    // Freeing a cell drops it from the selection (cellDestroyed), so the list shrinks as we go;
    // covered cells that were selected as well disappear with their master.
    while (!FSelectCells.isEmpty()) {
        TReportCell *cell = FSelectCells.last();
        const QList<TReportCell *> owned = cell->FCellsList;
        for (qsizetype k = owned.size() - 1; k >= 0; --k) {
            TReportCell *o = owned.at(k);
            TReportLine *ol = o->FOwnerLine;
            invalidatePage(o->FCellRect.adjusted(0, 0, 1, 1));
            ol->takeCell(ol->indexOfCell(o)).reset();
        }
        cell->FCellsList.clear();

        TReportCell *master = cell->FOwnerCell;
        TReportLine *line = cell->FOwnerLine;
        invalidatePage(cell->FCellRect.adjusted(0, 0, 1, 1));
        RemoveSelectedCell(cell);
        line->takeCell(line->indexOfCell(cell)).reset();
        if (master && master->FCellsList.isEmpty())
            master->CalcMinCellHeight();
    }
    RemoveAllSelectedCell();

    for (int i = lineCount() - 1; i >= 0; --i) {
        TReportLine *line = FLineList[static_cast<size_t>(i)].get();
        if (!line->FCells.empty())
            continue;
        invalidatePage(line->FLineRect.adjusted(0, 0, 1, 1));
        FLineList.erase(FLineList.begin() + i);
        touchContent();
    }
    UpdateLines();
    emit contentChanged();
}

void TReportControl::CombineCell()
{
    if (FSelectCells.size() < 2)
        return;

    // The cells taking part: the selected ones and the covered parts of selected blocks. The
    // selection itself is left alone until the merge is certain.
    QList<TReportCell *> cells = FSelectCells;
    for (const TReportCell *selected : std::as_const(FSelectCells))
        for (TReportCell *owned : selected->FCellsList)
            if (!cells.contains(owned))
                cells.append(owned);
    // A covered cell without its master would tear its block apart.
    for (const TReportCell *cell : std::as_const(cells))
        if (cell->FOwnerCell && !cells.contains(cell->FOwnerCell))
            return;

    std::vector<TMyRect> spans(FLineList.size());
    for (const TReportCell *cell : std::as_const(cells)) {
        const int i = indexOfLine(*this, cell->FOwnerLine);
        if (i < 0)
            return;
        TMyRect &span = spans[static_cast<size_t>(i)];
        span.left = std::min(span.left, cell->FCellLeft);
        span.right = std::max(span.right, rightEdge(cell));
    }

    // The selection must be a rectangle: every line from the first to the last holds selected
    // cells, all with the same left and right ends, and no unselected cell lies between them.
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
            return;
        for (const auto &cell : FLineList[static_cast<size_t>(i)]->FCells)
            if (cell->FCellLeft < span.right && rightEdge(cell.get()) > span.left
                && !cells.contains(cell.get()))
                return;
    }

    FreeEdit();

    // Horizontal merge: the leftmost selected cell of each line takes the widths of the others,
    // which go away with their texts.
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
            invalidatePage(cell->FCellRect.adjusted(0, 0, 1, 1));
            keep->SetCellWidth(keep->FCellWidth + cell->FCellWidth);
            cells.removeOne(cell);
            RemoveSelectedCell(cell);
            line->takeCell(k).reset();
        }
        kept.push_back(keep);
    }

    // Vertical merge: the top cell covers the cells kept in the lines below.
    TReportCell *master = kept.front();
    for (size_t k = 1; k < kept.size(); ++k) {
        invalidatePage(kept[k]->FCellRect.adjusted(0, 0, 1, 1));
        master->AddOwnedCell(kept[k]);
    }
    invalidatePage(master->FCellRect.adjusted(0, 0, 1, 1));

    RemoveAllSelectedCell();
    AddSelectedCell(master);
    UpdateLines();
    invalidatePage(master->FCellRect.adjusted(0, 0, 1, 1));
    emit contentChanged();
}

void TReportControl::SplitCell()
{
    if (!CanSplit())
        return;
    FreeEdit();
    TReportCell *master = FSelectCells.first();
    RemoveAllSelectedCell();
    AddSelectedCell(master);
    invalidatePage(master->FCellRect.adjusted(0, 0, 1, 1));
    for (const TReportCell *owned : std::as_const(master->FCellsList))
        invalidatePage(owned->FCellRect.adjusted(0, 0, 1, 1));
    master->RemoveAllOwnedCell();
    // The former master keeps the merged text and now needs its height in its own line.
    master->CalcMinCellHeight();
    UpdateLines();
    emit contentChanged();
}

void TReportControl::VSplitCell(int count)
{
    if (count < 1)
        throw Error(QStringLiteral("VSplitCell: a cell cannot be split into %1 columns")
                        .arg(count));
    if (FSelectCells.size() != 1)
        return;
    TReportCell *cell = FSelectCells.first();
    TReportLine *line = cell->FOwnerLine;
    // The covered part of a block is split through its master.
    if (cell->FOwnerCell || !line)
        return;
    const int width = cell->FCellRect.right - cell->FCellRect.left;
    const int n = std::min(roundPixel(width / 12.0), count);
    if (n < 1)
        return;
    FreeEdit();
    invalidatePage(cell->FCellRect.adjusted(0, 0, 1, 1));
    const int rem = width % n;
    const int w = width / n;

    cell->SetCellWidth(w);
    const QList<TReportCell *> owned = cell->FCellsList;
    for (TReportCell *o : owned)
        o->SetCellWidth(w);

    // Each piece goes directly right of the split cell, so they end up in reverse order of
    // creation and the widest (last) piece sits next to the split cell.
    for (int i = 1; i < n; ++i) {
        TReportCell *piece =
            line->insertCell(line->indexOfCell(cell) + 1, std::make_unique<TReportCell>());
        piece->CopyCell(cell, false);
        if (i == n - 1)
            piece->SetCellWidth(w + rem);
        for (TReportCell *o : owned) {
            TReportLine *ol = o->FOwnerLine;
            TReportCell *part =
                ol->insertCell(ol->indexOfCell(o) + 1, std::make_unique<TReportCell>());
            part->CopyCell(piece, false);
            piece->AddOwnedCell(part);
        }
    }
    UpdateLines();
    emit contentChanged();
}

void TReportControl::ResetContent()
{
    FreeEdit();
    RemoveAllSelectedCell();
    const bool hadLines = !FLineList.empty();
    while (!FLineList.empty())
        FLineList.pop_back();
    touchContent();
    update();
    if (hadLines)
        emit contentChanged();
}

// ---- formats of the selected cells ----

void TReportControl::SetCellLines(bool left, bool top, bool right, bool bottom, int leftWidth,
                                  int topWidth, int rightWidth, int bottomWidth)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->SetLeftLine(left);
        cell->SetLeftLineWidth(leftWidth);
        cell->SetTopLine(top);
        cell->SetTopLineWidth(topWidth);
        cell->SetRightLine(right);
        cell->SetRightLineWidth(rightWidth);
        cell->SetBottomLine(bottom);
        cell->SetBottomLineWidth(bottomWidth);
        invalidatePage(cell->FCellRect.adjusted(-1, -1, 1, 1));
    }
    UpdateLines();
    placeEditBox();
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellAlign(int horz, int vert)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->FHorzAlign = horz;
        cell->FVertAlign = vert;
        invalidatePage(cell->FCellRect);
    }
    UpdateLines();
    placeEditBox();
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellAlignHorzAlign(int horz)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->FHorzAlign = horz;
        invalidatePage(cell->FCellRect);
    }
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellAlignNewVertAlign(int vert)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->FVertAlign = vert;
        invalidatePage(cell->FCellRect);
    }
    UpdateLines();
    placeEditBox();
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellColor(TColor text, TColor back)
{
    for (TReportCell *cell : std::as_const(FSelectCells))
        cell->SetBackGroundColor(back);
    SetCellTextColor(text);
}

void TReportControl::SetCellTextColor(TColor color)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->SetTextColor(color);
        invalidatePage(cell->FCellRect);
    }
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellBackColor(TColor color)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->SetBackGroundColor(color);
        invalidatePage(cell->FCellRect);
    }
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellDiagonal(unsigned diagonal)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->FDiagonal = diagonal;
        invalidatePage(cell->FCellRect);
    }
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellFont(const LOGFONT &font)
{
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->SetLogFont(font);
        invalidatePage(cell->FCellRect.adjusted(-1, -1, 1, 1));
    }
    UpdateLines();
    placeEditBox();
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

void TReportControl::SetCellDispFormt(const QString &format)
{
    // The format changes what the cell shows and so the height its text needs.
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        cell->SetCellDispFormat(format);
        invalidatePage(cell->FCellRect);
    }
    if (FSelectCells.isEmpty())
        return;
    UpdateLines();
    emit contentChanged();
}

void TReportControl::SetCellSumText(const QString &text)
{
    for (TReportCell *cell : std::as_const(FSelectCells))
        cell->SetCellText(text);
    if (!FSelectCells.isEmpty())
        emit contentChanged();
}

// ---- positional access ----

int TReportControl::CountFLines() const
{
    return lineCount();
}

int TReportControl::CountFcells(int line) const
{
    return lineAt(*this, line, "CountFcells")->cellCount();
}

void TReportControl::SetCallText(int line, int cell, const QString &text)
{
    TReportCell *c = cellAt(*this, line, cell, "SetCallText");
    if (c->FCellText == text)
        return;
    c->SetCellText(text);
    emit contentChanged();
}

QString TReportControl::GetCallText(int line, int cell) const
{
    return cellAt(*this, line, cell, "GetCallText")->FCellText;
}

void TReportControl::SetTagID(int line, int cell, const QString &tag)
{
    TReportCell *c = cellAt(*this, line, cell, "SetTagID");
    if (c->FTagID == tag)
        return;
    c->FTagID = tag;
    touchContent();
    emit contentChanged();
}

QString TReportControl::GetTagID(int line, int cell) const
{
    return cellAt(*this, line, cell, "GetTagID")->FTagID;
}

void TReportControl::SetScriptID(int line, int cell, int id)
{
    TReportCell *c = cellAt(*this, line, cell, "SetScriptID");
    if (c->FScriptID == id)
        return;
    c->FScriptID = id;
    emit contentChanged();
}

int TReportControl::GetScriptID(int line, int cell) const
{
    return cellAt(*this, line, cell, "GetScriptID")->FScriptID;
}

void TReportControl::SetLineHegit(int line, int height)
{
    TReportLine *l = lineAt(*this, line, "SetLineHegit");
    if (l->FDragHeight == height)
        return;
    l->SetDragHeight(height);
    emit contentChanged();
}

} // namespace tessarin
