#pragma once

// The report workbook without any widget: pages with their tabs and tags, the tab names, the
// texts of pages it could not read and the load errors, its storage in the project document and
// the exchange of values by tag name across its pages.

#include "qzreportpage.h"
#include "workbookformat.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tessarin {

struct XmlElement;

class TqzWorkbook : public QObject
{
    Q_OBJECT

public:
    // A workbook without pages and with the one tab name "默认页".
    explicit TqzWorkbook(QObject *parent = nullptr);
    ~TqzWorkbook() override;

    // The setup of pages made or read from now on.
    PageSetup NewPageSetup = PageSetup::a4();
    // The tab new pages take.
    int OwnerIndex = 0;
    // Tab captions: tab i holds the pages whose OwnerIndex is i.
    QStringList PageNames;

    // Pages in print and numbering order.
    int pageCount() const { return static_cast<int>(m_pages.size()); }
    TqzReportPage *page(int index) const { return m_pages.at(static_cast<size_t>(index)).get(); }
    // The position of `page` in the workbook, -1 when it is not one of its pages.
    int indexOf(const TqzReportPage *page) const;
    // A new empty page at the end.
    TqzReportPage *AddPage();
    // Frees every page, with what was kept of their load.
    void ClearPages();

    // What went wrong per page during the last load (see readWorkbookElement).
    const QStringList &loadErrors() const { return m_loadErrors; }
    // The stored text of a page that was loaded empty because it could not be read.
    std::optional<QString> unreadText(int index) const
    {
        return m_unread.at(static_cast<size_t>(index));
    }

    // Replaces the tab names (when "ShowPages" is present) and all pages by those of `element`,
    // read completely first: an error leaves the workbook as it was.
    void LoadFromXML(const QDomElement &element);
    void LoadFromXML(const XmlElement &element);
    // Reads the workbook from the first "TqzExcel" child of a project document's element;
    // without one the workbook stays as it is. Errors are prefixed with `where`.
    void LoadFromStream(const QByteArray &stream,
                        const QString &where = QStringLiteral("project stream"));
    // See writeWorkbookElement: damaged pages still empty are written as they were read.
    void SaveToXML(QDomElement &element) const;
    // The project document with its workbook element replaced (see spliceWorkbookElement).
    QByteArray SaveIntoDocument(const QByteArray &document,
                                const QString &where = QStringLiteral("project document")) const;

    // The charts of every page, their `page` set; replacing them puts each on its page (a
    // chart whose page does not exist is refused with Error).
    QList<TqzChart> charts() const;
    void setCharts(const QList<TqzChart> &charts);
    // Reads the "TqzCharts" child of a project document's element onto the pages (after the
    // workbook was loaded from the same document); charts of pages that do not exist are left
    // out and reported in loadErrors().
    void LoadCharts(const XmlElement &root);

    // Value exchange over all pages, with the rules of the page's operations. Writes are all or
    // nothing: a tag that cannot be parsed on any page, or a value longer than a cell holds,
    // throws Error naming the page before anything is written.
    TagWriteCount SetTagValue(const QString &Name, const QString &Value);
    void CheckTagValue(const QString &Name, const QString &Value) const;
    // The first non-empty answer of the pages in order; "" when every page answers "".
    QString GetTagValue(const QString &Name) const;
    void SetTagValues(const QHash<QString, QString> &values);
    // Every name's answer, replacing the values.
    void GetTagValues(QHash<QString, QString> &names) const;
    // Every cell of every page that answers to `Name`, page by page.
    QList<QPair<TqzReportPage *, TReportCell *>> CellsOfName(const QString &Name) const;
    // Fills the "PAGENUM" and "PAGECOUNT" cells of every page and lays out again the pages whose
    // cells now need another height.
    void UpdatePageFields();

signals:
    // A write of the workbook (by tag, the page fields) changed cells of its pages. Changes made
    // on a page itself are the page's own signals.
    void cellsChanged();
    // Every page is about to be freed (a load, ClearPages): references to them must go now.
    void aboutToResetPages();
    // The pages were replaced (`loaded`, and the tab names may be new as well) or removed.
    void pagesReset(bool loaded);
    // A page was appended at `index`.
    void pageAdded(int index);

private:
    template<class E>
    void loadFrom(const E &element);
    void adopt(std::unique_ptr<TqzReportPage> page, std::optional<QString> unread);
    void checkAllTags() const;

    std::vector<std::unique_ptr<TqzReportPage>> m_pages;
    std::vector<std::optional<QString>> m_unread; // beside m_pages
    QStringList m_loadErrors;
    bool m_chartsElement = false; // the document loaded last had a "TqzCharts" element
};

// The page-number texts written into the "PAGENUM" and "PAGECOUNT" cells.
QString pageNumberText(int number);
QString pageCountText(int count);

} // namespace tessarin
