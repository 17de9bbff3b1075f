#pragma once

#include <QWidget>

class QLabel;
class QTabWidget;
class QTreeWidget;

namespace tessarin {

// The maintenance and guide window "维护和指南": a getting-started guide, what is new in this
// version, the installation check and the test-data files of the exam folder.
class VOKNewsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit VOKNewsWindow(QWidget *parent = nullptr);

    void runCheck();
    void showMaintenance();
    void refreshExamFiles();

private:
    QWidget *guidePage();
    QWidget *newsPage();
    QWidget *maintenancePage();
    void deleteSelected();

    QTabWidget *m_tabs = nullptr;
    QTreeWidget *m_checks = nullptr;
    QLabel *m_summary = nullptr;
    QTreeWidget *m_exam = nullptr;
    QLabel *m_examInfo = nullptr;
};

} // namespace tessarin
