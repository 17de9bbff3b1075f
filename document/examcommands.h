#pragma once
// The test-data commands of a project window without the window: saving the nodes' values as
// the next numbered .exm file in the exam folder, and loading a .exm file into the nodes and
// the report cells tagged with their names.
#include <QString>
#include <QStringList>

namespace tessarin {

class TqzWorkbook;
class TqzProject;
class TqzRunHost;

// The exam folder: beside the program ("<program directory>/exam") while the program directory
// can be written, else "exam" in the user's data folder (see writablePath).
QString ExamFolder();
// "<folder>/VOK<n>.exm".
QString ExamFileName(const QString &folder, int number);
// The lowest n in 1..1000 whose file does not exist in `folder`; 1000 when all exist.
QString NextExamFileName(const QString &folder);

// actSaveExamDataExecute: the set of the project's nodes (title = the first node's name, one
// entry per distinct name in tree order) written to NextExamFileName(ExamFolder()), the folder
// created when missing. Returns the file written. With an empty tree nothing is written, the
// log says why and the result is empty. Throws Error when the folder or file cannot be written.
QString SaveExamData(const TqzProject &project, TqzRunHost &host);

// What loading a test-data set did.
struct TqzExamLoadResult
{
    int loaded = 0;      // distinct names of the set that the project has as node names
    QStringList names;   // those names, in set order
    QStringList unknown; // names of the set that no node carries, in set order
};

// The values of the .exm file `fileName` into every node of the same name (exact) and every
// report cell tagged with it; the first entry of a repeated name wins. The log tells how many
// names were loaded and which the project does not know. All or nothing: a damaged file or a
// page whose tags cannot be parsed throws Error (saying what and where) and changes nothing.
TqzExamLoadResult
LoadExamData(const QString &fileName, TqzProject &project, TqzWorkbook &workbook, TqzRunHost &host);

} // namespace tessarin
