#pragma once

// One field of a CSV row, as the sweep command and the sweep dialog write them.

#include <QString>

namespace tessarin {

// `text` as a CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
inline QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace tessarin
