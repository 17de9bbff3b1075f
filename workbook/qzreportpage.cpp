#include "qzreportpage.h"

#include "base64.h"
#include "error.h"
#include "reportstream.h"
#include "textcodec.h"

#include <QList>

#include <string_view>

namespace tessarin {

TqzReportPage::TqzReportPage(const PageSetup &setup, QObject *parent)
    : TReportPage(setup, parent)
    , RunCaption(QStringView(RunButtonCaption).toString())
    , CellTag(std::make_unique<TqzCellTag>())
{}

TqzReportPage::~TqzReportPage() = default;

QString TqzReportPage::SaveToText() const
{
    return EncodeBase64Text(savePageStream(*this));
}

bool TqzReportPage::LoadFromText(const QString &Text)
{
    // Decode first: text the codec refuses changes nothing.
    const QByteArray bytes = DecodeBase64Text(Text);
    const bool isPage = pageStreamVersion(bytes) != 0;
    if (isPage) {
        // The stream reader swaps the new content in only when the whole stream is good (and
        // lays it out).
        loadPageStream(*this, bytes);
    } else {
        // Not a page stream: the page is emptied and nothing is loaded.
        ResetContent();
    }
    // Either way the content generation moved on, so the tag index is rebuilt when next read.
    m_layoutPending = false;
    return isPage;
}

size_t TqzReportPage::NameHash::operator()(const QString &name) const noexcept
{
    return std::hash<std::u16string_view>{}(std::u16string_view(
        reinterpret_cast<const char16_t *>(name.constData()), static_cast<size_t>(name.size())));
}

const TqzReportPage::TagIndex &TqzReportPage::tagIndex()
{
    if (m_index && m_index->generation == contentGeneration())
        return *m_index;

    // Every tagged cell in visiting order (line by line, left to right), whatever its text:
    // whether a cell is a run button depends on its current text, so that is decided when the
    // index is read. Unparsable tags are kept in order with the entry position they precede.
    auto index = std::make_unique<TagIndex>();
    index->generation = contentGeneration();
    size_t cells = 0;
    for (const auto &line : FLineList)
        cells += line->FCells.size();
    index->entries.reserve(cells);
    index->chains.reserve(cells);
    const int lines = static_cast<int>(FLineList.size());
    for (int l = 0; l < lines; ++l) {
        const TReportLine &line = *FLineList[static_cast<size_t>(l)];
        const int count = line.cellCount();
        for (int c = 0; c < count; ++c) {
            TReportCell *cell = line.cell(c);
            const qsizetype at = static_cast<qsizetype>(index->entries.size());
            std::optional<QString> key;
            try {
                key = tagKey(cell->FTagID, *CellTag);
            } catch (const Error &e) {
                index->badTags.push_back({at,
                                          cell,
                                          QStringLiteral("line %1, cell %2: %3")
                                              .arg(l + 1)
                                              .arg(c + 1)
                                              .arg(e.message())});
                continue;
            }
            if (!key)
                continue;
            index->entries.push_back({cell, -1});
            const auto [it, added]
                = index->chains.try_emplace(std::move(*key), TagIndex::Chain{at, at});
            if (!added) {
                index->entries[static_cast<size_t>(it->second.last)].next = at;
                it->second.last = at;
            }
        }
    }
    m_index = std::move(index);
    return *m_index;
}

const TqzReportPage::TagIndex::BadTag *TqzReportPage::firstBadTag(const TagIndex &index) const
{
    for (const TagIndex::BadTag &bad : index.badTags)
        if (bad.cell->FCellText != RunCaption)
            return &bad;
    return nullptr;
}

QList<TReportCell *> TqzReportPage::targetsOf(const TagIndex &index,
                                              const TagIndex::Chain &chain) const
{
    QList<TReportCell *> targets;
    for (qsizetype e = chain.first; e >= 0; e = index.entries[size_t(e)].next) {
        TReportCell *cell = index.entries[size_t(e)].cell;
        if (cell->FCellText != RunCaption)
            targets.append(cell);
    }
    return targets;
}

bool TqzReportPage::writeCell(TReportCell *cell, const QString &value)
{
    // A view's edit box still open on the cell would later store its old text over the new
    // value.
    emit aboutToWriteCell(cell);
    if (cell->FCellText == value)
        return false;
    const int before = cell->FMinCellHeight;
    const int required = cell->FRequiredCellHeight;
    cell->SetCellText(value);
    if (cell->FMinCellHeight != before || cell->FRequiredCellHeight != required)
        m_layoutPending = true;
    return true;
}

TagWriteCount TqzReportPage::SetTagValue(const QString &Name, const QString &Value)
{
    const TagIndex &index = tagIndex();
    if (const TagIndex::BadTag *bad = firstBadTag(index))
        throw Error(bad->message);
    const auto it = index.chains.find(Name);
    if (it == index.chains.end())
        return {};
    // Decide every target before writing: a written value may turn a cell into a run button.
    const QList<TReportCell *> targets = targetsOf(index, it->second);
    TagWriteCount count;
    count.matched = static_cast<int>(targets.size());
    for (TReportCell *cell : targets)
        count.changed += writeCell(cell, Value) ? 1 : 0;
    return count;
}

QString TqzReportPage::GetTagValue(const QString &Name)
{
    const TagIndex &index = tagIndex();
    const TagIndex::BadTag *bad = firstBadTag(index);
    const qsizetype limit = bad ? bad->before : static_cast<qsizetype>(index.entries.size());
    const auto it = index.chains.find(Name);
    if (it != index.chains.end()) {
        for (qsizetype e = it->second.first; e >= 0 && e < limit;
             e = index.entries[size_t(e)].next) {
            const TReportCell *cell = index.entries[size_t(e)].cell;
            if (cell->FCellText != RunCaption)
                return cell->FCellText;
        }
    }
    if (bad)
        throw Error(bad->message);
    return QString();
}

void TqzReportPage::checkValueLengths(const QHash<QString, QString> &values)
{
    const TagIndex &index = tagIndex();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        // Every code unit takes at least one byte, so a short text needs no conversion.
        if (it->size() <= MaxCellTextBytes / 4 || !index.chains.contains(it.key()))
            continue;
        const qsizetype bytes = it->size() > MaxCellTextBytes ? it->size() : toCodePage(*it).size();
        if (bytes > MaxCellTextBytes)
            throw Error(QStringLiteral("the value for the cells tagged \"%1\" is %2 %3 long, "
                                       "more than the %4 bytes a cell holds; no cell was changed")
                            .arg(it.key())
                            .arg(bytes)
                            .arg(it->size() > MaxCellTextBytes ? QStringLiteral("characters")
                                                               : QStringLiteral("bytes"))
                            .arg(MaxCellTextBytes));
    }
}

