#include "programdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tessarin {

namespace {
QString &overrideDir()
{
    static QString dir;
    return dir;
}
} // namespace

QString programDirectory()
{
    if (!overrideDir().isEmpty())
        return overrideDir();
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
#ifdef Q_OS_LINUX
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.symLinkTarget()).absolutePath();
#endif
    return QDir::currentPath();
}

void setProgramDirectory(const QString &dir)
{
    overrideDir() = dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

QString programPath(const QString &relative)
{
    QString rel = relative;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (rel.contains(QLatin1String("//")))
        rel.replace(QLatin1String("//"), QLatin1String("/"));
    return QDir(programDirectory()).filePath(rel);
}

} // namespace tessarin
