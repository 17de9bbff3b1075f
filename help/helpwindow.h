#pragma once
// The program's own help window: the help pages with their pictures in a text browser, with
// back, forward and search, so help works on any desktop whatever opens HTML files there.
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;
class QToolButton;

namespace tessarin {

// The help page shipped in the program directory.
QString helpPagePath();

class THelpWindow : public QWidget
{
    Q_OBJECT

public:
    explicit THelpWindow(QWidget *parent = nullptr);

    // Shows `fileName` (the shipped help page when empty); false, with the reason in
    // errorString(), when it cannot be read or holds no page.
    bool openPage(const QString &fileName = QString());
    QString errorString() const { return m_error; }
    // Pictures the shown page refers to that cannot be loaded (their paths as written).
    QStringList missingImages() const;
    // Finds `text` after the current selection (wrapping to the start); false when the page
    // does not hold it.
    bool findText(const QString &text);

    QTextBrowser *browser() const { return m_browser; }

private:
    QTextBrowser *m_browser = nullptr;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
    QLineEdit *m_search = nullptr;
    QLabel *m_searchState = nullptr;
    QString m_error;
};

} // namespace tessarin
