#pragma once
// The calculation book a checker signs: a cover, the contents, the report pages as printed, every
// step of the last run typeset (formula in names, formula with numbers, result with unit, or the
// reason it failed) and the inputs with their origin, as one A4 PDF whose sheets all carry the
// project in a header and "第 n 页 / 共 N 页" in the footer.
#include "qzrun.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace tessarin {

class ProjectDocument;
class TqzProject;
class TqzWorkbook;
class TReportPage;

// One input of the calculation: a node without a formula, its value and where the value came
// from.
struct CalcBookInput
{
    QString name;
    QString caption;
    QString value;
    QString unit;
    QString origin;
};

// The origins of inputs as the book names them.
inline const QString kOriginTyped = QStringLiteral("报表输入");
inline const QString kOriginDefault = QStringLiteral("缺省值");
inline const QString kOriginTestData = QStringLiteral("测试数据");

// Everything the book shows, gathered before it is written.
struct CalcBook
{
    QString title;     // the project's name
    QString tagNumber; // "位号", when the project has one
    QString version;   // of the program
    QString checksum;  // SHA-256 of the project file, in hex
    QString checksumNote;
    QDateTime date;
    QList<const TReportPage *> pages; // the report pages in print order
    QStringList pageCaptions;         // beside `pages`: the tab each page is on
    QList<TqzRunStep> steps;
    QList<CalcBookInput> inputs;
};

// The program's version, as the book's cover gives it.
QString programVersion();

// The inputs of `project` (nodes without a formula, in tree order): typed when a report cell
// answers to the name and was not empty at the last run (`emptyInputs` names those that were),
// else the node's own value; `origins` overrides the origin of the names it holds (test data,
// say).
QList<CalcBookInput> calcBookInputs(const TqzProject &project,
                                    const TqzWorkbook &workbook,
                                    const QStringList &emptyInputs,
                                    const QHash<QString, QString> &origins = {});

// The book of `document` after a run whose steps are `steps`: title, 位号, the pages, the inputs,
// the checksum of `fileBytes` (the project file the book belongs to), today's date.
CalcBook calcBookOf(const ProjectDocument &document,
                    const QByteArray &fileBytes,
                    const QList<TqzRunStep> &steps,
                    const QStringList &emptyInputs,
                    const QHash<QString, QString> &origins = {});

// Writes `book` to `fileName` as one A4 PDF, atomically: nothing is written on failure. Returns
// the number of sheets. Throws Error saying why.
int writeCalcBook(const CalcBook &book, const QString &fileName);

} // namespace tessarin
