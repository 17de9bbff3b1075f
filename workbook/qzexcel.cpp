#include "qzexcel.h"

#include "atomicfile.h"
#include "error.h"
#include "printdevice.h"
#include "printerlayer.h"
#include "textcodec.h"
#include "textlines.h"
#include "workbookformat.h"
#include "xmldocument.h"
#include "xmltree.h"

#include <QDomDocument>
#include <QFileInfo>
#include <QPrinter>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace tessarin {

namespace {

// Hides a widget for the lifetime of the guard and shows it again if it was shown before.
class HiddenWhile
{
public:
    explicit HiddenWhile(QWidget *widget)
        : m_widget(widget)
        , m_wasHidden(!widget || widget->isHidden())
    {
        if (!m_wasHidden)
            m_widget->hide();
    }
    ~HiddenWhile()
    {
        if (!m_wasHidden && m_widget)
            m_widget->show();
    }
    HiddenWhile(const HiddenWhile &) = delete;
    HiddenWhile &operator=(const HiddenWhile &) = delete;

private:
    QPointer<QWidget> m_widget;
    bool m_wasHidden;
};

} // namespace

// ---- construction and pages ----

TqzExcel::TqzExcel(QWidget *parent)
    : TqzExcel(std::make_unique<TqzWorkbook>(), nullptr, parent)
{
    m_book->NewPageSetup = pageSetupFromPrinter();
}

TqzExcel::TqzExcel(TqzWorkbook &workbook, QWidget *parent)
    : TqzExcel(nullptr, &workbook, parent)
{}

TqzExcel::TqzExcel(std::unique_ptr<TqzWorkbook> owned, TqzWorkbook *workbook, QWidget *parent)
    : QWidget(parent)
    , OwnerIndex(workbook ? workbook->OwnerIndex : owned->OwnerIndex)
    , PageNames(workbook ? workbook->PageNames : owned->PageNames)
    , m_ownBook(std::move(owned))
    , m_book(workbook ? workbook : m_ownBook.get())
{
    hide();
    resize(0, 0);
    connect(m_book, &TqzWorkbook::aboutToResetPages, this, [this] {
        m_hadViews = !Pages.isEmpty();
        dropViews();
    });
    connect(m_book, &TqzWorkbook::pagesReset, this, [this](bool loaded) {
        viewAllPages(loaded);
        if (loaded || std::exchange(m_hadViews, false))
            Q_EMIT contentChanged();
    });
    connect(m_book, &TqzWorkbook::pageAdded, this, [this](int index) {
        viewPage(*m_book->page(index));
        Rearrange();
        Q_EMIT contentChanged();
    });
    connect(m_book, &TqzWorkbook::cellsChanged, this, &TqzExcel::pagesChangedByWorkbook);
    if (m_book->pageCount() > 0)
        viewAllPages(false);
}

TqzExcel::~TqzExcel()
{
    disconnect(m_book, nullptr, this, nullptr);
    dropViews();
    m_host.reset();
    m_ownBook.reset();
}

QWidget *TqzExcel::pagesParent()
{
    if (QWidget *parent = parentWidget())
        return parent;
    if (!m_host)
        m_host = std::make_unique<QWidget>();
    return m_host.get();
}

TqzReport *TqzExcel::viewPage(TqzReportPage &model)
{
    auto *page = new TqzReport(model, pagesParent());
    if (OnPageMouseDown) {
        const PageMouseHandler handler = OnPageMouseDown;
        connect(page,
                &TReportControl::OnMouseDown,
                this,
                [handler, page](Qt::MouseButton button,
                                Qt::KeyboardModifiers modifiers,
                                const QPoint &pos) { handler(page, button, modifiers, pos); });
    }
    connect(page, &QObject::destroyed, this, [this, page] { forgetPage(page); });
    connect(page, &TReportControl::cellEdited, this, [this, page](TReportCell *cell) {
        Q_EMIT cellEdited(page, cell);
    });
    connect(page,
            &TReportControl::textsEdited,
            this,
            [this, page](const QList<TCellTextEdit> &edits) { Q_EMIT textsEdited(page, edits); });
    if (IsInputCell) {
        const auto isInput = IsInputCell;
        page->isInputCell
            = [isInput, page](const TReportCell *cell) { return isInput(page, cell); };
    }
    // Changes made on a page (edits, table operations) pass on.
    connect(page, &TReportControl::contentChanged, this, &TqzExcel::contentChanged);
    connect(page, &TReportControl::dragStarted, this, [this, page] { Q_EMIT dragStarted(page); });
    connect(page, &TReportControl::dragFinished, this, [this, page] { Q_EMIT dragFinished(page); });
    page->show();
    Pages.append(page);
    return page;
}

