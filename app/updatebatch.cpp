#include "updatebatch.h"

#include "atomicfile.h"
#include "error.h"
#include "programdir.h"

#include <QDir>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

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

QString WriteUpdateBatch(const QString &directory)
{
    const QString path = QDir(directory).absoluteFilePath(QStringLiteral("del.bat"));
    writeFileAtomically(path, UpdateBatchText());
    return path;
}

QString UpdateHelperScript(const QString &program,
                           const QString &replacement,
                           const QString &batch,
                           int waitFd)
{
    const QString p = shellQuote(program);
    const QString a = shellQuote(replacement);
    const QString b = shellQuote(batch);
    // The retry is bounded and paced: a replacement that cannot be moved (a read-only folder)
    // must not keep a shell spinning for ever.
    return QStringLiteral("read _ <&%1; exec %1<&-\n"
                          "n=0\n"
                          "while :; do\n"
                          "  [ -e %2 ] && chmod u+w %2\n"
                          "  [ -e %3 ] && rm -f %2\n"
                          "  [ -e %3 ] && mv -f %3 %2\n"
                          "  [ -e %3 ] || break\n"
                          "  n=$((n + 1)); [ $n -ge 50 ] && break\n"
                          "  sleep 0.1\n"
                          "done\n"
                          "[ -e %4 ] && rm -f %4\n"
                          "exit 0\n")
        .arg(waitFd)
        .arg(p, a, b);
}

bool StartUpdateHelper(const QString &programDir, const QString &batch, QString *why)
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
    const QByteArray script = UpdateHelperScript(program, replacement, batch, waitFd).toLocal8Bit();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The helper gets the read end as descriptor 3 (dup2 clears close-on-exec), standard input
    // and output on /dev/null, and nothing else of ours.
    posix_spawn_file_actions_adddup2(&actions, fds[0], waitFd);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    char arg0[] = "sh";
    char arg1[] = "-c";
    char *argv[] = {arg0, arg1, const_cast<char *>(script.constData()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        if (why)
            *why = QStringLiteral("update helper: /bin/sh not started: %1").arg(strerror(rc));
        return false;
    }
    // A second exit step in the same process (tests) closes the former write end, so the
    // helper started then does its work.
    if (g_waitWriteEnd >= 0)
        close(g_waitWriteEnd);
    g_waitWriteEnd = fds[1];
    return true;
}

bool RunUpdateBatch(QString *why)
{
    try {
        const QString batch = WriteUpdateBatch(QDir::currentPath());
        return StartUpdateHelper(programDirectory(), batch, why);
    } catch (const Error &e) {
        if (why)
            *why = e.message();
        return false;
    }
}

} // namespace tessarin
