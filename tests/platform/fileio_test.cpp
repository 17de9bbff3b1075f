// Reading inputs within their bound, and what the atomic writer does with each kind of target.

#include "atomicfile.h"
#include "error.h"
#include "filenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace tessarin;

namespace {

// The message of the Error `work` throws, "" when it throws none.
std::string errorOf(const std::function<void()> &work)
{
    try {
        work();
    } catch (const Error &e) {
        return e.message().toStdString();
    }
    return {};
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Feeds `bytes` into the FIFO at `path` from another thread (opening blocks until the reader
// comes); join() waits for it.
std::thread feedFifo(const QString &path, QByteArray bytes)
{
    return std::thread([path, bytes] {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, bytes.constData(), bytes.size());
            ::close(fd);
        }
    });
}

// Reads everything from the FIFO at `path` in another thread into `out`.
std::thread drainFifo(const QString &path, QByteArray &out)
{
    return std::thread([path, &out] {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            out = f.readAll();
    });
}

TEST(ReadWholeFile, TakesInputsUpToTheLimitFromFilesAndPipesAndRefusesMore)
{
    std::signal(SIGPIPE, SIG_IGN); // a refusing reader may close a FIFO before its writer ends
    QTemporaryDir dir;
    const qint64 limit = 10;
    for (const bool pipe : {false, true}) {
        for (const qint64 size : {qint64(0), limit, limit + 1, 3 * limit}) {
            const QString path = dir.filePath(QStringLiteral("in%1-%2").arg(pipe).arg(size));
            const QByteArray bytes(size, 'x');
            std::thread feeder;
            if (pipe) {
                ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                feeder = feedFifo(path, bytes);
            } else {
                writeFile(path, bytes);
            }
            QByteArray got;
            const QString error
                = QString::fromStdString(errorOf([&] { got = readWholeFile(path, limit); }));
            if (feeder.joinable())
                feeder.join();
            SCOPED_TRACE(path.toStdString());
            if (size <= limit) {
                EXPECT_TRUE(error.isEmpty()) << error.toStdString();
                EXPECT_EQ(got, bytes);
            } else {
                EXPECT_TRUE(error.startsWith(QStringLiteral("cannot read ") + path))
                    << error.toStdString();
                EXPECT_TRUE(error.contains(QStringLiteral("more than the 10 bytes an input may "
                                                          "hold")))
                    << error.toStdString();
            }
        }
    }
}

TEST(ReadWholeFile, RefusesHugeFilesBeforeReadingAndEndlessDevicesWhileReading)
{
    QTemporaryDir dir;
    // A sparse file over the default limit: refused on its size, without reading 1 GiB.
    const QString huge = dir.filePath(QStringLiteral("huge"));
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(MaxInputBytes + 1));
    }
    EXPECT_EQ(errorOf([&] { readWholeFile(huge); }),
              QStringLiteral("cannot read %1: it holds 1073741825 bytes, more than the 1 GiB an "
                             "input may hold; nothing was read")
                  .arg(huge)
                  .toStdString());
    // A device without a size or an end.
    EXPECT_EQ(errorOf([] { readWholeFile(QStringLiteral("/dev/zero"), 3 << 20); }),
              "cannot read /dev/zero: more than the 3 MiB an input may hold came in; reading "
              "stopped there and nothing was loaded");
    const std::string folder = errorOf([&] { readWholeFile(dir.path()); });
    EXPECT_EQ(folder.rfind("cannot read " + dir.path().toStdString() + ": ", 0), 0u) << folder;
    EXPECT_NE(folder.find("directory"), std::string::npos) << folder;
    EXPECT_EQ(errorOf([&] {
                  readWholeFile(dir.filePath(QStringLiteral("none")));
              }).rfind("cannot read ", 0),
              0u);
}

// Standard output redirected into a pipe for the life of the object.
class CapturedStdout
{
public:
    CapturedStdout()
    {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        if (::pipe(m_pipe) == 0)
            ::dup2(m_pipe[1], STDOUT_FILENO);
    }
    ~CapturedStdout() { restore(); }
    // Restores standard output and returns what was written meanwhile (small amounts only).
    QByteArray take()
    {
        restore();
        QByteArray out;
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_pipe[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, n);
        return out;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        ::close(m_pipe[1]);
        m_saved = -1;
    }
    int m_saved = -1;
    int m_pipe[2] = {-1, -1};
};

TEST(WriteFileAtomically, StandardOutputByDashOrByNameIsWrittenDirectly)
{
    for (const char *name : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
        CapturedStdout out;
        const std::string error = errorOf(
            [&] { writeFileAtomically(QString::fromLatin1(name), QByteArray("page\n")); });
        EXPECT_EQ(out.take(), QByteArray("page\n")) << name;
        EXPECT_EQ(error, "") << name;
    }
}

