#pragma once

#include <QDialog>

class QLabel;

// The dialogs behind the service library's entries: the about box and the offline update.
namespace tessarin {

class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    AboutDialog(const QString &title, QWidget *parent = nullptr);
};

class UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    // `programDirectory`: where the replacement is placed.
    UpdateDialog(const QString &programDirectory, QWidget *parent = nullptr);

    // Checks and places `candidate`; the outcome is shown in the dialog. True when placed.
    bool installCandidate(const QString &candidate);

private:
    void choose();

    QString m_dir;
    QLabel *m_outcome = nullptr;
};

} // namespace tessarin
