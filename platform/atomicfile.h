#pragma once

// Reading whole input files within a size bound, and writing files whole or not at all.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace tessarin {

// The largest input any reader of the program takes (1 GiB): far above any real project, page
// or test-data file, and small enough that refusing a runaway input (a device, an endless
// pipe) costs neither the machine's memory nor minutes of reading.
inline constexpr qint64 MaxInputBytes = qint64(1) << 30;

// Writes the bytes to `path` so that the target is either the old file or the whole new one:
// a temporary file in the target's folder renamed over it. A symbolic link is followed (the
// file it points to is replaced, the link stays). Targets that are not regular files are never
// replaced:
//   - "-", or a path naming the file the process's standard output is (/dev/stdout, ...):
//     the bytes go to standard output;
//   - a FIFO: the bytes are written into it for its reader; the null device: discarded;
//   - anything else (directory, other device, socket): refused, nothing written.
// Names are passed to the system as their bytes (nativeFileName). Throws Error saying which file
// and why on failure ("no space left on device (磁盘已满)" for a full disk); the old file is
// then left as it was and no temporary file stays behind.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

// The whole file, or standard input for "-". An input over `limit` bytes is refused: a file
// whose size is known before anything is read, a pipe or device as soon as it passes the
// limit. Throws Error naming the file on failure.
QByteArray readWholeFile(const QString &path, qint64 limit = MaxInputBytes);

// Writes `bytes` as a new file under the first of `candidates` (names in one folder) that no
// directory entry holds yet, claimed atomically, so that processes saving at once each get
// their own name; an existing entry, a symbolic link included, is never followed or written
// through. When every name is taken, the last one's entry is replaced. The file appears whole
// or not at all. Returns the name written; throws Error naming the file on failure.
QString writeFirstFreeFile(const QStringList &candidates, const QByteArray &bytes);

// "1 GiB", "12 MiB", "300 bytes": a byte count as the messages about input sizes say it.
QString byteCountText(qint64 bytes);

namespace detail {
// Replaces the system's write() used for the files written above (null restores it), so a
// test can make a write fail as a full disk does.
void setWriteFunction(ssize_t (*write)(int, const void *, size_t));
} // namespace detail

} // namespace tessarin