void TqzExcel::dropViews()
{
    const QList<TqzReport *> views = std::exchange(Pages, {});
    CurrentPage = nullptr;
    for (TqzReport *page : views)
        delete page;
}

void TqzExcel::viewAllPages(bool loaded)
{
    HiddenWhile hidden(parentWidget());
    dropViews();
    for (int k = 0; k < m_book->pageCount(); ++k)
        viewPage(*m_book->page(k));
    if (loaded && TabSet) {
        while (TabSet->count() > 0)
            TabSet->removeTab(TabSet->count() - 1);
        for (const QString &name : std::as_const(PageNames))
            TabSet->addTab(name);
        if (TabSet->count() > 0)
            TabSet->setCurrentIndex(0);
    }
    ArrangePages(PageTop);
}

void TqzExcel::pagesChangedByWorkbook()
{
    for (TqzReport *page : std::as_const(Pages))
        page->update();
    Q_EMIT contentChanged();
}

bool TqzExcel::isEditing() const
{
    return std::any_of(
        Pages.cbegin(), Pages.cend(), [](const TqzReport *page) { return page->isEditing(); });
}

bool TqzExcel::EndEdits()
{
    bool ended = false;
    for (TqzReport *page : std::as_const(Pages))
        ended = page->EndEdit() || ended;
    return ended;
}

QList<QPair<TqzReport *, TReportCell *>> TqzExcel::CellsOfName(const QString &Name)
{
    QList<QPair<TqzReport *, TReportCell *>> out;
    for (TqzReport *page : std::as_const(Pages))
        for (TReportCell *cell : page->CellsOfName(Name))
            out.append({page, cell});
    return out;
}

void TqzExcel::ClearCellMarks(TReportControl::CellMark mark)
{
    for (TqzReport *page : std::as_const(Pages))
        page->ClearCellMarks(mark);
}

void TqzExcel::forgetPage(TqzReport *page)
{
    Pages.removeAll(page);
    if (CurrentPage == page)
        CurrentPage = nullptr;
}

TqzReport *TqzExcel::AddPage()
{
    m_book->AddPage();
    return Pages.isEmpty() ? nullptr : Pages.back();
}

void TqzExcel::ClearPages()
{
    m_book->ClearPages();
}

void TqzExcel::SetCurrentPage(QObject *Object)
{
    CurrentPage = nullptr;
    for (TqzReport *page : std::as_const(Pages))
        if (page == Object)
            CurrentPage = page;
}

TqzReport *TqzExcel::GetCurrentPage() const
{
    return Pages.isEmpty() ? nullptr : CurrentPage;
}

void TqzExcel::ShowOwnerPages(int TabIndex)
{
    OwnerIndex = TabIndex;
    for (TqzReport *page : std::as_const(Pages))
        page->setHidden(page->OwnerIndex != TabIndex);
    ArrangePages(PageTop);
}

void TqzExcel::ArrangePages(int Top)
{
    int y = Top;
    for (TqzReport *page : std::as_const(Pages)) {
        if (page->isHidden())
            continue;
        const QWidget *parent = page->parentWidget();
        const int parentWidth = parent ? parent->width() : 0;
        const QRect frame = page->frameGeometry();
        // Integer division truncates toward zero, as the layout wants for negative values.
        int x = (parentWidth - frame.width() - 20) / 2;
        if (x < PageLeftMin)
            x = PageLeftMin;
        page->move(x, y);
        y += frame.height() + PageGap;
    }
}

