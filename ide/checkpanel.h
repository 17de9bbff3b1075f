#pragma once
// The "检查工程" panel: the findings of a project check in a list, with a summary; a double click
// (or Enter) on a finding asks the project window to show its node or cell.
#include "projectcheck.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tessarin {

class TqzCheckPanel : public QDialog
{
    Q_OBJECT
public:
    explicit TqzCheckPanel(QWidget *parent = nullptr);

    // Shows the findings of `result` in their order, replacing those shown before.
    void setResult(const ProjectCheckResult &result);
    const QList<ProjectFinding> &findings() const { return m_findings; }

    // The parts a test drives.
    QTreeWidget *list = nullptr;
    QLabel *summary = nullptr;
    QPushButton *again = nullptr;

signals:
    // A finding was chosen to be shown.
    void findingActivated(const tessarin::ProjectFinding &finding);
    // The user asks for the check to be made again.
    void recheckRequested();

private:
    QList<ProjectFinding> m_findings;
};

} // namespace tessarin
