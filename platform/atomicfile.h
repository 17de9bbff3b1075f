#pragma once

// Reading whole input files within a size bound, and writing files whole or not at all.

#include <QByteArray>
#include <QString>

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
// Throws Error saying which file and why on failure.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

// The whole file, or standard input for "-". An input over `limit` bytes is refused: a file
// whose size is known before anything is read, a pipe or device as soon as it passes the
// limit. Throws Error naming the file on failure.
QByteArray readWholeFile(const QString &path, qint64 limit = MaxInputBytes);

// "1 GiB", "12 MiB", "300 bytes": a byte count as the messages about input sizes say it.
QString byteCountText(qint64 bytes);

} // namespace tessarin