int TqzExcel::FirstShownTop() const
{
    for (const TqzReport *page : Pages)
        if (!page->isHidden())
            return page->frameGeometry().top();
    return PageTop;
}

void TqzExcel::Rearrange()
{
    ArrangePages(Pages.size() == 1 ? PageTop : FirstShownTop());
}

// ---- persistence ----

void TqzExcel::LoadFromStream(const QByteArray &stream, const QString &where)
{
    m_book->LoadFromStream(stream, where);
}

void TqzExcel::LoadFromXML(const QDomElement &element)
{
    m_book->LoadFromXML(element);
}

void TqzExcel::LoadFromXML(const XmlElement &element)
{
    m_book->LoadFromXML(element);
}

void TqzExcel::SaveToXML(QDomElement &element)
{
    m_book->SaveToXML(element);
}

QByteArray TqzExcel::SaveIntoDocument(const QByteArray &document, const QString &where)
{
    return m_book->SaveIntoDocument(document, where);
}

void TqzExcel::SaveToFile(const QString &FileName)
{
    if (!QFileInfo(FileName).isFile())
        return;
    const QByteArray bytes = SaveIntoDocument(readWholeFile(FileName), FileName);
    writeFileAtomically(FileName, bytes);
}

// ---- value exchange ----

void TqzExcel::CheckTagValue(const QString &Name, const QString &Value)
{
    m_book->CheckTagValue(Name, Value);
}

TagWriteCount TqzExcel::SetTagValue(const QString &Name, const QString &Value)
{
    return m_book->SetTagValue(Name, Value);
}

void TqzExcel::SetTagValues(const QHash<QString, QString> &values)
{
    m_book->SetTagValues(values);
}

void TqzExcel::GetTagValues(QHash<QString, QString> &names)
{
    m_book->GetTagValues(names);
}

QString TqzExcel::GetTagValue(const QString &Name)
{
    return m_book->GetTagValue(Name);
}

void TqzExcel::UpdatePageFields()
{
    m_book->UpdatePageFields();
    for (TqzReport *page : std::as_const(Pages))
        page->update();
}

// ---- printing ----

void TqzExcel::printPages(const QList<TqzReport *> &pages, QPrinter *printer)
{
    if (pages.isEmpty())
        return;
    if (!printer)
        printer = printerLayer().printer();
    if (!printer)
        throw Error(QStringLiteral("printing: no printer is available"));
    // Each sheet takes the paper of the page printed on it.
    TPrintJob job(*printer, pages.front());
    bool first = true;
    for (TqzReport *page : pages) {
        if (!first)
            job.NewPage(page);
        first = false;
        page->updateLayoutIfPending();
        page->PrintIt();
    }
    job.EndDoc();
}

void TqzExcel::PrintAll(QPrinter *printer)
{
    UpdatePageFields();
    printPages(Pages, printer);
}

void TqzExcel::PrintCurrent(QPrinter *printer)
{
    TqzReport *page = GetCurrentPage();
    if (!page)
        return;
    printPages({page}, printer);
}

void TqzExcel::PrintToPdf(const QString &fileName, const QString &docName, bool currentOnly)
{
    const TqzReport *first = currentOnly ? CurrentPage : (Pages.isEmpty() ? nullptr : Pages[0]);
    if (!first)
        return;
    QTemporaryDir scratch(QFileInfo(fileName).absolutePath() + QStringLiteral("/.pdf-XXXXXX"));
    if (!scratch.isValid())
        throw Error(QStringLiteral("%1: cannot create a temporary folder beside it: %2")
                        .arg(fileName, scratch.errorString()));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(scratch.filePath(QStringLiteral("out.pdf")));
    printer.setDocName(docName);
    applyPaperToPrinter(
        printer, first->FPaperSize, first->FOrientation, first->FPaperLength, first->FPaperWidth);
    if (currentOnly)
        PrintCurrent(&printer);
    else
        PrintAll(&printer);
    writeFileAtomically(fileName, readWholeFile(printer.outputFileName()));
}

} // namespace tessarin
