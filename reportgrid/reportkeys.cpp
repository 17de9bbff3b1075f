// The page control's keyboard (moving the selection, editing, copy and paste) and the marks it
// draws over cells on screen only (stale, failed and defaulted values) with their tool tips.

#include "reportcontrol.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace tessarin {

namespace {

// Every cell that stands for itself on the page (covered cells left out), in reading order.
template<typename F>
void forEachVisibleCell(const TReportControl &control, F &&f)
{
    for (const auto &line : control.FLineList)
        for (const auto &cell : line->FCells)
            if (!cell->FOwnerCell)
                if (!f(cell.get()))
                    return;
}

bool isPrintableText(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (!c.isPrint())
            return false;
    return true;
}

} // namespace

bool TReportControl::takesInput(const TReportCell *cell) const
{
    if (!cell || cell->FOwnerCell)
        return false;
    if (isInputCell)
        return isInputCell(cell);
    return !cell->FTagID.trimmed().isEmpty();
}

TReportCell *TReportControl::currentCell() const
{
    if (FLastSelectCell && IsCellSelected(FLastSelectCell))
        return FLastSelectCell;
    return FSelectCells.isEmpty() ? nullptr : FSelectCells.first();
}

void TReportControl::SelectOnly(TReportCell *cell)
{
    if (!cell)
        return;
    RemoveAllSelectedCell();
    AddSelectedCell(cell);
    scrollIntoView(cell);
}

TReportCell *TReportControl::nextInputCell(const TReportCell *from, bool forward) const
{
    std::vector<TReportCell *> order;
    forEachVisibleCell(*this, [&](TReportCell *c) {
        order.push_back(c);
        return true;
    });
    if (!forward)
        std::reverse(order.begin(), order.end());
    auto it = order.begin();
    if (from) {
        it = std::find(order.begin(), order.end(), from);
        if (it != order.end())
            ++it;
    }
    for (; it != order.end(); ++it)
        if (takesInput(*it))
            return *it;
    return nullptr;
}

TReportCell *TReportControl::neighbourCell(const TReportCell *cell, int key) const
{
    // The cell just beyond the edge the arrow points at, taken at the middle of that edge, so
    // merged blocks and lines of different column layouts are crossed as they look.
    const TRect &r = cell->FCellRect;
    const int midX = (r.left + r.right) / 2;
    // Sideways from the cell's first line: a merged block leaves by its top line.
    const int firstLine = cell->FOwnerLine ? cell->FOwnerLine->GetLineHeight() : r.bottom - r.top;
    const int midY = r.top + std::min(firstLine, r.bottom - r.top) / 2;
    QPoint probe;
    switch (key) {
    case Qt::Key_Left:
        probe = {r.left - 2, midY};
        break;
    case Qt::Key_Right:
        probe = {r.right + 2, midY};
        break;
    case Qt::Key_Up:
        probe = {midX, r.top - 2};
        break;
    default:
        probe = {midX, r.bottom + 2};
        break;
    }
    TReportCell *found = CellFromPoint(probe);
    if (!found && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        // A line whose cells do not reach this far: its nearest cell.
        const int y = probe.y();
        for (const auto &line : FLineList) {
            if (y < line->FLineTop || y > line->FLineTop + line->GetLineHeight()
                || line->FCells.empty())
                continue;
            const TReportCell *last = line->FCells.back().get();
            found = CellFromPoint({std::min(midX, last->FCellRect.right - 1), y});
        }
    }
    return found == cell ? nullptr : found;
}

void TReportControl::scrollIntoView(const TReportCell *cell)
{
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(w);
        if (!area || !area->widget())
            continue;
        const QRect r = pageToWindow(cell->FCellRect);
        const QPoint c = mapTo(area->widget(), r.center());
        area->ensureVisible(c.x(), c.y(), r.width() / 2 + 10, r.height() / 2 + 10);
        return;
    }
}

void TReportControl::scrollPage(int pages)
{
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(w)) {
            QScrollBar *bar = area->verticalScrollBar();
            bar->setValue(bar->value() + pages * bar->pageStep());
            return;
        }
    }
}

QString TReportControl::SelectionText() const
{
    QStringList lines;
    for (const auto &line : FLineList) {
        QStringList cells;
        for (const auto &cell : line->FCells)
            if (IsCellSelected(cell.get()))
                cells << QString(cell->FCellText)
                             .replace(QRegularExpression(QStringLiteral("[\r\n]+")),
                                      QStringLiteral(" "));
        if (!cells.isEmpty())
            lines << cells.join(u'\t');
    }
    return lines.join(u'\n');
}

