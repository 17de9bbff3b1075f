#include "mainservices.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

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

TMainServices::RecoveryAnswer TMainServices::askRecovery(QWidget *parent,
                                                         const QList<TRecoveryEntry> &entries)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgRecovery"));
    dialog.setWindowTitle(applicationTitle());
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        QStringLiteral("程序上次没有正常退出。以下工程有未保存的修改，可以恢复："), &dialog));
    auto *list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("lvRecovery"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("文件"), QStringLiteral("保存时间")});
    for (const TRecoveryEntry &entry : entries) {
        QString name = entry.documentName();
        if (!entry.Problem.isEmpty())
            name += QStringLiteral("（已损坏）");
        auto *item = new QTreeWidgetItem(
            list, {name, entry.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
        item->setToolTip(0, entry.Problem.isEmpty() ? entry.documentName() : entry.Problem);
    }
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    layout->addWidget(list);
    layout->addWidget(
        new QLabel(QStringLiteral("恢复的工程在新窗口中打开，只有保存时才写入原文件。"), &dialog));
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *recover = buttons->addButton(QStringLiteral("恢复"), QDialogButtonBox::AcceptRole);
    QPushButton *discard
        = buttons->addButton(QStringLiteral("放弃"), QDialogButtonBox::DestructiveRole);
    QPushButton *later
        = buttons->addButton(QStringLiteral("以后再说"), QDialogButtonBox::RejectRole);
    recover->setDefault(true);
    RecoveryAnswer answer = RecoveryAnswer::Later;
    QObject::connect(buttons, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton *button) {
        answer = button == recover   ? RecoveryAnswer::Recover
                 : button == discard ? RecoveryAnswer::Discard
                                     : RecoveryAnswer::Later;
        dialog.done(button == later ? QDialog::Rejected : QDialog::Accepted);
    });
    layout->addWidget(buttons);
    dialog.resize(520, 240);
    // Closing the box is the same as "later": nothing is lost.
    if (dialog.exec() != QDialog::Accepted)
        return RecoveryAnswer::Later;
    return answer;
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
