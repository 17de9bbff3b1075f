#pragma once
// A project as one document without widgets: its node tree, its workbook, the code table filled
// from the tree, the file it came from, the log of its last run and its undo stack. The project
// window views one; tessarin-cli and the tools load, run and save one with no display at all.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUndoStack>

#include <memory>


namespace tessarin {

class TqzProject;
class TqzProjectFile;
class TqzRunLog;
class TqzTranslate;
class TqzWorkbook;

class ProjectDocument : public QObject
{
    Q_OBJECT

public:
    // An empty project: no nodes, a workbook without pages, an empty undo stack.
    explicit ProjectDocument(QObject *parent = nullptr);
    ~ProjectDocument() override;

    TqzProject &project() const { return *m_project; }
    TqzWorkbook &workbook() const { return *m_workbook; }
    // Node names to codes ("列计算式"), filled from the tree at every load.
    TqzTranslate &codeTable() const { return *m_codes; }
    TqzProjectFile &file() const { return *m_file; }
    TqzRunLog &log() const { return *m_log; }
    QUndoStack &undoStack() const { return *m_undoStack; }

    // Loads a project file ("-" for standard input) or a document held in memory (`where`
    // names it in messages) into the tree and the workbook, then fills the code table. Throws
    // Error saying what, where and why; the document is then unchanged.
    void loadFile(const QString &fileName);
    void loadBytes(const QByteArray &document, const QString &where);
    // The code table again from the tree's names and captions.
    void fillCodeTable();

private:
    std::unique_ptr<TqzProject> m_project;
    std::unique_ptr<TqzWorkbook> m_workbook;
    std::unique_ptr<TqzTranslate> m_codes;
    std::unique_ptr<TqzProjectFile> m_file;
    TqzRunLog *m_log;        // a child
    // A child; a window may free it earlier, to leave its undo group while it is whole.
    QPointer<QUndoStack> m_undoStack;
};

} // namespace tessarin
