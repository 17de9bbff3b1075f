// The table editing operations of the page view: the page's operations applied to the selected
// cells, with the selection and the edit box kept in step.

#include "reportcontrol.h"
#include "reportstream.h"

#include <QJsonObject>
#include <QMessageBox>

namespace tessarin {

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
    m_page->NewTable(cols, rows);
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
    if (CanAdd())
        m_page->AddLine();
}

void TReportControl::InsertLine()
{
    if (!CanInsert())
        return;
    const TCellPos at = m_page->positionOf(FSelectCells.first());
    if (at.line >= 0)
        m_page->InsertLine(at.line);
}

void TReportControl::DeleteLine()
{
    if (FSelectCells.isEmpty())
        return;
    const TCellPositions cells = selectedPositions();
    RemoveAllSelectedCell();
    FreeEdit();
    m_page->DeleteLine(cells);
}

void TReportControl::AddCell()
{
    if (FSelectCells.size() == 1)
        m_page->AddCell(m_page->positionOf(FSelectCells.first()));
}

void TReportControl::InsertCell()
{
    if (FSelectCells.size() == 1)
        m_page->InsertCell(m_page->positionOf(FSelectCells.first()));
}

void TReportControl::DeleteCell()
{
    if (FSelectCells.isEmpty())
        return;
    FreeEdit();
    const ContentBatch batch(*this);
    // Freed cells leave the selection as they go (cellDestroyed).
    m_page->DeleteCell(selectedPositions());
    RemoveAllSelectedCell();
}

void TReportControl::CombineCell()
{
    if (FSelectCells.size() < 2)
        return;
    const ContentBatch batch(*this);
    const TCellPos merged = m_page->CombineCell(selectedPositions());
    if (merged.line < 0)
        return;
    RemoveAllSelectedCell();
    AddSelectedCell(m_page->cellAt(merged));
}

void TReportControl::SplitCell()
{
    if (!CanSplit())
        return;
    FreeEdit();
    TReportCell *master = FSelectCells.first();
    RemoveAllSelectedCell();
    AddSelectedCell(master);
    m_page->SplitCell(m_page->positionOf(master));
}

void TReportControl::VSplitCell(int count)
{
    // The page refuses a count below 1 before it looks at the cell.
    const TCellPos at
        = FSelectCells.size() == 1 ? m_page->positionOf(FSelectCells.first()) : TCellPos{-1, -1};
    m_page->VSplitCell(at, count);
}

void TReportControl::ResetContent()
{
    FreeEdit();
    RemoveAllSelectedCell();
    m_page->ResetContent();
    update();
}

// ---- formats of the selected cells ----

void TReportControl::SetCellLines(bool left,
                                  bool top,
                                  bool right,
                                  bool bottom,
                                  int leftWidth,
                                  int topWidth,
                                  int rightWidth,
                                  int bottomWidth)
{
    const ContentBatch batch(*this);
    m_page->SetCellLines(selectedPositions(),
                         left,
                         top,
                         right,
                         bottom,
                         leftWidth,
                         topWidth,
                         rightWidth,
                         bottomWidth);
    placeEditBox();
}

void TReportControl::SetCellAlign(int horz, int vert)
{
    const ContentBatch batch(*this);
    m_page->SetCellAlign(selectedPositions(), horz, vert);
    placeEditBox();
}

void TReportControl::SetCellAlignHorzAlign(int horz)
{
    m_page->SetCellAlignHorzAlign(selectedPositions(), horz);
}

void TReportControl::SetCellAlignNewVertAlign(int vert)
{
    const ContentBatch batch(*this);
    m_page->SetCellAlignNewVertAlign(selectedPositions(), vert);
    placeEditBox();
}

void TReportControl::SetCellColor(TColor text, TColor back)
{
    m_page->SetCellColor(selectedPositions(), text, back);
}

void TReportControl::SetCellTextColor(TColor color)
{
    m_page->SetCellTextColor(selectedPositions(), color);
}

void TReportControl::SetCellBackColor(TColor color)
{
    m_page->SetCellBackColor(selectedPositions(), color);
}

void TReportControl::SetCellDiagonal(unsigned diagonal)
{
    m_page->SetCellDiagonal(selectedPositions(), diagonal);
}

void TReportControl::SetCellFont(const LOGFONT &font)
{
    const ContentBatch batch(*this);
    m_page->SetCellFont(selectedPositions(), font);
    placeEditBox();
}

void TReportControl::SetCellDispFormt(const QString &format)
{
    m_page->SetCellDispFormt(selectedPositions(), format);
}

void TReportControl::SetCellSumText(const QString &text)
{
    m_page->SetCellSumText(selectedPositions(), text);
}

// ---- positional access ----

int TReportControl::CountFLines() const
{
    return m_page->CountFLines();
}

int TReportControl::CountFcells(int line) const
{
    return m_page->CountFcells(line);
}

void TReportControl::SetCallText(int line, int cell, const QString &text)
{
    m_page->SetCallText(line, cell, text);
}

QString TReportControl::GetCallText(int line, int cell) const
{
    return m_page->GetCallText(line, cell);
}

void TReportControl::SetTagID(int line, int cell, const QString &tag)
{
    m_page->SetTagID(line, cell, tag);
}

QString TReportControl::GetTagID(int line, int cell) const
{
    return m_page->GetTagID(line, cell);
}

void TReportControl::SetScriptID(int line, int cell, int id)
{
    m_page->SetScriptID(line, cell, id);
}

int TReportControl::GetScriptID(int line, int cell) const
{
    return m_page->GetScriptID(line, cell);
}

void TReportControl::SetLineHegit(int line, int height)
{
    m_page->SetLineHegit(line, height);
}

// ---- page stream, pictures and cell widths ----

void TReportControl::SaveToStream(QIODevice &Stream, int Position)
{
    m_page->SaveToStream(Stream, Position);
}

void TReportControl::LoadFromStream(QIODevice &Stream, int Position)
{
    m_page->LoadFromStream(Stream, Position);
}

void TReportControl::SaveToFile(const QString &FileName)
{
    m_page->SaveToFile(FileName);
}

void TReportControl::LoadFromFile(const QString &FileName)
{
    m_page->LoadFromFile(FileName);
}

void TReportControl::SaveBmp(TReportCell *Cell, const QString &FileName)
{
    if (Cell)
        m_page->SaveBmp(m_page->positionOf(Cell), FileName);
}

QImage *TReportControl::LoadBmp(TReportCell *Cell) const
{
    return Cell ? Cell->FBmp.get() : nullptr;
}

void TReportControl::FreeBmp(TReportCell *Cell)
{
    if (Cell)
        m_page->FreeBmp(m_page->positionOf(Cell));
}

void TReportControl::GetCellsWadth(int N)
{
    m_page->GetCellsWadth(N);
}

void TReportControl::SetFileCellWidth(const QString &FileName, int Index)
{
    m_page->SetFileCellWidth(FileName, Index);
}

void TReportControl::SetStreamCellWidth(QIODevice &Stream, int Index)
{
    m_page->SetStreamCellWidth(Stream, Index);
}

QByteArray savePageStream(TReportControl &page)
{
    return savePageStream(page.page());
}

void loadPageStream(TReportControl &page, const QByteArray &bytes, int position)
{
    loadPageStream(page.page(), bytes, position);
}

QJsonObject pageDumpJson(const TReportControl &page, int version)
{
    return pageDumpJson(page.page(), version);
}

} // namespace tessarin
