#pragma once
// The log of a project's last run or command: every step with its formula, the formula in codes
// and the formula with the numbers put in. Windows show it, tools print or write it; it lives
// with the project, not in a view.
#include <QObject>
#include <QString>
#include <QStringList>

namespace tessarin {

// The lines of the log, with signals for views that show them as they come.
class TqzRunLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    const QStringList &lines() const { return m_lines; }
    qsizetype count() const { return m_lines.size(); }
    void clear();
    void append(const QString &line);

signals:
    void cleared();
    // Line `index` was appended.
    void appended(qsizetype index);

private:
    QStringList m_lines;
};

} // namespace tessarin
