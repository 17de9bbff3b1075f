#pragma once

// File names as the system stores them, byte strings, carried in a QString without loss.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tessarin {

// The name decoded as UTF-8; each byte that is not part of a valid UTF-8 sequence becomes the
// lone low surrogate U+DC80..U+DCFF, so nativeFileName gives the same bytes back. A name that is
// valid UTF-8 decodes exactly as QString::fromUtf8 would.
QString fileNameFromNative(QByteArrayView bytes);

// The bytes of a name: UTF-8, with the lone surrogates U+DC80..U+DCFF of fileNameFromNative
// turned back into the bytes they stand for (other lone surrogates as U+FFFD).
QByteArray nativeFileName(const QString &name);

// True when the name holds such a stand-in for a byte.
bool hasRawBytes(const QString &name);

// The name with every stand-in for a byte replaced by U+FFFD, for texts that are not names.
QString withoutRawBytes(const QString &text);

} // namespace tessarin
