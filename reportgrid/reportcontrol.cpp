#include "reportcontrol.h"

#include "error.h"
#include "pagepainter.h"
#include "printdevice.h"
#include "printerlayer.h"
#include "textcodec.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace tessarin {

namespace {

// Edit-box text uses LF, cell text CR LF.
QString cellTextFromEdit(const QString &text)
{
    QString out = text;
    out.replace(QChar::ParagraphSeparator, u'\n');
    out.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return out;
}

QString editTextFromCell(const QString &text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(u'\r', u'\n');
    return out;
}

TReportCell *rightNeighbour(const TReportCell *cell)
{
    const TReportLine *line = cell->FOwnerLine;
    if (!line)
        return nullptr;
    const int i = line->indexOfCell(cell);
    return (i >= 0 && i + 1 < line->cellCount()) ? line->cell(i + 1) : nullptr;
}

// Hides and frees an edit box (later, as it may be in the middle of its own signal) and drops
// its connections to `control`.
void discardEditBox(QPointer<QPlainTextEdit> &box, QObject *control)
{
    QPlainTextEdit *old = box.data();
    if (!old)
        return;
    box = nullptr;
    old->disconnect(control);
    old->clearFocus();
    old->hide();
    old->deleteLater();
}

} // namespace

TReportControl::TReportControl(QWidget *parent)
    : TReportControl(pageSetupFromPrinter(), parent)
{}

TReportControl::TReportControl(const PageSetup &setup, QWidget *parent)
    : TReportControl(std::make_unique<TReportPage>(setup), nullptr, parent)
{}

TReportControl::TReportControl(TReportPage &page, QWidget *parent)
    : TReportControl(nullptr, &page, parent)
{}

TReportControl::TReportControl(std::unique_ptr<TReportPage> owned,
                               TReportPage *page,
                               QWidget *parent)
    : QWidget(parent)
    , m_ownedPage(std::move(owned))
    , m_page(m_ownedPage ? m_ownedPage.get() : page)
    , FLineList(m_page->FLineList)
    , FPageWidth(m_page->FPageWidth)
    , FPageHeight(m_page->FPageHeight)
    , FLeftMargin(m_page->FLeftMargin)
    , FRightMargin(m_page->FRightMargin)
    , FTopMargin(m_page->FTopMargin)
    , FBottomMargin(m_page->FBottomMargin)
    , FLeftMargin1(m_page->FLeftMargin1)
    , FRightMargin1(m_page->FRightMargin1)
    , FTopMargin1(m_page->FTopMargin1)
    , FBottomMargin1(m_page->FBottomMargin1)
    , FWidthFromLine(m_page->FWidthFromLine)
    , FStreamFlag(m_page->FStreamFlag)
    , FStreamValue(m_page->FStreamValue)
    , FStreamMode(m_page->FStreamMode)
    , FPaperSize(m_page->FPaperSize)
    , FOrientation(m_page->FOrientation)
    , FPaperLength(m_page->FPaperLength)
    , FPaperWidth(m_page->FPaperWidth)
    , FSavedPageWidth(m_page->FSavedPageWidth)
    , FSavedPageHeight(m_page->FSavedPageHeight)
    , FCellWidths(m_page->FCellWidths)
    , FCellWidthRows(m_page->FCellWidthRows)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // A click gives the page the keyboard: arrows, Tab, typing, F2, Delete, copy and paste;
    // Chinese typed through an input method starts an edit as a typed key does.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    connect(m_page, &TReportPage::areasChanged, this, [this](const QList<TRect> &areas) {
        for (const TRect &area : areas)
            invalidatePage(area);
    });
    connect(m_page, &TReportPage::aboutToRestructure, this, &TReportControl::FreeEdit);
    connect(m_page, &TReportPage::cellRemoved, this, &TReportControl::cellDestroyed);
    connect(m_page, &TReportPage::pageSizeChanged, this, &TReportControl::resizeToPage);
    connect(m_page, &TReportPage::pageReset, this, &TReportControl::pageWasReset);
    connect(m_page, &TReportPage::contentChanged, this, &TReportControl::pageContentChanged);
    resizeToPage();
}

