#include "atomicfile.h"

#include "error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessarin {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The path with every symbolic link along the last component followed, even when the final
// target does not exist yet. Throws for a loop.
QString followLinks(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; info.isSymLink(); ++depth) {
        if (depth == 40)
            throw Error(
                QStringLiteral("cannot write %1: too many levels of symbolic links").arg(path));
        info.setFile(info.symLinkTarget());
    }
    return info.filePath();
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    return QStringLiteral("not a regular file");
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void writeStandardOutput(const QByteArray &bytes)
{
    std::fflush(stdout);
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout)
            != static_cast<size_t>(bytes.size())
        || std::fflush(stdout) != 0)
        throw Error(QStringLiteral("cannot write standard output: %1").arg(systemError()));
}

// Writes into an existing file that is not replaced (a FIFO), from its start.
void writeInPlace(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(bytes) != bytes.size())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

void replaceRegularFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, why));
    }
    if (!file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace

QString byteCountText(qint64 bytes)
{
    if (bytes >= (qint64(1) << 30) && bytes % (qint64(1) << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes >= (qint64(1) << 20) && bytes % (qint64(1) << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        throw Error(QStringLiteral("cannot write a file without a name"));
    if (path == QLatin1String("-")) {
        writeStandardOutput(bytes);
        return;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat target = {};
    struct stat out = {};
    if (::stat(native.constData(), &target) == 0) {
        if (::fstat(STDOUT_FILENO, &out) == 0 && sameFile(target, out)) {
            writeStandardOutput(bytes);
            return;
        }
        if (S_ISFIFO(target.st_mode)) {
            writeInPlace(path, bytes);
            return;
        }
        struct stat null = {};
        if (S_ISCHR(target.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode)
            && target.st_rdev == null.st_rdev)
            return;
        if (!S_ISREG(target.st_mode))
            throw Error(QStringLiteral("cannot write %1: it is %2, not a regular file; nothing "
                                       "was written (give a file name, or - for standard "
                                       "output)")
                            .arg(path, kindOf(target.st_mode)));
    }
    replaceRegularFile(followLinks(path), bytes);
}

QByteArray readWholeFile(const QString &path, qint64 limit)
{
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : path;

    QFile file;
    if (standardInput) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot read standard input: %1").arg(file.errorString()));
    } else {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    }
    QByteArray data;
    struct stat info = {};
    if (::fstat(file.handle(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw Error(QStringLiteral("cannot read %1: it is a directory").arg(name));
        // A regular file says its size: refuse it before reading a byte.
        if (S_ISREG(info.st_mode)) {
            if (info.st_size > limit)
                throw Error(QStringLiteral("cannot read %1: it holds %2, more than the %3 an "
                                           "input may hold; nothing was read")
                                .arg(name, byteCountText(info.st_size), byteCountText(limit)));
            data.reserve(static_cast<qsizetype>(info.st_size));
        }
    }
    // Pipes and devices have no size, and a file may grow while it is read: the bound also
    // holds for what is actually read.
    std::vector<char> chunk(size_t(1) << 20);
    for (;;) {
        const qint64 got = file.read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (got < 0)
            throw Error(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
        if (got == 0)
            break;
        if (got > limit - data.size())
            throw Error(QStringLiteral("cannot read %1: more than the %2 an input may hold came "
                                       "in; reading stopped there and nothing was loaded")
                            .arg(name, byteCountText(limit)));
        // Grow by doubling, but never past the limit: refusing must not take twice its memory.
        if (data.size() + got > data.capacity())
            data.reserve(
                static_cast<qsizetype>(std::min(limit,
                                                std::max(2 * static_cast<qint64>(data.capacity()),
                                                         static_cast<qint64>(data.size()) + got))));
        data.append(chunk.data(), static_cast<qsizetype>(got));
    }
    return data;
}

} // namespace tessarin
