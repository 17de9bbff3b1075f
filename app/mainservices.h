#pragma once
// What the main window asks of the user and of the desktop (file, print and message dialogs,
// the shell's "open", starting a companion program), in one replaceable object so tests can
// answer in the user's place.
#include "autosave.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QPrinter;
class QUrl;
class QWidget;

namespace tessarin {

class TMainServices
{
public:
    enum class SaveAnswer { Save, Discard, Cancel };
    // What to do with the copies left by a program that ended without saving them.
    enum class RecoveryAnswer { Recover, Discard, Later };

    virtual ~TMainServices() = default;

    // The file dialogs OpenDiaMain and SaveDiaMain with `filter` (in Qt's form); the chosen
    // path, or an empty text when the user cancelled. `suggested` is the file proposed.
    virtual QString openFileName(QWidget *parent, const QString &filter);
    virtual QString saveFileName(QWidget *parent,
                                 const QString &filter,
                                 const QString &defaultSuffix,
                                 const QString &suggested);
    // The print dialog dlgPntMain; true when the user confirmed (the printer then holds the
    // choices made).
    virtual bool confirmPrint(QWidget *parent, QPrinter &printer);
    // A print preview of what `paint` prints on the printer it is given.
    virtual void
    showPreview(QWidget *parent, QPrinter &printer, const std::function<void(QPrinter *)> &paint);
    // Whether to save the changes of the document named `document` before it closes.
    virtual SaveAnswer askSaveChanges(QWidget *parent, const QString &document);
    // After a crash: whether to open the unsaved copies listed (each with its file, or caption
    // for a project never saved, and the time it was written) in windows of their own, throw
    // them away, or ask again at the next start.
    virtual RecoveryAnswer askRecovery(QWidget *parent, const QList<TRecoveryEntry> &entries);
    // The application's error box.
    virtual void showError(QWidget *parent, const QString &message);
    // The shell's "open" of a document or web address; the result is not examined.
    virtual void openUrl(const QUrl &url);
    // Starts a program detached from this one; false when it could not be started.
    virtual bool startProgram(const QString &program, const QStringList &arguments);
};

// The application's title, the caption of its message boxes.
QString applicationTitle();

} // namespace tessarin