TReportControl::~TReportControl()
{
    m_destroying = true;
    disconnect(m_page, nullptr, this, nullptr);
    FSelectCells.clear();
    FEditCell = nullptr;
    FLastSelectCell = nullptr;
    m_mouse = MouseState();
    m_ownedPage.reset();
}

void TReportControl::pageContentChanged()
{
    if (m_batch > 0)
        m_contentPending = true;
    else
        emit contentChanged();
}

void TReportControl::resizeToPage()
{
    // A page size read from a stream can be anything: the product is taken in floating point
    // and the widget kept within the sizes a widget can have.
    const auto zoomed = [this](int pixels) {
        return roundPixel(
            std::clamp(double(pixels) * FReportScale / 100.0, 0.0, double(QWIDGETSIZE_MAX)));
    };
    resize(zoomed(FPageWidth), zoomed(FPageHeight));
}

void TReportControl::pageWasReset()
{
    // A loaded page is shown whole at zoom 100.
    FReportScale = 100;
    FSavedScale = 100;
    resizeToPage();
    update();
}

TCellPositions TReportControl::selectedPositions() const
{
    TCellPositions out;
    out.reserve(FSelectCells.size());
    for (const TReportCell *cell : FSelectCells)
        out.append(m_page->positionOf(cell));
    return out;
}

void TReportControl::setCreportEdit(bool value)
{
    if (value != FCreportEdit)
        FCreportEdit = value;
}

void TReportControl::SetPageSize(int, int) {}

void TReportControl::CalcWndSize()
{
    m_page->CalcWndSize();
    resizeToPage();
}

void TReportControl::SetWndSize(int width, int height)
{
    m_page->SetWndSize(width, height);
    resizeToPage();
}

void TReportControl::SetScale(int percent)
{
    // A zoom of zero or less has no page to show and would divide by zero when painting.
    if (percent < 1)
        return;
    FReportScale = percent;
    FSavedScale = percent;
    CalcWndSize();
    update();
}

void TReportControl::SetMargin(int left, int top, int right, int bottom)
{
    // Margins are converted at the resolution of the screen the page is shown on.
    m_page->setPixelDpi(printerLayer().screenDpiX());
    m_page->SetMargin(left, top, right, bottom);
    update();
}

TRect TReportControl::GetMargin() const
{
    return m_page->GetMargin();
}

void TReportControl::UpdateLines()
{
    m_page->UpdateLines();
}

const QSet<const TReportCell *> &TReportControl::selectedSet() const
{
    if (m_selectedSet.size() != FSelectCells.size()) {
        m_selectedSet.clear();
        for (const TReportCell *cell : FSelectCells)
            m_selectedSet.insert(cell);
    }
    return m_selectedSet;
}

bool TReportControl::IsCellSelected(const TReportCell *cell) const
{
    return cell && selectedSet().contains(cell);
}

bool TReportControl::AddSelectedCell(TReportCell *cell)
{
    if (!cell || IsCellSelected(cell))
        return false;
    FSelectCells.append(cell);
    m_selectedSet.insert(cell);
    FLastSelectCell = cell;
    invalidatePage(cell->FCellRect);
    return true;
}

bool TReportControl::RemoveSelectedCell(TReportCell *cell)
{
    if (!IsCellSelected(cell))
        return false;
    invalidatePage(cell->FCellRect);
    FSelectCells.removeOne(cell);
    m_selectedSet.remove(cell);
    return true;
}

void TReportControl::RemoveAllSelectedCell()
{
    for (const TReportCell *cell : std::as_const(FSelectCells))
        invalidatePage(cell->FCellRect);
    FSelectCells.clear();
    m_selectedSet.clear();
}

void TReportControl::SetCellFocus(int line, int cell)
{
    AddSelectedCell(CellFromRC(line, cell));
}

void TReportControl::SetCellSFocus(int firstLine, int firstCell, int lastLine, int lastCell)
{
    if (lastLine < firstLine || lastCell < firstCell)
        return;
    for (int i = firstLine; i <= lastLine; ++i)
        for (int j = firstCell; j <= lastCell; ++j)
            AddSelectedCell(CellFromRC(i, j));
}

