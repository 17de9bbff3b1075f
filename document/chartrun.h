#pragma once
// Computing the charts of a project: each chart's input is varied over its range and the project
// run once per point, headless and in-process, on a copy of the document, so that nothing the
// user sees or may undo changes until the values are put on the charts. A range relative to a
// node, and the curves and points a chart takes as data, come from one run of the project as
// it stands.

#include <QString>
#include <QStringList>

namespace tessarin {

class ProjectDocument;
struct TqzChart;

// Fills the series (values and units) of every chart of `document`'s workbook from runs of a
// copy of the document as it stands. Returns one message per chart that could not be computed
// (an input or output the project does not have, no interpreter), and such a chart keeps its
// old values; one per chart whose range node has no number, which is left without values; and
// one per curve refused for its data (a point without a number, x not rising, a count out of
// range), which is left without points while the rest of its chart is drawn.
QStringList computeCharts(ProjectDocument &document);

} // namespace tessarin
