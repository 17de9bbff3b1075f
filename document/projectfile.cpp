#include "projectfile.h"

#include "atomicfile.h"
#include "error.h"
#include "modelread.h"
#include "modelwrite.h"
#include "qzproject.h"
#include "qzworkbook.h"
#include "workbookformat.h"
#include "xmltree.h"

namespace tessarin {

void TqzProjectFile::loadFile(const QString &fileName, TqzProject &project, TqzWorkbook &workbook)
{
    const QString where
        = fileName == QLatin1String("-") ? QStringLiteral("standard input") : fileName;
    loadBytes(readWholeFile(fileName), where, project, workbook);
    FileName = fileName == QLatin1String("-") ? QString() : fileName;
    project.ProjectFileName = FileName;
}

void TqzProjectFile::loadBytes(const QByteArray &document,
                               const QString &where,
                               TqzProject &project,
                               TqzWorkbook &workbook)
{
    // A lean element tree instead of a DOM: a large project costs a fraction of the memory.
    std::unique_ptr<XmlElement> root = parseXmlTree(document, where);
    try {
        // Both halves are read before either changes: the project part into detached parts,
        // the workbook all or nothing on its own.
        ProjectParts parts = readProjectParts(*root, *project.RunTimeLibrary);
        // Charts are read before anything changes, so a damaged chart element refuses the file.
        if (const XmlElement *charts = firstChildNamed(*root, QString::fromUtf16(ChartsElementName)))
            readChartsElement(*charts);
        if (const XmlElement *element = firstChildNamed(*root, QString::fromUtf16(WorkbookElementName)))
            workbook.LoadFromXML(*element);
        workbook.LoadCharts(*root);
        root.reset();
        project.apply(std::move(parts));
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
    Document = document;
    FileName.clear();
    project.ProjectFileName.clear();
}

QByteArray TqzProjectFile::documentBytes(const TqzWorkbook &workbook, const QString &where) const
{
    const QString name = !where.isEmpty()      ? where
                         : !FileName.isEmpty() ? FileName
                                               : QStringLiteral("project document");
    QByteArray base = Document;
    if (base.isEmpty()) {
        // A new project: its project part, for the workbook to go into.
        TqzProject empty;
        base = SaveProjectToBytes(EditedTree ? *EditedTree : empty);
    } else if (EditedTree) {
        // Only the node list is written anew; the rest of the document keeps its bytes. It is
        // written on the lean element tree: a DOM of a large tree costs many times as much.
        TqzProjectTree &tree = *EditedTree->TreeView;
        base = spliceProjectElementText(
            base,
            QStringLiteral("TVariables"),
            [&tree] {
                XmlElement list;
                list.name = QStringLiteral("TVariables");
                writeNodeList(tree, list);
                return writeXmlTreeElement(list, 0);
            },
            name);
    }
    return workbook.SaveIntoDocument(base, name);
}

void TqzProjectFile::saveAs(const QString &fileName, const TqzWorkbook &workbook)
{
    if (fileName.isEmpty())
        throw Error(QStringLiteral("saving the project: no file name given"));
    const QByteArray bytes = documentBytes(workbook, fileName);
    writeFileAtomically(fileName, bytes);
    Document = bytes;
    FileName = fileName;
}

void TqzProjectFile::save(const TqzWorkbook &workbook)
{
    if (FileName.isEmpty())
        throw Error(QStringLiteral("saving the project: it has no file name yet"));
    saveAs(FileName, workbook);
}

} // namespace tessarin
