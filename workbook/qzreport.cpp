#include "qzreport.h"

#include "base64.h"
#include "error.h"
#include "reportstream.h"

#include <QBuffer>

#include <string_view>

namespace tessarin {

TqzReport::TqzReport(QWidget *parent)
    : TReportControl(parent)
    , RunCaption(QStringView(RunButtonCaption).toString())
    , CellTag(std::make_unique<TqzCellTag>())
{}

TqzReport::~TqzReport() = default;

void TqzReport::DrawPrepare(QPainter &) {}

namespace {

// Whether the tag name `name`, with a to z upper-cased, equals `request` code unit for code unit
// (the scan's test, without building the upper-cased copy).
bool isExchangeName(const QString &name, const QString &request)
{
    const qsizetype n = name.size();
    if (n != request.size())
        return false;
    const char16_t *a = reinterpret_cast<const char16_t *>(name.constData());
    const char16_t *b = reinterpret_cast<const char16_t *>(request.constData());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - u'a' + u'A') : a[i];
        if (c != b[i])
            return false;
    }
    return true;
}

// `name` with a to z upper-cased; shares the text when there is nothing to change.
QString upperName(const QString &name)
{
    for (const QChar c : name)
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            return upperAscii(name);
    return name;
}

} // namespace

bool hasPageStreamMagic(QByteArrayView bytes)
{
    if (bytes.size() < 2)
        return false;
    const unsigned magic = static_cast<unsigned char>(bytes[0])
                           | static_cast<unsigned>(static_cast<unsigned char>(bytes[1])) << 8;
    return magic == PageStreamMagicV1 || magic == PageStreamMagicV2 || magic == PageStreamMagicV3;
}

QString TqzReport::SaveToText()
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    SaveToStream(buffer, 0);
    return EncodeBase64Text(buffer.data());
}

void TqzReport::LoadFromText(const QString &Text)
{
    // Decode first: text the codec refuses changes nothing.
    QByteArray bytes = DecodeBase64Text(Text);
    m_index.reset();
    if (!hasPageStreamMagic(bytes)) {
        // Not a page stream: the page is emptied and nothing is loaded.
        ResetContent();
        m_layoutPending = false;
        return;
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // The stream reader swaps the new content in only when the whole stream is good (and lays
    // it out).
    LoadFromStream(buffer, 0);
    m_layoutPending = false;
}

std::optional<QString> TqzReport::visitKeyedCells(const CellVisitor &visit)
{
    const int lines = static_cast<int>(FLineList.size());
    for (int l = 0; l < lines; ++l) {
        const TReportLine &line = *FLineList[static_cast<size_t>(l)];
        const int cells = line.cellCount();
        for (int c = 0; c < cells; ++c) {
            TReportCell *cell = line.cell(c);
            if (cell->FCellText == RunCaption)
                continue;
            const QString tag = trimTag(cell->FTagID);
            if (tag.isEmpty())
                continue;
            try {
                CellTag->Parse(tag);
            } catch (const Error &e) {
                return QStringLiteral("line %1, cell %2: %3").arg(l + 1).arg(c + 1).arg(e.message());
            }
            if (!visit(cell, CellTag->Name))
                return std::nullopt;
        }
    }
    return std::nullopt;
}

size_t TqzReport::NameHash::operator()(const QString &name) const noexcept
{
    return std::hash<std::u16string_view>{}(
        std::u16string_view(reinterpret_cast<const char16_t *>(name.constData()),
                            static_cast<size_t>(name.size())));
}

const TqzReport::TagIndex &TqzReport::tagIndex()
{
    if (!m_index) {
        auto index = std::make_unique<TagIndex>();
        size_t cells = 0;
        for (const auto &line : FLineList)
            cells += line->FCells.size();
        index->entries.reserve(cells);
        index->chains.reserve(cells);
        index->badTag = visitKeyedCells([&index](TReportCell *cell, const QString &name) {
            const qsizetype at = static_cast<qsizetype>(index->entries.size());
            index->entries.push_back({cell, -1});
            const auto [it, added] = index->chains.try_emplace(upperName(name), TagIndex::Chain{at, at});
            if (!added) {
                index->entries[static_cast<size_t>(it->second.last)].next = at;
                it->second.last = at;
            }
            return true;
        });
        m_index = std::move(index);
    }
    return *m_index;
}

void TqzReport::writeCell(TReportCell *cell, const QString &value)
{
    const int before = cell->FMinCellHeight;
    const int required = cell->FRequiredCellHeight;
    cell->SetCellText(value);
    if (cell->FMinCellHeight != before || cell->FRequiredCellHeight != required)
        m_layoutPending = true;
}

void TqzReport::SetTagValue(const QString &Name, const QString &Value)
{
    QList<TReportCell *> targets;
    if (m_exchangeDepth > 0) {
        const TagIndex &index = tagIndex();
        if (index.badTag)
            throw Error(*index.badTag);
        const auto it = index.chains.find(Name);
        if (it != index.chains.end())
            for (qsizetype e = it->second.first; e >= 0; e = index.entries[size_t(e)].next)
                targets.append(index.entries[size_t(e)].cell);
    } else {
        const std::optional<QString> bad = visitKeyedCells(
            [&](TReportCell *cell, const QString &name) {
                if (isExchangeName(name, Name))
                    targets.append(cell);
                return true;
            });
        if (bad)
            throw Error(*bad);
    }
    for (TReportCell *cell : targets)
        writeCell(cell, Value);
    // A cell that now reads as a run button no longer takes part.
    if (!targets.isEmpty() && Value == RunCaption)
        m_index.reset();
}

QString TqzReport::GetTagValue(const QString &Name)
{
    if (m_exchangeDepth > 0) {
        const TagIndex &index = tagIndex();
        const auto it = index.chains.find(Name);
        if (it != index.chains.end())
            return index.entries[size_t(it->second.first)].cell->FCellText;
        if (index.badTag)
            throw Error(*index.badTag);
        return QString();
    }
    TReportCell *found = nullptr;
    const std::optional<QString> bad = visitKeyedCells([&](TReportCell *cell, const QString &name) {
        if (!isExchangeName(name, Name))
            return true;
        found = cell;
        return false;
    });
    if (found)
        return found->FCellText;
    if (bad)
        throw Error(*bad);
    return QString();
}

void TqzReport::checkTags()
{
    const std::optional<QString> bad =
        m_exchangeDepth > 0 ? tagIndex().badTag
                            : visitKeyedCells([](TReportCell *, const QString &) { return true; });
    if (bad)
        throw Error(*bad);
}

void TqzReport::beginExchange()
{
    ++m_exchangeDepth;
}

void TqzReport::endExchange()
{
    if (m_exchangeDepth > 0 && --m_exchangeDepth == 0)
        m_index.reset();
}

void TqzReport::updateLayoutIfPending()
{
    if (!m_layoutPending)
        return;
    m_layoutPending = false;
    UpdateLines();
}

} // namespace tessarin
