#include "mainservices.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QUrl>

namespace tessarin {

QString applicationTitle()
{
    return QStringLiteral("Tessarin 1.0");
}

QString TMainServices::openFileName(QWidget *parent, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

QString TMainServices::saveFileName(QWidget *parent,
                                    const QString &filter,
                                    const QString &defaultSuffix,
                                    const QString &suggested)
{
    QFileDialog dialog(parent, QString(), suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

bool TMainServices::confirmPrint(QWidget *parent, QPrinter &printer)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void TMainServices::showPreview(QWidget *parent,
                                QPrinter &printer,
                                const std::function<void(QPrinter *)> &paint)
{
    QPrintPreviewDialog dialog(&printer, parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, paint);
    dialog.exec();
}

TMainServices::SaveAnswer TMainServices::askSaveChanges(QWidget *parent, const QString &document)
{
    const auto answer
        = QMessageBox::question(parent,
                                applicationTitle(),
                                QStringLiteral("“%1”已修改。是否保存修改？").arg(document),
                                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                QMessageBox::Save);
    if (answer == QMessageBox::Save)
        return SaveAnswer::Save;
    if (answer == QMessageBox::Discard)
        return SaveAnswer::Discard;
    return SaveAnswer::Cancel;
}

void TMainServices::showError(QWidget *parent, const QString &message)
{
    QMessageBox::critical(parent, applicationTitle(), message);
}

void TMainServices::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

bool TMainServices::startProgram(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments, QFileInfo(program).absolutePath());
}

} // namespace tessarin
