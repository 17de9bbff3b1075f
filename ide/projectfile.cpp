#include "projectfile.h"

#include "atomicfile.h"
#include "error.h"
#include "modelread.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "xmltree.h"

namespace tessarin {

namespace {

const QString kExcelElement = QStringLiteral("TqzExcel");

} // namespace

void TqzProjectFile::loadFile(const QString &fileName, TqzProject &project, TqzExcel &excel)
{
    const QString where
        = fileName == QLatin1String("-") ? QStringLiteral("standard input") : fileName;
    loadBytes(readWholeFile(fileName), where, project, excel);
    FileName = fileName == QLatin1String("-") ? QString() : fileName;
    project.ProjectFileName = FileName;
}

void TqzProjectFile::loadBytes(const QByteArray &document,
                               const QString &where,
                               TqzProject &project,
                               TqzExcel &excel)
{
    // A lean element tree instead of a DOM: a large project costs a fraction of the memory.
    std::unique_ptr<XmlElement> root = parseXmlTree(document, where);
    try {
        // Both halves are read before either changes: the project part into detached parts,
        // the workbook all or nothing on its own.
        ProjectParts parts = readProjectParts(*root, *project.RunTimeLibrary);
        if (const XmlElement *workbook = firstChildNamed(*root, kExcelElement))
            excel.LoadFromXML(*workbook);
        root.reset();
        project.apply(std::move(parts));
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
    Document = document;
    FileName.clear();
    project.ProjectFileName.clear();
}

QByteArray TqzProjectFile::documentBytes(TqzExcel &excel, const QString &where) const
{
    QByteArray base = Document;
    if (base.isEmpty()) {
        // A new project: an empty project part for the workbook to go into.
        TqzProject empty;
        base = SaveProjectToBytes(empty);
    }
    const QString name = !where.isEmpty()      ? where
                         : !FileName.isEmpty() ? FileName
                                               : QStringLiteral("project document");
    return excel.SaveIntoDocument(base, name);
}

void TqzProjectFile::saveAs(const QString &fileName, TqzExcel &excel)
{
    if (fileName.isEmpty())
        throw Error(QStringLiteral("saving the project: no file name given"));
    const QByteArray bytes = documentBytes(excel, fileName);
    writeFileAtomically(fileName, bytes);
    Document = bytes;
    FileName = fileName;
}

void TqzProjectFile::save(TqzExcel &excel)
{
    if (FileName.isEmpty())
        throw Error(QStringLiteral("saving the project: it has no file name yet"));
    saveAs(FileName, excel);
}

} // namespace tessarin