int TReportControl::PasteText(const QString &text)
{
    QStringList values;
    QStringList rows = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    // Spreadsheets end a copied column with a line break.
    while (!rows.isEmpty() && rows.last().isEmpty())
        rows.removeLast();
    for (const QString &row : std::as_const(rows))
        for (const QString &value : row.split(u'\t'))
            values << value.trimmed();
    if (values.isEmpty())
        return 0;
    EndEdit();
    TReportCell *cell = currentCell();
    if (!takesInput(cell))
        cell = nextInputCell(cell, true);
    int filled = 0;
    QList<TReportCell *> changed;
    QStringList before;
    TReportCell *last = nullptr;
    for (const QString &value : std::as_const(values)) {
        if (!cell)
            break;
        if (cell->FCellText != value) {
            before << cell->FCellText;
            cell->SetCellText(value);
            invalidatePage(cell->FCellRect);
            changed << cell;
        }
        last = cell;
        ++filled;
        cell = nextInputCell(cell, true);
    }
    if (last)
        SelectOnly(last);
    if (!changed.isEmpty()) {
        UpdateLines();
        reportTextsEdited(changed, before);
        for (TReportCell *c : std::as_const(changed))
            emit cellEdited(c);
        emit contentChanged();
    }
    return filled;
}

int TReportControl::ClearSelectedInputs()
{
    EndEdit();
    QList<TReportCell *> changed;
    QStringList before;
    for (TReportCell *cell : std::as_const(FSelectCells)) {
        if (!takesInput(cell) || cell->FCellText.isEmpty())
            continue;
        before << cell->FCellText;
        cell->SetCellText(QString());
        invalidatePage(cell->FCellRect);
        changed << cell;
    }
    if (changed.isEmpty())
        return 0;
    UpdateLines();
    reportTextsEdited(changed, before);
    for (TReportCell *c : std::as_const(changed))
        emit cellEdited(c);
    emit contentChanged();
    return static_cast<int>(changed.size());
}

bool TReportControl::editBoxKey(QKeyEvent *event)
{
    TReportCell *cell = FEditCell;
    if (!cell)
        return false;
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (event->modifiers() & Qt::ControlModifier) {
            FEditWnd->insertPlainText(QStringLiteral("\n"));
            return true;
        }
        EndEdit();
        if (TReportCell *next = nextInputCell(cell, true))
            SelectOnly(next);
        else
            SelectOnly(cell);
        return true;
    }
    if (key == Qt::Key_Escape) {
        CancelEdit();
        SelectOnly(cell);
        return true;
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        const bool forward = key == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier);
        EndEdit();
        TReportCell *next = nextInputCell(cell, forward);
        SelectOnly(next ? next : cell);
        return true;
    }
    return false;
}

bool TReportControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FEditWnd.data()) {
        if (event->type() == QEvent::ShortcutOverride) {
            // Enter, Esc and Tab belong to the box, never to a window's shortcut.
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape
                || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
                event->accept();
                return true;
            }
        } else if (event->type() == QEvent::KeyPress) {
            if (editBoxKey(static_cast<QKeyEvent *>(event)))
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TReportControl::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Keys the page handles itself win over window shortcuts of the same keys (Delete,
        // Ctrl+C, Ctrl+V, plain typing); function keys such as F9 stay with the windows.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Paste)
            || key->key() == Qt::Key_Delete
            || (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
                && isPrintableText(key->text()))) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        // Tab moves among input cells instead of moving the keyboard focus away.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
        break;
    }
    case QEvent::ToolTip: {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString tip = FReportScale == 100 ? toolTipAt(help->pos()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void TReportControl::keyPressEvent(QKeyEvent *event)
{
    TReportCell *cell = currentCell();
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (event->matches(QKeySequence::Copy)) {
        if (!FSelectCells.isEmpty())
            QApplication::clipboard()->setText(SelectionText());
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        PasteText(QApplication::clipboard()->text());
        return;
    }
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!cell)
            SelectOnly(CellFromRC(0, 0));
        else if (TReportCell *next = neighbourCell(cell, key))
            SelectOnly(next);
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        const bool forward = key == Qt::Key_Tab && !(mods & Qt::ShiftModifier);
        if (TReportCell *next = nextInputCell(cell, forward))
            SelectOnly(next);
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (TReportCell *next = nextInputCell(cell, !(mods & Qt::ShiftModifier)))
            SelectOnly(next);
        return;
    case Qt::Key_Home:
    case Qt::Key_End: {
        const bool home = key == Qt::Key_Home;
        TReportCell *target = nullptr;
        if ((mods & Qt::ControlModifier) || !cell || !cell->FOwnerLine) {
            forEachVisibleCell(*this, [&](TReportCell *c) {
                target = c;
                return !home; // the first one, or walk on to the last
            });
        } else {
            const auto &cells = cell->FOwnerLine->FCells;
            target = home ? cells.front().get() : cells.back().get();
            if (target->FOwnerCell)
                target = target->FOwnerCell;
        }
        SelectOnly(target);
        return;
    }
    case Qt::Key_PageUp:
        scrollPage(-1);
        return;
    case Qt::Key_PageDown:
        scrollPage(1);
        return;
    case Qt::Key_F2:
        EditCell(cell);
        return;
    case Qt::Key_Delete:
        ClearSelectedInputs();
        return;
    default:
        break;
    }
    if (cell && !(mods & (Qt::ControlModifier | Qt::AltModifier))
        && isPrintableText(event->text())) {
        EditCellWith(cell, event->text());
        return;
    }
    QWidget::keyPressEvent(event);
}

