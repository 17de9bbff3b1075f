#include "updatebatch.h"

#include "error.h"
#include "programdir.h"
#include "programupdate.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessarin {

namespace {

// The write end of the pipe the helper waits on. Deliberately never closed: it closes when
// the process ends, which is what the helper waits for.
int g_waitWriteEnd = -1;

QString shellQuote(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// A file's identity as `stat -c %d:%i` prints it.
QString fileIdText(const struct stat &st)
{
    return QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
}

} // namespace

QByteArray UpdateBatchText()
{
    static const char *const lines[] = {
        ":try",
        "attrib-r Tessarin.exe",
        "if exist ATessarin.exe del Tessarin.exe",
        "if exist ATessarin.exe rename ATessarin.exe Tessarin.exe",
        "if exist ATessarin.exe goto try",
        "if exist del.bat del del.bat",
    };
    QByteArray text;
    for (const char *line : lines)
        text += QByteArray(line) + "\r\n";
    return text;
}

QString WriteUpdateBatch(const QString &directory, QString *fileId)
{
    const QString path = QDir(directory).absoluteFilePath(QStringLiteral("del.bat"));
    const QByteArray target = QFile::encodeName(path);
    struct stat st;
    if (lstat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw Error(QStringLiteral("%1 已存在且不是普通文件，没有改写它").arg(nativeName(path)));
    QByteArray temp
        = QFile::encodeName(QDir(directory).absoluteFilePath(QStringLiteral(".del.bat-XXXXXX")));
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw Error(QStringLiteral("无法写入 %1：%2").arg(nativeName(path), errnoText(errno)));
    const QByteArray bytes = UpdateBatchText();
    bool ok = fchmod(fd, 0644) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && fstat(fd, &st) == 0;
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    // The rename replaces whatever entry took the name meanwhile, and never opens it.
    if (ok && rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.constData());
        throw Error(QStringLiteral("无法写入 %1：%2").arg(nativeName(path), errnoText(error)));
    }
    if (fileId)
        *fileId = fileIdText(st);
    return path;
}

QString AcceptedReplacement(const QString &path, QString *why)
{
    const auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    // Not blocking on a FIFO, not following a link.
    const int fd
        = open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return QString();
        if (errno == ELOOP)
            return refuse(QStringLiteral("%1 是符号链接，没有用它替换程序").arg(nativeName(path)));
        return refuse(QStringLiteral("%1 无法读取：%2").arg(nativeName(path), errnoText(errno)));
    }
    struct stat st;
    QString reason;
    if (fstat(fd, &st) != 0)
        reason = QStringLiteral("%1 无法读取：%2").arg(nativeName(path), errnoText(errno));
    else if (!S_ISREG(st.st_mode))
        reason = QStringLiteral("%1 不是普通文件，没有用它替换程序").arg(nativeName(path));
    else if (!(st.st_mode & S_IXUSR))
        reason = QStringLiteral("%1 不可执行，没有用它替换程序").arg(nativeName(path));
    else {
        QFile file;
        try {
            if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
                throw Error(
                    QStringLiteral("%1 无法读取：%2").arg(nativeName(path), file.errorString()));
            ProgramUpdate::readBuildIdentity(file, nativeName(path));
        } catch (const Error &e) {
            reason = e.message();
        }
    }
    close(fd);
    return reason.isEmpty() ? fileIdText(st) : refuse(reason);
}

