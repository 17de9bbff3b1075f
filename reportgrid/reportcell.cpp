#include "reportcell.h"

#include "dispformat.h"
#include "reportpage.h"
#include "textlines.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace tessarin {

QColor colorFromTColor(TColor c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

TColor tcolorFromColor(const QColor &c)
{
    return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}

QPen gridPen(const QPainter &painter, const QColor &color, int width, Qt::PenCapStyle cap)
{
    // A line of `width` page pixels that would come out thinner than one device pixel is drawn
    // one device pixel wide, so that borders stay solid at small zoom factors.
    const QTransform t = painter.deviceTransform();
    const qreal scale = std::min(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
    const int w = std::max(1, width);
    QPen pen(color, w * scale < 1.0 ? 0 : w, Qt::SolidLine, cap, Qt::MiterJoin);
    return pen;
}

// ---- text layout ----

namespace {

// Paragraphs of `text` (see splitTextLines); an empty text is one empty paragraph.
QStringList paragraphs(const QString &text)
{
    QStringList out = splitTextLines(text);
    if (out.isEmpty())
        out.append(QString());
    return out;
}

// Lays out one paragraph for a wrap width of `width` pixels and calls `onLine(textLine)` per
// line; returns the number of lines. A paragraph whose advance `fits` the width is one line
// without any break search, so that measuring and drawing always agree on it.
template<typename F>
int layoutParagraph(QTextLayout &layout, bool fits, int width, F &&onLine)
{
    QTextOption option;
    option.setWrapMode(fits ? QTextOption::NoWrap : QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    int count = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max(1, width));
        onLine(line);
        ++count;
    }
    layout.endLayout();
    return std::max(1, count);
}

int alignedOffset(int horzAlign, int boxWidth, qreal lineWidth)
{
    switch (horzAlign) {
    case TEXT_ALIGN_CENTER:
        return std::max(0, static_cast<int>((boxWidth - lineWidth) / 2));
    case TEXT_ALIGN_RIGHT:
        return std::max(0, static_cast<int>(boxWidth - lineWidth));
    default:
        return 0;
    }
}

} // namespace

TRect CellTextLayout::measure(const QFont &font,
                              const TRect &box,
                              const QString &text,
                              int horzAlign)
{
    const QFontMetricsF fm(font);
    const int lineHeight = QFontMetrics(font).height();
    const int width = box.width();
    int lines = 0;
    qreal widest = 0;
    for (const QString &para : paragraphs(text)) {
        if (para.isEmpty()) {
            ++lines;
            continue;
        }
        const qreal advance = fm.horizontalAdvance(para);
        if (advance <= width) {
            ++lines;
            widest = std::max(widest, advance);
            continue;
        }
        QTextLayout layout(para, font);
        lines += layoutParagraph(layout, false, width, [&](QTextLine &line) {
            widest = std::max(widest, line.naturalTextWidth());
        });
    }
    const int used = static_cast<int>(std::min<qreal>(std::ceil(widest), width));
    const int offset = alignedOffset(horzAlign, width, used);
    return {box.left + offset, box.top, box.left + offset + used, box.top + lines * lineHeight};
}

void CellTextLayout::draw(QPainter &painter,
                          const QFont &font,
                          const TRect &box,
                          const QString &text,
                          int horzAlign,
                          int wrapWidth)
{
    const QFontMetricsF fm(font);
    const int lineHeight = QFontMetrics(font).height();
    const int width = box.width();
    const int wrap = wrapWidth > 0 ? wrapWidth : width;
    painter.save();
    painter.setClipRect(box.toQRect(), Qt::IntersectClip);
    painter.setFont(font);
    int y = box.top;
    for (const QString &para : paragraphs(text)) {
        if (y >= box.bottom)
            break;
        if (para.isEmpty()) {
            y += lineHeight;
            continue;
        }
        QTextLayout layout(para, font);
        int row = 0;
        layoutParagraph(layout, fm.horizontalAdvance(para) <= wrap, wrap, [&](QTextLine &line) {
            const int x = alignedOffset(horzAlign, width, line.naturalTextWidth());
            line.setPosition(QPointF(x, row * lineHeight + (lineHeight - line.height()) / 2));
            ++row;
        });
        layout.draw(&painter, QPointF(box.left, y));
        y += row * lineHeight;
    }
    painter.restore();
}

// ---- TReportCell ----

TReportCell::TReportCell()
    : FBmp(std::make_unique<QImage>())
    , FLogFont(defaultCellFont())
{}

TReportCell::~TReportCell()
{
    if (FOwnerCell)
        FOwnerCell->FCellsList.removeAll(this);
    for (TReportCell *owned : std::as_const(FCellsList))
        if (owned->FOwnerCell == this)
            owned->FOwnerCell = nullptr;
    if (FOwnerLine && FOwnerLine->FReportPage)
        FOwnerLine->FReportPage->cellDestroyed(this);
}

namespace {

QString formattedText(const TReportCell &cell)
{
    return cell.FCellDispFormat.isEmpty() ? numberCellText(cell.FCellText)
                                          : formatCellText(cell.FCellText, cell.FCellDispFormat);
}

} // namespace

QString TReportCell::displayText() const
{
    return fitNumberText(formattedText(*this), cellFont(), textWrapWidth());
}

bool TReportCell::isDisplayShortened() const
{
    return displayText() != formattedText(*this);
}

const QFont &TReportCell::cellFont() const
{
    if (!m_font || !(m_fontKey == FLogFont)) {
        m_font = std::make_unique<QFont>(fontFromLogFont(FLogFont));
        m_fontKey = FLogFont;
    }
    return *m_font;
}

void TReportCell::SetLeftMargin(int margin)
{
    // The inset is fixed at 5 pixels; the setter exists for stored pages and callers that ask.
    if (margin != FLeftMargin && margin == 5) {
        FLeftMargin = margin;
        CalcMinCellHeight();
    }
}

void TReportCell::SetOwnerLine(TReportLine *line)
{
    if (line)
        FOwnerLine = line;
}

void TReportCell::SetOwnerCell(TReportCell *cell)
{
    FOwnerCell = cell;
}

void TReportCell::AddOwnedCell(TReportCell *cell)
{
    if (!cell || cell == this || FCellsList.contains(cell))
        return;
    cell->FOwnerCell = this;
    FCellText += cell->FCellText;
    cell->SetCellText(QString());
    FCellsList.append(cell);
    if (!cell->FCellsList.isEmpty()) {
        const QList<TReportCell *> taken = cell->FCellsList;
        cell->RemoveAllOwnedCell();
        for (TReportCell *c : taken) {
            if (c == this || FCellsList.contains(c))
                continue;
            FCellsList.append(c);
            c->FOwnerCell = this;
        }
    }
}

void TReportCell::RemoveOwnedCell(TReportCell *cell)
{
    if (!cell || !FCellsList.removeOne(cell))
        return;
    cell->FOwnerCell = nullptr;
}

void TReportCell::RemoveAllOwnedCell()
{
    const QList<TReportCell *> owned = FCellsList;
    for (TReportCell *c : owned) {
        c->FOwnerCell = nullptr;
        c->CalcMinCellHeight();
    }
    FCellsList.clear();
}

bool TReportCell::IsCellOwned(const TReportCell *cell) const
{
    return cell && FCellsList.contains(const_cast<TReportCell *>(cell));
}

void TReportCell::SetCellLeft(int left)
{
    if (left != FCellLeft) {
        FCellLeft = left;
        CalcCellRect();
    }
}

void TReportCell::SetCellWidth(int width)
{
    if (width == FCellWidth)
        return;
    FCellWidth = width <= MinCellWidth ? MinCellWidth : width;
    CalcMinCellHeight();
    CalcCellRect();
}

int TReportCell::GetCellHeight() const
{
    if (!FOwnerLine)
        return 0;
    return std::max(FDragCellHeight, FMinCellHeight);
}

int TReportCell::GetCellTop() const
{
    return FOwnerLine ? FOwnerLine->FLineTop : 0;
}

int TReportCell::GetOwnerLineHeight() const
{
    return FOwnerLine ? FOwnerLine->GetLineHeight() : 0;
}

#define TESSARIN_BORDER_SETTER(Name, Field, Type)                                                  \
    void TReportCell::Name(Type value)                                                             \
    {                                                                                              \
        if (value == Field)                                                                        \
            return;                                                                                \
        Field = value;                                                                             \
        CalcMinCellHeight();                                                                       \
        CalcCellRect();                                                                            \
    }

TESSARIN_BORDER_SETTER(SetLeftLine, FLeftLine, bool)
TESSARIN_BORDER_SETTER(SetTopLine, FTopLine, bool)
TESSARIN_BORDER_SETTER(SetRightLine, FRightLine, bool)
TESSARIN_BORDER_SETTER(SetBottomLine, FBottomLine, bool)
TESSARIN_BORDER_SETTER(SetLeftLineWidth, FLeftLineWidth, int)
TESSARIN_BORDER_SETTER(SetTopLineWidth, FTopLineWidth, int)
TESSARIN_BORDER_SETTER(SetRightLineWidth, FRightLineWidth, int)
TESSARIN_BORDER_SETTER(SetBottomLineWidth, FBottomLineWidth, int)

#undef TESSARIN_BORDER_SETTER

void TReportCell::SetCellText(const QString &text)
{
    if (text == FCellText)
        return;
    FCellText = text;
    CalcMinCellHeight();
}

void TReportCell::SetCellDispFormat(const QString &format)
{
    if (format == FCellDispFormat)
        return;
    FCellDispFormat = format;
    CalcMinCellHeight();
}

void TReportCell::SetLogFont(const LOGFONT &font)
{
    FLogFont = font;
    CalcMinCellHeight();
}

void TReportCell::SetBackGroundColor(TColor color)
{
    if (color != FBackGroundColor)
        FBackGroundColor = color;
}

void TReportCell::SetTextColor(TColor color)
{
    if (color != FTextColor)
        FTextColor = color;
}

void TReportCell::CalcMinCellHeight()
{
    const int b = borderHeights();
    // A cell too narrow for text needs the room of an empty one; so does the block of such a
    // master, or the cells it covers would keep the height of its former text.
    const bool narrow = FCellWidth <= 2 * FLeftMargin;
    if (FOwnerCell && !narrow) {
        calcOwnedCellHeight();
        return;
    }
    const int needed = narrow ? b + 18 : textHeight() + 2 + b;
    if (isMaster()) {
        FRequiredCellHeight = needed;
        FMinCellHeight = b + 18;
        recalcCoveredCells();
    } else {
        FMinCellHeight = needed;
    }
}

// Height of the text (of one CJK character when empty) broken for the cell's wrap width; a
// trailing line break adds an empty line.
int TReportCell::textHeight() const
{
    const QString shown = displayText();
    const QString sample = shown.isEmpty() ? QStringLiteral("汉") : shown;
    const TRect box{FCellLeft + FLeftMargin,
                    GetCellTop() + 2,
                    FCellLeft + FLeftMargin + textWrapWidth(),
                    65535};
    const QFont &font = cellFont();
    int bottom = CellTextLayout::measure(font, box, sample, FHorzAlign).bottom;
    if (sample.endsWith(QStringLiteral("\r\n")))
        bottom += QFontMetrics(font).height();
    const int h = bottom - box.top;
    return h <= 0 ? 16 : h;
}

// After the master's own needs changed: its line's height, then the covered cells, the lowest
// of which takes up what the master's text still lacks. Only cells that name this cell as
// their master are visited, so a damaged merge structure cannot recurse without end.
void TReportCell::recalcCoveredCells()
{
    if (FOwnerLine)
        FOwnerLine->CalcLineHeight();
    for (TReportCell *c : std::as_const(FCellsList))
        if (c != this && c->FOwnerCell == this)
            c->CalcMinCellHeight();
}

// The lowest cell of a merged block takes up whatever height the master's text still lacks
// after the master's own line and the lines of all covered cells.
void TReportCell::calcOwnedCellHeight()
{
    const int b = borderHeights();
    FMinCellHeight = b + 18;
    TReportCell *master = FOwnerCell;
    int sum = 0;
    for (TReportCell *c : std::as_const(master->FCellsList)) {
        c->FMinCellHeight = c->borderHeights() + 18;
        if (c->FOwnerLine)
            c->FOwnerLine->CalcLineHeight();
        sum += c->GetOwnerLineHeight();
    }
    const int total = master->GetOwnerLineHeight() + sum;
    if (master->lowestCoveredCell() == this && master->FRequiredCellHeight > total)
        FMinCellHeight = GetOwnerLineHeight() + (master->FRequiredCellHeight - total);
}

TReportCell *TReportCell::lowestCoveredCell() const
{
    int bestTop = 0;
    TReportCell *lowest = nullptr;
    for (TReportCell *c : FCellsList) {
        if (c->GetCellTop() > bestTop) {
            bestTop = c->GetCellTop();
            lowest = c;
        }
    }
    return lowest;
}

void TReportCell::CalcCellRect()
{
    // A master's rectangle reaches down over the lines of the cells it covers, and its text
    // needs the height measured for the whole block; its text box also keeps one pixel more on
    // the right.
    const bool master = !FCellsList.isEmpty();
    int h = GetOwnerLineHeight();
    for (const TReportCell *c : std::as_const(FCellsList))
        h += c->GetOwnerLineHeight();
    const int textNeeds = master ? FRequiredCellHeight : FMinCellHeight;
    const int top = GetCellTop();
    FCellRect = {FCellLeft, top, FCellLeft + FCellWidth, top + h};
    const int textTop = FCellRect.top + FTopLineWidth + 1;
    FTextRect = {FCellRect.left + FLeftMargin + 1,
                 textTop,
                 FCellRect.right - FLeftMargin - (master ? 0 : 1),
                 textTop + textNeeds - 2 - FTopLineWidth - FBottomLineWidth};
    int shift = 0;
    if (FVertAlign == TEXT_ALIGN_VCENTER)
        shift = roundPixel((h - textNeeds) / 2.0);
    else if (FVertAlign == TEXT_ALIGN_BOTTOM)
        shift = h - textNeeds;
    FTextRect.top += shift;
    FTextRect.bottom += shift;
}

void TReportCell::PaintCell(QPainter &painter, bool print, bool withText) const
{
    if (FOwnerCell)
        return;
    painter.save();
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    const int l = FCellRect.left;
    const int t = FCellRect.top;
    const int r = FCellRect.right;
    const int b = FCellRect.bottom;

    if (FBackGroundColor != clWhite)
        painter.fillRect(QRect(l, t + 1, r + 1 - l, b - t - 1), colorFromTColor(FBackGroundColor));

    // The picture fills the cell (a master: its whole block) three pixels inside its edges.
    if (FBmp && !FBmp->isNull()) {
        const QRect target(l + 3, t + 3, r - l - 6, b - t - 6);
        if (target.width() > 0 && target.height() > 0)
            painter.drawImage(target, *FBmp);
    }

    paintBorders(painter, print, false);

    if (FDiagonal
        & (LINE_LEFT1 | LINE_LEFT2 | LINE_LEFT3 | LINE_RIGHT1 | LINE_RIGHT2 | LINE_RIGHT3)) {
        painter.setPen(gridPen(painter, Qt::black, 1, Qt::FlatCap));
        const int midY = roundPixel((t + b) / 2.0);
        const int midX = roundPixel((l + r) / 2.0);
        if (FDiagonal & LINE_LEFT1)
            painter.drawLine(l + 1, t + 1, r - 1, b - 1);
        if (FDiagonal & LINE_LEFT2)
            painter.drawLine(l + 1, t + 1, r - 1, midY);
        if (FDiagonal & LINE_LEFT3)
            painter.drawLine(l + 1, t + 1, midX, b - 1);
        if (FDiagonal & LINE_RIGHT1)
            painter.drawLine(r - 1, t + 1, l + 1, b - 1);
        if (FDiagonal & LINE_RIGHT2)
            painter.drawLine(r - 1, t + 1, l + 1, midY);
        if (FDiagonal & LINE_RIGHT3)
            painter.drawLine(r - 1, t + 1, midX, b - 1);
    }

    const QString shown = withText ? displayText() : QString();
    if (!shown.isEmpty()) {
        painter.setPen(colorFromTColor(FTextColor));
        // Lines break where CalcMinCellHeight measured them, so the text fills exactly the
        // height it asked for even though the text rectangle is a little narrower.
        CellTextLayout::draw(painter, cellFont(), FTextRect, shown, FHorzAlign, textWrapWidth());
    }
    painter.restore();
}

void TReportCell::paintBorders(QPainter &painter, bool print, bool onlySet) const
{
    const int l = FCellRect.left;
    const int t = FCellRect.top;
    const int r = FCellRect.right;
    const int b = FCellRect.bottom;
    const bool firstInLine = FCellIndex == 0;
    const bool firstLine = FOwnerLine && FOwnerLine->FIndex == 0;
    auto border = [&](bool set, int width, bool greyOnScreen, QPoint from, QPoint to) {
        if (set) {
            painter.setPen(gridPen(painter, Qt::black, width, Qt::SquareCap));
        } else if (!print && !onlySet && greyOnScreen) {
            painter.setPen(gridPen(painter, colorFromTColor(clScreenGrid), 1, Qt::SquareCap));
        } else {
            return;
        }
        painter.drawLine(from, to);
    };
    border(FLeftLine, FLeftLineWidth, firstInLine, {l, t}, {l, b});
    border(FTopLine, FTopLineWidth, firstLine, {l, t}, {r, t});
    border(FRightLine, FRightLineWidth, true, {r, t}, {r, b});
    border(FBottomLine, FBottomLineWidth, true, {l, b}, {r, b});
}

void TReportCell::PaintSetBorders(QPainter &painter) const
{
    if (FOwnerCell)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    paintBorders(painter, true, true);
    painter.restore();
}

void TReportCell::CopyCell(const TReportCell *source, bool insertBeside)
{
    if (!source || source == this)
        return;
    FLeftMargin = source->FLeftMargin;
    FCellIndex = source->FCellIndex;
    FCellLeft = source->FCellLeft;
    FCellWidth = source->FCellWidth;
    FDragCellHeight = source->FDragCellHeight;
    FMinCellHeight = source->FMinCellHeight;
    FLeftLine = source->FLeftLine;
    FLeftLineWidth = source->FLeftLineWidth;
    FTopLine = source->FTopLine;
    FTopLineWidth = source->FTopLineWidth;
    FRightLine = source->FRightLine;
    FRightLineWidth = source->FRightLineWidth;
    FBottomLine = source->FBottomLine;
    FBottomLineWidth = source->FBottomLineWidth;
    FDiagonal = source->FDiagonal;
    FTextColor = source->FTextColor;
    FBackGroundColor = source->FBackGroundColor;
    FHorzAlign = source->FHorzAlign;
    FVertAlign = source->FVertAlign;
    FLogFont = source->FLogFont;
    FCellRect = {};
    FTextRect = {};

    TReportCell *master = source->FOwnerCell;
    if (!master)
        return;
    if (insertBeside) {
        if (master->FCellsList.contains(this))
            return;
        const qsizetype at = master->FCellsList.indexOf(const_cast<TReportCell *>(source));
        master->FCellsList.insert(at < 0 ? master->FCellsList.size() : at, this);
        FOwnerCell = master;
    } else {
        master->AddOwnedCell(this);
    }
}

// ---- TReportLine ----

TReportLine::TReportLine() = default;

TReportLine::~TReportLine()
{
    while (!FCells.empty())
        FCells.pop_back();
}

void TReportLine::CreateLine(int left, int count, int totalWidth)
{
    if (count < 1)
        return;
    const int w = roundPixel(static_cast<double>(totalWidth) / count);
    for (int i = 0; i < count; ++i) {
        TReportCell *c = appendCell(std::make_unique<TReportCell>());
        c->FCellIndex = i;
        c->SetCellLeft(left + i * w);
        c->SetCellWidth(w);
    }
}

void TReportLine::CalcLineHeight()
{
    FMinHeight = 0;
    for (size_t i = 0; i < FCells.size(); ++i) {
        TReportCell *c = FCells[i].get();
        FMinHeight = std::max(FMinHeight, c->GetCellHeight());
        c->FCellIndex = static_cast<int>(i);
        if (i == 0) {
            if (FReportPage)
                c->SetCellLeft(FReportPage->FLeftMargin);
        } else {
            const TReportCell *prev = FCells[i - 1].get();
            c->SetCellLeft(prev->FCellLeft + prev->FCellWidth);
        }
    }
}

int TReportLine::GetLineHeight() const
{
    return std::max(FMinHeight, FDragHeight);
}

TRect TReportLine::GetLineRect()
{
    int width = 0;
    for (size_t i = 0; i < FCells.size(); ++i) {
        TReportCell *c = FCells[i].get();
        c->FCellIndex = static_cast<int>(i);
        c->CalcCellRect();
        width += c->FCellWidth;
    }
    // A line without cells has no left edge of its own; it sits at the left margin, empty.
    const int left
        = FCells.empty() ? (FReportPage ? FReportPage->FLeftMargin : 0) : FCells.front()->FCellLeft;
    FLineRect = {left, FLineTop, left + width, FLineTop + GetLineHeight()};
    return FLineRect;
}

void TReportLine::SetLineTop(int top)
{
    if (top == FLineTop)
        return;
    FLineTop = top;
    for (auto &c : FCells)
        c->CalcCellRect();
}

void TReportLine::SetDragHeight(int height)
{
    FDragHeight = height;
}

void TReportLine::CopyLine(const TReportLine *source, bool insertBeside)
{
    if (!source)
        return;
    FDragHeight = 0;
    FMinHeight = 20;
    FReportPage = source->FReportPage;
    for (const auto &src : source->FCells)
        appendCell(std::make_unique<TReportCell>())->CopyCell(src.get(), insertBeside);
}

int TReportLine::indexOfCell(const TReportCell *cell) const
{
    for (size_t i = 0; i < FCells.size(); ++i)
        if (FCells[i].get() == cell)
            return static_cast<int>(i);
    return -1;
}

TReportCell *TReportLine::insertCell(int index, std::unique_ptr<TReportCell> cell)
{
    TReportCell *c = cell.get();
    index = std::clamp(index, 0, cellCount());
    FCells.insert(FCells.begin() + index, std::move(cell));
    touchPage();
    c->SetOwnerLine(this);
    return c;
}

TReportCell *TReportLine::appendCell(std::unique_ptr<TReportCell> cell)
{
    return insertCell(cellCount(), std::move(cell));
}

void TReportLine::touchPage()
{
    if (FReportPage)
        FReportPage->touchContent();
}

std::unique_ptr<TReportCell> TReportLine::takeCell(int index)
{
    if (index < 0 || index >= cellCount())
        return nullptr;
    auto cell = std::move(FCells[static_cast<size_t>(index)]);
    FCells.erase(FCells.begin() + index);
    touchPage();
    return cell;
}

} // namespace tessarin