std::unique_ptr<QFont> TReportControl::getcellfont() const
{
    if (FSelectCells.isEmpty())
        return nullptr;
    return std::make_unique<QFont>(FSelectCells.first()->cellFont());
}

void TReportControl::cellDestroyed(TReportCell *cell)
{
    if (m_destroying)
        return;
    if (FSelectCells.removeAll(cell) > 0)
        m_selectedSet.remove(cell);
    if (FLastSelectCell == cell)
        FLastSelectCell = nullptr;
    m_marks.remove(cell);
    if (FEditCell == cell)
        closeEditBox(false);
    if (m_mouse.anchor == cell || m_mouse.dragCells.contains(cell)) {
        if (m_mouse.guideVisible)
            update();
        m_mouse = MouseState();
    }
}

QRect TReportControl::pageToWindow(const TRect &rect) const
{
    const double s = FReportScale / 100.0;
    const int l = static_cast<int>(std::floor(rect.left * s));
    const int t = static_cast<int>(std::floor(rect.top * s));
    const int r = static_cast<int>(std::ceil(rect.right * s));
    const int b = static_cast<int>(std::ceil(rect.bottom * s));
    return QRect(QPoint(l, t), QPoint(r - 1, b - 1));
}

void TReportControl::invalidatePage(const TRect &rect)
{
    if (rect.isEmpty())
        return;
    // One pixel more on every side for pens wider than one pixel drawn on the edges.
    update(pageToWindow(rect).adjusted(-1, -1, 1, 1));
}

// ---- edit box ----

bool TReportControl::isEditing() const
{
    return FEditWnd && FEditWnd->isVisible();
}

void TReportControl::FreeEdit()
{
    if (isEditing() && FEditCell)
        closeEditBox(false);
}

void TReportControl::closeEditBox(bool store)
{
    TReportCell *cell = FEditCell;
    const bool hadFocus = FEditWnd && FEditWnd->hasFocus();
    bool edited = false;
    if (store && cell && FEditWnd) {
        // The live update has stored every accepted keystroke; what the box shows is that
        // accepted text.
        cell->SetCellText(cellTextFromEdit(m_editAccepted));
        edited = cell->FCellText != m_editOriginal;
    }
    discardEditBox(FEditWnd, this);
    FEditCell = nullptr;
    if (cell)
        invalidatePage(cell->FCellRect);
    if (hadFocus && !m_destroying)
        setFocus(Qt::OtherFocusReason);
    if (edited) {
        UpdateLines();
        reportTextsEdited({cell}, {m_editOriginal});
        emit cellEdited(cell);
        emit contentChanged();
    }
}

void TReportControl::reportTextsEdited(const QList<TReportCell *> &cells, const QStringList &before)
{
    QList<TCellTextEdit> edits;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const TReportCell *cell = cells[i];
        const TReportLine *line = cell->FOwnerLine;
        int lineIndex = -1;
        for (size_t l = 0; l < FLineList.size(); ++l)
            if (FLineList[l].get() == line)
                lineIndex = static_cast<int>(l);
        if (lineIndex < 0)
            continue;
        edits.append({lineIndex, line->indexOfCell(cell), before.value(i), cell->FCellText});
    }
    if (!edits.isEmpty())
        emit textsEdited(edits);
}

bool TReportControl::EndEdit()
{
    if (!FEditWnd || !FEditCell)
        return false;
    closeEditBox(true);
    return true;
}

void TReportControl::CancelEdit()
{
    TReportCell *cell = FEditCell;
    if (!FEditWnd || !cell)
        return;
    const bool changed = cell->FCellText != m_editOriginal;
    const QString original = m_editOriginal;
    closeEditBox(false);
    if (changed) {
        cell->SetCellText(original);
        UpdateLines();
        invalidatePage(cell->FCellRect);
        emit contentChanged();
    }
}

