#pragma once
// The update step of every exit: "del.bat" written into the current directory, and on systems
// without a command interpreter the same steps carried out by a detached shell that waits for
// the program to end, swaps in a replacement program file left beside it and removes the batch.
#include <QByteArray>
#include <QString>

namespace tessarin {

// The six lines of the batch file, each ended by CR LF.
QByteArray UpdateBatchText();

// Writes UpdateBatchText() as "del.bat" in `directory` and returns its path. The file is written
// under a name of its own and renamed into place, so a link named "del.bat" is replaced, never
// followed; an existing "del.bat" that is not a regular file (a FIFO, a folder, a link) is left
// as it is and refused. `fileId` receives the written file's "device:inode". Throws Error when
// it cannot be written.
QString WriteUpdateBatch(const QString &directory, QString *fileId = nullptr);

// The "device:inode" of the replacement program file `path` when it may be swapped in: a
// regular, executable file (a link is not followed) that carries the build identity of ours.
// Empty when there is none, or when it is refused; then `why` says why.
QString AcceptedReplacement(const QString &path, QString *why = nullptr);

// The shell commands that do what the batch does, once the program has ended: with the program
// file `program` and its replacement `replacement` (the same folder, the name prefixed by "A"),
// make the program file writable; if the replacement is still the file `replacementId` named
// ("device:inode"; empty: none is swapped in), rename it over the program file in one step,
// retrying while it is still there; finally remove `batch` when it is still the file `batchId`
// (empty `batch`: none was written). Read from file descriptor `waitFd` first, which reaches
// end-of-file when the program has ended. Paths are quoted for sh.
QString UpdateHelperScript(const QString &program,
                           const QString &replacement,
                           const QString &replacementId,
                           const QString &batch,
                           const QString &batchId,
                           int waitFd);

// Starts the helper for UpdateHelperScript() as its own session, detached from this process,
// with a fixed search path and locale for environment, holding the read end of a pipe whose
// write end this process keeps until it ends; so the helper sleeps until the program has ended,
// without polling. `programDir` is the folder of the program file "Tessarin" and its
// replacement "ATessarin". Returns false (and the reason in `why`) when it cannot be started;
// `pid` receives the helper's process id.
bool StartUpdateHelper(const QString &programDir,
                       const QString &replacementId,
                       const QString &batch,
                       const QString &batchId,
                       QString *why = nullptr,
                       qint64 *pid = nullptr);

// Lets the helper started last go on now instead of at this process's end.
void ReleaseUpdateHelper();

// The whole exit step: writes the batch into `workDir`, checks a waiting replacement in
// `programDir` and starts the helper, which does its steps also when the batch could not be
// written. Failures are silent, as for every maintenance step: returns whether the helper
// started, and `why` says what was passed over (the batch not written, a replacement refused).
bool RunUpdateBatch(const QString &workDir,
                    const QString &programDir,
                    QString *why = nullptr,
                    qint64 *helperPid = nullptr);
// The same for the current directory and the program's own folder.
bool RunUpdateBatch(QString *why = nullptr);

} // namespace tessarin