int TqzReportPage::SetTagValues(const QHash<QString, QString> &values)
{
    const TagIndex &index = tagIndex();
    if (const TagIndex::BadTag *bad = firstBadTag(index))
        throw Error(bad->message);
    int changed = 0;
    // A cell's text is written only by its own name, so whether it is a run button can be
    // decided chain by chain, in any order.
    for (const auto &[name, chain] : index.chains) {
        const auto value = values.constFind(name);
        if (value == values.constEnd())
            continue;
        const QList<TReportCell *> targets = targetsOf(index, chain);
        for (TReportCell *cell : targets)
            changed += writeCell(cell, *value) ? 1 : 0;
    }
    return changed;
}

void TqzReportPage::GetTagValues(QHash<QString, QString> &answers)
{
    const TagIndex &index = tagIndex();
    if (firstBadTag(index)) {
        // Where a tag cannot be parsed the answer depends on the order of cells: ask by name.
        for (auto it = answers.begin(); it != answers.end(); ++it)
            if (it->isEmpty())
                *it = GetTagValue(it.key());
        return;
    }
    for (const auto &[name, chain] : index.chains) {
        const auto answer = answers.find(name);
        if (answer == answers.end() || !answer->isEmpty())
            continue;
        for (qsizetype e = chain.first; e >= 0; e = index.entries[size_t(e)].next) {
            const TReportCell *cell = index.entries[size_t(e)].cell;
            if (cell->FCellText != RunCaption) {
                *answer = cell->FCellText;
                break;
            }
        }
    }
}

QList<TReportCell *> TqzReportPage::CellsOfName(const QString &Name)
{
    const TagIndex &index = tagIndex();
    const TagIndex::BadTag *bad = firstBadTag(index);
    const qsizetype limit = bad ? bad->before : static_cast<qsizetype>(index.entries.size());
    QList<TReportCell *> cells;
    const auto it = index.chains.find(Name);
    if (it == index.chains.end())
        return cells;
    for (qsizetype e = it->second.first; e >= 0 && e < limit; e = index.entries[size_t(e)].next)
        if (TReportCell *cell = index.entries[size_t(e)].cell; cell->FCellText != RunCaption)
            cells.append(cell);
    return cells;
}

std::optional<QString> TqzReportPage::NameOfCell(const TReportCell *cell) const
{
    if (!cell || cell->FCellText == RunCaption)
        return std::nullopt;
    TqzCellTag scratch;
    try {
        return tagKey(cell->FTagID, scratch);
    } catch (const Error &) {
        return std::nullopt;
    }
}

void TqzReportPage::checkTags()
{
    if (const TagIndex::BadTag *bad = firstBadTag(tagIndex()))
        throw Error(bad->message);
}

void TqzReportPage::updateLayoutIfPending()
{
    if (!m_layoutPending)
        return;
    m_layoutPending = false;
    UpdateLines();
}

QRectF TqzReportPage::chartArea(const TqzChart &chart) const
{
    const TReportCell *first = cellAt(chart.first);
    const TReportCell *last = cellAt(chart.last);
    if (!first || !last)
        return QRectF();
    const TRect &a = first->FCellRect;
    const TRect &b = last->FCellRect;
    return QRectF(QPointF(std::min(a.left, b.left), std::min(a.top, b.top)),
                  QPointF(std::max(a.right, b.right), std::max(a.bottom, b.bottom)));
}

void TqzReportPage::paintOverlay(QPainter &painter) const
{
    for (const TqzChart &chart : Charts) {
        const QRectF area = chartArea(chart);
        if (!area.isEmpty())
            paintChart(chart, painter, area);
    }
}

} // namespace tessarin