TEST(WriteFileAtomically, FollowsLinksAndWritesIntoFifosAndNeverReplacesOtherKinds)
{
    QTemporaryDir dir;
    auto at = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };

    // A link to a file: the file gets the bytes, the link stays a link.
    writeFile(at("real"), "old");
    ASSERT_TRUE(QFile::link(at("real"), at("link")));
    writeFileAtomically(at("link"), "new");
    EXPECT_TRUE(QFileInfo(at("link")).isSymLink());
    EXPECT_EQ(contents(at("real")), QByteArray("new"));
    // A link to a file not there yet, through a second link: the file is created.
    ASSERT_TRUE(QFile::link(at("later"), at("dangling")));
    ASSERT_TRUE(QFile::link(at("dangling"), at("chain")));
    writeFileAtomically(at("chain"), "made");
    EXPECT_EQ(contents(at("later")), QByteArray("made"));
    EXPECT_TRUE(QFileInfo(at("chain")).isSymLink());

    // A FIFO: its reader gets the bytes, and it is still a FIFO afterwards.
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("fifo")).constData(), 0600), 0);
    QByteArray read;
    std::thread reader = drainFifo(at("fifo"), read);
    const std::string fifoError = errorOf([&] { writeFileAtomically(at("fifo"), "streamed"); });
    reader.join();
    EXPECT_EQ(fifoError, "");
    EXPECT_EQ(read, QByteArray("streamed"));
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(at("fifo")).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    // A directory is refused and left alone.
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    EXPECT_EQ(errorOf([&] { writeFileAtomically(at("folder"), "x"); }),
              QStringLiteral("cannot write %1: it is a directory, not a regular file; nothing was "
                             "written (give a file name, or - for standard output)")
                  .arg(at("folder"))
                  .toStdString());
    EXPECT_TRUE(QFileInfo(at("folder")).isDir());
    EXPECT_EQ(errorOf([] { writeFileAtomically(QString(), "x"); }),
              "cannot write a file without a name");
}

// Device nodes made in a scratch folder (only where the test may make them, as root): the null
// device swallows the bytes, any other device is refused; both stay devices.
TEST(WriteFileAtomically, NullDeviceDiscardsAndOtherDevicesAreRefused)
{
    QTemporaryDir dir;
    const QString null = dir.filePath(QStringLiteral("null"));
    const QString zero = dir.filePath(QStringLiteral("zero"));
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0
        || ::mknod(QFile::encodeName(zero).constData(), S_IFCHR | 0666, makedev(1, 5)) != 0)
        GTEST_SKIP() << "device nodes cannot be made here";
    EXPECT_EQ(errorOf([&] { writeFileAtomically(null, "gone"); }), "");
    EXPECT_EQ(errorOf([&] { writeFileAtomically(zero, "x"); }),
              QStringLiteral("cannot write %1: it is a character device, not a regular file; "
                             "nothing was written (give a file name, or - for standard output)")
                  .arg(zero)
                  .toStdString());
    for (const QString &path : {null, zero}) {
        struct stat info = {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << path.toStdString();
    }
}

} // namespace

namespace {

// Every write of the atomic writer goes to /dev/full, which fails as a full disk does.
ssize_t writeToFullDisk(int, const void *data, size_t size)
{
    static const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    return ::write(full, data, size);
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

// A full disk is named as such, the old file stays as it was and no temporary file is left.
TEST(WriteFileAtomically, FullDiskIsNamedAndLeavesTheOldFileAndNoLeftovers)
{
    QTemporaryDir dir;
    const QString old = dir.filePath("old.flw");
    writeFile(old, "old contents");
    detail::setWriteFunction(writeToFullDisk);
    const std::string replacing = errorOf([&] { writeFileAtomically(old, "new"); });
    const std::string creating = errorOf([&] { writeFileAtomically(dir.filePath("new"), "x"); });
    const std::string claiming = errorOf([&] {
        writeFirstFreeFile({dir.filePath("a"), dir.filePath("b")}, "x");
    });
    detail::setWriteFunction(nullptr);
    for (const std::string &error : {replacing, creating, claiming})
        EXPECT_NE(error.find("no space left on device (磁盘已满)"), std::string::npos) << error;
    EXPECT_EQ(contents(old), QByteArray("old contents"));
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"old.flw"});
}

// Names are bytes: one that is not UTF-8 reaches its own file, never the file of the name with
// U+FFFD in its place; decoding and encoding give every byte string back.
TEST(FileNames, BytesThatAreNotUtf8SurviveTheRoundTripToTheirFile)
{
    const QByteArray names[] = {
        "plain.flw",
        "\xe6\xb3\xb5.flw",            // 泵
        "\xf0\x9f\x98\x80",            // a character outside the BMP
        "a\xfe.flw",                   // a byte no UTF-8 holds
        "\xef\xbf\xbd",                // U+FFFD itself
        "\xc0\xaf\xe0\x80\xaf",        // overlong forms
        "\xed\xb2\x80\xed\xa0\x80",    // encoded surrogates
        "\xe6\xb3",                    // a sequence cut short
        "\xf4\x90\x80\x80\xff\x80\xbf" // above U+10FFFF, stray bytes
    };
    for (const QByteArray &name : names) {
        const QString decoded = fileNameFromNative(name);
        EXPECT_EQ(nativeFileName(decoded), name) << name.toHex().constData();
        EXPECT_EQ(hasRawBytes(decoded), QString::fromUtf8(name).toUtf8() != name)
            << name.toHex().constData();
        EXPECT_FALSE(hasRawBytes(withoutRawBytes(decoded))) << name.toHex().constData();
    }

    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    writeFile(dir.filePath(QString::fromUtf8("a\xef\xbf\xbd.flw")), "unrelated");
    const QString odd = fileNameFromNative(folder + "/a\xfe.flw");
    writeFileAtomically(odd, "first");
    writeFileAtomically(odd, "second");
    EXPECT_EQ(readWholeFile(odd), QByteArray("second"));
    EXPECT_EQ(contents(dir.filePath(QString::fromUtf8("a\xef\xbf\xbd.flw"))), "unrelated");
    struct stat info = {};
    EXPECT_EQ(::stat((folder + "/a\xfe.flw").constData(), &info), 0);
    ::unlink((folder + "/a\xfe.flw").constData()); // QTemporaryDir removes by QString names
}