void TReportControl::inputMethodEvent(QInputMethodEvent *event)
{
    TReportCell *cell = currentCell();
    if (cell && !event->commitString().isEmpty()) {
        EditCellWith(cell, event->commitString());
        event->accept();
        return;
    }
    QWidget::inputMethodEvent(event);
}

// ---- marks ----

void TReportControl::SetCellMark(const TReportCell *cell, CellMark mark, const QString &tip)
{
    if (!cell)
        return;
    if (mark == CellMark::None)
        m_marks.remove(cell);
    else
        m_marks.insert(cell, {mark, tip});
    invalidatePage(cell->FCellRect);
}

TReportControl::CellMark TReportControl::cellMark(const TReportCell *cell) const
{
    return m_marks.value(cell).mark;
}

QString TReportControl::cellMarkTip(const TReportCell *cell) const
{
    return m_marks.value(cell).tip;
}

void TReportControl::ClearCellMarks(CellMark mark)
{
    for (auto it = m_marks.begin(); it != m_marks.end();) {
        if (mark == CellMark::None || it->mark == mark) {
            invalidatePage(it.key()->FCellRect);
            it = m_marks.erase(it);
        } else {
            ++it;
        }
    }
}

int TReportControl::cellMarkCount(CellMark mark) const
{
    return static_cast<int>(std::count_if(
        m_marks.cbegin(), m_marks.cend(), [mark](const MarkInfo &m) { return m.mark == mark; }));
}

QString TReportControl::toolTipAt(const QPoint &point) const
{
    const TReportCell *cell = CellFromPoint(point);
    if (!cell)
        return {};
    QStringList parts;
    if (const QString tip = cellMarkTip(cell); !tip.isEmpty())
        parts << tip;
    if (cell->isDisplayShortened())
        parts << cell->FCellText.trimmed();
    return parts.join(u'\n');
}

void TReportControl::paintMarks(QPainter &painter, const TRect &area) const
{
    if (m_marks.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (auto it = m_marks.cbegin(); it != m_marks.cend(); ++it) {
        const TRect &r = it.key()->FCellRect;
        if (r.right < area.left || r.left > area.right || r.bottom < area.top
            || r.top > area.bottom)
            continue;
        const QRect inner(r.left + 1, r.top + 1, r.right - r.left - 1, r.bottom - r.top - 1);
        const int corner = std::min({7, inner.width(), inner.height()});
        switch (it->mark) {
        case CellMark::Stale:
            // A veil of the paper's white over the old value: it reads as greyed.
            painter.fillRect(inner, QColor(255, 255, 255, 170));
            break;
        case CellMark::Failed: {
            painter.setPen(QPen(QColor(220, 0, 0), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(inner.adjusted(1, 1, -2, -2));
            const QPoint tr = inner.topRight();
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(220, 0, 0));
            painter.drawPolygon(QPolygon({tr, tr - QPoint(corner, 0), tr + QPoint(0, corner)}));
            break;
        }
        case CellMark::Defaulted: {
            const QPoint tl = inner.topLeft();
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 90, 220));
            painter.drawPolygon(QPolygon({tl, tl + QPoint(corner, 0), tl + QPoint(0, corner)}));
            break;
        }
        case CellMark::None:
            break;
        }
    }
    painter.restore();
}

} // namespace tessarin