void TReportControl::EditCell(TReportCell *cell)
{
    if (cell && cell->FCellWidth > 10)
        openEditBox(cell);
}

void TReportControl::EditCellWith(TReportCell *cell, const QString &typed)
{
    if (cell && cell->FCellWidth > 10)
        openEditBox(cell, &typed);
}

void TReportControl::openEditBox(TReportCell *cell, const QString *typed)
{
    // The box already open on this cell stays, with the text the cell had when it opened.
    if (FEditWnd && FEditCell == cell) {
        FEditWnd->setFocus(Qt::OtherFocusReason);
        if (typed) {
            FEditWnd->selectAll();
            FEditWnd->insertPlainText(*typed);
        }
        return;
    }
    // A box open on another cell is confirmed first, as a click elsewhere would.
    if (FEditWnd && FEditCell)
        closeEditBox(true);
    FEditCell = cell;
    m_editOriginal = cell->FCellText;
    FEditFont = cell->cellFont();
    discardEditBox(FEditWnd, this);
    auto *box = new QPlainTextEdit(this);
    box->setObjectName(QStringLiteral("EDIT"));
    box->setFrameShape(QFrame::NoFrame);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->document()->setDocumentMargin(0);
    Qt::Alignment align = Qt::AlignLeft;
    if (cell->FHorzAlign == TEXT_ALIGN_CENTER)
        align = Qt::AlignHCenter;
    else if (cell->FHorzAlign == TEXT_ALIGN_RIGHT)
        align = Qt::AlignRight;
    QTextOption option = box->document()->defaultTextOption();
    option.setAlignment(align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->document()->setDefaultTextOption(option);
    box->setFont(*FEditFont);
    FEditWnd = box;
    WMCtlColor();
    m_editAccepted = editTextFromCell(cell->FCellText);
    box->setPlainText(m_editAccepted);
    placeEditBox();
    connect(box, &QPlainTextEdit::textChanged, this, &TReportControl::WMCOMMAND);
    box->installEventFilter(this);
    box->show();
    box->setFocus(Qt::MouseFocusReason);
    // The content is selected, so what is typed next replaces it; typing on a selected cell
    // starts the box with that text in place of the content.
    box->selectAll();
    if (typed)
        box->insertPlainText(*typed);
}

void TReportControl::placeEditBox()
{
    if (!FEditWnd || !FEditCell)
        return;
    // Over the text rectangle, as wide as the width the cell breaks its text in, so that the box
    // wraps its lines exactly where the cell will.
    TRect r = FEditCell->FTextRect;
    r.left = FEditCell->FCellLeft + FEditCell->FLeftMargin;
    r.right = r.left + std::max(1, FEditCell->textWrapWidth());
    FEditWnd->setGeometry(pageToWindow(r));
}

void TReportControl::WMCOMMAND()
{
    if (!FEditCell || !FEditWnd || m_editGuard)
        return;
    const QString text = FEditWnd->toPlainText();
    // The limit counts the bytes the cell will hold, where a line break is CR LF. A change that
    // adds to a text over the limit is refused; one that shortens it is taken, so that a text
    // made longer by other means can still be cut down here.
    const qsizetype bytes = toCodePage(cellTextFromEdit(text)).size();
    if (bytes > MaxCellTextBytes && bytes > toCodePage(cellTextFromEdit(m_editAccepted)).size()) {
        // Put the accepted text back with the cursor where the refused insertion began.
        const int grown = static_cast<int>(text.size() - m_editAccepted.size());
        const int pos = FEditWnd->textCursor().position() - std::max(0, grown);
        m_editGuard = true;
        FEditWnd->setPlainText(m_editAccepted);
        QTextCursor cursor = FEditWnd->textCursor();
        cursor.setPosition(std::clamp(pos, 0, static_cast<int>(m_editAccepted.size())));
        FEditWnd->setTextCursor(cursor);
        m_editGuard = false;
        return;
    }
    m_editAccepted = text;
    const TRect before = FEditCell->FTextRect;
    const QString stored = cellTextFromEdit(text);
    const bool changed = stored != FEditCell->FCellText;
    FEditCell->SetCellText(stored);
    UpdateLines();
    if (FEditCell && !(FEditCell->FTextRect == before))
        placeEditBox();
    if (changed)
        emit contentChanged();
}

void TReportControl::WMCtlColor()
{
    if (!FEditCell || !FEditWnd)
        return;
    const QColor back = colorFromTColor(FEditCell->FBackGroundColor);
    FEditBrush = QBrush(back);
    QPalette pal = FEditWnd->palette();
    pal.setBrush(QPalette::Base, *FEditBrush);
    pal.setColor(QPalette::Text, colorFromTColor(FEditCell->FTextColor));
    FEditWnd->setPalette(pal);
}

// ---- painting ----

void TReportControl::DrawPrepare(QPainter &) {}

void TReportControl::paintPage(QPainter &painter, const TRect &area, bool print)
{
    PagePainter pagePainter(*m_page, painter);
    pagePainter.prepare = [this](QPainter &p) { DrawPrepare(p); };
    pagePainter.isScreenOnlyText
        = [this](const TReportCell &cell) { return isScreenOnlyText(cell); };
    m_paintedCells = pagePainter.paint(area, print);
}

void TReportControl::WMPaint(QPainter &painter, const QRect &windowArea)
{
    m_paintedCells = 0;
    if (FPageWidth <= 0 || FPageHeight <= 0)
        return;
    painter.save();
    // Isotropic page mapping: the same factor on both axes, the smaller one that fits.
    const double k = std::min(width() / static_cast<double>(FPageWidth),
                              height() / static_cast<double>(FPageHeight));
    painter.scale(k, k);

    TRect area = TRect::fromQRect(windowArea);
    if (FReportScale != 100) {
        const double f = 100.0 / FReportScale;
        area = {roundPixel(area.left * f),
                roundPixel(area.top * f),
                roundPixel(area.right * f),
                roundPixel(area.bottom * f)};
    }

    painter.fillRect(QRect(0, 0, FPageWidth, FPageHeight), Qt::white);
    // The page as printed, then the marks only the screen shows: the page outline, the corner
    // marks of the margins and the selection.
    paintPage(painter, area, false);

    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, FPageWidth - 1, FPageHeight - 1);
    painter.setPen(gridPen(painter, colorFromTColor(0x00808080), 1, Qt::FlatCap));
    const int L = FLeftMargin;
    const int T = FTopMargin;
    const int R = FPageWidth - FRightMargin;
    const int B = FPageHeight - FBottomMargin;
    painter.drawLine(L, T, L, T - 25);
    painter.drawLine(L, T, L - 25, T);
    painter.drawLine(R, T, R, T - 25);
    painter.drawLine(R, T, R + 25, T);
    painter.drawLine(L, B, L, B + 25);
    painter.drawLine(L, B, L - 25, B);
    painter.drawLine(R, B, R, B + 25);
    painter.drawLine(R, B, R + 25, B);

    paintMarks(painter, area);

    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    for (const TReportCell *cell : std::as_const(FSelectCells)) {
        const TRect &r = cell->FCellRect;
        const TRect cut{std::max(r.left, area.left),
                        std::max(r.top, area.top),
                        std::min(r.right, area.right),
                        std::min(r.bottom, area.bottom)};
        if (!cut.isEmpty())
            painter.fillRect(cut.toQRect(), Qt::white);
    }
    painter.restore();
}

