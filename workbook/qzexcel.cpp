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

const QString kDefaultPageName = QStringLiteral("默认页");
const QString kExcelElement = QStringLiteral("TqzExcel");
const QString kPageNumTag = QStringLiteral("PAGENUM");
const QString kPageCountTag = QStringLiteral("PAGECOUNT");

// Runs `work` for the page at `index` (0-based); an Error it throws is passed on prefixed with
// the page's number.
template<class Work>
auto onPage(qsizetype index, Work &&work)
{
    try {
        return work();
    } catch (const Error &e) {
        throw Error(QStringLiteral("page %1: %2").arg(index + 1).arg(e.message()));
    }
}

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

QString pageNumberText(int number)
{
    return QStringLiteral("第 %1 页").arg(number);
}

QString pageCountText(int count)
{
    return QStringLiteral("共 %1 页").arg(count);
}

// ---- construction and pages ----

TqzExcel::TqzExcel(QWidget *parent)
    : QWidget(parent)
    , PageNames{kDefaultPageName}
{
    hide();
    resize(0, 0);
}

TqzExcel::~TqzExcel()
{
    // The pages' destroyed handlers are disconnected with this object; drop the list first so
    // that nothing refers to pages the host frees below.
    Pages.clear();
    CurrentPage = nullptr;
    m_host.reset();
}

QWidget *TqzExcel::pagesParent()
{
    if (QWidget *parent = parentWidget())
        return parent;
    if (!m_host)
        m_host = std::make_unique<QWidget>();
    return m_host.get();
}

TqzReport *TqzExcel::newPage()
{
    auto *page = new TqzReport(pagesParent());
    page->OwnerIndex = OwnerIndex;
    return page;
}

void TqzExcel::adoptPage(TqzReport *page)
{
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
    // Pages that report their own changes (edits, table operations) pass them on.
    if (page->metaObject()->indexOfSignal("contentChanged()") >= 0)
        connect(page, SIGNAL(contentChanged()), this, SIGNAL(contentChanged()));
    page->show();
    Pages.append(page);
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
    m_unreadTexts.remove(page);
    if (CurrentPage == page)
        CurrentPage = nullptr;
}

TqzReport *TqzExcel::AddPage()
{
    TqzReport *page = newPage();
    adoptPage(page);
    Rearrange();
    Q_EMIT contentChanged();
    return page;
}

