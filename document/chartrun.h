#pragma once
// Computing the charts of a project: each chart's input is varied over its range and the project
// run once per point, headless and in-process, on a copy of the document, so that nothing the
// user sees or may undo changes until the values are put on the charts.

#include <QString>
#include <QStringList>

namespace tessarin {

class ProjectDocument;
struct TqzChart;

// Fills the series (values and units) of every chart of `document`'s workbook from runs of a
// copy of the document as it stands. Returns one message per chart that could not be computed
// (an input or output the project does not have, no interpreter); such a chart keeps its old
// values.
QStringList computeCharts(ProjectDocument &document);

} // namespace tessarin