void TReportControl::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    WMPaint(painter, event->rect());
    if (m_mouse.guideVisible) {
        painter.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        const QPoint g = FMousePoint;
        if (m_mouse.mode == MouseMode::HeightDrag)
            painter.drawLine(0, g.y(), width(), g.y());
        else
            painter.drawLine(g.x(), 0, g.x(), height());
    }
}

// ---- mouse ----

quint8 TReportControl::keyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    quint8 keys = 0;
    if (buttons & Qt::LeftButton)
        keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        keys |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier)
        keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        keys |= MK_CONTROL;
    return keys;
}

void TReportControl::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton) {
        // Other buttons are only reported; the context-menu rule follows a right press.
        emit OnMouseDown(event->button(), event->modifiers(), pos);
        return;
    }
    m_press = PressState();
    m_press.active = true;
    m_press.modifiers = event->modifiers();
    m_press.pos = pos;
    WMLButtonDown(pos, keyState(event->buttons() | Qt::LeftButton, event->modifiers()));
}

void TReportControl::WMLButtonDown(const QPoint &point, quint8 keys)
{
    if (FReportScale != 100) {
        FReportScale = 100;
        CalcWndSize();
        update();
        m_press.zoomOnly = true;
        return;
    }
    if (isEditing())
        closeEditBox(true);

    TReportCell *cell = CellFromPoint(point);
    if (!cell) {
        StartMouseSelect(point, true, keys);
        return;
    }
    if (std::abs(cell->FCellRect.bottom - point.y()) <= 3
        || std::abs(cell->FCellRect.right - point.x()) <= 3)
        StartMouseDrag(point);
    else
        StartMouseSelect(point, true, keys);
}

