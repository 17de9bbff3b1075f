#pragma once
// The undo steps of a project: every change to the pages and nodes goes onto the project's undo
// stack as one of these. They address cells by position (page, line, cell) and nodes by their
// index in tree order, never by pointer, so a step stays valid while pages are reloaded and
// cells are replaced.
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QUndoCommand>

#include "qzchart.h"

namespace tessarin {

// A cell's text before and after a change.
struct TqzCellText
{
    int page = 0;
    int line = 0;
    int cell = 0;
    QString before;
    QString after;
};

// A node's value before and after a change.
struct TqzNodeValue
{
    int node = 0;
    QString before;
    QString after;
};

// What a project window shows about its results besides the texts: the names of stale results,
// the cell marks, and the status line.
struct TqzResultView
{
    struct Mark
    {
        int page = 0;
        int line = 0;
        int cell = 0;
        int kind = 0;
        QString tip;
        bool operator==(const Mark &) const = default;
    };
    QSet<QString> stale;
    QList<Mark> marks;
    QString status;
    bool statusError = false;
    bool operator==(const TqzResultView &) const = default;
};

// The tabs and pages of a workbook as a tab edit keeps them: the workbook element's text (tab
// names and page texts), the charts of the pages, and the tab shown.
struct TqzWorkbookState
{
    QString element;
    QList<TqzChart> charts;
    int tab = 0;
};

// What an undo step changes; the project window implements it.
class TqzEditTarget
{
public:
    virtual ~TqzEditTarget() = default;
    // Puts the `before` (or `after`) texts and values in place.
    virtual void
    applyTexts(const QList<TqzCellText> &cells, const QList<TqzNodeValue> &nodes, bool after)
        = 0;
    // Replaces page `page` by the page stream `stream`.
    virtual void applyPageStream(int page, const QByteArray &stream) = 0;
    virtual void applyResultView(const TqzResultView &view) = 0;
    // Replaces the tabs and pages by `state`.
    virtual void applyWorkbook(const TqzWorkbookState &state) = 0;
};

// One step already taken when it is pushed (its first redo does nothing): `apply` puts its
// state before or after in place, and the result view of that moment follows.
class TqzStepCommand : public QUndoCommand
{
public:
    TqzStepCommand(TqzEditTarget &target,
                   const QString &text,
                   TqzResultView viewBefore,
                   TqzResultView viewAfter);

    void undo() override;
    void redo() override;

protected:
    virtual void apply(bool after) = 0;
    TqzEditTarget &m_target;

private:
    TqzResultView m_viewBefore;
    TqzResultView m_viewAfter;
    bool m_pushed = true;
};

// Texts of cells and values of nodes changed in one step: an edit confirmed, Delete, a paste,
// a run's results, a test-data set loaded.
class TqzTextsCommand : public TqzStepCommand
{
public:
    TqzTextsCommand(TqzEditTarget &target,
                    const QString &text,
                    QList<TqzCellText> cells,
                    QList<TqzNodeValue> nodes,
                    TqzResultView viewBefore,
                    TqzResultView viewAfter);

    const QList<TqzCellText> &cells() const { return m_cells; }
    const QList<TqzNodeValue> &nodes() const { return m_nodes; }

private:
    void apply(bool after) override { m_target.applyTexts(m_cells, m_nodes, after); }
    QList<TqzCellText> m_cells;
    QList<TqzNodeValue> m_nodes;
};

// A structural or format edit of one page (lines, cells, merges, widths, heights, page setup,
// formats), kept as the page stream before and after it: undone, the page is byte for byte what
// it was.
class TqzPageCommand : public TqzStepCommand
{
public:
    TqzPageCommand(TqzEditTarget &target,
                   const QString &text,
                   int page,
                   QByteArray before,
                   QByteArray after,
                   TqzResultView viewBefore,
                   TqzResultView viewAfter);

private:
    void apply(bool after) override
    {
        m_target.applyPageStream(m_page, after ? m_after : m_before);
    }
    int m_page;
    QByteArray m_before;
    QByteArray m_after;
};

// The changes between two snapshots of texts, each a list of pages of lines of cells: the cells
// whose text differs, at positions both snapshots have (a page whose shape changed is compared
// where it overlaps).
QList<TqzCellText> diffTexts(const QList<QList<QStringList>> &before,
                             const QList<QList<QStringList>> &after);
// The same for node values in tree order.
QList<TqzNodeValue> diffValues(const QStringList &before, const QStringList &after);

// Tabs and pages added, removed, renamed or reordered, kept as the workbook before and after.
class TqzWorkbookCommand : public TqzStepCommand
{
public:
    TqzWorkbookCommand(TqzEditTarget &target,
                       const QString &text,
                       TqzWorkbookState before,
                       TqzWorkbookState after,
                       TqzResultView viewBefore,
                       TqzResultView viewAfter)
        : TqzStepCommand(target, text, std::move(viewBefore), std::move(viewAfter))
        , m_before(std::move(before))
        , m_after(std::move(after))
    {}

private:
    void apply(bool after) override { m_target.applyWorkbook(after ? m_after : m_before); }
    TqzWorkbookState m_before;
    TqzWorkbookState m_after;
};

} // namespace tessarin
