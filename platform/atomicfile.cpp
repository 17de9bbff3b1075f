#include "atomicfile.h"

#include "error.h"
#include "filenames.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessarin {

namespace {

// Why a file operation failed, for messages: the system's text, except for a full disk, which
// says plainly that the old file is still there.
QString failureText(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("no space left on device (磁盘已满); the file was left as it was");
    return QString::fromLocal8Bit(std::strerror(error));
}

QString systemError()
{
    return failureText(errno);
}

ssize_t (*g_write)(int, const void *, size_t) = ::write;

// The folder part of a native path ("." when it has none).
QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.first(slash);
}

// The path with every symbolic link along the last component followed, even when the final
// target does not exist yet. Throws for a loop.
QByteArray followLinks(const QString &path, QByteArray native)
{
    for (int depth = 0;; ++depth) {
        struct stat info = {};
        if (::lstat(native.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return native;
        if (depth == 40)
            throw Error(
                QStringLiteral("cannot write %1: too many levels of symbolic links").arg(path));
        QByteArray target(PATH_MAX + 1, '\0');
        const ssize_t got = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (got >= target.size())
            errno = ENAMETOOLONG;
        if (got < 0 || got >= target.size())
            throw Error(QStringLiteral("cannot write %1: %2").arg(path, systemError()));
        target.truncate(got);
        native = target.startsWith('/') ? target : folderOf(native) + '/' + target;
    }
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

// Writes all bytes to `fd`; false with errno set on failure.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t done = g_write(fd, data, left);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        data += done;
        left -= static_cast<size_t>(done);
    }
    return true;
}

// Writes into an existing file that is not replaced (a FIFO), from its start.
void writeInPlace(const QString &path, const QByteArray &native, const QByteArray &bytes)
{
    const int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || !writeAll(fd, bytes)) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, failureText(error)));
    }
    ::close(fd);
}

// A new, complete file with the bytes in `folder` under a name no one else uses, created
// without following links (mode 0666 less the umask, or `mode` when given). Returns its
// native path. Throws naming `path` (the file the caller is writing) on failure; then nothing
// is left behind.
QByteArray writeTemporary(const QString &path,
                          const QByteArray &folder,
                          const QByteArray &bytes,
                          int mode = -1)
{
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = folder + "/.tessarin-"
               + QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".tmp";
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100))
            throw Error(QStringLiteral("cannot write %1: %2").arg(path, systemError()));
    }
    bool sound = (mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0) && writeAll(fd, bytes)
                 && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && sound) {
        sound = false;
        error = errno;
    }
    if (!sound) {
        ::unlink(temp.constData());
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, failureText(error)));
    }
    return temp;
}

void replaceRegularFile(const QString &path, const QByteArray &target, const QByteArray &bytes)
{
    struct stat old = {};
    const int mode = ::stat(target.constData(), &old) == 0 ? int(old.st_mode & 07777) : -1;
    const QByteArray temp = writeTemporary(path, folderOf(target), bytes, mode);
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, failureText(error)));
    }
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
    const QByteArray native = nativeFileName(path);
    struct stat target = {};
    struct stat out = {};
    if (::stat(native.constData(), &target) == 0) {
        if (::fstat(STDOUT_FILENO, &out) == 0 && sameFile(target, out)) {
            writeStandardOutput(bytes);
            return;
        }
        if (S_ISFIFO(target.st_mode)) {
            writeInPlace(path, native, bytes);
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
    replaceRegularFile(path, followLinks(path, native), bytes);
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
        // Opened by its bytes: a name that is not UTF-8 reaches the file it names.
        const int fd = ::open(nativeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw Error(QStringLiteral("cannot read %1: %2").arg(path, systemError()));
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            throw Error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        }
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

QString writeFirstFreeFile(const QStringList &candidates, const QByteArray &bytes)
{
    if (candidates.isEmpty())
        throw Error(QStringLiteral("cannot write a file without a name"));
    const QByteArray first = nativeFileName(candidates.front());
    const QByteArray temp = writeTemporary(candidates.front(), folderOf(first), bytes);
    auto fail = [&](const QString &name, int error) {
        ::unlink(temp.constData());
        throw Error(QStringLiteral("cannot write %1: %2").arg(name, failureText(error)));
    };
    // A hard link claims a name only when no entry of that name exists (a dangling link
    // included) and is never followed; the file appears whole or not at all.
    for (const QString &name : candidates) {
        if (::link(temp.constData(), nativeFileName(name).constData()) == 0) {
            ::unlink(temp.constData());
            return name;
        }
        if (errno != EEXIST)
            fail(name, errno);
    }
    // Every name taken: the last one's entry is replaced (a link there is replaced, not
    // followed).
    if (::rename(temp.constData(), nativeFileName(candidates.back()).constData()) != 0)
        fail(candidates.back(), errno);
    return candidates.back();
}

namespace detail {

void setWriteFunction(ssize_t (*write)(int, const void *, size_t))
{
    g_write = write ? write : ::write;
}

} // namespace detail

} // namespace tessarin
