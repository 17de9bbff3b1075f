#include "projectfile.h"

#include "atomicfile.h"
#include "error.h"
#include "modelread.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "xmldocument.h"

#include <QDomDocument>

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
    const QDomDocument doc = readXmlDocument(document, where);
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        throw Error(where + QStringLiteral(": the document has no document element"));
    try {
        // Both halves are checked before either changes. The project part is read once as a
        // check (the workbook's load is all-or-nothing on its own); the real project load
        // below then cannot fail on the same element.
        (void)readProjectParts(root, *project.RunTimeLibrary);
        const QDomElement workbook = root.firstChildElement(kExcelElement);
        if (!workbook.isNull())
            excel.LoadFromXML(workbook);
        project.LoadFromXML(root);
    } catch (const Error &e) {
        throw Error(where + QStringLiteral(": ") + e.message());
    }
    Document = document;
    FileName.clear();
    project.ProjectFileName.clear();
}

void TqzProjectFile::saveAs(const QString &fileName, TqzExcel &excel)
{
    if (fileName.isEmpty())
        throw Error(QStringLiteral("saving the project: no file name given"));
    QByteArray base = Document;
    if (base.isEmpty()) {
        // A new project: an empty project part for the workbook to go into.
        TqzProject empty;
        base = SaveProjectToBytes(empty);
    }
    const QByteArray bytes = excel.SaveIntoDocument(base, fileName);
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
