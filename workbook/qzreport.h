#pragma once

// The view of one workbook page (a TqzReportPage it owns or is given): a report grid widget
// whose page knows its tab, its Base64 text and its tags. The page's fields and tag operations
// are reachable through the widget, which forwards them to the page.

#include "qzreportpage.h"
#include "reportcontrol.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

namespace tessarin {

class TqzReport : public TReportControl
{
    Q_OBJECT

public:
    // A new page of the printer layer's setup, owned by the view.
    explicit TqzReport(QWidget *parent = nullptr);
    // A new page of `setup`, owned by the view; no printer is asked.
    explicit TqzReport(const PageSetup &setup, QWidget *parent = nullptr);
    // Views `page`, which must outlive the view.
    explicit TqzReport(TqzReportPage &page, QWidget *parent = nullptr);
    // Views `page` and owns it.
    explicit TqzReport(std::unique_ptr<TqzReportPage> page, QWidget *parent = nullptr);
    ~TqzReport() override;

    // The workbook page viewed.
    TqzReportPage &qzPage() const { return *m_qzPage; }

    // ---- the page's fields and operations, as the page holds them (see TqzReportPage) ----
    QString &RunCaption;
    int &OwnerIndex;
    const std::unique_ptr<TqzCellTag> &CellTag;

    QString SaveToText() { return m_qzPage->SaveToText(); }
    // The page's LoadFromText; the view's selection is dropped with the cells.
    bool LoadFromText(const QString &Text);
    TagWriteCount SetTagValue(const QString &Name, const QString &Value)
    {
        return m_qzPage->SetTagValue(Name, Value);
    }
    QString GetTagValue(const QString &Name) { return m_qzPage->GetTagValue(Name); }
    void checkTags() { m_qzPage->checkTags(); }
    QList<TReportCell *> CellsOfName(const QString &Name) { return m_qzPage->CellsOfName(Name); }
    std::optional<QString> NameOfCell(const TReportCell *cell) const
    {
        return m_qzPage->NameOfCell(cell);
    }
    void checkValueLengths(const QHash<QString, QString> &values)
    {
        m_qzPage->checkValueLengths(values);
    }
    int SetTagValues(const QHash<QString, QString> &values)
    {
        return m_qzPage->SetTagValues(values);
    }
    void GetTagValues(QHash<QString, QString> &answers) { m_qzPage->GetTagValues(answers); }
    bool layoutPending() const { return m_qzPage->layoutPending(); }
    void updateLayoutIfPending() { m_qzPage->updateLayoutIfPending(); }

    // A run button's caption is shown on screen and left out of print.
    bool isScreenOnlyText(const TReportCell &cell) const override
    {
        return m_qzPage->isScreenOnlyText(cell);
    }

    // Does nothing: a workbook page draws no extras under its cells.
    void DrawPrepare(QPainter &painter) override;

private:
    TqzReport(std::unique_ptr<TqzReportPage> owned, TqzReportPage *page, QWidget *parent);

    TqzReportPage *const m_qzPage;
};

} // namespace tessarin
