#include "qzreport.h"

#include "printdevice.h"

namespace tessarin {

TqzReport::TqzReport(QWidget *parent)
    : TqzReport(pageSetupFromPrinter(), parent)
{}

TqzReport::TqzReport(const PageSetup &setup, QWidget *parent)
    : TqzReport(std::make_unique<TqzReportPage>(setup), nullptr, parent)
{}

TqzReport::TqzReport(TqzReportPage &page, QWidget *parent)
    : TqzReport(nullptr, &page, parent)
{}

TqzReport::TqzReport(std::unique_ptr<TqzReportPage> page, QWidget *parent)
    : TqzReport(std::move(page), nullptr, parent)
{}

TqzReport::TqzReport(std::unique_ptr<TqzReportPage> owned, TqzReportPage *page, QWidget *parent)
    : TReportControl(std::move(owned), page, parent)
    , RunCaption(static_cast<TqzReportPage &>(this->page()).RunCaption)
    , OwnerIndex(static_cast<TqzReportPage &>(this->page()).OwnerIndex)
    , CellTag(static_cast<TqzReportPage &>(this->page()).CellTag)
    , m_qzPage(&static_cast<TqzReportPage &>(this->page()))
{
    connect(m_qzPage, &TqzReportPage::aboutToWriteCell, this, [this](TReportCell *cell) {
        if (cell == FEditCell)
            FreeEdit();
    });
}

TqzReport::~TqzReport() = default;

void TqzReport::DrawPrepare(QPainter &) {}

bool TqzReport::LoadFromText(const QString &Text)
{
    const bool isPage = m_qzPage->LoadFromText(Text);
    if (!isPage) {
        RemoveAllSelectedCell();
        update();
    }
    return isPage;
}

} // namespace tessarin
