#pragma once
// One project file: the document is read and parsed once into both the project part (node
// tree and runtime library) and the workbook, and saved in one atomic write (the document as
// loaded, with its "TqzExcel" element rewritten from the pages). The program's windows and
// tessarin-cli open and save project files only through this unit.
#include <QByteArray>
#include <QString>

namespace tessarin {

class TqzWorkbook;
class TqzProject;

class TqzProjectFile
{
public:
    // The document as it was loaded (a file's bytes or the packaged project); empty for a new
    // project.
    QByteArray Document;
    // The file the document came from or was last saved to; empty for the packaged project and
    // for a new project.
    QString FileName;
    // Set while the project's node tree differs from the document's: saving then writes the
    // document's "TVariables" from this project's tree as well. Left null, the document's project
    // part is written back byte for byte.
    TqzProject *EditedTree = nullptr;

    // Loads `fileName` ("-" for standard input) into `project` and `workbook`. Throws Error saying
    // what, where (file, line, column, page) and why; `project` and `workbook` are then unchanged.
    void loadFile(const QString &fileName, TqzProject &project, TqzWorkbook &workbook);
    // The same for a document held in memory; `where` names it in messages.
    void loadBytes(const QByteArray &document,
                   const QString &where,
                   TqzProject &project,
                   TqzWorkbook &workbook);
    // Writes Document with its workbook element taken from `workbook` (and its node list from
    // EditedTree when set) to `fileName` atomically
    // (a new project gets a fresh document with an empty project part); then FileName =
    // `fileName`. Throws Error and leaves the target untouched on failure.
    void saveAs(const QString &fileName, const TqzWorkbook &workbook);
    // What saveAs writes: Document with its workbook element taken from `workbook` (a fresh
    // document for a new project), without writing any file or changing FileName. `where`
    // names the document in messages (FileName when empty). Throws Error.
    QByteArray documentBytes(const TqzWorkbook &workbook, const QString &where = QString()) const;
    // saveAs(FileName); Error when there is no file name.
    void save(const TqzWorkbook &workbook);
};

} // namespace tessarin
