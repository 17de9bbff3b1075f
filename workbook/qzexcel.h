#pragma once

// The view of a report workbook (TqzWorkbook): one page view per page, laid out in the report
// area under the tab bar, the edit boxes and marks of the pages, and printing. What it stores
// and exchanges (pages, tabs, tags, the project-file element) it forwards to the workbook.

#include "qzreport.h"
#include "qzworkbook.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QDomElement;
class QPrinter;
class QTabBar;

namespace tessarin {

struct XmlElement;

class TqzExcel : public QWidget
{
    Q_OBJECT

public:
    // Handler of a mouse press on a page: the page and the press as the page reports it.
    using PageMouseHandler = std::function<void(TqzReport *page,
                                                Qt::MouseButton button,
                                                Qt::KeyboardModifiers modifiers,
                                                const QPoint &pos)>;

    // A view of a workbook of its own, without pages and with the one tab name "默认页". It
    // has no surface of its own; its page views become children of its parent widget (of a
    // hidden host widget it owns while it has no parent). New pages take the printer's setup.
    explicit TqzExcel(QWidget *parent = nullptr);
    // A view of `workbook`, which must outlive it; it gets a view of each of its pages.
    explicit TqzExcel(TqzWorkbook &workbook, QWidget *parent = nullptr);
    // Frees the page views (wherever they are parented), then the workbook when it owns one.
    ~TqzExcel() override;

    // The workbook viewed.
    TqzWorkbook &workbook() const { return *m_book; }

    // The page that last received a mouse press (set through SetCurrentPage); never a page
    // that has been freed.
    TqzReport *CurrentPage = nullptr;
    // The tab currently shown; new pages take this value (the workbook's field).
    int &OwnerIndex;
    // The views of the workbook's pages, in its order. A view freed by its parent leaves the
    // list.
    QList<TqzReport *> Pages;
    // Tab captions: tab i shows the pages whose OwnerIndex is i (the workbook's field).
    QStringList &PageNames;
    // Given to every page created afterwards as the receiver of its mouse presses.
    PageMouseHandler OnPageMouseDown;
    int PageTop = 15;     // y of the first page when the layout starts at the top
    int PageGap = 10;     // vertical gap between two shown pages
    int PageLeftMin = 15; // smallest x of a page
    // The IDE's tab bar; its tabs are replaced by PageNames when the workbook loads.
    QPointer<QTabBar> TabSet;
    // Given to every page created afterwards: which of its cells take input.
    std::function<bool(const TqzReport *page, const TReportCell *cell)> IsInputCell;

    // Confirms the edit box open on any page (see TReportControl::EndEdit); true when one was.
    bool EndEdits();
    // True while an edit box is open on a page.
    bool isEditing() const;
    // Every cell of every page that answers to `Name`, page by page.
    QList<QPair<TqzReport *, TReportCell *>> CellsOfName(const QString &Name);
    // Drops the view marks of `mark`'s kind on every page (all marks for None).
    void ClearCellMarks(TReportControl::CellMark mark = TReportControl::CellMark::None);

    // ---- pages and layout (sizes are the widgets' outer sizes) ----
    TqzReport *AddPage();
    // Frees every page and empties Pages; CurrentPage becomes none.
    void ClearPages();
    // CurrentPage = `Object` when it is one of Pages, else none.
    void SetCurrentPage(QObject *Object);
    TqzReport *GetCurrentPage() const;
    // Shows exactly the pages of tab `TabIndex`, makes it the current tab and lays them out
    // from PageTop.
    void ShowOwnerPages(int TabIndex);
    // Stacks the shown pages from y = `Top`, each centred in its parent (x never below
    // PageLeftMin); hidden pages keep their place.
    void ArrangePages(int Top);
    // The y of the first shown page; PageTop when none is shown.
    int FirstShownTop() const;
    // Lays the pages out again, keeping the first shown page where it is (from PageTop when
    // there is a single page).
    void Rearrange();

    // ---- persistence ----
    // Reads the workbook from the first "TqzExcel" child of a project document's element;
    // without one the workbook stays as it is. Throws Error (prefixed with `where`) for a
    // document that is not well-formed and for what LoadFromXML throws.
    void LoadFromStream(const QByteArray &stream,
                        const QString &where = QStringLiteral("project stream"));
    // Replaces the tab names (when "ShowPages" is present) and all pages by those of
    // `element`: one page per child element, in order, whatever its name. The element is read
    // completely before anything changes: an "OwnerIndex" that is not a decimal integer throws
    // Error naming the page and leaves the workbook as it was. A page whose "SaveText" cannot
    // be decoded or does not hold a sound page stream is loaded empty and the reason is kept in
    // loadErrors(); every other page loads.
    void LoadFromXML(const QDomElement &element);
    // The same from the lean element tree (parseXmlTree), for loading large files.
    void LoadFromXML(const XmlElement &element);
    // Writes "ShowPages" and one "TqzReport" child per page (its Base64 text and its
    // OwnerIndex), replacing the element's children. Every page is written out first, so an
    // error (naming the page) leaves the element untouched. A page that failed to load and is
    // still empty is written with the text it was loaded from, so saving never turns a damaged
    // page into an empty one.
    void SaveToXML(QDomElement &element);
    // Replaces the "TqzExcel" element of an existing project file (appending one when there is
    // none) and leaves the rest of the document as it was read; the file is replaced
    // atomically. A file that does not exist is left alone. A file that is not well-formed, or
    // is not a project file (see SaveIntoDocument), is refused with Error and left unchanged.
    void SaveToFile(const QString &FileName);
    // The project document `document` with its "TqzExcel" element replaced as SaveToFile does,
    // as bytes in the document's declared encoding. A project document's element holds
    // "TRTL", "TVariables", "TProcess" or "TqzExcel" children, or nothing at all (a new, empty
    // project); any other document (an HTML page, another program's XML) is refused with
    // Error rather than given a workbook element.
    QByteArray SaveIntoDocument(const QByteArray &document,
                                const QString &where = QStringLiteral("project document"));

