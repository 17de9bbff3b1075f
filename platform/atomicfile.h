#pragma once

#include <QByteArray>
#include <QString>

namespace tessarin {

// Writes the bytes to path through a temporary file in the same folder renamed over the target,
// so the target is either the old file or the whole new one. Throws Error on failure.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

// The whole file, or standard input for "-". Throws Error naming the file on failure.
QByteArray readWholeFile(const QString &path);

} // namespace tessarin
