#pragma once

// One page of the report workbook without any widget: a report page that knows its tab, turns
// itself into Base64 text and back, and reads and writes cell texts by tag name for the value
// exchange with the calculation nodes.

#include "celltag.h"
#include "qzchart.h"
#include "reportpage.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tessarin {

// What a write by tag did: the cells that answer to the name, and those whose text it changed.
struct TagWriteCount
{
    int matched = 0;
    int changed = 0;
};

class TqzReportPage : public TReportPage
{
    Q_OBJECT

public:
    explicit TqzReportPage(const PageSetup &setup = PageSetup::a4(), QObject *parent = nullptr);
    ~TqzReportPage() override;

    // Cell text that marks a run button; such cells are neither read nor written by tag.
    QString RunCaption;
    // 0-based index of the workbook tab the page belongs to.
    int OwnerIndex = 0;
    // Scratch parser, refilled for every tag examined; holds the fields of the last tag parsed.
    const std::unique_ptr<TqzCellTag> CellTag;

    // The page stream of the page as Base64 text (standard alphabet, "=" padding, one line).
    // Throws what writing the stream throws (for instance a cell text too long for the format).
    QString SaveToText() const;
    // Replaces the page with the page held in `Text` and returns true. Text that decodes to
    // bytes without a page stream's magic word (none at all, or a format this program does not
    // know) leaves the page empty and returns false. Text the codec refuses, or a page stream
    // that is damaged, throws Error and leaves the page as it was.
    bool LoadFromText(const QString &Text);

    // Tag exchange. A cell takes part unless its text is RunCaption or its tag, trimmed of
    // blanks and control characters, is empty; it answers to the name of its tag (a bracketed
    // tag reduced to its name) with a to z upper-cased, compared code unit for code unit with
    // the requested name, which is taken as given. Cells are visited line by line, left to
    // right. A bracketed tag too short to parse ends the exchange at that cell with Error naming
    // the line, the cell and the tag text.

    // Writes `Value` into every matching cell. All or nothing: when a tag of the page cannot be
    // parsed, nothing is written and Error is thrown.
    TagWriteCount SetTagValue(const QString &Name, const QString &Value);
    // The text of the first matching cell, even when it is empty; "" when none matches. Throws
    // when a tag that cannot be parsed comes before the first match (or there is no match).
    QString GetTagValue(const QString &Name);
    // Throws the error SetTagValue would throw for this page; does nothing for a sound page.
    void checkTags();
    // The cells that answer to `Name` (run buttons left out) in visiting order; cells after a
    // tag that cannot be parsed are not looked at.
    QList<TReportCell *> CellsOfName(const QString &Name);
    // The name `cell` answers to, or nothing (no tag, a run button, a tag that cannot be
    // parsed).
    std::optional<QString> NameOfCell(const TReportCell *cell) const;
    // Throws Error when a cell of this page answers to a name of `values` whose value is longer
    // than a cell may hold (MaxCellTextBytes in the code page). Checked before a write, so that
    // a runaway value neither reaches the layout (whose word wrap grows with the square of the
    // length) nor changes any cell.
    void checkValueLengths(const QHash<QString, QString> &values);
    // Batches for a run's many names, in one pass over the page's tagged cells. The same
    // result as SetTagValue of every pair (each cell answers to one name only). Returns the
    // number of cells whose text changed.
    int SetTagValues(const QHash<QString, QString> &values);
    // Each name of `answers` whose answer is still empty takes this page's GetTagValue; throws
    // as GetTagValue of such a name would.
    void GetTagValues(QHash<QString, QString> &answers);

    // A run button's caption is shown on screen and left out of print.
    bool isScreenOnlyText(const TReportCell &cell) const override
    {
        return cell.FCellText == RunCaption;
    }

    // The charts placed on the page (their `page` is set when the workbook saves them).
    QList<TqzChart> Charts;
    // The page-pixel rectangle of a chart's cells; empty when they are not on the page.
    QRectF chartArea(const TqzChart &chart) const;
    void paintOverlay(QPainter &painter) const override;

    // True when a write by tag changed the height a cell needs since the last layout; such a
    // page needs UpdateLines before it is painted or printed.
    bool layoutPending() const { return m_layoutPending; }
    // Runs UpdateLines when a write by tag left the layout out of date.
    void updateLayoutIfPending();

signals:
    // A write by tag is about to set the text of `cell`: a view with an edit box open on it
    // closes the box, which would otherwise store its old text over the new value later.
    void aboutToWriteCell(TReportCell *cell);

private:
    struct NameHash
    {
        size_t operator()(const QString &name) const noexcept;
    };
    // Tagged cells by exchange name, each name's cells chained in visiting order through
    // `next`; rebuilt when the page's content generation moves on, so it never goes stale.
    struct TagIndex
    {
        struct Entry
        {
            TReportCell *cell;
            qsizetype next; // next entry of the same name, -1 at the end
        };
        struct Chain
        {
            qsizetype first;
            qsizetype last;
        };
        struct BadTag
        {
            qsizetype before; // entries before it in visiting order
            TReportCell *cell;
            QString message;
        };
        quint64 generation = 0;
        std::vector<Entry> entries;
        std::unordered_map<QString, Chain, NameHash> chains;
        std::vector<BadTag> badTags; // tags that cannot be parsed, in visiting order
    };

    const TagIndex &tagIndex();
    // The first unparsable tag on a cell that is not a run button now, or null.
    const TagIndex::BadTag *firstBadTag(const TagIndex &index) const;
    // The cells of a chain that are not run buttons now, in visiting order.
    QList<TReportCell *> targetsOf(const TagIndex &index, const TagIndex::Chain &chain) const;
    // Returns true when the cell's text changed.
    bool writeCell(TReportCell *cell, const QString &value);

    std::unique_ptr<TagIndex> m_index;
    bool m_layoutPending = false;
};

} // namespace tessarin