void TReportControl::StartMouseSelect(const QPoint &point, bool selectNow, quint8 keys)
{
    if (keys != (MK_LBUTTON | MK_SHIFT))
        RemoveAllSelectedCell();
    TReportCell *anchor = CellFromPoint(point);
    if (selectNow)
        AddSelectedCell(anchor);
    FMousePoint = point;
    m_mouse = MouseState();
    m_mouse.mode = MouseMode::Selecting;
    m_mouse.anchor = anchor;
    m_mouse.selecting = selectNow;
    m_mouse.pressKeys = keys;
}

void TReportControl::MouseMoveHandler(const QPoint &point, quint8 keys)
{
    TRect band{std::min(FMousePoint.x(), point.x()),
               std::min(FMousePoint.y(), point.y()),
               std::max(FMousePoint.x(), point.x()),
               std::max(FMousePoint.y(), point.y())};
    if (band.right == band.left)
        band.right = band.left + 1;
    if (band.bottom == band.top)
        band.bottom = band.top + 1;

    // Linear in the selection and the cells of the lines the band meets: the cells the band
    // left go in one pass that keeps the order of the rest, membership is the set's, and the
    // lines are found from their rectangles as laid out (stacked downwards) by bisection.
    selectedSet();
    if (keys != (MK_LBUTTON | MK_SHIFT)) {
        qsizetype kept = 0;
        for (qsizetype i = 0; i < FSelectCells.size(); ++i) {
            TReportCell *cell = FSelectCells.at(i);
            if (cell->FCellRect.intersects(band)) {
                FSelectCells[kept++] = cell;
            } else {
                invalidatePage(cell->FCellRect);
                m_selectedSet.remove(cell);
            }
        }
        FSelectCells.resize(kept);
    }
    auto line = std::partition_point(FLineList.begin(), FLineList.end(), [&](const auto &l) {
        return l->FLineRect.bottom <= band.top;
    });
    for (; line != FLineList.end() && (*line)->FLineRect.top < band.bottom; ++line) {
        if (!(*line)->FLineRect.intersects(band))
            continue;
        for (auto &cellPtr : (*line)->FCells) {
            TReportCell *cell = cellPtr.get();
            if (cell->FCellRect.intersects(band))
                AddSelectedCell(cell->FOwnerCell ? cell->FOwnerCell : cell);
        }
    }
}

int TReportControl::clampDrag(int value) const
{
    if (value < m_mouse.minPos)
        value = m_mouse.minPos;
    if (value > m_mouse.maxPos)
        value = m_mouse.maxPos;
    return value;
}