void TqzExcel::ClearPages()
{
    const QList<TqzReport *> pages = std::exchange(Pages, {});
    CurrentPage = nullptr;
    m_unreadTexts.clear();
    for (TqzReport *page : pages)
        delete page;
    if (!pages.isEmpty())
        Q_EMIT contentChanged();
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
    // A lean element tree instead of a DOM: a large workbook costs a fraction of the memory.
    const std::unique_ptr<XmlElement> root = parseXmlTree(stream, where);
    const XmlElement *element = firstChildNamed(*root, kExcelElement);
    if (!element)
        return;
    try {
        LoadFromXML(*element);
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
}

void TqzExcel::LoadFromXML(const QDomElement &element)
{
    loadFrom(element);
}

void TqzExcel::LoadFromXML(const XmlElement &element)
{
    loadFrom(element);
}

template<class E>
void TqzExcel::loadFrom(const E &element)
{
    // Read everything into detached pages first; only a complete read replaces the workbook.
    WorkbookRead read = readWorkbookElement(element, pageSetupFromPrinter(), OwnerIndex);

    HiddenWhile hidden(parentWidget());
    if (read.names)
        PageNames = *read.names;
    QSignalBlocker quiet(this); // one signal for the whole load, below
    ClearPages();
    QWidget *parent = pagesParent();
    for (WorkbookPageRead &pageRead : read.pages) {
        auto *view = new TqzReport(std::move(pageRead.page), parent);
        adoptPage(view);
        if (pageRead.unreadText)
            m_unreadTexts.insert(view, *pageRead.unreadText);
    }
    m_loadErrors = read.errors;
    if (TabSet) {
        while (TabSet->count() > 0)
            TabSet->removeTab(TabSet->count() - 1);
        for (const QString &name : std::as_const(PageNames))
            TabSet->addTab(name);
        if (TabSet->count() > 0)
            TabSet->setCurrentIndex(0);
    }
    ArrangePages(PageTop);
    quiet.unblock();
    Q_EMIT contentChanged();
}

void TqzExcel::SaveToXML(QDomElement &element)
{
    QList<const TqzReportPage *> pages;
    QList<std::optional<QString>> unread;
    pages.reserve(Pages.size());
    unread.reserve(Pages.size());
    for (const TqzReport *page : std::as_const(Pages)) {
        pages.append(&page->qzPage());
        const auto text = m_unreadTexts.constFind(page);
        unread.append(text != m_unreadTexts.cend() ? std::optional<QString>(*text) : std::nullopt);
    }
    writeWorkbookElement(element, PageNames, pages, unread);
}

QByteArray TqzExcel::SaveIntoDocument(const QByteArray &document, const QString &where)
{
    return spliceWorkbookElement(
        document, [this](QDomElement &element) { SaveToXML(element); }, where);
}

void TqzExcel::SaveToFile(const QString &FileName)
{
    if (!QFileInfo(FileName).isFile())
        return;
    const QByteArray bytes = SaveIntoDocument(readWholeFile(FileName), FileName);
    writeFileAtomically(FileName, bytes);
}

// ---- value exchange ----

void TqzExcel::checkAllTags()
{
    for (qsizetype k = 0; k < Pages.size(); ++k)
        onPage(k, [page = Pages[k]] { page->checkTags(); });
}

void TqzExcel::CheckTagValue(const QString &Name, const QString &Value)
{
    checkAllTags();
    const QHash<QString, QString> one{{Name, Value}};
    for (qsizetype k = 0; k < Pages.size(); ++k)
        onPage(k, [&] { Pages[k]->checkValueLengths(one); });
}

TagWriteCount TqzExcel::SetTagValue(const QString &Name, const QString &Value)
{
    CheckTagValue(Name, Value);
    TagWriteCount total;
    for (TqzReport *page : std::as_const(Pages)) {
        const TagWriteCount count = page->SetTagValue(Name, Value);
        total.matched += count.matched;
        total.changed += count.changed;
    }
    if (total.changed > 0)
        Q_EMIT contentChanged();
    return total;
}

void TqzExcel::SetTagValues(const QHash<QString, QString> &values)
{
    checkAllTags();
    for (qsizetype k = 0; k < Pages.size(); ++k)
        onPage(k, [&] { Pages[k]->checkValueLengths(values); });
    int changed = 0;
    for (TqzReport *page : std::as_const(Pages))
        changed += page->SetTagValues(values);
    if (changed > 0)
        Q_EMIT contentChanged();
}

void TqzExcel::GetTagValues(QHash<QString, QString> &names)
{
    for (auto it = names.begin(); it != names.end(); ++it)
        it->clear();
    for (qsizetype k = 0; k < Pages.size(); ++k)
        onPage(k, [&] { Pages[k]->GetTagValues(names); });
}

QString TqzExcel::GetTagValue(const QString &Name)
{
    for (qsizetype k = 0; k < Pages.size(); ++k) {
        const QString value = onPage(k, [&] { return Pages[k]->GetTagValue(Name); });
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

void TqzExcel::UpdatePageFields()
{
    checkAllTags();
    const int count = static_cast<int>(Pages.size());
    int changed = 0;
    for (int k = 0; k < count; ++k) {
        TqzReport *page = Pages[k];
        changed += page->SetTagValue(kPageNumTag, pageNumberText(k + 1)).changed;
        changed += page->SetTagValue(kPageCountTag, pageCountText(count)).changed;
        page->updateLayoutIfPending();
        page->update();
    }
    if (changed > 0)
        Q_EMIT contentChanged();
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
