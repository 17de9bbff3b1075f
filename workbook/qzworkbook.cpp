#include "qzworkbook.h"

#include "error.h"
#include "xmltree.h"

#include <QList>

namespace tessarin {

namespace {

template<class Work>
auto onPage(qsizetype index, Work &&work)
{
    try {
        return work();
    } catch (const Error &e) {
        throw Error(QStringLiteral("page %1: %2").arg(index + 1).arg(e.message()));
    }
}

} // namespace

TqzWorkbook::TqzWorkbook(QObject *parent)
    : QObject(parent)
    , PageNames{QStringLiteral("默认页")}
{}

TqzWorkbook::~TqzWorkbook() = default;

void TqzWorkbook::adopt(std::unique_ptr<TqzReportPage> page, std::optional<QString> unread)
{
    connect(page.get(), &TReportPage::contentChanged, this, &TqzWorkbook::cellsChanged);
    m_pages.push_back(std::move(page));
    m_unread.push_back(std::move(unread));
}

TqzReportPage *TqzWorkbook::AddPage()
{
    auto page = std::make_unique<TqzReportPage>(NewPageSetup);
    page->OwnerIndex = OwnerIndex;
    adopt(std::move(page), std::nullopt);
    emit pagesReset();
    return m_pages.back().get();
}

void TqzWorkbook::ClearPages()
{
    m_pages.clear();
    m_unread.clear();
    m_loadErrors.clear();
    emit pagesReset();
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
    if (read.names)
        PageNames = *read.names;
    m_pages.clear();
    m_unread.clear();
    for (WorkbookPageRead &page : read.pages)
        adopt(std::move(page.page), std::move(page.unreadText));
    m_loadErrors = read.errors;
    emit pagesReset();
}

void TqzWorkbook::LoadFromStream(const QByteArray &stream, const QString &where)
{
    const std::unique_ptr<XmlElement> root = parseXmlTree(stream, where);
    const XmlElement *element = firstChildNamed(*root, QString::fromUtf16(WorkbookElementName));
    if (!element)
        return;
    try {
        LoadFromXML(*element);
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
    return spliceWorkbookElement(
        document, [this](QDomElement &element) { SaveToXML(element); }, where);
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

} // namespace tessarin
