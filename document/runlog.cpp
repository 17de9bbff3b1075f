#include "runlog.h"

namespace tessarin {

void TqzRunLog::clear()
{
    m_lines.clear();
    emit cleared();
}

void TqzRunLog::append(const QString &line)
{
    m_lines.append(line);
    emit appended(m_lines.size() - 1);
}

} // namespace tessarin
