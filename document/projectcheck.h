#pragma once
// A check of a project without running it: formulas against the names, the run order and the
// interpreter, names and codes against each other, and the tagged cells of the pages against the
// nodes. The project and its pages are left exactly as they were.
#include <QList>
#include <QString>
#include <QStringList>

namespace tessarin {

class TqzProject;
class TqzWorkbook;

// One thing found wrong or doubtful.
//
// `node` is the node's name (or, for a name no node defines, that name); `page` and `cell` place
// a cell: `page` is the caption of the tab that holds the page when the tab holds that page
// alone, else "page N" with N counting the workbook's pages from 1; `cell` is "line L, cell C",
// both counted from 1. Fields that do not apply are empty.
struct ProjectFinding
{
    QString kind;
    QString severity; // "error" or "warning"
    QString node;
    QString page;
    QString cell;
    QString message;
    // Where it is: the node's absolute index in the tree, the page's index in the workbook and
    // the cell's line and position on it (0-based); -1 where it does not apply.
    int item = -1;
    int pageIndex = -1;
    int line = -1;
    int cellIndex = -1;
};

struct ProjectCheckResult
{
    // Node findings in tree order, then cell findings in page, line and cell order.
    QList<ProjectFinding> findings;
    // Why part of the project could not be checked (no interpreter, the time allowed used up,
    // namesakes nested beyond what a run may do); empty when all of it was.
    QStringList notChecked;
    bool hasErrors() const;
};

struct ProjectCheckOptions
{
    // The time formulas may take to evaluate, all together, in milliseconds; formulas not
    // reached by then are left unchecked (and said so). Each formula has the interpreter's own
    // limit as well.
    qint64 evaluationBudgetMs = 20'000;
};

// The kinds of findings, as printed. The first three are errors, the others warnings.
namespace findingkind {
inline constexpr char UnknownName[] = "unknown-name";
inline constexpr char UsedBeforeComputed[] = "used-before-computed";
inline constexpr char CompileError[] = "compile-error";
inline constexpr char DuplicateName[] = "duplicate-name";
inline constexpr char DuplicateCode[] = "duplicate-code";
inline constexpr char InputNotShown[] = "input-not-shown";
inline constexpr char TagWithoutNode[] = "tag-without-node";
inline constexpr char ResultCellWithoutFormula[] = "result-cell-without-formula";
inline constexpr char UnusedInput[] = "unused-input";
} // namespace findingkind

// Checks `project` with `workbook`. Formulas are evaluated in the order a run evaluates them
// ("运行工程" over the first top-level item, then each top-level item no earlier walk reached,
// as "模块运行" would), with the values a run would start from and the results of the formulas
// before them, on a value table of the check's own.
//
// A cell is marked as a result by a bracketed tag whose second value is 0 ("[2][0][0][NAME]"),
// as an input by one whose second value is 1; a plain tag marks neither.
ProjectCheckResult checkProject(const TqzProject &project,
                                const TqzWorkbook &workbook,
                                const ProjectCheckOptions &options = {});

} // namespace tessarin
