#pragma once

// Reading a test-data (.exm) file back into a set, all or nothing.

#include "qzobject.h"

#include <QByteArray>
#include <QString>

namespace tessarin {

// Replaces `set`'s texts and entries by those of the .exm document `bytes` (its declared
// encoding; document element "root", one entry per child element, each with a "Name").
// Throws Error naming `where`, the line and column and what is wrong for a document that is not
// well-formed, is not a test-data set, or has an entry without a name; `set` is then unchanged.
void LoadExamDataFromBytes(TqzExamData &set, const QByteArray &bytes, const QString &where);
// The same for a file ("-" for standard input).
void LoadExamDataFromFile(TqzExamData &set, const QString &fileName);

} // namespace tessarin