void TReportControl::StartMouseDrag(const QPoint &point)
{
    TReportCell *cell = CellFromPoint(point);
    if (!cell)
        return;
    emit dragStarted();
    FMousePoint = point;
    m_mouse = MouseState();
    m_mouse.anchor = cell;

    if (std::abs(cell->FCellRect.bottom - point.y()) <= 3) {
        m_mouse.mode = MouseMode::HeightDrag;
        m_mouse.minPos = cell->GetCellTop() + 5;
        m_mouse.maxPos = height() - 10;
        FMousePoint.setY(clampDrag(point.y()));
        setCursor(Qt::SizeVerCursor);
    } else {
        m_mouse.mode = MouseMode::WidthDrag;
        const int edge = cell->FCellLeft + cell->FCellWidth;
        const TReportCell *next = rightNeighbour(cell);
        m_mouse.minPos = cell->FCellLeft + 10;
        m_mouse.maxPos = next ? next->FCellLeft + next->FCellWidth - 10 : width() - 10;
        const bool wholeColumn
            = FSelectCells.isEmpty()
              || !(IsCellSelected(cell)
                   || (next && (IsCellSelected(next) || IsCellSelected(next->FOwnerCell))));
        for (auto &line : FLineList) {
            for (int i = 0; i < line->cellCount(); ++i) {
                TReportCell *c = line->cell(i);
                if (c->FCellLeft + c->FCellWidth != edge)
                    continue;
                TReportCell *n = i + 1 < line->cellCount() ? line->cell(i + 1) : nullptr;
                const bool take = wholeColumn || IsCellSelected(c) || IsCellSelected(n);
                if (take) {
                    m_mouse.dragCells.append(c);
                    m_mouse.minPos = std::max(m_mouse.minPos, c->FCellLeft + 10);
                    if (n)
                        m_mouse.maxPos
                            = std::min(m_mouse.maxPos, n->FCellLeft + n->FCellWidth - 10);
                }
                if (!wholeColumn || take)
                    break;
            }
        }
        FMousePoint.setX(clampDrag(point.x()));
        setCursor(Qt::SizeHorCursor);
    }
    m_mouse.guideVisible = true;
    update(guideStrip());
}

QRect TReportControl::guideStrip() const
{
    return m_mouse.mode == MouseMode::HeightDrag ? QRect(0, FMousePoint.y() - 1, width(), 3)
                                                 : QRect(FMousePoint.x() - 1, 0, 3, height());
}

void TReportControl::updateGuide(const QPoint &point)
{
    update(guideStrip());
    FMousePoint = point;
    if (m_mouse.mode == MouseMode::HeightDrag)
        FMousePoint.setY(clampDrag(point.y()));
    else
        FMousePoint.setX(clampDrag(point.x()));
    update(guideStrip());
}

void TReportControl::finishDrag()
{
    m_mouse.guideVisible = false;
    update(guideStrip());
    if (m_mouse.mode == MouseMode::HeightDrag)
        applyHeightDrag();
    else
        applyWidthDrag();
    emit dragFinished();
}

void TReportControl::applyHeightDrag()
{
    TReportCell *target = m_mouse.anchor;
    if (!target)
        return;
    // The bottom edge of a merged block belongs to the line of its lowest covered cell.
    if (TReportCell *lowest = target->lowestCoveredCell())
        target = lowest;
    target->CalcMinCellHeight();
    bool changed = false;
    if (TReportLine *line = target->FOwnerLine) {
        const int before = line->FDragHeight;
        line->SetDragHeight(FMousePoint.y() - line->FLineTop);
        changed = line->FDragHeight != before;
    }
    UpdateLines();
    if (changed)
        emit contentChanged();
}

