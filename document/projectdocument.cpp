#include "projectdocument.h"

#include "projectfile.h"
#include "qzproject.h"
#include "qztranslate.h"
#include "qzworkbook.h"
#include "runlog.h"

#include <QUndoStack>

namespace tessarin {

ProjectDocument::ProjectDocument(QObject *parent)
    : QObject(parent)
    , m_project(std::make_unique<TqzProject>())
    , m_workbook(std::make_unique<TqzWorkbook>())
    , m_codes(std::make_unique<TqzTranslate>())
    , m_file(std::make_unique<TqzProjectFile>())
    , m_log(new TqzRunLog(this))
    , m_undoStack(new QUndoStack(this))
{
    // A run of a large project keeps every value it changed; a hundred steps bound the memory.
    m_undoStack->setUndoLimit(100);
}

ProjectDocument::~ProjectDocument()
{
    // The steps refer to the pages and nodes: they go first.
    delete m_undoStack.data();
}

void ProjectDocument::loadFile(const QString &fileName)
{
    m_file->loadFile(fileName, *m_project, *m_workbook);
    fillCodeTable();
}

void ProjectDocument::loadBytes(const QByteArray &document, const QString &where)
{
    m_file->loadBytes(document, where, *m_project, *m_workbook);
    fillCodeTable();
}

void ProjectDocument::fillCodeTable()
{
    m_codes->Clear();
    const TqzProjectTree &tree = *m_project->TreeView;
    for (int i = 0, n = tree.count(); i < n; ++i)
        m_codes->AddWord(tree.nodeAt(i)->Name, tree.nodeAt(i)->Caption);
}

} // namespace tessarin
