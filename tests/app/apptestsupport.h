#pragma once
// What the program's tests share: services that answer in the user's place and record what
// the main window asked of the desktop, and program folders of the tests' own.
#include "mainservices.h"

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <deque>

namespace tessarin::test {

class ScriptedServices : public TMainServices
{
public:
    // Answers, taken from the front; an empty queue answers "cancelled".
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<SaveAnswer> saveChangesAnswers;
    // The answer to the recovery question (asked at most once per frame).
    RecoveryAnswer recoveryAnswer = RecoveryAnswer::Later;
    bool acceptPrint = false;
    QString printTo; // with acceptPrint: the PDF file the print dialog "chooses"

    // What was asked and done.
    QStringList saveDialogs; // the suggested name of each save dialog
    QStringList saveQuestions;
    QList<QList<TRecoveryEntry>> recoveryQuestions;
    QStringList errors;
    QList<QUrl> urls;
    QStringList programs;
    int printDialogs = 0;

    QString openFileName(QWidget *, const QString &) override { return take(openAnswers); }
    QString
    saveFileName(QWidget *, const QString &, const QString &, const QString &suggested) override
    {
        saveDialogs << suggested;
        return take(saveAnswers);
    }
    bool confirmPrint(QWidget *, QPrinter &printer) override
    {
        ++printDialogs;
        if (acceptPrint) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(printTo);
        }
        return acceptPrint;
    }
    void showPreview(QWidget *, QPrinter &, const std::function<void(QPrinter *)> &) override {}
    SaveAnswer askSaveChanges(QWidget *, const QString &document) override
    {
        saveQuestions << document;
        if (saveChangesAnswers.empty())
            return SaveAnswer::Cancel;
        const SaveAnswer answer = saveChangesAnswers.front();
        saveChangesAnswers.pop_front();
        return answer;
    }
    RecoveryAnswer askRecovery(QWidget *, const QList<TRecoveryEntry> &entries) override
    {
        recoveryQuestions << entries;
        return recoveryAnswer;
    }
    void showError(QWidget *, const QString &message) override { errors << message; }
    void openUrl(const QUrl &url) override { urls << url; }
    bool startProgram(const QString &program, const QStringList &) override
    {
        programs << program;
        return true;
    }

private:
    static QString take(std::deque<QString> &queue)
    {
        if (queue.empty())
            return QString();
        QString answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

// Points the user's state folder (where recovery copies go) at `dir`, so no test writes into
// the home folder of whoever runs it.
inline void useStateFolder(const QString &dir)
{
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir));
}

// A program folder with the interpreter library and its header from the build and, when asked,
// the fixture calculation module; `extra` names further (empty, executable) files to create.
inline bool makeProgramDir(const QString &dir, bool withModule, const QStringList &extra = {})
{
    const QDir bin(QStringLiteral(TESSARIN_BIN_DIR));
    bool ok = QFile::copy(bin.filePath(QStringLiteral("libscriptrt.so")),
                          QDir(dir).filePath(QStringLiteral("libscriptrt.so")))
              && QFile::copy(bin.filePath(QStringLiteral("project.h")),
                             QDir(dir).filePath(QStringLiteral("project.h")));
    if (withModule)
        ok = ok
             && QFile::copy(QStringLiteral(TESSARIN_FIXTURE_MODULE_DIR "/libcalcpack.so"),
                            QDir(dir).filePath(QStringLiteral("libcalcpack.so")));
    for (const QString &name : extra) {
        QFile file(QDir(dir).filePath(name));
        ok = ok && QDir(dir).mkpath(QFileInfo(file).absolutePath())
             && file.open(QIODevice::WriteOnly);
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    return ok;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace tessarin::test
