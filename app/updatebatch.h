#pragma once
// The update step of every exit: "del.bat" written into the current directory, and on systems
// without a command interpreter the same steps carried out by a detached shell that waits for
// the program to end, swaps in a replacement program file left beside it and removes the batch.
#include <QByteArray>
#include <QString>

namespace tessarin {

// The six lines of the batch file, each ended by CR LF.
QByteArray UpdateBatchText();

// Writes UpdateBatchText() as "del.bat" in `directory` (replacing an existing one) and returns
// its path. Throws Error when it cannot be written.
QString WriteUpdateBatch(const QString &directory);

// The shell commands that do what the batch does, once the program has ended: with the program
// file `program` and its replacement `replacement` (the same folder, the name prefixed by "A"),
// make the program file writable; if the replacement exists, move it over the program file,
// retrying while it is still there; finally remove `batch`. Read from file descriptor `waitFd`
// first, which reaches end-of-file when the program has ended. Paths are quoted for sh.
QString UpdateHelperScript(const QString &program,
                           const QString &replacement,
                           const QString &batch,
                           int waitFd);

// Starts the helper for UpdateHelperScript() as its own session, detached from this process,
// holding the read end of a pipe whose write end this process keeps until it ends; so the
// helper sleeps until the program has ended, without polling. `programDir` is the folder of
// the program file "Tessarin" and its replacement "ATessarin". Returns false (and the reason
// in `why`) when it cannot be started.
bool StartUpdateHelper(const QString &programDir, const QString &batch, QString *why = nullptr);

// The whole exit step: writes the batch into the current directory and starts the helper.
// Failures are silent, as for every maintenance step; `why` says what went wrong.
bool RunUpdateBatch(QString *why = nullptr);

} // namespace tessarin
