#include "qzworkbook.h"

#include "error.h"
#include "xmltree.h"

#include <QList>

namespace tessarin {

TqzWorkbook::TqzWorkbook(QObject *parent)
    : QObject(parent)
    , PageNames{QStringLiteral("默认页")}
{}

TqzWorkbook::~TqzWorkbook() = default;

void TqzWorkbook::adopt(std::unique_ptr<TqzReportPage> page, std::optional<QString> unread)
{
    m_pages.push_back(std::move(page));
    m_unread.push_back(std::move(unread));
}

TqzReportPage *TqzWorkbook::AddPage()
{
    auto page = std::make_unique<TqzReportPage>(NewPageSetup);
    page->OwnerIndex = OwnerIndex;
    adopt(std::move(page), std::nullopt);
    emit pageAdded(pageCount() - 1);
    return m_pages.back().get();
}

int TqzWorkbook::indexOf(const TqzReportPage *page) const
{
    for (size_t k = 0; k < m_pages.size(); ++k)
        if (m_pages[k].get() == page)
            return static_cast<int>(k);
    return -1;
}

void TqzWorkbook::ClearPages()
{
    emit aboutToResetPages();
    m_pages.clear();
    m_unread.clear();
    m_loadErrors.clear();
    emit pagesReset(false);
}

void TqzWorkbook::LoadFromXML(const QDomElement &element)
{
    loadFrom(element);
}

void TqzWorkbook::LoadFromXML(const XmlElement &element)
{
    loadFrom(element);
}

template<class E>
void TqzWorkbook::loadFrom(const E &element)
{
    WorkbookRead read = readWorkbookElement(element, NewPageSetup, OwnerIndex);
    emit aboutToResetPages();
    if (read.names)
        PageNames = *read.names;
    m_pages.clear();
    m_unread.clear();
    for (WorkbookPageRead &page : read.pages)
        adopt(std::move(page.page), std::move(page.unreadText));
    m_loadErrors = read.errors;
    emit pagesReset(true);
}

void TqzWorkbook::LoadFromStream(const QByteArray &stream, const QString &where)
{
    const std::unique_ptr<XmlElement> root = parseXmlTree(stream, where);
    const XmlElement *element = firstChildNamed(*root, QString::fromUtf16(WorkbookElementName));
    if (!element)
        return;
    try {
        LoadFromXML(*element);
        LoadCharts(*root);
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
}

void TqzWorkbook::SaveToXML(QDomElement &element) const
{
    QList<const TqzReportPage *> pages;
    QList<std::optional<QString>> unread;
    for (size_t k = 0; k < m_pages.size(); ++k) {
        pages.append(m_pages[k].get());
        unread.append(m_unread[k]);
    }
    writeWorkbookElement(element, PageNames, pages, unread);
}

QByteArray TqzWorkbook::SaveIntoDocument(const QByteArray &document, const QString &where) const
{
    QByteArray out = spliceWorkbookElement(
        document, [this](QDomElement &element) { SaveToXML(element); }, where);
    // A project that never had charts keeps its bytes.
    const QList<TqzChart> all = charts();
    if (!all.isEmpty() || m_chartsElement)
        out = spliceProjectElement(
            out,
            QString::fromUtf16(ChartsElementName),
            [&all](QDomElement &element) { writeChartsElement(element, all); },
            {},
            where);
    return out;
}

QList<TqzChart> TqzWorkbook::charts() const
{
    QList<TqzChart> out;
    for (size_t k = 0; k < m_pages.size(); ++k)
        for (TqzChart chart : m_pages[k]->Charts) {
            chart.page = static_cast<int>(k);
            out.append(chart);
        }
    return out;
}

void TqzWorkbook::setCharts(const QList<TqzChart> &charts)
{
    for (const TqzChart &chart : charts)
        if (chart.page < 0 || chart.page >= pageCount())
            throw Error(QStringLiteral("a chart is placed on page %1, which does not exist")
                            .arg(chart.page + 1));
    for (const auto &page : m_pages)
        page->Charts.clear();
    for (const TqzChart &chart : charts)
        m_pages[static_cast<size_t>(chart.page)]->Charts.append(chart);
    emit cellsChanged();
}

void TqzWorkbook::LoadCharts(const XmlElement &root)
{
    const XmlElement *element = firstChildNamed(root, QString::fromUtf16(ChartsElementName));
    m_chartsElement = element != nullptr;
    for (const auto &page : m_pages)
        page->Charts.clear();
    if (!element)
        return;
    const QList<TqzChart> read = readChartsElement(*element);
    for (qsizetype k = 0; k < read.size(); ++k) {
        const TqzChart &chart = read[k];
        if (chart.page >= pageCount()) {
            m_loadErrors.append(QStringLiteral("chart %1 (page %2): the page does not exist; the "
                                               "chart is left out")
                                    .arg(k + 1)
                                    .arg(chart.page + 1));
            continue;
        }
        m_pages[static_cast<size_t>(chart.page)]->Charts.append(chart);
    }
}

void TqzWorkbook::checkAllTags() const
{
    for (size_t k = 0; k < m_pages.size(); ++k)
        onPage(qsizetype(k), [page = m_pages[k].get()] { page->checkTags(); });
}

void TqzWorkbook::CheckTagValue(const QString &Name, const QString &Value) const
{
    checkAllTags();
    const QHash<QString, QString> one{{Name, Value}};
    for (size_t k = 0; k < m_pages.size(); ++k)
        onPage(qsizetype(k), [&] { m_pages[k]->checkValueLengths(one); });
}

TagWriteCount TqzWorkbook::SetTagValue(const QString &Name, const QString &Value)
{
    CheckTagValue(Name, Value);
    TagWriteCount total;
    for (const auto &page : m_pages) {
        const TagWriteCount count = page->SetTagValue(Name, Value);
        total.matched += count.matched;
        total.changed += count.changed;
    }
    if (total.changed > 0)
        emit cellsChanged();
    return total;
}

void TqzWorkbook::SetTagValues(const QHash<QString, QString> &values)
{
    checkAllTags();
    for (size_t k = 0; k < m_pages.size(); ++k)
        onPage(qsizetype(k), [&] { m_pages[k]->checkValueLengths(values); });
    int changed = 0;
    for (const auto &page : m_pages)
        changed += page->SetTagValues(values);
    if (changed > 0)
        emit cellsChanged();
}

QString TqzWorkbook::GetTagValue(const QString &Name) const
{
    for (size_t k = 0; k < m_pages.size(); ++k) {
        const QString value = onPage(qsizetype(k), [&] { return m_pages[k]->GetTagValue(Name); });
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

void TqzWorkbook::GetTagValues(QHash<QString, QString> &names) const
{
    for (auto it = names.begin(); it != names.end(); ++it)
        it->clear();
    for (size_t k = 0; k < m_pages.size(); ++k)
        onPage(qsizetype(k), [&] { m_pages[k]->GetTagValues(names); });
}

QList<QPair<TqzReportPage *, TReportCell *>> TqzWorkbook::CellsOfName(const QString &Name) const
{
    QList<QPair<TqzReportPage *, TReportCell *>> out;
    for (const auto &page : m_pages)
        for (TReportCell *cell : page->CellsOfName(Name))
            out.append({page.get(), cell});
    return out;
}

void TqzWorkbook::UpdatePageFields()
{
    checkAllTags();
    const int count = pageCount();
    int changed = 0;
    for (int k = 0; k < count; ++k) {
        TqzReportPage &page = *m_pages[static_cast<size_t>(k)];
        changed += page.SetTagValue(QStringLiteral("PAGENUM"), pageNumberText(k + 1)).changed;
        changed += page.SetTagValue(QStringLiteral("PAGECOUNT"), pageCountText(count)).changed;
        page.updateLayoutIfPending();
    }
    if (changed > 0)
        emit cellsChanged();
}

QString pageNumberText(int number)
{
    return QStringLiteral("第 %1 页").arg(number);
}

QString pageCountText(int count)
{
    return QStringLiteral("共 %1 页").arg(count);
}

} // namespace tessarin