    // What went wrong per page during the last load (empty when every page loaded), each
    // naming the page (1-based) and the line of its element, e.g. "page 2 (line 13): Base64
    // text: ...; the page is left empty". A text holding no page stream this program knows (a
    // later format, say) is reported the same way; like a damaged page it is shown empty and
    // written back unchanged.
    const QStringList &loadErrors() const { return m_book->loadErrors(); }

    // ---- value exchange ----
    // Writes `Value` into every matching cell of every page and says how many cells answered
    // to the name and how many of them changed. All or nothing: a tag that cannot be parsed on
    // any page throws Error naming the page, line, cell and tag before anything is written.
    // A value longer than a cell holds (MaxCellTextBytes) for a name some cell answers to is
    // refused the same way.
    TagWriteCount SetTagValue(const QString &Name, const QString &Value);
    // Throws the error SetTagValue(Name, Value) would throw; changes nothing.
    void CheckTagValue(const QString &Name, const QString &Value);
    // The first non-empty answer of the pages in order; "" when every page answers "".
    QString GetTagValue(const QString &Name);
    // SetTagValue of every pair, and GetTagValue of every name (the answers replace the
    // values), in one pass over each page's tagged cells rather than one per name.
    // SetTagValues signals contentChanged when a cell changed, as SetTagValue does, and is all
    // or nothing in the same way over all its pairs.
    void SetTagValues(const QHash<QString, QString> &values);
    void GetTagValues(QHash<QString, QString> &names);
    // Fills the "PAGENUM" and "PAGECOUNT" cells of every page, shown or not, and repaints the
    // pages (laying out again those whose cells now need another height).
    void UpdatePageFields();

Q_SIGNALS:
    // The pages' content changed: pages were loaded or cleared, a write by tag or the page
    // fields changed a cell, or a page reported a change of its own.
    void contentChanged();
    // The user changed the text of `cell` on `page` (TReportControl::cellEdited).
    void cellEdited(TqzReport *page, TReportCell *cell);
    // The user changed texts of `page` in one operation (TReportControl::textsEdited).
    void textsEdited(TqzReport *page, const QList<tessarin::TCellTextEdit> &edits);
    // A line height or column edge drag of `page` begins, and has ended (TReportControl).
    void dragStarted(TqzReport *page);
    void dragFinished(TqzReport *page);

public:
    // ---- printing ----
    // Refreshes the page fields, then prints every page (all tabs, shown or not) as one job on
    // `printer` (the application's printer when null), one sheet per page.
    void PrintAll(QPrinter *printer = nullptr);
    // Prints the current page as one job; nothing when there is none. The page fields are not
    // refreshed.
    void PrintCurrent(QPrinter *printer = nullptr);
    // PrintAll (or PrintCurrent when `currentOnly`) into the PDF file `fileName` titled
    // `docName`, the sheet starting on the paper of the first page printed. The PDF is printed
    // beside the target and moved over it once complete, so a failure never leaves a
    // half-written file; Error says why. Nothing is written without a page to print.
    void PrintToPdf(const QString &fileName, const QString &docName, bool currentOnly = false);
    // Prints the given pages, in the given order, as one job on `printer` (the application's
    // printer when null); nothing for an empty list.
    void printPages(const QList<TqzReport *> &pages, QPrinter *printer);

private:
    TqzExcel(std::unique_ptr<TqzWorkbook> owned, TqzWorkbook *workbook, QWidget *parent);
    QWidget *pagesParent();
    TqzReport *viewPage(TqzReportPage &page);
    void forgetPage(TqzReport *page);
    // Frees every page view (the workbook is about to free their pages).
    void dropViews();
    // A view of each page, laid out; after a load the tab bar shows the tab names again.
    void viewAllPages(bool loaded);
    void pagesChangedByWorkbook();

    std::unique_ptr<TqzWorkbook> m_ownBook;
    TqzWorkbook *const m_book;
    std::unique_ptr<QWidget> m_host; // parent of the pages while the workbook has no parent
    bool m_hadViews = false; // from the workbook's aboutToResetPages to its pagesReset
};

} // namespace tessarin
