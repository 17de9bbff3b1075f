#pragma once
// The readable source of the packaged calculation (a node tree and page descriptions in plain
// text) and how it becomes the project document that the calculation module delivers.
#include "qzchart.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace tessarin {

class TqzProject;
class TqzReportPage;

// One node line of the tree source: "NAME | CODE | UNIT | VALUE", indented two blanks per
// level; VALUE "= FORMULA" makes a result, "DEFAULT = FORMULA" an input whose formula may
// replace the typed value.
struct PackNode
{
    int depth = 0;
    QString name;
    QString code;
    QString unit;
    QString value;  // default of an input; empty for a result
    QString script; // formula of a result or of a computed input; empty for a plain input
    int line = 0;   // 1-based line in the source, for messages
};

// One cell of a page line: it spans `span` base columns.
struct PackCell
{
    // Field: a tagged cell of the sheet that is no node (title block, remarks). Copy: one more
    // place that shows a node's value (another sheet's title block, say); the run reads the
    // first of the node's cells that holds text, in page order.
    enum Kind { Label, Field, Input, Result, Copy, RunButton, PageNumber, PageCount };
    Kind kind = Label;
    int span = 1;
    QString text;          // label text, or the text an input starts with
    QString tag;           // the node name (or field name) the cell exchanges its value under
    QString format;        // display format of a result or of a computed input
    bool computed = false; // an input whose node's formula may replace the typed value
    int align = -1;        // TEXT_ALIGN_*; -1 takes the kind's usual alignment
    bool bold = false;
};

// One line of a page; `style` sets font, borders and background of all its cells.
struct PackLine
{
    enum Style { Body, Company, Title, Heading, Note, Foot };
    Style style = Body;
    int height = 0; // minimum height in page pixels; 0 for the text's own height
    std::vector<PackCell> cells;
    int line = 0;
};

// A chart over the last `lines` lines of a page declared before it (all their cells).
struct PackChart
{
    int lines = 1;
    TqzChart chart; // its cells are set when the page is built
    int line = 0;
};

struct PackPage
{
    QString tab;
    int margins[4] = {20, 15, 15, 15}; // mm: left, top, right, bottom
    std::vector<double> columns;       // relative widths of the base columns
    int lineHeight = 0;                // least height of a line without its own, page pixels
    std::vector<PackLine> lines;
    std::vector<PackChart> charts;
    int line = 0;
};

// Parse the sources; Error names `where`, the line and what is wrong.
std::vector<PackNode> parsePackTree(const QString &text, const QString &where);
std::vector<PackPage> parsePackPages(const QString &text, const QString &where);

// Checks that the pages fit the tree: every tagged input names an input node and takes its
// default, every result cell names a node with a formula, each input has exactly one cell, and
// every node without children is shown somewhere. Error lists every problem found.
void checkPackPages(const std::vector<PackNode> &nodes,
                    const std::vector<PackPage> &pages,
                    const QString &where);

// Fills `project` with the tree (replacing what it had) and names it `name`.
void buildPackTree(TqzProject &project, const std::vector<PackNode> &nodes, const QString &name);
// Lays out one page with the grid's own table operations.
void buildPackPage(TqzReportPage &page, const PackPage &layout, const std::vector<PackNode> &nodes);

// The whole project document in the project-file layout (project part, then the "TqzExcel"
// workbook element), GB2312-declared. Needs a QGuiApplication (pages measure texts with fonts).
QByteArray buildPackDocument(const QString &treeText,
                             const QString &treeWhere,
                             const QString &pagesText,
                             const QString &pagesWhere);

} // namespace tessarin
