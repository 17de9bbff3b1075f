#include "examfiles.h"

#include "programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace tessarin {

QString examDirectory()
{
    return writablePath(QStringLiteral("exam"));
}

std::vector<ExamFile> listExamFiles(const QString &dir)
{
    static const QRegularExpression name(QStringLiteral("^VOK([1-9][0-9]{0,3})\\.exm$"),
                                         QRegularExpression::CaseInsensitiveOption);
    std::vector<ExamFile> files;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : entries) {
        const auto m = name.match(info.fileName());
        if (!m.hasMatch())
            continue;
        const int n = m.captured(1).toInt();
        if (n > 1000)
            continue;
        files.push_back({info.absoluteFilePath(), n, info.size(), info.lastModified()});
    }
    std::sort(files.begin(), files.end(), [](const ExamFile &a, const ExamFile &b) {
        return a.number != b.number ? a.number < b.number : a.path < b.path;
    });
    return files;
}

QStringList deleteExamFiles(const std::vector<ExamFile> &files)
{
    QStringList failures;
    for (const ExamFile &f : files) {
        QFile file(f.path);
        if (!file.exists())
            continue; // already gone: nothing lost
        if (!file.remove())
            failures << QStringLiteral("%1 无法删除：%2")
                            .arg(QDir::toNativeSeparators(f.path), file.errorString());
    }
    return failures;
}

} // namespace tessarin
