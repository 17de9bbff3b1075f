#pragma once

#include <QString>
#include <QStringList>

namespace tessarin {

// The lines of `text`: CR LF, a lone CR and a lone LF each end a line, and a break at the very
// end starts no further line. An empty text has no lines.
QStringList splitTextLines(const QString &text);

} // namespace tessarin