QString UpdateHelperScript(const QString &program,
                           const QString &replacement,
                           const QString &replacementId,
                           const QString &batch,
                           const QString &batchId,
                           int waitFd)
{
    QString script = QStringLiteral("read _ <&%1; exec %1<&-\n").arg(waitFd);
    script += QStringLiteral("fileid() { stat -c %d:%i -- \"$1\" 2>/dev/null; }\n");
    script += QStringLiteral("P=") + shellQuote(program) + QLatin1Char('\n');
    // The read-only mark goes off the program file itself, never off a link's target.
    script += QStringLiteral("[ -f \"$P\" ] && [ ! -L \"$P\" ] && chmod u+w -- \"$P\"\n");
    if (!replacementId.isEmpty()) {
        // One rename puts the checked replacement in the program's place: there is no moment
        // without a program file, and nothing but that file is ever moved there. The retry is
        // bounded and paced: a replacement that cannot be moved (a read-only folder) must not
        // keep a shell spinning for ever.
        script += QStringLiteral("A=") + shellQuote(replacement) + QLatin1Char('\n');
        script += QStringLiteral("n=0\n"
                                 "while [ \"$(fileid \"$A\")\" = %1 ]; do\n"
                                 "  mv -f -T -- \"$A\" \"$P\" && break\n"
                                 "  n=$((n + 1)); [ $n -ge 50 ] && break\n"
                                 "  sleep 0.1\n"
                                 "done\n")
                      .arg(shellQuote(replacementId));
    }
    if (!batch.isEmpty() && !batchId.isEmpty()) {
        script += QStringLiteral("B=") + shellQuote(batch) + QLatin1Char('\n');
        script += QStringLiteral("[ \"$(fileid \"$B\")\" = %1 ] && rm -f -- \"$B\"\n")
                      .arg(shellQuote(batchId));
    }
    script += QStringLiteral("exit 0\n");
    return script;
}

bool StartUpdateHelper(const QString &programDir,
                       const QString &replacementId,
                       const QString &batch,
                       const QString &batchId,
                       QString *why,
                       qint64 *helperPid)
{
    const QDir dir(programDir);
    const QString program = dir.absoluteFilePath(QStringLiteral("Tessarin"));
    const QString replacement = dir.absoluteFilePath(QStringLiteral("ATessarin"));
    constexpr int waitFd = 3;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (why)
            *why = QStringLiteral("update helper: no pipe: %1").arg(strerror(errno));
        return false;
    }
    const QByteArray script = QFile::encodeName(
        UpdateHelperScript(program, replacement, replacementId, batch, batchId, waitFd));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The helper gets the read end as descriptor 3 (dup2 clears close-on-exec), standard input
    // and output on /dev/null, and nothing else of ours.
    posix_spawn_file_actions_adddup2(&actions, fds[0], waitFd);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, waitFd + 1);
#endif
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    char arg0[] = "sh";
    char arg1[] = "-c";
    char *argv[] = {arg0, arg1, const_cast<char *>(script.constData()), nullptr};
    // The user's environment is not the helper's business: the tools it calls are the system's.
    char path[] = "PATH=/usr/bin:/bin";
    char locale[] = "LC_ALL=C";
    char *env[] = {path, locale, nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        if (why)
            *why = QStringLiteral("update helper: /bin/sh not started: %1").arg(strerror(rc));
        return false;
    }
    // A second exit step in the same process (tests) lets the helper started before go on.
    ReleaseUpdateHelper();
    g_waitWriteEnd = fds[1];
    if (helperPid)
        *helperPid = pid;
    return true;
}

void ReleaseUpdateHelper()
{
    if (g_waitWriteEnd >= 0)
        close(g_waitWriteEnd);
    g_waitWriteEnd = -1;
}

bool RunUpdateBatch(const QString &workDir,
                    const QString &programDir,
                    QString *why,
                    qint64 *helperPid)
{
    QStringList passedOver;
    QString batch, batchId;
    try {
        batch = WriteUpdateBatch(workDir, &batchId);
    } catch (const Error &e) {
        // The swap does not depend on the batch: the helper does its steps all the same.
        passedOver << e.message();
    }
    QString refused;
    const QString replacementId = AcceptedReplacement(
        QDir(programDir).absoluteFilePath(QStringLiteral("ATessarin")), &refused);
    if (!refused.isEmpty())
        passedOver << refused;
    QString failed;
    const bool started
        = StartUpdateHelper(programDir, replacementId, batch, batchId, &failed, helperPid);
    if (!started)
        passedOver << failed;
    if (why)
        *why = passedOver.join(QLatin1Char('\n'));
    return started;
}

bool RunUpdateBatch(QString *why)
{
    return RunUpdateBatch(QDir::currentPath(), programDirectory(), why);
}

} // namespace tessarin