void TReportControl::applyWidthDrag()
{
    QList<TReportCell *> cells = m_mouse.dragCells;
    for (TReportCell *c : m_mouse.dragCells)
        for (TReportCell *owned : std::as_const(c->FCellsList))
            if (!cells.contains(owned))
                cells.append(owned);
    if (cells.isEmpty())
        return;

    const TReportCell *firstNext = rightNeighbour(cells.first());
    if (firstNext && firstNext->FOwnerCell)
        return;
    int lowestBottom = cells.first()->FCellRect.bottom;
    for (const TReportCell *c : std::as_const(cells))
        lowestBottom = std::max(lowestBottom, c->FCellRect.bottom);
    for (const TReportCell *c : std::as_const(cells)) {
        const TReportCell *n = rightNeighbour(c);
        if (n && n->FCellRect.bottom > lowestBottom)
            return;
    }

    // Moves a cell's edges; where its width changed, the old and the new place are repainted.
    bool changed = false;
    auto moveCell = [this, &changed](TReportCell *cell, int newLeft, int newWidth) {
        const TRect old = cell->FCellRect;
        const int oldWidth = cell->FCellWidth;
        cell->SetCellLeft(newLeft);
        cell->SetCellWidth(newWidth);
        if (cell->FCellWidth != oldWidth) {
            changed = true;
            invalidatePage(old.adjusted(0, 0, 1, 1));
            invalidatePage(cell->FCellRect.adjusted(0, 0, 1, 1));
        }
    };
    const int x = FMousePoint.x();
    for (TReportCell *c : std::as_const(cells)) {
        TReportCell *n = rightNeighbour(c);
        const int delta = x - (c->FCellLeft + c->FCellWidth);
        moveCell(c, c->FCellLeft, x - c->FCellLeft);
        if (n)
            moveCell(n, n->FCellLeft + delta, n->FCellWidth - delta);
    }
    UpdateLines();
    if (changed)
        emit contentChanged();
}

void TReportControl::WMMouseMove(const QPoint &point)
{
    const TReportCell *cell = CellFromPoint(point);
    if (!cell)
        setCursor(Qt::ArrowCursor);
    else if (std::abs(cell->FCellRect.right - point.x()) <= 3)
        setCursor(Qt::SizeHorCursor);
    else if (std::abs(cell->FCellRect.bottom - point.y()) <= 3)
        setCursor(Qt::SizeVerCursor);
    else
        setCursor(Qt::IBeamCursor);
}

void TReportControl::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    switch (m_mouse.mode) {
    case MouseMode::None:
        WMMouseMove(pos);
        emit OnMouseMove(event->modifiers(), pos);
        break;
    case MouseMode::Selecting:
        if (m_mouse.selecting) {
            AddSelectedCell(m_mouse.anchor);
            MouseMoveHandler(pos, keyState(event->buttons(), event->modifiers()));
        } else if (CellFromPoint(pos) != m_mouse.anchor) {
            m_mouse.selecting = true;
        }
        break;
    case MouseMode::HeightDrag:
    case MouseMode::WidthDrag:
        updateGuide(pos);
        break;
    }
}

void TReportControl::finishMouseOperation()
{
    const MouseState state = m_mouse;
    switch (state.mode) {
    case MouseMode::None:
        break;
    case MouseMode::Selecting:
        m_mouse = MouseState();
        if (!state.selecting && state.anchor && state.anchor->FCellWidth > 10)
            openEditBox(state.anchor);
        break;
    case MouseMode::HeightDrag:
    case MouseMode::WidthDrag:
        finishDrag();
        m_mouse = MouseState();
        break;
    }
}

void TReportControl::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton) {
        emit OnMouseUp(event->button(), event->modifiers(), pos);
        return;
    }
    finishMouseOperation();
    const PressState press = m_press;
    m_press = PressState();
    if (press.active && !press.zoomOnly)
        emit OnMouseDown(Qt::LeftButton, press.modifiers, press.pos);
    emit OnMouseUp(Qt::LeftButton, event->modifiers(), pos);
}

void TReportControl::WMLButtonDBLClk(const QPoint &point)
{
    RemoveAllSelectedCell();
    EditCell(CellFromPoint(point));
}

void TReportControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // A double click at another zoom is first of all a press that restores zoom 100.
    if (FReportScale != 100) {
        mousePressEvent(event);
        return;
    }
    finishMouseOperation();
    m_press = PressState();
    WMLButtonDBLClk(event->position().toPoint());
    emit OnDblClick();
}

void TReportControl::WMContextMenu(const QPoint &point)
{
    TReportCell *cell = CellFromPoint(point);
    if (cell && IsCellSelected(cell))
        return;
    RemoveAllSelectedCell();
    if (cell)
        AddSelectedCell(cell);
}

void TReportControl::contextMenuEvent(QContextMenuEvent *event)
{
    WMContextMenu(event->pos());
    event->accept();
}

} // namespace tessarin
