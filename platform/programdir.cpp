#include "programdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tessarin {

namespace {
QString &overrideDir()
{
    static QString dir;
    return dir;
}

// A file can be made in `dir` and removed again (permission bits do not tell, for instance for
// the superuser or on a read-only mount).
bool canCreateIn(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open();
}
} // namespace

QString writablePath(const QString &relative)
{
    const QString beside = programPath(relative);
    const QFileInfo info(beside);
    if (info.exists() ? (!info.isDir() || canCreateIn(beside)) : canCreateIn(info.absolutePath()))
        return beside;
    QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (data.isEmpty())
        data = QDir::home().filePath(QStringLiteral(".local/share/Tessarin"));
    return QDir(data).filePath(QDir::fromNativeSeparators(relative));
}

bool isBesideProgram(const QString &path)
{
    const QString dir = QDir::cleanPath(QFileInfo(programDirectory()).absoluteFilePath());
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return p == dir || p.startsWith(dir + QLatin1Char('/'));
}

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
